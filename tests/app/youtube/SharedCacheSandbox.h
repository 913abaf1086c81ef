#pragma once
// The shared keyed disk cache is made once per process, in the home of its first user: the
// suites of this program that store into it share one sandbox, made on first use and removed
// when the program's tests end.
#include "platform/testing/Sandbox.h"

pltest::Sandbox& sharedCacheSandbox();
