// Starting as `pelorin` does: the presenter is installed, ApplicationMain chooses.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "platform/appkit/Application.h"
#include "platform/appkit/Presenter.h"
#include "platform/appkit/gtk/Presenter.h"
#include "platform/testing/ChildTest.h"
#include "platform/testing/Sandbox.h"

namespace {

// Restores an environment variable when it goes.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// Runs the child with its standard error in a file; answers the exit status and what it wrote.
std::pair<int, std::string> runCapturingStderr(const std::string& filter, const std::string& path) {
  const int saved = ::dup(2);
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ::dup2(fd, 2);
  ::close(fd);
  const int status = pltest::runChildTest(filter);
  ::dup2(saved, 2);
  ::close(saved);
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, text.str()};
}

std::string freeDisplay() {
  // ":99" unless a server happens to listen there.
  for (int n = 99; n < 200; ++n)
    if (::access(("/tmp/.X11-unix/X" + std::to_string(n)).c_str(), F_OK) != 0) return ":" + std::to_string(n);
  return ":199";
}

TEST(StartTest, DISABLED_Child) {
  ak::gtk::installPresenter();
  const char* argv[] = {"pelorin", std::getenv("PELORIN_CHILD_HEADLESS") ? "--headless" : nullptr};
  const int rc = ak::ApplicationMain(argv[1] ? 2 : 1, argv);
  // 0 headless, 1 when the display could not be opened; 3 when it ran on a display.
  std::fflush(nullptr);
  ::_exit(rc == 0 && ak::activePresenter() ? 3 : rc);
}

TEST(StartTest, WithoutADisplayOrWithHeadlessItRunsHeadless) {
  pltest::Sandbox sandbox;
  {
    ScopedEnv display("DISPLAY", nullptr);
    ScopedEnv wayland("WAYLAND_DISPLAY", nullptr);
    auto [code, err] = runCapturingStderr("StartTest.DISABLED_Child", (sandbox.home() / "err").string());
    EXPECT_EQ(code, 0) << err;
  }
  // The test display is set, but --headless wins.
  ScopedEnv headless("PELORIN_CHILD_HEADLESS", "1");
  auto [code, err] = runCapturingStderr("StartTest.DISABLED_Child", (sandbox.home() / "err").string());
  EXPECT_EQ(code, 0) << err;
}

TEST(StartTest, AnUnreachableDisplayEndsWithOneLineAndStatusOne) {
  pltest::Sandbox sandbox;
  const std::string display = freeDisplay();
  ScopedEnv env("DISPLAY", display.c_str());
  // A machine's locale that its C library lacks adds the toolkit's own warning; not ours.
  ScopedEnv locale("LC_ALL", "C.UTF-8");
  auto [code, err] = runCapturingStderr("StartTest.DISABLED_Child", (sandbox.home() / "err").string());
  EXPECT_EQ(code, 1);
  // The child's own test banner goes to standard output; standard error holds the one line.
  EXPECT_EQ(err, "pelorin: cannot open display " + display + "\n");
}

}  // namespace
