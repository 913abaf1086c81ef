#pragma once
// A file handle over a descriptor: a file, a pipe's end, a socket or a standard stream.
// The classic calls raise NSFileHandleOperationException when the system call fails (as the
// platform does: a fetch treats a failed write as an exception); the calls ending in _error
// answer false/nullopt with an error instead. Writing to a pipe whose reader has gone raises
// (or fails with EPIPE) instead of killing the process with SIGPIPE.
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "platform/core/Data.h"
#include "platform/core/Error.h"
#include "platform/core/Object.h"

namespace ns {

class FileHandle : public Object {
 public:
  FileHandle(int fd, bool closeOnDealloc);
  ~FileHandle() override;

  static Ref<FileHandle> initWithFileDescriptor_closeOnDealloc(int fd, bool closeOnDealloc) {
    return make<FileHandle>(fd, closeOnDealloc);
  }
  static Ref<FileHandle> initWithFileDescriptor(int fd) { return make<FileHandle>(fd, false); }
  // nullptr when the file cannot be opened; writing and updating do not create the file.
  static Ref<FileHandle> fileHandleForReadingAtPath(const std::string& path);
  static Ref<FileHandle> fileHandleForWritingAtPath(const std::string& path);
  static Ref<FileHandle> fileHandleForUpdatingAtPath(const std::string& path);
  static Ref<FileHandle> fileHandleWithStandardInput();
  static Ref<FileHandle> fileHandleWithStandardOutput();
  static Ref<FileHandle> fileHandleWithStandardError();
  static Ref<FileHandle> fileHandleWithNullDevice();

  // -1 once closed.
  int fileDescriptor() const;

  Data readDataToEndOfFile();
  Data readDataOfLength(std::size_t length);
  // What can be read now: the rest of a file, or what a pipe or socket holds (waiting for at
  // least one byte); empty at the end.
  Data availableData();
  void writeData(const Data& data);
  std::uint64_t offsetInFile();
  std::uint64_t seekToEndOfFile();
  void seekToFileOffset(std::uint64_t offset);
  void truncateFileAtOffset(std::uint64_t offset);
  void synchronizeFile();
  void closeFile();

  std::optional<Data> readDataToEndOfFileAndReturnError(Error* error);
  std::optional<Data> readDataUpToLength_error(std::size_t length, Error* error);
  bool writeData_error(const Data& data, Error* error);
  bool getOffset_error(std::uint64_t* offset, Error* error);
  bool seekToEndReturningOffset_error(std::uint64_t* offset, Error* error);
  bool seekToOffset_error(std::uint64_t offset, Error* error);
  bool truncateAtOffset_error(std::uint64_t offset, Error* error);
  bool synchronizeAndReturnError(Error* error);
  bool closeAndReturnError(Error* error);

 private:
  mutable std::mutex mutex_;
  int fd_;
  bool closeOnDealloc_;

  [[noreturn]] void raise(const char* method, int err) const;
};

}  // namespace ns
