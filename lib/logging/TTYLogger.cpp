#include "lib/logging/TTYLogger.h"

#include <sys/uio.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <mutex>

#include "lib/logging/LogDate.h"
#include "lib/logging/TTYColorTable.h"
#include "platform/core/NoDestructor.h"
#include "platform/core/Str.h"

namespace {

// The console logger and what it reads are used by other threads, and by exit handlers, while
// the process exits: never destroyed.
const TTYTerminal& sharedTerminal() {
  static const ns::NoDestructor<TTYTerminal> terminal(TTYTerminal::fromEnvironment());
  return *terminal;
}

// One gathered write; the rest of a short write follows, and errors are ignored.
void writeAll(int fd, struct iovec* iov, int count) {
  while (count > 0) {
    ssize_t written = ::writev(fd, iov, count);
    if (written < 0) {
      if (errno == EINTR) continue;
      return;
    }
    auto left = static_cast<std::size_t>(written);
    while (count > 0 && left >= iov->iov_len) {
      left -= iov->iov_len;
      ++iov;
      --count;
    }
    if (count > 0) {
      iov->iov_base = static_cast<char*>(iov->iov_base) + left;
      iov->iov_len -= left;
    }
  }
}

// Message text for a terminal: control characters other than line feed and tab are shown as
// "\xNN" (C1 controls as "\u00NN") instead of being acted on, so a message carrying outside text
// cannot move the cursor, retitle the window, clear the screen or answer for the user. Valid
// UTF-8 is assumed.
bool isControlAt(const std::string& text, std::size_t i, std::size_t* length) {
  auto c = static_cast<unsigned char>(text[i]);
  *length = 1;
  if (c == '\n' || c == '\t') return false;
  if (c < 0x20 || c == 0x7F) return true;
  if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
    *length = 2;
    return true;
  }
  return false;
}

LogText shownOnTerminal(const LogText& text) {
  std::size_t length = 0;
  std::size_t i = 0;
  while (i < text->size() && !isControlAt(*text, i, &length)) ++i;
  if (i == text->size()) return text;
  std::string shown = text->substr(0, i);
  for (; i < text->size(); i += length) {
    if (!isControlAt(*text, i, &length)) {
      shown += (*text)[i];
      continue;
    }
    char code[8];
    if (length == 1) {
      std::snprintf(code, sizeof code, "\\x%02X", static_cast<unsigned char>((*text)[i]));
    } else {
      std::snprintf(code, sizeof code, "\\u00%02X", static_cast<unsigned char>((*text)[i + 1]));
    }
    shown += code;
  }
  return std::make_shared<const std::string>(std::move(shown));
}

}  // namespace

TTYLogger::TTYLogger(int fd, TTYTerminal terminal)
    : fd_(fd), terminal_(terminal), writesToTerminal_(::isatty(fd) == 1) {
  appName_ = program_invocation_short_name ? program_invocation_short_name : "";
  if (appName_.empty()) appName_ = "<UnnamedApp>";
  processID_ = std::to_string(::getpid());
}

ns::Ref<TTYLogger> TTYLogger::sharedInstance() {
  static const ns::NoDestructor<ns::Ref<TTYLogger>> instance(
      ns::make<TTYLogger>(STDERR_FILENO, sharedTerminal()));
  return *instance;
}

ns::Ref<TTYLogger> TTYLogger::loggerWithFileDescriptor_terminal(int fd, TTYTerminal terminal) {
  return ns::make<TTYLogger>(fd, terminal);
}

void TTYLogger::getRed_green_blue_fromColor(double* red, double* green, double* blue, const TTYColor& color) {
  if (red) *red = color.red;
  if (green) *green = color.green;
  if (blue) *blue = color.blue;
}

std::size_t TTYLogger::codeIndexForColor(const TTYColor& color) {
  const TTYColorTable* table = sharedTerminal().colorTable();
  return table ? table->codeIndexForColor(color.red, color.green, color.blue) : 0;
}

// --- settings ----------------------------------------------------------------------------------

bool TTYLogger::colorsEnabled() {
  bool enabled = false;
  readSetting([&] { enabled = colorsEnabled_; });
  return enabled;
}

void TTYLogger::setColorsEnabled(bool enabled) {
  changeSetting([this, enabled] {
    colorsEnabled_ = enabled;
    if (enabled && colorProfilesArray_.empty()) lq_loadDefaultColorProfiles();
  });
}

void TTYLogger::onLoggerQueue(std::function<void()> operation) {
  if (isOnInternalLoggerQueue()) {
    operation();
  } else {
    changeSetting(std::move(operation));
  }
}

void TTYLogger::lq_setProfile(std::optional<TTYColor> foreground, std::optional<TTYColor> background,
                              std::uint64_t mask, std::int32_t context) {
  auto profile = TTYLoggerColorProfile::initWithForegroundColor_backgroundColor_flag_context(
      foreground, background, mask, context, terminal_);
  if (!profile) return;
  for (auto& existing : colorProfilesArray_) {
    if (existing->mask() == mask && existing->context() == context) {
      existing = profile;
      return;
    }
  }
  colorProfilesArray_.push_back(profile);
}

void TTYLogger::lq_loadDefaultColorProfiles() {
  lq_setProfile(TTYColor::colorWithBytes(214, 57, 30), std::nullopt, LogFlagError, TTYLoggerEveryContext);
  lq_setProfile(TTYColor::colorWithBytes(204, 121, 32), std::nullopt, LogFlagWarning, TTYLoggerEveryContext);
}

void TTYLogger::loadDefaultColorProfiles() {
  onLoggerQueue([this] { lq_loadDefaultColorProfiles(); });
}

