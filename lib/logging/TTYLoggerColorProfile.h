#pragma once
// One colour rule of the console logger: the flags and context it applies to, and the escape
// sequences worked out once from its colours for the logger's terminal.
#include <cstdint>
#include <optional>
#include <string>

#include "lib/logging/TTYColor.h"
#include "lib/logging/TTYTerminal.h"
#include "platform/core/Object.h"

// The context value that stands for every context.
inline constexpr std::int32_t TTYLoggerEveryContext = 2147483647;

class TTYLoggerColorProfile : public ns::Object {
 public:
  // Answers null when an escape sequence does not fit its buffer.
  static ns::Ref<TTYLoggerColorProfile> initWithForegroundColor_backgroundColor_flag_context(
      std::optional<TTYColor> foreground, std::optional<TTYColor> background, std::uint64_t mask,
      std::int32_t context, const TTYTerminal& terminal);

  std::uint64_t mask() const { return mask_; }
  std::int32_t context() const { return context_; }
  std::uint8_t fg_r() const { return fg_[0]; }
  std::uint8_t fg_g() const { return fg_[1]; }
  std::uint8_t fg_b() const { return fg_[2]; }
  std::uint8_t bg_r() const { return bg_[0]; }
  std::uint8_t bg_g() const { return bg_[1]; }
  std::uint8_t bg_b() const { return bg_[2]; }
  std::size_t fgCodeIndex() const { return fgCodeIndex_; }
  const std::string& fgCodeRaw() const { return fgCodeRaw_; }
  std::size_t bgCodeIndex() const { return bgCodeIndex_; }
  const std::string& bgCodeRaw() const { return bgCodeRaw_; }
  // The escape sequences as written around a line.
  const std::string& fgCode() const { return fgCode_; }
  const std::string& bgCode() const { return bgCode_; }
  const std::string& resetCode() const { return resetCode_; }

  std::string description() const override;

  // Bounds of the stored sequences, in bytes.
  static constexpr std::size_t kMaxCodeLength = 24;
  static constexpr std::size_t kMaxResetCodeLength = 8;

  TTYLoggerColorProfile() = default;

 private:
  std::uint64_t mask_ = 0;
  std::int32_t context_ = 0;
  std::uint8_t fg_[3] = {0, 0, 0};
  std::uint8_t bg_[3] = {0, 0, 0};
  std::size_t fgCodeIndex_ = 0;
  std::string fgCodeRaw_;
  std::size_t bgCodeIndex_ = 0;
  std::string bgCodeRaw_;
  std::string fgCode_;
  std::string bgCode_;
  std::string resetCode_;
};
