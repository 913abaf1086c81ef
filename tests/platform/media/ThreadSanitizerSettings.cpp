// Under ThreadSanitizer: the video decoders' threads hand frames to each other through atomics
// in code the sanitizer does not see (the system's FFmpeg libraries are not instrumented), so
// their frees and reuses look like races. The test command's suppressions (which leave out only
// those libraries and the fakes' HTTP library) apply here too when the binary runs alone; the
// process's built-in list belongs to the drawing layer. Races in our code still stop the run.
extern "C" const char* __tsan_default_options() {
  return "suppressions=" PELORIN_MEDIA_TSAN_SUPPRESSIONS;
}
