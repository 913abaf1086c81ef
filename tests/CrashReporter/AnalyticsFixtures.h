#pragma once
// Helpers of the analytics tests: analytics log records read back by their length fields, gzip
// streams unpacked with zlib, folder trees written and listed, and the crash context a controller
// needs (once per process, so the tests that use it run in child processes).
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "CrashReporter/CRSContext.h"

namespace crstest {

namespace fs = std::filesystem;

struct LogRecord {
  std::string timestamp;
  std::string key;
  std::optional<std::string> payload;
};

// The records of a log file; a record that does not parse ends the list and sets `damaged`.
inline std::vector<LogRecord> parseLog(const std::string& bytes, bool* damaged = nullptr) {
  std::vector<LogRecord> records;
  std::size_t at = 0;
  if (damaged) *damaged = false;
  while (at < bytes.size()) {
    std::size_t tab = bytes.find('\t', at);
    std::size_t end = bytes.find_first_of("\t\n", tab == std::string::npos ? at : tab + 1);
    if (tab == std::string::npos || end == std::string::npos) break;
    LogRecord record{bytes.substr(at, tab - at), bytes.substr(tab + 1, end - tab - 1), std::nullopt};
    if (bytes[end] == '\n') {
      records.push_back(record);
      at = end + 1;
      continue;
    }
    std::size_t lengthEnd = bytes.find('\t', end + 1);
    if (lengthEnd == std::string::npos) break;
    std::size_t length = std::stoul(bytes.substr(end + 1, lengthEnd - end - 1));
    if (lengthEnd + 1 + length >= bytes.size() || bytes[lengthEnd + 1 + length] != '\n') break;
    record.payload = bytes.substr(lengthEnd + 1, length);
    records.push_back(record);
    at = lengthEnd + 1 + length + 1;
  }
  if (damaged) *damaged = at != bytes.size();
  return records;
}

// The bytes of a gzip stream; nothing when it is not one whole stream.
inline std::optional<std::string> gunzip(const std::string& packed) {
  z_stream stream{};
  if (inflateInit2(&stream, 31) != Z_OK) return std::nullopt;
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(packed.data()));
  stream.avail_in = static_cast<uInt>(packed.size());
  std::string out;
  char buffer[16384];
  int status = Z_OK;
  while (status == Z_OK) {
    stream.next_out = reinterpret_cast<Bytef*>(buffer);
    stream.avail_out = sizeof buffer;
    status = inflate(&stream, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - stream.avail_out);
  }
  bool whole = status == Z_STREAM_END && stream.avail_in == 0;
  inflateEnd(&stream);
  if (!whole) return std::nullopt;
  return out;
}

inline void writeFile(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// Every entry below `root`, relative to it, directories with a trailing "/", sorted.
inline std::vector<std::string> tree(const fs::path& root) {
  std::vector<std::string> out;
  std::error_code error;
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
    std::string relative = fs::relative(it->path(), root).string();
    out.push_back(it->symlink_status().type() == fs::file_type::directory ? relative + "/" : relative);
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The paths below `root` whose file name is `name`.
inline std::vector<fs::path> findNamed(const fs::path& root, const std::string& name) {
  std::vector<fs::path> out;
  std::error_code error;
  for (fs::recursive_directory_iterator it(root, error), end; !error && it != end; it.increment(error)) {
    if (it->path().filename() == name) out.push_back(it->path());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// Initialises the crash context with its files in `folder` (once per process).
inline void initialiseContextIn(const fs::path& folder) {
  fs::create_directories(folder);
  static std::string record, marker, running, session;
  record = (folder / "s.crsrecord").string();
  marker = (folder / "marker").string();
  running = (folder / "session.crslog").string();
  session = (folder / "s.crslog").string();
  CRSContextInitData data;
  data.apiKey = "0123456789abcdef0123456789abcdef01234567";
  data.sessionIdentifier = "CONTEXT-SESSION";
  data.recordPath = record.c_str();
  data.crashMarkerPath = marker.c_str();
  data.runningLogPath = running.c_str();
  data.sessionLogPath = session.c_str();
  data.buildEnvironment.configuration = "Debug";
  data.buildEnvironment.compiler = "gcc";
  CRSContextInitialize(data);
}

}  // namespace crstest
