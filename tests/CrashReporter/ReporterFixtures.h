#pragma once
// Helpers of the reporter's tests: the main bundle's Info.plist, real crash records left by the
// crash test program, folder listings, requests of one kind seen by the fake service and report
// files unpacked with the generated code.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "CrashReporter/CrashReporter.pb-c.h"
#include "platform/core/Value.h"
#include "platform/serialization/PropertyListSerialization.h"
#include "tests/CrashReporter/CrashProgram.h"
#include "tests/support/FakeCrashService.h"

namespace crstest {

namespace fs = std::filesystem;

// An Info.plist with the application's identity and `extra` keys, in `folder`.
inline void writeInfoPlist(const fs::path& folder, const ns::Dictionary& extra = {}) {
  ns::Dictionary info{{"CFBundleIdentifier", "com.ordel42.zeravozezi"},
                      {"CFBundleName", "Pelorin"},
                      {"CFBundleVersion", "7"},
                      {"CFBundleShortVersionString", "1.0"}};
  for (const auto& [key, value] : extra) info.set(key, value);
  fs::create_directories(folder);
  auto data = ns::PropertyListSerialization::xmlData(info);
  std::ofstream(folder / "Info.plist", std::ios::binary) << (data ? data->toString() : std::string());
}

// The entry names of a folder, sorted (none when it is missing).
inline std::vector<std::string> entries(const fs::path& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error))
    names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

inline std::vector<std::string> entriesWithExtension(const fs::path& folder, const std::string& ext) {
  std::vector<std::string> out;
  for (const auto& name : entries(folder)) {
    if (fs::path(name).extension() == ext) out.push_back(name);
  }
  return out;
}

// A real record of a SIGSEGV (with its session log), copied into `crashFolder` as `name`.crsrecord.
inline void placeRealRecord(const fs::path& scratch, const fs::path& crashFolder, const std::string& name) {
  fs::create_directories(scratch);
  auto run = runCrashProgram("user-data", scratch);
  fs::create_directories(crashFolder);
  fs::copy_file(run.recordPath(), crashFolder / (name + ".crsrecord"), fs::copy_options::overwrite_existing);
  fs::path log = scratch / (std::string(kNormalisedSession) + ".crslog");
  if (fs::exists(log))
    fs::copy_file(log, crashFolder / (name + ".crslog"), fs::copy_options::overwrite_existing);
}

using Kind = testsupport::FakeCrashService::Kind;

inline std::vector<testsupport::FakeCrashService::Request> requestsOf(
    const testsupport::FakeCrashService& service, Kind kind) {
  std::vector<testsupport::FakeCrashService::Request> out;
  for (auto& r : service.requests()) {
    if (r.kind == kind) out.push_back(std::move(r));
  }
  return out;
}

inline bool isInvalidUpload(const testsupport::FakeCrashService::Request& r) {
  return r.raw.header("X-CRASHREPORTER-INVALID-SESSION").value_or("") == "1";
}

inline std::string uploadedFileName(const testsupport::FakeCrashService::Request& r) {
  const auto* part = r.part("report[file]");
  return part && part->fileName ? *part->fileName : std::string();
}

// Report bytes unpacked with the generated code; freed when it goes.
struct UnpackedReport {
  explicit UnpackedReport(const std::string& bytes)
      : session(crash_reporter__session__unpack(nullptr, bytes.size(),
                                                reinterpret_cast<const std::uint8_t*>(bytes.data()))) {}
  ~UnpackedReport() {
    if (session) crash_reporter__session__free_unpacked(session, nullptr);
  }
  UnpackedReport(const UnpackedReport&) = delete;
  UnpackedReport& operator=(const UnpackedReport&) = delete;
  CrashReporter__Session* session;
};

}  // namespace crstest
