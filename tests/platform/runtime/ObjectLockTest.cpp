#include <gtest/gtest.h>

#include <thread>

#include "platform/dispatch/Synchronized.h"
#include "platform/runtime/AssociatedObjects.h"
#include "tests/platform/runtime/TestClasses.h"

namespace {

// Both scoped locks in one program: each must run its own destructor. When they shared a name,
// the object lock's destructor was the address lock's, which freed a record it never had.
TEST(ObjectLocks, ObjectGuardAndAddressGuardLiveInOneProgram) {
  auto object = ns::make<rt_test::Counter>();
  int plain = 0;
  for (int round = 0; round < 3; ++round) {
    ns::ObjcSyncGuard objectLock(object.get());
    ns::Synchronized addressLock(&plain);
    ns::Synchronized sameAddressAgain(object.get());  // the address table is a separate lock
    int fromOtherThread = 0;
    std::thread([&] { fromOtherThread = ns::objc_sync_exit(object.get()); }).join();
    EXPECT_EQ(fromOtherThread, ns::OBJC_SYNC_NOT_OWNING_THREAD_ERROR);
  }
  // Every guard released what it took: the object lock is no longer held by this thread.
  EXPECT_EQ(ns::objc_sync_exit(object.get()), ns::OBJC_SYNC_NOT_OWNING_THREAD_ERROR);

  long total = 0;
  auto work = [&] {
    for (int i = 0; i < 1000; ++i) {
      ns::ObjcSyncGuard objectLock(object.get());
      ns::Synchronized addressLock(&plain);
      ++total;
    }
  };
  std::thread a(work), b(work);
  a.join();
  b.join();
  EXPECT_EQ(total, 2000);
}

}  // namespace
