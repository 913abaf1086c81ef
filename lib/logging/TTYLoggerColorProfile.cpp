#include "lib/logging/TTYLoggerColorProfile.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "lib/logging/TTYColorTable.h"

// --- TTYTerminal -------------------------------------------------------------------------------

namespace {

bool containsCaseInsensitive(const std::string& text, const std::string& part) {
  if (part.size() > text.size()) return false;
  for (std::size_t i = 0; i + part.size() <= text.size(); ++i) {
    std::size_t k = 0;
    while (k < part.size() && std::tolower(static_cast<unsigned char>(text[i + k])) ==
                                  std::tolower(static_cast<unsigned char>(part[k]))) {
      ++k;
    }
    if (k == part.size()) return true;
  }
  return false;
}

std::optional<std::string> environment(const char* name) {
  const char* value = std::getenv(name);
  if (value == nullptr) return std::nullopt;
  return std::string(value);
}

// Components 0 to 1 as whole numbers out of 255, cut; the allowance keeps n/255 from becoming
// n - 1 through binary rounding.
std::uint8_t component255(double value) {
  double scaled = std::floor(value * 255.0 + 1e-9);
  if (!(scaled > 0)) return 0;
  return scaled >= 255 ? 255 : static_cast<std::uint8_t>(scaled);
}

}  // namespace

const TTYColorTable* TTYTerminal::colorTable() const {
  switch (kind) {
    case Kind::Ansi16:
      return &TTYColorTable::colors16();
    case Kind::Ansi256:
      return &TTYColorTable::colors256();
    default:
      return nullptr;
  }
}

TTYTerminal TTYTerminal::fromValues(const std::optional<std::string>& consoleColors,
                                    const std::optional<std::string>& term) {
  if (consoleColors && *consoleColors == "YES") return {Kind::DevelopmentConsole};
  if (term && containsCaseInsensitive(*term, "color")) {
    return {containsCaseInsensitive(*term, "256") ? Kind::Ansi256 : Kind::Ansi16};
  }
  return {Kind::None};
}

TTYTerminal TTYTerminal::fromEnvironment() {
  return fromValues(environment("ConsoleColors"), environment("TERM"));
}

// --- TTYLoggerColorProfile ---------------------------------------------------------------------

ns::Ref<TTYLoggerColorProfile> TTYLoggerColorProfile::initWithForegroundColor_backgroundColor_flag_context(
    std::optional<TTYColor> foreground, std::optional<TTYColor> background, std::uint64_t mask,
    std::int32_t context, const TTYTerminal& terminal) {
  auto p = ns::make<TTYLoggerColorProfile>();
  p->mask_ = mask;
  p->context_ = context;
  if (foreground) {
    p->fg_[0] = component255(foreground->red);
    p->fg_[1] = component255(foreground->green);
    p->fg_[2] = component255(foreground->blue);
  }
  if (background) {
    p->bg_[0] = component255(background->red);
    p->bg_[1] = component255(background->green);
    p->bg_[2] = component255(background->blue);
  }

  auto makeCode = [&](const std::optional<TTYColor>& color, const std::uint8_t rgb[3], bool isForeground,
                      std::size_t& index, std::string& raw, std::string& code) {
    if (!color) return true;
    if (const TTYColorTable* table = terminal.colorTable()) {
      index = table->codeIndexForColor(color->red, color->green, color->blue);
      raw = isForeground ? table->foregroundCodes[index] : table->backgroundCodes[index];
      code = "\033[" + raw;
    } else if (terminal.isDevelopmentConsole()) {
      char buf[64];
      std::snprintf(buf, sizeof buf, isForeground ? "%sfg%u,%u,%u;" : "%sbg%u,%u,%u;", "\033[",
                    unsigned{rgb[0]}, unsigned{rgb[1]}, unsigned{rgb[2]});
      code = buf;
    }
    return code.size() < kMaxCodeLength;
  };
  if (!makeCode(foreground, p->fg_, true, p->fgCodeIndex_, p->fgCodeRaw_, p->fgCode_)) return nullptr;
  if (!makeCode(background, p->bg_, false, p->bgCodeIndex_, p->bgCodeRaw_, p->bgCode_)) return nullptr;

  if (terminal.isAnsi()) {
    p->resetCode_ = "\033[0m";
  } else if (terminal.isDevelopmentConsole()) {
    p->resetCode_ = "\033[;";
  }
  return p;
}

std::string TTYLoggerColorProfile::description() const {
  char buf[256];
  std::snprintf(buf, sizeof buf,
                "<TTYLoggerColorProfile: %p mask:%i ctxt:%i fg:%u,%u,%u bg:%u,%u,%u fgCode:%s bgCode:%s>",
                static_cast<const void*>(this), static_cast<int>(mask_), context_, unsigned{fg_[0]},
                unsigned{fg_[1]}, unsigned{fg_[2]}, unsigned{bg_[0]}, unsigned{bg_[1]}, unsigned{bg_[2]},
                fgCodeRaw_.empty() ? "(null)" : fgCodeRaw_.c_str(),
                bgCodeRaw_.empty() ? "(null)" : bgCodeRaw_.c_str());
  return buf;
}
