// Preloaded into the measured `pelorin` (LD_PRELOAD) by the memory driver: a thread that writes
// the heap's figures (glibc's mallinfo2, summed over every arena) to the file named by
// PELORIN_HEAP_PROBE four times a second, so that the driver can read the bytes in use beside the
// resident size without a hook in the application itself.
#include <malloc.h>
#include <pthread.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void* probe(void* argument) {
  const std::string path = static_cast<const char*>(argument);
  const std::string partial = path + ".partial";
  for (unsigned long sequence = 1;; ++sequence) {
    const struct mallinfo2 info = mallinfo2();
    if (FILE* out = std::fopen(partial.c_str(), "w")) {
      // sequence, bytes in use (small blocks and mmapped ones), bytes the arenas hold, free bytes
      // in the arenas, bytes mmapped for large blocks.
      std::fprintf(out, "%lu %zu %zu %zu %zu\n", sequence, info.uordblks + info.hblkhd, info.arena,
                   info.fordblks, info.hblkhd);
      std::fclose(out);
      std::rename(partial.c_str(), path.c_str());
    }
    const timespec pause{0, 250 * 1000 * 1000};
    nanosleep(&pause, nullptr);
  }
  return nullptr;
}

__attribute__((constructor)) void startProbe() {
  const char* path = std::getenv("PELORIN_HEAP_PROBE");
  if (!path || !*path) return;
  // Only the measured process: its children (the muxing tool, say) do not probe.
  unsetenv("LD_PRELOAD");
  char* kept = strdup(path);
  unsetenv("PELORIN_HEAP_PROBE");
  pthread_t thread;
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
  pthread_create(&thread, &attributes, probe, kept);
  pthread_attr_destroy(&attributes);
}

}  // namespace
