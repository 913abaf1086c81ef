// Under ThreadSanitizer: the video decoders' threads hand frames to each other through atomics
// in code the sanitizer does not see (the system's FFmpeg libraries are not instrumented), so
// their frees and reuses look like races. The suppressions beside this file leave out only those
// libraries (the process's built-in list belongs to the drawing layer); races in our code still
// stop the run.
extern "C" const char* __tsan_default_options() {
  return "suppressions=" PELORIN_MEDIA_TSAN_SUPPRESSIONS;
}
