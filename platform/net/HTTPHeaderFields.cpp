#include "platform/net/HTTPHeaderFields.h"

#include <algorithm>
#include <cctype>

namespace ns {

bool headerNameEquals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

std::optional<std::string> HTTPHeaderFields::get(std::string_view name) const {
  for (const auto& f : fields_)
    if (headerNameEquals(f.first, name)) return f.second;
  return std::nullopt;
}

void HTTPHeaderFields::set(std::string_view name, std::string_view value) {
  for (auto& f : fields_) {
    if (headerNameEquals(f.first, name)) {
      f.second = std::string(value);
      return;
    }
  }
  fields_.emplace_back(std::string(name), std::string(value));
}

void HTTPHeaderFields::add(std::string_view name, std::string_view value) {
  for (auto& f : fields_) {
    if (headerNameEquals(f.first, name)) {
      f.second += ",";
      f.second += value;
      return;
    }
  }
  fields_.emplace_back(std::string(name), std::string(value));
}

void HTTPHeaderFields::remove(std::string_view name) {
  fields_.erase(std::remove_if(fields_.begin(), fields_.end(),
                               [&](const Field& f) { return headerNameEquals(f.first, name); }),
                fields_.end());
}

bool operator==(const HTTPHeaderFields& a, const HTTPHeaderFields& b) {
  if (a.size() != b.size()) return false;
  for (const auto& f : a) {
    auto v = b.get(f.first);
    if (!v || *v != f.second) return false;
  }
  return true;
}

}  // namespace ns
