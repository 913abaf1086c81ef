// Crash records as found on disk at the next launch: read, checked, symbolicated against the
// images of this process and written out as the report. Whatever the record holds, the reader
// answers, a record it calls valid gives a report, and the report lands only where it was told.
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>

#include "CrashReporter/CRSCrashFile.h"
#include "CrashReporter/CRSSystemInfo.h"
#include "fuzz/FuzzSupport.h"
#include "platform/testing/Sandbox.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace fs = std::filesystem;
  static auto sandbox = std::make_unique<pltest::Sandbox>();
  fs::path folder = sandbox->temporaryFolder("record");
  fs::remove_all(folder);
  fs::create_directories(folder);
  fs::path record = folder / "r.crsrecord";
  std::ofstream(record, std::ios::binary).write(reinterpret_cast<const char*>(data), size);

  (void)CRSCrashFile::parse(record.string());
  CRSCrashFile file(record.string());
  (void)file.identifier();
  (void)file.mainExecutableUUID();
  (void)file.customKeys();
  (void)file.deviceId();
  (void)file.crashedOnDate();
  (void)file.OSVersion();
  (void)file.OSBuildVersion();
  (void)file.objcSelectorName();
  (void)file.architecture();
  (void)file.logContent();
  if (file.isValid()) {
    static const auto images = CRSBinaryImagesUUIDMap();
    file.setProcessingExecutableUUID(file.mainExecutableUUID());
    file.symbolicateWithUUIDMap(images);
    fs::path report = folder / "out" / "report.crs";
    fs::create_directories(report.parent_path());
    if (file.writeCRSFileToPath(report.string()) && !fs::is_regular_file(report))
      fuzz::fail("a report said to be written is not there");
  }
  std::size_t entries = 0;
  for ([[maybe_unused]] const auto& entry : fs::recursive_directory_iterator(folder)) ++entries;
  if (entries > 3) fuzz::fail("the reader wrote beside its report");
  fs::remove_all(folder);
  return 0;
}
