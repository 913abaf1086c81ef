// A library opened on first use: its functions, a definition earlier in the process's lookup
// order winning as over a linked library, and a library that is not there.
#include "platform/core/LazyLibrary.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

extern "C" int lazyFixtureLinked(void);

namespace {

using Answer = int (*)();

TEST(LazyLibrary, OpensOnceFromAnyThreadAndAnEarlierDefinitionWins) {
  ns::LazyLibrary library(PELORIN_LAZY_FIXTURE, "test library");
  // Threads racing to the first use open it once and find the same function.
  std::vector<void*> found(8);
  std::vector<std::thread> threads;
  for (std::size_t i = 0; i < found.size(); ++i)
    threads.emplace_back([&, i] { found[i] = library.function("lazyFixtureOwn"); });
  for (auto& t : threads) t.join();
  ASSERT_NE(found[0], nullptr);
  for (void* f : found) EXPECT_EQ(f, found[0]);
  EXPECT_TRUE(library.load());
  EXPECT_EQ(reinterpret_cast<Answer>(found[0])(), 1);
  // The linked library comes first for a name both define, as LD_PRELOAD's would.
  EXPECT_EQ(lazyFixtureLinked(), 2);
  auto answer = reinterpret_cast<Answer>(library.function("lazyFixtureAnswer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 7);
  EXPECT_EQ(library.function("lazyFixtureNowhere"), nullptr);
}

TEST(LazyLibrary, AMissingLibraryAnswersFalseAndNoFunctions) {
  ns::LazyLibrary missing("libpelorin-not-installed.so.9", "missing test library");
  EXPECT_FALSE(missing.load());
  EXPECT_FALSE(missing.load());
  EXPECT_EQ(missing.function("lazyFixtureOwn"), nullptr);
}

}  // namespace
