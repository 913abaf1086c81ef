#pragma once
// User defaults. The standard defaults are an XML property list at
// $XDG_CONFIG_HOME/<bundle identifier>.plist (~/.config when the variable is unset). Every change
// is written to it at once, atomically, so that nothing is lost when the process ends; synchronize
// also reads what another process wrote. Safe from any thread.
//
// A store that is there but cannot be read (another user's file, mode 000) is never written over:
// changes stay in memory for the run and one log line says why. One that holds no settings is kept
// aside as <store>.corrupt (logged) and a new one begun.
//
// Look-up order: the application's own values, the global domain (empty here, but readable),
// then the registered defaults. Conversions are the platform's: a string "7" reads as the
// integer 7, "YES", "Y" or "1" as true, a number as its text; an absent key reads as 0, NO or
// nil. Values must be property-list values (numbers, strings, data, dates, arrays, dictionaries
// with string keys); anything else raises NSInvalidArgumentException, as does a key that holds a
// NUL or is not UTF-8.
//
// A change posts NSUserDefaultsDidChangeNotification (object: the defaults) on the changing
// thread, after the value is stored.
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "platform/core/Data.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"

namespace ns {

inline constexpr char NSGlobalDomain[] = "NSGlobalDomain";
inline constexpr char NSRegistrationDomain[] = "NSRegistrationDomain";
inline constexpr char NSUserDefaultsDidChangeNotification[] = "NSUserDefaultsDidChangeNotification";

class UserDefaults : public Object {
 public:
  // Defaults kept in the property-list file at `path`.
  explicit UserDefaults(std::string path);

  static Ref<UserDefaults> standardUserDefaults();
  // Drops the shared defaults; the next standardUserDefaults() opens the store anew (after
  // test set-up has changed $XDG_CONFIG_HOME, for example).
  static void resetStandardUserDefaults();
  // Test hook: keeps the standard defaults in `folder` instead of $XDG_CONFIG_HOME (nullopt
  // restores it). Resets the shared defaults.
  static void setStandardDefaultsFolderForTesting(const std::optional<std::string>& folder);
  // Defaults of a named suite, stored beside the standard ones as <name>.plist. nullptr for an
  // empty name or one that is a path.
  static Ref<UserDefaults> initWithSuiteName(const std::string& name);

  const std::string& storePath() const { return path_; }

  Value objectForKey(const std::string& key) const;
  std::optional<std::string> stringForKey(const std::string& key) const;
  long integerForKey(const std::string& key) const;
  float floatForKey(const std::string& key) const;
  double doubleForKey(const std::string& key) const;
  bool boolForKey(const std::string& key) const;
  // The array or dictionary stored under the key, or nil for any other kind.
  Value arrayForKey(const std::string& key) const;
  Value dictionaryForKey(const std::string& key) const;
  // The array when every element is a string, else nil.
  Value stringArrayForKey(const std::string& key) const;
  std::optional<Data> dataForKey(const std::string& key) const;

  // A nil value removes the key.
  void setObject_forKey(const Value& value, const std::string& key);
  void setInteger_forKey(long value, const std::string& key) { setObject_forKey(Value(value), key); }
  void setFloat_forKey(float value, const std::string& key) { setObject_forKey(Value(value), key); }
  void setDouble_forKey(double value, const std::string& key) { setObject_forKey(Value(value), key); }
  void setBool_forKey(bool value, const std::string& key) { setObject_forKey(Value(value), key); }
  void removeObjectForKey(const std::string& key) { setObject_forKey(Value(), key); }

  // Fallback values, kept in memory only; they never override stored values.
  void registerDefaults(const Dictionary& defaults);

  // Writes anything not yet written and takes in changes another process made to the file.
  // False when the file could not be written.
  bool synchronize();

  // Every visible key with its value, registered defaults included.
  Dictionary dictionaryRepresentation() const;
  // The application's stored values for its own domain (the bundle identifier or suite name),
  // the empty global domain, or the registered defaults; nil for unknown names.
  Value persistentDomainForName(const std::string& name) const;
  void setPersistentDomain_forName(const Dictionary& domain, const std::string& name);
  void removePersistentDomainForName(const std::string& name);

 private:
  std::string path_;
  std::string domainName_;
  mutable std::mutex mutex_;
  Dictionary values_;
  Dictionary registered_;
  std::map<std::string, bool> unsaved_;  // keys changed since the last successful write (true: set)
  bool loaded_ = false;
  // The store was there at the last look but could not be read: it is not written over.
  bool unreadable_ = false;

  void loadLocked();
  // Records whether the store could be read, logging once when it turns unreadable; answers
  // `unreadable`.
  bool noteUnreadable(bool unreadable, const std::string& reason);
  bool writeLocked();
  Value lookupLocked(const std::string& key) const;
  void postChange();
};

}  // namespace ns
