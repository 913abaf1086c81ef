#include "platform/foundation/Bundle.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

#include "platform/core/NoDestructor.h"
#include "platform/core/Str.h"
#include "platform/foundation/FileIO.h"
#include "platform/foundation/FileManager.h"
#include "platform/foundation/ProcessInfo.h"
#include "platform/serialization/PropertyListSerialization.h"

namespace ns {
namespace {

constexpr char kApplicationIdentifier[] = "com.ordel42.zeravozezi";
constexpr char kApplicationName[] = "Pelorin";

// Never destroyed: other threads may still ask for the main bundle while the process exits.
struct MainBundle {
  std::mutex mutex;
  Ref<Bundle> bundle;
  std::optional<std::string> pathOverride;
};
MainBundle& mainState() {
  static NoDestructor<MainBundle> state;
  return *state;
}

std::string executableFolder() {
  char buffer[4096];
  ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
  if (n <= 0) return ".";
  std::string path(buffer, static_cast<std::size_t>(n));
  auto slash = path.rfind('/');
  return slash == std::string::npos || slash == 0 ? "/" : path.substr(0, slash);
}

bool isFolder(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool isFile(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string fileName(const std::string& name, const std::string& ext) {
  if (ext.empty()) return name;
  if (ext[0] == '.') return name + ext;
  return name + "." + ext;
}

// A language code from a locale name: "de_DE.UTF-8" gives "de", "pt_BR" gives "pt-BR".
std::string languageOf(std::string locale) {
  auto cut = locale.find_first_of(".@");
  if (cut != std::string::npos) locale.resize(cut);
  if (locale == "C" || locale == "POSIX" || locale.empty()) return {};
  std::replace(locale.begin(), locale.end(), '_', '-');
  return locale;
}

class StringsParser {
 public:
  explicit StringsParser(const std::string& text) : s_(text) {}

  std::optional<Dictionary> parse() {
    Dictionary out;
    for (;;) {
      skip();
      if (pos_ >= s_.size()) return out;
      auto key = token();
      if (!key) return std::nullopt;
      skip();
      std::string value = *key;
      if (peek() == '=') {
        ++pos_;
        skip();
        auto v = token();
        if (!v) return std::nullopt;
        value = *v;
        skip();
      }
      if (peek() != ';') return std::nullopt;
      ++pos_;
      out.set(Value(*key), Value(value));
    }
  }

 private:
  const std::string& s_;
  std::size_t pos_ = 0;

  char peek() const { return pos_ < s_.size() ? s_[pos_] : '\0'; }

  void skip() {
    while (pos_ < s_.size()) {
      char c = s_[pos_];
      if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
        ++pos_;
      } else if (c == '/' && pos_ + 1 < s_.size() && s_[pos_ + 1] == '/') {
        while (pos_ < s_.size() && s_[pos_] != '\n') ++pos_;
      } else if (c == '/' && pos_ + 1 < s_.size() && s_[pos_ + 1] == '*') {
        auto end = s_.find("*/", pos_ + 2);
        pos_ = end == std::string::npos ? s_.size() : end + 2;
      } else {
        return;
      }
    }
  }

  static bool isBare(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || c == '+' || c == '/' || c == ':' || c == '.' || c == '-';
  }

  std::optional<std::string> token() {
    if (peek() == '"') return quoted();
    std::size_t start = pos_;
    while (pos_ < s_.size() && isBare(s_[pos_])) ++pos_;
    if (pos_ == start) return std::nullopt;
    return s_.substr(start, pos_ - start);
  }

  // Up to four hexadecimal digits after a \U escape.
  std::optional<char32_t> hexUnit() {
    char32_t code = 0;
    int digits = 0;
    while (digits < 4 && pos_ < s_.size() && std::isxdigit(static_cast<unsigned char>(s_[pos_]))) {
      char c = static_cast<char>(std::tolower(static_cast<unsigned char>(s_[pos_++])));
      code = code * 16 + static_cast<char32_t>(c <= '9' ? c - '0' : c - 'a' + 10);
      ++digits;
    }
    if (digits == 0) return std::nullopt;
    return code;
  }

  std::optional<std::string> quoted() {
    ++pos_;
    std::string out;
    while (pos_ < s_.size()) {
      char c = s_[pos_++];
      if (c == '"') return out;
      if (c != '\\') {
        out += c;
        continue;
      }
      if (pos_ >= s_.size()) return std::nullopt;
      char e = s_[pos_++];
      switch (e) {
        case 'n':
          out += '\n';
          break;
        case 't':
          out += '\t';
          break;
        case 'r':
          out += '\r';
          break;
        case 'a':
          out += '\a';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'v':
          out += '\v';
          break;
        case 'U':
        case 'u': {
          auto code = hexUnit();
          if (!code) return std::nullopt;
          // Characters beyond the first 65536 are written as two escaped UTF-16 halves.
          if (*code >= 0xD800 && *code <= 0xDBFF && pos_ + 1 < s_.size() && s_[pos_] == '\\' &&
              (s_[pos_ + 1] == 'U' || s_[pos_ + 1] == 'u')) {
            std::size_t before = pos_;
            pos_ += 2;
            auto low = hexUnit();
            if (low && *low >= 0xDC00 && *low <= 0xDFFF) {
              *code = 0x10000 + ((*code - 0xD800) << 10) + (*low - 0xDC00);
            } else {
              pos_ = before;
            }
          }
          str::appendUtf8(out, *code);
          break;
        }
        default:
          if (e >= '0' && e <= '7') {
            int code = e - '0';
            for (int i = 0; i < 2 && pos_ < s_.size() && s_[pos_] >= '0' && s_[pos_] <= '7'; ++i)
              code = code * 8 + (s_[pos_++] - '0');
            out += static_cast<char>(code);
          } else {
            out += e;
          }
      }
    }
    return std::nullopt;
  }
};

Dictionary loadInfo(const std::string& folder, bool isMain) {
  auto data = dataWithContentsOfFile(folder + "/Info.plist");
  if (data) {
    Value plist = PropertyListSerialization::propertyListWithData(*data);
    if (plist.isDictionary()) return plist.dictionary();
  }
  if (!isMain) return {};
  Dictionary fallback;
  fallback.set(kCFBundleIdentifierKey, kApplicationIdentifier);
  fallback.set(kCFBundleNameKey, kApplicationName);
  fallback.set(kCFBundleExecutableKey, ProcessInfo::processInfo()->processName());
  fallback.set(kCFBundleDevelopmentRegionKey, "en");
  return fallback;
}

}  // namespace

std::optional<Dictionary> parseStringsTable(const std::string& text) {
  return StringsParser(text).parse();
}

Bundle::Bundle(std::string path) : path_(std::move(path)), info_(loadInfo(path_, false)) {}

Bundle::Bundle(std::string path, Dictionary info) : path_(std::move(path)), info_(std::move(info)) {}

Ref<Bundle> Bundle::mainBundle() {
  MainBundle& m = mainState();
  std::lock_guard<std::mutex> lock(m.mutex);
  if (!m.bundle) {
    std::string folder = m.pathOverride ? *m.pathOverride : executableFolder();
    m.bundle = make<Bundle>(folder, loadInfo(folder, true));
  }
  return m.bundle;
}

Ref<Bundle> Bundle::bundleWithPath(const std::string& path) {
  if (!isFolder(path)) return nullptr;
  return make<Bundle>(path);
}

void Bundle::setMainBundlePathForTesting(const std::optional<std::string>& path) {
  MainBundle& m = mainState();
  std::lock_guard<std::mutex> lock(m.mutex);
  m.pathOverride = path;
  m.bundle.reset();
}

std::optional<std::string> Bundle::executablePath() const {
  const Value& name = info_[kCFBundleExecutableKey];
  if (!name.isString()) return std::nullopt;
  std::string path = path_ + "/" + name.string();
  if (!isFile(path)) return std::nullopt;
  return path;
}

std::optional<std::string> Bundle::bundleIdentifier() const {
  return info_[kCFBundleIdentifierKey].optionalString();
}

Value Bundle::objectForInfoDictionaryKey(const std::string& key) const {
  const Dictionary& localized = table("InfoPlist");
  if (const Value* v = localized.find(Value(key))) return *v;
  return info_[Value(key)];
}

std::string Bundle::developmentLocalization() const {
  const Value& region = info_[kCFBundleDevelopmentRegionKey];
  return region.isString() && !region.string().empty() ? region.string() : "en";
}

std::vector<std::string> Bundle::preferredLocalizations() const {
  std::vector<std::string> wanted;
  auto add = [&](const std::string& lang) {
    if (lang.empty()) return;
    if (std::find(wanted.begin(), wanted.end(), lang) == wanted.end()) wanted.push_back(lang);
    auto dash = lang.find('-');
    if (dash != std::string::npos) {
      std::string base = lang.substr(0, dash);
      if (std::find(wanted.begin(), wanted.end(), base) == wanted.end()) wanted.push_back(base);
    }
  };
  if (const char* list = std::getenv("LANGUAGE")) {
    for (auto& part : str::componentsSeparatedByString(list, ":")) add(languageOf(part));
  }
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    if (const char* v = std::getenv(var); v && *v) {
      add(languageOf(v));
      break;
    }
  }
  std::vector<std::string> out;
  for (const auto& lang : wanted) {
    if (isFolder(path_ + "/" + lang + ".lproj")) out.push_back(lang);
  }
  std::string dev = developmentLocalization();
  if (std::find(out.begin(), out.end(), dev) == out.end()) out.push_back(dev);
  return out;
}

std::optional<std::string> Bundle::pathForResource_ofType(const std::string& name,
                                                          const std::string& ext) const {
  return pathForResource_ofType_inDirectory(name, ext, "");
}

std::optional<std::string> Bundle::pathForResource_ofType_inDirectory(const std::string& name,
                                                                      const std::string& ext,
                                                                      const std::string& subfolder) const {
  // Resource names never climb out of the bundle.
  if (name.empty() || name.find("..") != std::string::npos || subfolder.find("..") != std::string::npos)
    return std::nullopt;
  std::string base = subfolder.empty() ? path_ : path_ + "/" + subfolder;
  std::string file = fileName(name, ext);
  for (const auto& lang : preferredLocalizations()) {
    std::string localized = base + "/" + lang + ".lproj/" + file;
    if (isFile(localized)) return localized;
  }
  if (isFile(base + "/Base.lproj/" + file)) return base + "/Base.lproj/" + file;
  if (isFile(base + "/" + file)) return base + "/" + file;
  return std::nullopt;
}

std::vector<std::string> Bundle::pathsForResourcesOfType_inDirectory(const std::string& ext,
                                                                     const std::string& subfolder) const {
  std::vector<std::string> out;
  if (subfolder.find("..") != std::string::npos) return out;
  std::string base = subfolder.empty() ? path_ : path_ + "/" + subfolder;
  auto names = FileManager::defaultManager()->contentsOfDirectoryAtPath_error(base, nullptr);
  if (!names) return out;
  std::string suffix = ext.empty() ? "" : (ext[0] == '.' ? ext : "." + ext);
  for (const auto& name : *names) {
    if (str::hasSuffix(name, suffix) && isFile(base + "/" + name)) out.push_back(base + "/" + name);
  }
  return out;
}

const Dictionary& Bundle::table(const std::string& name) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto found = tables_.find(name);
  if (found != tables_.end()) return found->second;
  Dictionary merged;
  // Later (less preferred) languages only fill keys the earlier ones lack.
  for (const auto& lang : preferredLocalizations()) {
    auto data = dataWithContentsOfFile(path_ + "/" + lang + ".lproj/" + name + ".strings");
    if (!data) continue;
    Dictionary entries;
    Value plist = PropertyListSerialization::propertyListWithData(*data);
    if (plist.isDictionary()) {
      entries = plist.dictionary();
    } else {
      std::string text = data->toString();
      if (text.size() >= 2 && ((unsigned char)text[0] == 0xFF || (unsigned char)text[0] == 0xFE)) {
        bool big = (unsigned char)text[0] == 0xFE;
        std::u16string units;
        for (std::size_t i = 2; i + 1 < text.size(); i += 2) {
          auto hi = (unsigned char)text[big ? i : i + 1], lo = (unsigned char)text[big ? i + 1 : i];
          units.push_back(static_cast<char16_t>(hi << 8 | lo));
        }
        text = str::toUtf8(units);
      } else if (text.rfind("\xEF\xBB\xBF", 0) == 0) {
        text.erase(0, 3);
      }
      if (auto parsed = parseStringsTable(text)) entries = std::move(*parsed);
    }
    for (const auto& [k, v] : entries) {
      if (!merged.contains(k)) merged.set(k, v);
    }
  }
  return tables_.emplace(name, std::move(merged)).first->second;
}

std::string Bundle::localizedStringForKey_value_table(const std::string& key, const std::string& value,
                                                      const std::string& tableName) const {
  const Dictionary& entries = table(tableName.empty() ? "Localizable" : tableName);
  if (const Value* found = entries.find(Value(key)); found && found->isString()) return found->string();
  return value.empty() ? key : value;
}

}  // namespace ns
