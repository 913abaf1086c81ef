#include "app/shell/AppUtilities.h"

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"

void postNotification(const std::string& name) {
  ns::NotificationCenter::defaultCenter()->postNotificationName_object(name, nullptr);
}

std::string getStringSetting(const std::string& key) {
  auto value = ns::UserDefaults::standardUserDefaults()->stringForKey(key);
  if (value) return *value;
  if (key == "preferredVideoQuality") return "720";
  return "";
}

void setStringSetting(const std::string& key, const std::string& value) {
  auto defaults = ns::UserDefaults::standardUserDefaults();
  defaults->setObject_forKey(ns::Value(value), key);
  defaults->synchronize();
}
