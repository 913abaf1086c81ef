#pragma once
// Warnings about a thing that stays broken (a store that cannot be read, a folder that cannot be
// listed) that every use of it would repeat: each is said once per subject, until the subject is
// found fine again and forgotten. Any thread.
//
//   static ns::NoDestructor<ns::WarnOnce> unreadable;
//   if (!opened) unreadable->warn(path, ns::format("%@ cannot be read", path));
//   else unreadable->forget(path);
#include <mutex>
#include <set>
#include <string>

namespace ns {

class WarnOnce {
 public:
  // Logs `text` as a warning unless a warning was said for `subject` since it was last forgotten.
  void warn(const std::string& subject, const std::string& text);
  void forget(const std::string& subject);
  void forgetAll();

 private:
  std::mutex mutex_;
  std::set<std::string> said_;
};

}  // namespace ns
