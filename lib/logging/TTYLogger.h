#pragma once
// The console logger: one line per record on standard error,
//   2014-05-01 13:45:07:123 Pelorin[4242:1a03] Started.
// optionally coloured by flag (and context) or by tag, for ANSI terminals (16 or 256 colours) or
// the development console's colour sequences. A custom formatter's text is written as it stands.
// Colour settings follow the settings discipline of AbstractLogger.
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "lib/logging/AbstractLogger.h"
#include "lib/logging/TTYColor.h"
#include "lib/logging/TTYLoggerColorProfile.h"
#include "lib/logging/TTYTerminal.h"
#include "platform/core/Value.h"

class TTYLogger : public AbstractLogger {
 public:
  // The process's console logger, writing to standard error for the terminal the environment
  // describes (decided once).
  static ns::Ref<TTYLogger> sharedInstance();
  // A console logger writing to another descriptor for a given terminal (the descriptor is not
  // owned and must stay open while the logger is used).
  static ns::Ref<TTYLogger> loggerWithFileDescriptor_terminal(int fd, TTYTerminal terminal);

  std::optional<std::string> loggerName() override { return "logging.hub.ttyLogger"; }
  void logMessage(const ns::Ref<LogMessage>& logMessage) override;

  bool colorsEnabled();
  // Switching on with no flag profile loads the default ones.
  void setColorsEnabled(bool enabled);

  // Errors in the foreground 214,57,30 and warnings in 204,121,32, for every context.
  void loadDefaultColorProfiles();
  void setForegroundColor_backgroundColor_forFlag(std::optional<TTYColor> foreground,
                                                  std::optional<TTYColor> background, std::uint64_t mask);
  // Replaces the profile with the same mask and context, else appends one.
  void setForegroundColor_backgroundColor_forFlag_context(std::optional<TTYColor> foreground,
                                                          std::optional<TTYColor> background,
                                                          std::uint64_t mask, std::int32_t context);
  void setForegroundColor_backgroundColor_forTag(std::optional<TTYColor> foreground,
                                                 std::optional<TTYColor> background, ns::Value tag);
  // Context 0, not every context.
  void clearColorsForFlag(std::uint64_t mask);
  void clearColorsForFlag_context(std::uint64_t mask, std::int32_t context);
  void clearColorsForTag(ns::Value tag);
  void clearColorsForAllFlags();
  void clearColorsForAllTags();
  void clearAllColors();

  bool automaticallyAppendNewlineForCustomFormatters() const { return appendNewlineForCustom_.load(); }
  void setAutomaticallyAppendNewlineForCustomFormatters(bool value) { appendNewlineForCustom_.store(value); }

  static void getRed_green_blue_fromColor(double* red, double* green, double* blue, const TTYColor& color);
  // Nearest colour of the table the shared logger's terminal uses (0 without ANSI colours).
  static std::size_t codeIndexForColor(const TTYColor& color);

  const std::string& appName() const { return appName_; }
  const std::string& processID() const { return processID_; }
  const TTYTerminal& terminal() const { return terminal_; }

  TTYLogger(int fd, TTYTerminal terminal);

 private:
  // Profile operations run at once on the logger's queue, else as a setting change.
  void onLoggerQueue(std::function<void()> operation);
  void lq_loadDefaultColorProfiles();
  void lq_setProfile(std::optional<TTYColor> foreground, std::optional<TTYColor> background,
                     std::uint64_t mask, std::int32_t context);
  const TTYLoggerColorProfile* profileFor(const LogMessage& logMessage) const;

  const int fd_;
  const TTYTerminal terminal_;
  // Whether fd_ is a terminal, which would act on control characters in a message.
  const bool writesToTerminal_;
  std::string appName_;
  std::string processID_;
  std::atomic<bool> appendNewlineForCustom_{true};
  // On the logger's queue only.
  bool colorsEnabled_ = false;
  std::vector<ns::Ref<TTYLoggerColorProfile>> colorProfilesArray_;
  std::vector<std::pair<ns::Value, ns::Ref<TTYLoggerColorProfile>>> colorProfilesDict_;
};
