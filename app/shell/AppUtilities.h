#pragma once
// Process-wide services of the application shell that other subsystems call: synchronous
// notification posting and the string settings kept in the user defaults.
#include <string>

// Posts the named notification with no object on the default notification centre, on the
// calling thread; every observer has run when it returns.
void postNotification(const std::string& name);

// The user-defaults string under `key`; when absent, "720" for "preferredVideoQuality" and the
// empty string for every other key.
std::string getStringSetting(const std::string& key);
// Stores the string under `key` and saves the defaults at once.
void setStringSetting(const std::string& key, const std::string& value);
