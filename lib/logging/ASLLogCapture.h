#pragma once
// Reads back the messages this process writes to the system log and feeds them to the hub as
// records (file "ASLLogCapture", context 0, level = captureLevel). Levels read back map to flags:
// 0-2 error (delivered synchronously), 3 warning, 4 info, 5 debug, 6, 7 and anything else
// verbose; only flags in captureLevel (default all five) are passed on.
//
// Where a systemd journal is readable, the messages come from it (this process's entries from
// the moment of start(), the journal cursor serving as the message id). Elsewhere they come from
// SystemLogStore, which sees what the process writes through the platform: ns::Log and ASLLogger.
// Messages third-party code writes with syslog(3) directly are seen only through the journal.
//
// Passes run one at a time, in order, on a serial queue over the high-priority global queue.
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include <sys/types.h>

class ASLLogCapture {
 public:
  ASLLogCapture() = delete;

  enum class Backend { Automatic, Journal, Local };

  // A system-log message: the standard keys "Level", "Message", "Time", "TimeNanoSec",
  // "ASLMessageID" and "PID" with their text values.
  using Message = std::map<std::string, std::string>;

  // What a pass asks of the system log.
  struct Query {
    std::optional<std::string> messageIDGreaterThan;
    std::optional<double> timeAtLeast;  // seconds since 1970
    int levelAtMost = 7;
    pid_t pid = 0;
  };

  // Begins capturing the messages written from now on; nothing when already running.
  static void start();
  // The capture ends after its next pass.
  static void stop();
  static bool isRunning();
  static std::uint64_t captureLevel();
  static void setCaptureLevel(std::uint64_t level);

  // The source a start() reads from: Automatic picks the journal where one is readable.
  static void setBackend(Backend backend);
  static Backend backendForNextStart();
  static bool journalIsReadable();

  // Restricts a query to this process and every level.
  static void configureAslQuery(Query& query);
  // Turns one message into a record; a message without "Message" is ignored.
  static void aslMessageRecieved(const Message& message);
  // Starts listening for new messages (start() calls it on the capture queue).
  static void captureAslLogs();
};
