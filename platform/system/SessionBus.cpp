#include "platform/system/SessionBus.h"

#include <systemd/sd-bus.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>

namespace sys {
namespace {

using Clock = std::chrono::steady_clock;

struct BusCloser {
  void operator()(sd_bus* bus) const { sd_bus_close_unref(bus); }
};
struct MessageUnref {
  void operator()(sd_bus_message* m) const { sd_bus_message_unref(m); }
};
struct SlotUnref {
  void operator()(sd_bus_slot* s) const { sd_bus_slot_unref(s); }
};

struct CallState {
  bool done = false;
  bool ok = false;
  ns::Error error;
};

ns::Error busError(int errnoValue, const std::string& what) {
  return ns::Error::withDescription(ns::NSPOSIXErrorDomain, errnoValue,
                                    what + ": " + std::strerror(errnoValue));
}

int onReply(sd_bus_message* reply, void* userdata, sd_bus_error*) {
  auto* state = static_cast<CallState*>(userdata);
  state->done = true;
  if (sd_bus_message_is_method_error(reply, nullptr)) {
    const sd_bus_error* e = sd_bus_message_get_error(reply);
    int code = sd_bus_error_get_errno(e);
    std::string text = std::string(e && e->name ? e->name : "error") +
                       (e && e->message ? std::string(": ") + e->message : "");
    state->error = ns::Error::withDescription(ns::NSPOSIXErrorDomain, code > 0 ? code : EIO, text);
    return 0;
  }
  state->ok = true;
  return 0;
}

}  // namespace

std::optional<std::string> sessionBusAddress() {
  if (const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS"); address && *address)
    return std::string(address);
  if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
    std::string socket = std::string(runtime) + "/bus";
    if (::access(socket.c_str(), F_OK) == 0) return "unix:path=" + socket;
  }
  return std::nullopt;
}

bool showItemsInFileManager(const std::string& address, const std::vector<std::string>& uris, double timeout,
                            ns::Error* error) {
  const auto deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(timeout));
  auto fail = [&](int errnoValue, const std::string& what) {
    ns::setError(error, busError(errnoValue, what));
    return false;
  };

  sd_bus* raw = nullptr;
  int r = sd_bus_new(&raw);
  if (r < 0) return fail(-r, "cannot make a bus connection");
  std::unique_ptr<sd_bus, BusCloser> bus(raw);
  if ((r = sd_bus_set_address(bus.get(), address.c_str())) < 0) return fail(-r, "bad session bus address");
  sd_bus_set_bus_client(bus.get(), 1);
  if ((r = sd_bus_start(bus.get())) < 0) return fail(-r, "cannot reach the session bus");

  sd_bus_message* rawMessage = nullptr;
  r = sd_bus_message_new_method_call(bus.get(), &rawMessage, kFileManagerBusName, kFileManagerObjectPath,
                                     kFileManagerInterface, "ShowItems");
  if (r < 0) return fail(-r, "cannot build the call");
  std::unique_ptr<sd_bus_message, MessageUnref> message(rawMessage);
  std::vector<char*> strv;
  for (const auto& uri : uris) strv.push_back(const_cast<char*>(uri.c_str()));
  strv.push_back(nullptr);
  if ((r = sd_bus_message_append_strv(message.get(), strv.data())) < 0 ||
      (r = sd_bus_message_append(message.get(), "s", "")) < 0) {
    return fail(-r, "cannot build the call");
  }

  CallState state;
  auto timeoutUsec = static_cast<uint64_t>(timeout * 1e6);
  sd_bus_slot* rawSlot = nullptr;
  if ((r = sd_bus_call_async(bus.get(), &rawSlot, message.get(), onReply, &state, timeoutUsec)) < 0) {
    return fail(-r, "cannot send the call");
  }
  std::unique_ptr<sd_bus_slot, SlotUnref> slot(rawSlot);

  // Our own loop, so that the whole exchange, connection set-up included, keeps the deadline.
  while (!state.done) {
    r = sd_bus_process(bus.get(), nullptr);
    if (r < 0) return fail(-r, "session bus connection failed");
    if (r > 0) continue;
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    if (left <= 0) return fail(ETIMEDOUT, "the file manager did not answer in time");
    r = sd_bus_wait(bus.get(), static_cast<uint64_t>(left));
    if (r < 0 && r != -EINTR) return fail(-r, "session bus connection failed");
  }
  if (!state.ok) {
    ns::setError(error, state.error);
    return false;
  }
  return true;
}

}  // namespace sys
