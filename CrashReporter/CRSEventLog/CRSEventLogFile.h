#pragma once
// A log file of the analytics tree, open for appending: its size is kept in step with what was
// appended. A folder standing where the file belongs is replaced; an existing file is appended to.
#include <cstdint>
#include <optional>
#include <string>

#include "CrashReporter/CRSEventLog/CRSEventLogEvent.h"
#include "platform/core/Data.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"

class CRSEventLogFile : public ns::Object {
 public:
  explicit CRSEventLogFile(std::string url);
  ~CRSEventLogFile() override;
  CRSEventLogFile(const CRSEventLogFile&) = delete;
  CRSEventLogFile& operator=(const CRSEventLogFile&) = delete;

  // nullptr when the file cannot be made, measured or opened.
  static ns::Ref<CRSEventLogFile> initWithURL(const std::string& url);
  static ns::Ref<CRSEventLogFile> initWithName_inDirectoryWithURL(const std::string& name,
                                                                  const std::string& directory);

  const std::string& fileURL() const { return url_; }
  std::uint64_t fileSize() const { return fileSize_; }
  bool isOpen() const { return fd_ >= 0; }

  // Both need a closed handle; appending and resetting need an open one.
  bool openFileHandleForWriting(ns::Error* error);
  bool openFileHandleForReading(ns::Error* error);
  void closeFileHandle();
  bool appendData_error(const ns::Data& data, ns::Error* error);
  bool resetFile(ns::Error* error);
  // The whole file; the handle is closed for the read and opened again for appending.
  std::optional<ns::Data> readFromFile(ns::Error* error);

  std::string className() const override { return "CRSEventLogFile"; }

 protected:
  // Steps of initWithURL.
  bool setUp();

 private:
  std::string url_;
  std::uint64_t fileSize_ = 0;
  int fd_ = -1;
};

class CRSEventLogEventFile : public CRSEventLogFile {
 public:
  using CRSEventLogFile::CRSEventLogFile;
  static ns::Ref<CRSEventLogEventFile> initWithURL(const std::string& url);

  bool appendEvent_error(const CRSEventLogEvent& event, ns::Error* error) {
    return appendData_error(event.eventData(), error);
  }

  std::string className() const override { return "CRSEventLogEventFile"; }
};
