#pragma once
// Runs one test of the running test executable in a child process (usually a DISABLED_ test that
// the parent arranges), with the parent's environment, and answers its wait status; -1 when the
// child could not be started. For behaviour that only shows across a restart or at process exit.
#include <string>

namespace pltest {

int runChildTest(const std::string& gtestFilter);

}  // namespace pltest
