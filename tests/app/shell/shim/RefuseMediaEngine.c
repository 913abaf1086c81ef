/* Preloaded into the real executable by its tests: libmpv refuses to make an instance, as on a
   machine whose media library cannot start. */
#include <stddef.h>

struct mpv_handle;

struct mpv_handle* mpv_create(void) {
  return NULL;
}
