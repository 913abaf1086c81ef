#include "platform/testing/desktop/FakeBusService.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <systemd/sd-bus.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace pltest {

struct FakeBusService::State {
  sd_bus* bus = nullptr;
  sd_bus_slot* slot = nullptr;
  int stopFd = -1;
  std::thread thread;
  std::atomic<bool> answering{true};
  mutable std::mutex mutex;
  std::vector<BusCall> calls;

  ~State() {
    if (slot) sd_bus_slot_unref(slot);
    if (bus) sd_bus_close_unref(bus);
    if (stopFd >= 0) ::close(stopFd);
  }
};

namespace {

bool isBasic(char type) {
  return std::string_view("sogybnqiuxtd").find(type) != std::string_view::npos;
}

// Reads one basic value of the given type.
bool readBasic(sd_bus_message* m, char type, ns::Value& out) {
  switch (type) {
    case 's':
    case 'o':
    case 'g': {
      const char* s = nullptr;
      if (sd_bus_message_read_basic(m, type, &s) <= 0) return false;
      out = ns::Value(std::string(s ? s : ""));
      return true;
    }
    case 'b': {
      int b = 0;
      if (sd_bus_message_read_basic(m, type, &b) <= 0) return false;
      out = ns::Value(b != 0);
      return true;
    }
    case 'd': {
      double d = 0;
      if (sd_bus_message_read_basic(m, type, &d) <= 0) return false;
      out = ns::Value(d);
      return true;
    }
    case 'x':
    case 't': {
      std::int64_t v = 0;
      if (sd_bus_message_read_basic(m, type, &v) <= 0) return false;
      out = ns::Value(static_cast<long long>(v));
      return true;
    }
    default: {  // y n q i u fit in 32 bits
      std::uint32_t v = 0;
      if (sd_bus_message_read_basic(m, type, &v) <= 0) return false;
      out = ns::Value(static_cast<long long>(type == 'y'   ? (v & 0xff)
                                             : type == 'n' ? static_cast<std::int16_t>(v)
                                             : type == 'q' ? (v & 0xffff)
                                             : type == 'i' ? static_cast<std::int32_t>(v)
                                                           : v));
      return true;
    }
  }
}

// Reads the arguments: basic values and arrays of basic values; anything else stops the reading.
ns::Array readArguments(sd_bus_message* m) {
  ns::Array args;
  for (;;) {
    char type = 0;
    const char* contents = nullptr;
    if (sd_bus_message_peek_type(m, &type, &contents) <= 0) break;
    if (isBasic(type)) {
      ns::Value v;
      if (!readBasic(m, type, v)) break;
      args.push_back(std::move(v));
    } else if (type == 'a' && contents && contents[1] == '\0' && isBasic(contents[0])) {
      if (sd_bus_message_enter_container(m, 'a', contents) <= 0) break;
      ns::Array items;
      ns::Value v;
      while (readBasic(m, contents[0], v)) items.push_back(v);
      sd_bus_message_exit_container(m);
      args.push_back(ns::Value(std::move(items)));
    } else {
      break;
    }
  }
  return args;
}

int onCall(sd_bus_message* m, void* userdata, sd_bus_error*) {
  auto* state = static_cast<FakeBusService::State*>(userdata);
  if (!sd_bus_message_is_method_call(m, nullptr, nullptr)) return 0;
  BusCall call;
  const char* interface = sd_bus_message_get_interface(m);
  const char* member = sd_bus_message_get_member(m);
  call.interface = interface ? interface : "";
  call.member = member ? member : "";
  call.arguments = readArguments(m);
  {
    std::lock_guard<std::mutex> lock(state->mutex);
    state->calls.push_back(std::move(call));
  }
  if (state->answering) sd_bus_reply_method_return(m, nullptr);
  return 1;  // handled; unanswered calls stay unanswered
}

void serve(FakeBusService::State* state) {
  for (;;) {
    int r;
    while ((r = sd_bus_process(state->bus, nullptr)) > 0) {
    }
    if (r < 0) return;  // the bus went away
    struct pollfd fds[2] = {{sd_bus_get_fd(state->bus), static_cast<short>(sd_bus_get_events(state->bus)), 0},
                            {state->stopFd, POLLIN, 0}};
    int timeoutMs = -1;
    std::uint64_t until = 0;
    if (sd_bus_get_timeout(state->bus, &until) > 0 && until != UINT64_MAX) {
      struct timespec now;
      clock_gettime(CLOCK_MONOTONIC, &now);
      std::uint64_t nowUsec = static_cast<std::uint64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
      timeoutMs = until > nowUsec ? static_cast<int>((until - nowUsec + 999) / 1000) : 0;
    }
    ::poll(fds, 2, timeoutMs);
    if (fds[1].revents & POLLIN) return;
  }
}

}  // namespace

FakeBusService::FakeBusService(const std::string& busAddress, const std::string& busName,
                               const std::string& objectPath)
    : state_(std::make_shared<State>()) {
  auto fail = [](const std::string& what) { throw std::runtime_error("fake bus service: " + what); };
  if (sd_bus_new(&state_->bus) < 0) fail("no bus object");
  if (sd_bus_set_address(state_->bus, busAddress.c_str()) < 0) fail("bad address");
  sd_bus_set_bus_client(state_->bus, 1);
  if (sd_bus_start(state_->bus) < 0) fail("cannot reach " + busAddress);
  if (sd_bus_add_object(state_->bus, &state_->slot, objectPath.c_str(), onCall, state_.get()) < 0) {
    fail("cannot serve " + objectPath);
  }
  if (sd_bus_request_name(state_->bus, busName.c_str(), 0) < 0) fail("cannot own " + busName);
  state_->stopFd = ::eventfd(0, EFD_CLOEXEC);
  if (state_->stopFd < 0) fail("no eventfd");
  state_->thread = std::thread(serve, state_.get());
}

FakeBusService::~FakeBusService() {
  std::uint64_t one = 1;
  [[maybe_unused]] auto n = ::write(state_->stopFd, &one, sizeof one);
  if (state_->thread.joinable()) state_->thread.join();
}

std::unique_ptr<FakeBusService> FakeBusService::fileManager(const std::string& busAddress) {
  return std::make_unique<FakeBusService>(busAddress, "org.freedesktop.FileManager1",
                                          "/org/freedesktop/FileManager1");
}

void FakeBusService::setAnswering(bool answering) {
  state_->answering = answering;
}

std::vector<BusCall> FakeBusService::calls() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->calls;
}

std::size_t FakeBusService::callCount() const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->calls.size();
}

}  // namespace pltest