void TTYLogger::setForegroundColor_backgroundColor_forFlag(std::optional<TTYColor> foreground,
                                                           std::optional<TTYColor> background,
                                                           std::uint64_t mask) {
  setForegroundColor_backgroundColor_forFlag_context(foreground, background, mask, TTYLoggerEveryContext);
}

void TTYLogger::setForegroundColor_backgroundColor_forFlag_context(std::optional<TTYColor> foreground,
                                                                   std::optional<TTYColor> background,
                                                                   std::uint64_t mask, std::int32_t context) {
  onLoggerQueue([=, this] { lq_setProfile(foreground, background, mask, context); });
}

void TTYLogger::setForegroundColor_backgroundColor_forTag(std::optional<TTYColor> foreground,
                                                          std::optional<TTYColor> background, ns::Value tag) {
  onLoggerQueue([this, foreground, background, tag = std::move(tag)] {
    auto profile = TTYLoggerColorProfile::initWithForegroundColor_backgroundColor_flag_context(
        foreground, background, 0, 0, terminal_);
    if (!profile) return;
    for (auto& entry : colorProfilesDict_) {
      if (entry.first == tag) {
        entry.second = profile;
        return;
      }
    }
    colorProfilesDict_.emplace_back(tag, profile);
  });
}

void TTYLogger::clearColorsForFlag(std::uint64_t mask) {
  clearColorsForFlag_context(mask, 0);
}

void TTYLogger::clearColorsForFlag_context(std::uint64_t mask, std::int32_t context) {
  onLoggerQueue([this, mask, context] {
    for (auto it = colorProfilesArray_.begin(); it != colorProfilesArray_.end(); ++it) {
      if ((*it)->mask() == mask && (*it)->context() == context) {
        colorProfilesArray_.erase(it);
        return;
      }
    }
  });
}

void TTYLogger::clearColorsForTag(ns::Value tag) {
  onLoggerQueue([this, tag = std::move(tag)] {
    for (auto it = colorProfilesDict_.begin(); it != colorProfilesDict_.end(); ++it) {
      if (it->first == tag) {
        colorProfilesDict_.erase(it);
        return;
      }
    }
  });
}

void TTYLogger::clearColorsForAllFlags() {
  onLoggerQueue([this] { colorProfilesArray_.clear(); });
}

void TTYLogger::clearColorsForAllTags() {
  onLoggerQueue([this] { colorProfilesDict_.clear(); });
}

void TTYLogger::clearAllColors() {
  onLoggerQueue([this] {
    colorProfilesArray_.clear();
    colorProfilesDict_.clear();
  });
}

// --- writing -----------------------------------------------------------------------------------

const TTYLoggerColorProfile* TTYLogger::profileFor(const LogMessage& logMessage) const {
  if (!logMessage.tag().isNil()) {
    for (const auto& entry : colorProfilesDict_) {
      if (entry.first == logMessage.tag()) return entry.second.get();
    }
  }
  const TTYLoggerColorProfile* everyContext = nullptr;
  for (const auto& profile : colorProfilesArray_) {
    if ((profile->mask() & logMessage.flag()) == 0) continue;
    // Profiles keep the 32-bit context; records keep it sign-extended.
    auto context = static_cast<std::uint64_t>(static_cast<std::int64_t>(profile->context()));
    if (context == logMessage.context()) return profile.get();
    if (profile->context() == TTYLoggerEveryContext) everyContext = profile.get();
  }
  return everyContext;
}

void TTYLogger::logMessage(const ns::Ref<LogMessage>& logMessage) {
  LogText text = logMessage->messageText();
  bool customFormatted = false;
  if (logFormatter_) {
    text = logFormatter_->formatLogMessage(logMessage);
    customFormatted = text != logMessage->messageText();
  }
  if (!text) return;
  if (!ns::str::isValidUtf8(*text)) return;
  if (writesToTerminal_) text = shownOnTerminal(text);

  const TTYLoggerColorProfile* profile = colorsEnabled_ ? profileFor(*logMessage) : nullptr;
  static const ns::NoDestructor<std::string> empty;
  const std::string& fg = profile ? profile->fgCode() : *empty;
  const std::string& bg = profile ? profile->bgCode() : *empty;
  const std::string& reset = profile ? profile->resetCode() : *empty;
  bool endsWithNewline = !text->empty() && text->back() == '\n';

  auto piece = [](const char* data, std::size_t length) { return iovec{const_cast<char*>(data), length}; };
  auto str = [&](const std::string& s) { return piece(s.data(), s.size()); };
  static const char newline = '\n';

  iovec iov[14];
  int n = 0;
  iov[n++] = str(fg);
  iov[n++] = str(bg);
  char stamp[64];
  std::string threadID;
  if (!customFormatted) {
    LogDateParts p = logDateParts(logMessage->timestamp());
    int stampLength = std::snprintf(stamp, sizeof stamp, "%04ld-%02ld-%02ld %02ld:%02ld:%02ld:%03d", p.year,
                                    p.month, p.day, p.hour, p.minute, p.second, p.millisecond);
    if (stampLength < 0) stampLength = 0;
    iov[n++] = piece(stamp, std::min<std::size_t>(static_cast<std::size_t>(stampLength), 23));
    iov[n++] = piece(" ", 1);
    iov[n++] = str(appName_);
    iov[n++] = piece("[", 1);
    iov[n++] = str(processID_);
    iov[n++] = piece(":", 1);
    threadID = logMessage->threadID().substr(0, 8);
    iov[n++] = str(threadID);
    iov[n++] = piece("] ", 2);
  }
  iov[n++] = str(*text);
  bool newlineWanted = customFormatted ? appendNewlineForCustom_.load() : true;
  if (newlineWanted && !endsWithNewline) iov[n++] = piece(&newline, 1);
  iov[n++] = str(reset);
  writeAll(fd_, iov, n);
}
