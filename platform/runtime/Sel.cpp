#include "platform/runtime/Sel.h"
#include "platform/core/NoDestructor.h"

#include <algorithm>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

namespace ns {
namespace {

struct SelectorTable {
  std::shared_mutex lock;
  std::unordered_map<std::string_view, std::unique_ptr<detail::SelectorName>> names;
};

SelectorTable& table() {
  // Selectors live for the life of the process; the table is never destroyed so that static
  // destructors elsewhere may still use selectors.
  static ns::NoDestructor<SelectorTable> t;
  return *t;
}

SEL intern(std::string_view name) {
  if (name.empty()) return nullptr;
  auto& t = table();
  {
    std::shared_lock lock(t.lock);
    auto it = t.names.find(name);
    if (it != t.names.end()) return it->second.get();
  }
  std::unique_lock lock(t.lock);
  auto it = t.names.find(name);
  if (it != t.names.end()) return it->second.get();
  auto entry = std::make_unique<detail::SelectorName>(detail::SelectorName{std::string(name)});
  SEL raw = entry.get();
  t.names.emplace(std::string_view(entry->name), std::move(entry));
  return raw;
}

}  // namespace

Sel::Sel(const char* name) : raw_(name ? intern(name) : nullptr) {}
Sel::Sel(std::string_view name) : raw_(intern(name)) {}

const std::string& Sel::name() const {
  static const std::string empty;
  return raw_ ? raw_->name : empty;
}

std::size_t Sel::argumentCount() const {
  const auto& n = name();
  return static_cast<std::size_t>(std::count(n.begin(), n.end(), ':'));
}

Sel sel_registerName(std::string_view name) {
  return Sel(name);
}
const char* sel_getName(Sel sel) {
  return sel.c_str();
}
Sel NSSelectorFromString(std::string_view name) {
  return Sel(name);
}
std::string NSStringFromSelector(Sel sel) {
  return sel.name();
}

}  // namespace ns
