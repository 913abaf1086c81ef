#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

#include "platform/dispatch/Dispatch.h"
#include "platform/testing/Pump.h"
#include "platform/testing/Sandbox.h"

namespace {

using namespace dispatch;

// An open file in the sandbox with a file watch on it that collects what it reports.
struct WatchedFile {
  explicit WatchedFile(const pltest::Sandbox& sandbox, unsigned long mask,
                       const std::string& name = "watched.log")
      : path(sandbox.path(name)) {
    fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0644);
    source = sourceCreate(SourceType::Vnode, static_cast<std::uintptr_t>(fd), mask, queue);
    if (!source) return;
    source->setEventHandler([this] {
      std::lock_guard lock(mutex);
      seen |= source->data();
      ++events;
    });
    source->setCancelHandler([this] { cancelled = true; });
    source->resume();
  }
  ~WatchedFile() {
    if (source) {
      source->cancel();
      pltest::pumpUntil([this] { return cancelled.load(); });
    }
    ::close(fd);
  }
  unsigned long flags() {
    std::lock_guard lock(mutex);
    return seen;
  }
  int eventCount() {
    std::lock_guard lock(mutex);
    return events;
  }

  std::string path;
  int fd = -1;
  ns::Ref<Queue> queue = queueCreate("test.vnode");
  ns::Ref<Source> source;
  std::mutex mutex;
  unsigned long seen = 0;
  int events = 0;
  std::atomic<bool> cancelled{false};
};

const unsigned long kAll = VnodeDelete | VnodeWrite | VnodeAttrib | VnodeRename;

struct Change {
  const char* name;
  unsigned long mask;
  std::function<void(WatchedFile&, const pltest::Sandbox&)> act;
  unsigned long expected;
};

TEST(VnodeSource, ReportsDeleteRenameWriteAndAttributeChangesOfAnOpenFile) {
  const Change changes[] = {
      {"unlink while open", kAll, [](WatchedFile& f, auto&) { ASSERT_EQ(::unlink(f.path.c_str()), 0); },
       VnodeDelete | VnodeAttrib},
      {"rename", kAll,
       [](WatchedFile& f, auto& s) { ASSERT_EQ(::rename(f.path.c_str(), s.path("moved").c_str()), 0); },
       VnodeRename},
      {"write", kAll, [](WatchedFile& f, auto&) { ASSERT_EQ(::write(f.fd, "x", 1), 1); }, VnodeWrite},
      {"chmod", kAll, [](WatchedFile& f, auto&) { ASSERT_EQ(::fchmod(f.fd, 0600), 0); }, VnodeAttrib},
      {"unlink, masked to delete and rename", VnodeDelete | VnodeRename,
       [](WatchedFile& f, auto&) { ASSERT_EQ(::unlink(f.path.c_str()), 0); }, VnodeDelete},
  };
  for (const auto& change : changes) {
    SCOPED_TRACE(change.name);
    pltest::Sandbox sandbox;
    WatchedFile file(sandbox, change.mask);
    ASSERT_TRUE(file.source);
    change.act(file, sandbox);
    ASSERT_TRUE(pltest::pumpUntil([&] { return (file.flags() & change.expected) == change.expected; }));
    sync(file.queue, [] {});
    EXPECT_EQ(file.flags(), change.expected);
  }
}

TEST(VnodeSource, ChangesOutsideTheMaskAndAnUnlinkThatLeavesALinkAreNotReported) {
  pltest::Sandbox sandbox;
  WatchedFile file(sandbox, VnodeDelete | VnodeRename);
  ASSERT_TRUE(file.source);
  // A second name keeps the file alive when the first goes: not a deletion.
  ASSERT_EQ(::link(file.path.c_str(), sandbox.path("second").c_str()), 0);
  ASSERT_EQ(::unlink(file.path.c_str()), 0);
  ASSERT_EQ(::write(file.fd, "x", 1), 1);
  ASSERT_EQ(::fchmod(file.fd, 0600), 0);
  // A witness on the same file sees the last of those changes; by then ours were read too.
  WatchedFile witness(sandbox, VnodeAttrib, "second");
  ASSERT_TRUE(witness.source);
  ASSERT_EQ(::fchmod(witness.fd, 0644), 0);
  ASSERT_TRUE(pltest::pumpUntil([&] { return witness.eventCount() > 0; }));
  sync(file.queue, [] {});
  EXPECT_EQ(file.flags(), 0u);
  // Now the last name goes: a deletion at last.
  ASSERT_EQ(::unlink(sandbox.path("second").c_str()), 0);
  ASSERT_TRUE(pltest::pumpUntil([&] { return file.flags() != 0; }));
  EXPECT_EQ(file.flags(), VnodeDelete);
}

TEST(VnodeSource, CancelledWatchNeverRunsItsHandlerAndRunsItsCancelHandlerOnce) {
  pltest::Sandbox sandbox;
  WatchedFile file(sandbox, kAll);
  ASSERT_TRUE(file.source);
  auto gate = semaphoreCreate(0);
  async(file.queue, [&] { gate->wait(TimeForever); });  // holds the target queue
  ASSERT_EQ(::unlink(file.path.c_str()), 0);
  file.source->cancel();
  gate->signal();
  ASSERT_TRUE(pltest::pumpUntil([&] { return file.cancelled.load(); }));
  sync(file.queue, [] {});
  EXPECT_EQ(file.eventCount(), 0);
  file.source->cancel();  // again: nothing more
  sync(file.queue, [] {});
  EXPECT_TRUE(file.source->isCancelled());
}

TEST(VnodeSource, ABadDescriptorGivesNoSource) {
  EXPECT_EQ(sourceCreate(SourceType::Vnode, static_cast<std::uintptr_t>(-1), VnodeDelete, nullptr), nullptr);
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[1]);
  int closed = fds[1];
  EXPECT_EQ(sourceCreate(SourceType::Vnode, static_cast<std::uintptr_t>(closed), VnodeDelete, nullptr),
            nullptr);
  ::close(fds[0]);
}

}  // namespace
