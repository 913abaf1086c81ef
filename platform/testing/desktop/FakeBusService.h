#pragma once
// A fake service on a session bus, for tests of code that calls desktop services: it owns a bus
// name, takes every method call to one object path on its own thread, records it and answers
// with an empty success (or, when told, never answers, so that callers meet their time-outs).
// String, object-path, number and boolean arguments and arrays of them are recorded as Values.
//
//   pltest::PrivateSessionBus bus(sandbox);
//   auto fileManager = pltest::FakeBusService::fileManager(bus.address());
//   ... reveal a file ...
//   ASSERT_TRUE(pltest::pumpUntil([&] { return fileManager->callCount() == 1; }));
//   EXPECT_EQ(fileManager->calls()[0].member, "ShowItems");
#include <memory>
#include <string>
#include <vector>

#include "platform/core/Value.h"

namespace pltest {

struct BusCall {
  std::string interface;
  std::string member;
  ns::Array arguments;  // strings and numbers; arrays as Array values
};

class FakeBusService {
 public:
  // Connects to the bus, takes the name and starts serving `objectPath`. Throws
  // std::runtime_error when the bus cannot be reached or the name is taken.
  FakeBusService(const std::string& busAddress, const std::string& busName, const std::string& objectPath);
  ~FakeBusService();
  FakeBusService(const FakeBusService&) = delete;
  FakeBusService& operator=(const FakeBusService&) = delete;

  // The file manager of the desktop ("org.freedesktop.FileManager1" on
  // "/org/freedesktop/FileManager1"): ShowItems, ShowFolders, ShowItemProperties.
  static std::unique_ptr<FakeBusService> fileManager(const std::string& busAddress);

  // When false, calls are recorded but never answered.
  void setAnswering(bool answering);
  std::vector<BusCall> calls() const;
  std::size_t callCount() const;

  struct State;  // the connection and what was recorded, shared with the serving thread

 private:
  std::shared_ptr<State> state_;
};

}  // namespace pltest
