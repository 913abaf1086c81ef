// The media engine's library is opened on the first call into it, not with the process: it brings
// some 200 libraries of its own, whose loading and linking cost every start about 100 ms before
// main() while the executable named it. The player's code calls the library's functions as its
// headers declare them; each one here opens the library once (from any thread) and forwards (to a
// definition put before the library, with LD_PRELOAD, as it would for a linked one).
// Without the library, mpv_create() answers null and the player reports that its engine could not
// be created.
#include "platform/media/MpvLibrary.h"

#include <mpv/client.h>
#include <mpv/render.h>

#include "platform/core/LazyLibrary.h"
#include "platform/core/NoDestructor.h"

static_assert((MPV_CLIENT_API_VERSION >> 16) == 2, "the library's file name follows the API's major version");

namespace {

ns::LazyLibrary& engineLibrary() {
  static ns::NoDestructor<ns::LazyLibrary> library("libmpv.so.2", "media engine");
  return *library;
}

}  // namespace

namespace av {

bool loadMediaEngineLibrary() {
  return engineLibrary().load();
}

}  // namespace av

// Each forwarder resolves its function once. Only mpv_create and mpv_error_string can be reached
// before the library is open; the others take what mpv_create made.
#define PL_MPV_FORWARD(type, name, fallback, parameters, arguments) \
  PL_LAZY_FORWARD(engineLibrary(), type, name, fallback, parameters, arguments)
#define PL_MPV_FORWARD_VOID(name, parameters, arguments) \
  PL_LAZY_FORWARD_VOID(engineLibrary(), name, parameters, arguments)

namespace {
mpv_event noEvent{};
}  // namespace

PL_MPV_FORWARD(mpv_handle*, mpv_create, nullptr, (void), ())
PL_MPV_FORWARD(const char*, mpv_error_string, "the media engine is missing", (int error), (error))
PL_MPV_FORWARD(int, mpv_initialize, MPV_ERROR_UNINITIALIZED, (mpv_handle * ctx), (ctx))
PL_MPV_FORWARD_VOID(mpv_terminate_destroy, (mpv_handle * ctx), (ctx))
PL_MPV_FORWARD(int, mpv_set_option, MPV_ERROR_UNINITIALIZED,
               (mpv_handle * ctx, const char* name, mpv_format format, void* data), (ctx, name, format, data))
PL_MPV_FORWARD(int, mpv_set_option_string, MPV_ERROR_UNINITIALIZED,
               (mpv_handle * ctx, const char* name, const char* data), (ctx, name, data))
PL_MPV_FORWARD(int, mpv_get_property, MPV_ERROR_UNINITIALIZED,
               (mpv_handle * ctx, const char* name, mpv_format format, void* data), (ctx, name, format, data))
PL_MPV_FORWARD(int, mpv_set_property, MPV_ERROR_UNINITIALIZED,
               (mpv_handle * ctx, const char* name, mpv_format format, void* data), (ctx, name, format, data))
PL_MPV_FORWARD(int, mpv_set_property_async, MPV_ERROR_UNINITIALIZED,
               (mpv_handle * ctx, uint64_t reply_userdata, const char* name, mpv_format format, void* data),
               (ctx, reply_userdata, name, format, data))
PL_MPV_FORWARD(int, mpv_observe_property, MPV_ERROR_UNINITIALIZED,
               (mpv_handle * mpv, uint64_t reply_userdata, const char* name, mpv_format format),
               (mpv, reply_userdata, name, format))
PL_MPV_FORWARD(int, mpv_command, MPV_ERROR_UNINITIALIZED, (mpv_handle * ctx, const char** args), (ctx, args))
PL_MPV_FORWARD(int, mpv_command_ret, MPV_ERROR_UNINITIALIZED,
               (mpv_handle * ctx, const char** args, mpv_node* result), (ctx, args, result))
PL_MPV_FORWARD(int, mpv_command_async, MPV_ERROR_UNINITIALIZED,
               (mpv_handle * ctx, uint64_t reply_userdata, const char** args), (ctx, reply_userdata, args))
PL_MPV_FORWARD_VOID(mpv_set_wakeup_callback, (mpv_handle * ctx, void (*cb)(void* d), void* d), (ctx, cb, d))
PL_MPV_FORWARD(mpv_event*, mpv_wait_event, &noEvent, (mpv_handle * ctx, double timeout), (ctx, timeout))
PL_MPV_FORWARD_VOID(mpv_free_node_contents, (mpv_node * node), (node))
PL_MPV_FORWARD(int, mpv_render_context_create, MPV_ERROR_UNINITIALIZED,
               (mpv_render_context * *res, mpv_handle* mpv, mpv_render_param* params), (res, mpv, params))
PL_MPV_FORWARD_VOID(mpv_render_context_free, (mpv_render_context * ctx), (ctx))
PL_MPV_FORWARD_VOID(mpv_render_context_set_update_callback,
                    (mpv_render_context * ctx, mpv_render_update_fn callback, void* callback_ctx),
                    (ctx, callback, callback_ctx))
PL_MPV_FORWARD(uint64_t, mpv_render_context_update, 0, (mpv_render_context * ctx), (ctx))
PL_MPV_FORWARD(int, mpv_render_context_render, MPV_ERROR_UNINITIALIZED,
               (mpv_render_context * ctx, mpv_render_param* params), (ctx, params))
