#pragma once
// The application bundle: the folder of the executable, with Info.plist and the resources
// installed beside it. Localized strings come from "<resources>/<language>.lproj/<table>.strings"
// (text "key" = "value"; pairs, or a property-list dictionary).
// When no Info.plist lies beside the executable (a test program), the main bundle answers the
// application's identity: "com.ordel42.zeravozezi", "Pelorin".
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Object.h"
#include "platform/core/Value.h"

namespace ns {

inline constexpr char kCFBundleIdentifierKey[] = "CFBundleIdentifier";
inline constexpr char kCFBundleNameKey[] = "CFBundleName";
inline constexpr char kCFBundleVersionKey[] = "CFBundleVersion";
inline constexpr char kCFBundleExecutableKey[] = "CFBundleExecutable";
inline constexpr char kCFBundleDevelopmentRegionKey[] = "CFBundleDevelopmentRegion";

class Bundle : public Object {
 public:
  // Reads <path>/Info.plist.
  explicit Bundle(std::string path);
  Bundle(std::string path, Dictionary info);

  static Ref<Bundle> mainBundle();
  // nullptr when `path` is no folder.
  static Ref<Bundle> bundleWithPath(const std::string& path);
  // Test hook: makes the main bundle the folder `path` (nullopt: the executable's folder again).
  static void setMainBundlePathForTesting(const std::optional<std::string>& path);

  const std::string& bundlePath() const { return path_; }
  const std::string& resourcePath() const { return path_; }
  std::optional<std::string> executablePath() const;
  std::optional<std::string> bundleIdentifier() const;
  const Dictionary& infoDictionary() const { return info_; }
  // The localized value (from InfoPlist.strings) when there is one, else the Info.plist value.
  Value objectForInfoDictionaryKey(const std::string& key) const;

  // "name.ext" among the resources, in a localization folder or the given subfolder.
  std::optional<std::string> pathForResource_ofType(const std::string& name, const std::string& ext) const;
  std::optional<std::string> pathForResource_ofType_inDirectory(const std::string& name,
                                                                const std::string& ext,
                                                                const std::string& subfolder) const;
  std::vector<std::string> pathsForResourcesOfType_inDirectory(const std::string& ext,
                                                               const std::string& subfolder) const;

  // The text for `key` in `table` ("Localizable" when empty) for the preferred language; else
  // `value` when not empty; else the key itself.
  std::string localizedStringForKey_value_table(const std::string& key, const std::string& value,
                                                const std::string& table = "") const;
  // The user's languages (from LANGUAGE, LC_ALL, LC_MESSAGES, LANG) that the bundle has, then
  // the development language.
  std::vector<std::string> preferredLocalizations() const;
  std::string developmentLocalization() const;

 private:
  std::string path_;
  Dictionary info_;
  mutable std::mutex mutex_;
  mutable std::map<std::string, Dictionary> tables_;

  const Dictionary& table(const std::string& name) const;
};

// Parses the text form of a strings table: "key" = "value"; pairs with C comments; nullopt when
// the text is malformed.
std::optional<Dictionary> parseStringsTable(const std::string& text);

}  // namespace ns
