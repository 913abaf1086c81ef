#pragma once
// HTTP header fields: names compare without case, the first spelling of a name is kept, the
// order of first appearance is kept (so serialised messages are stable).
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ns {

bool headerNameEquals(std::string_view a, std::string_view b);

class HTTPHeaderFields {
 public:
  using Field = std::pair<std::string, std::string>;

  HTTPHeaderFields() = default;
  HTTPHeaderFields(std::initializer_list<Field> fields) {
    for (const auto& f : fields) set(f.first, f.second);
  }

  std::optional<std::string> get(std::string_view name) const;
  bool contains(std::string_view name) const { return get(name).has_value(); }
  // Replaces the value (keeping the first spelling and position of the name).
  void set(std::string_view name, std::string_view value);
  // Joins to an existing value with ",", as repeated fields combine. (Set-Cookie values may hold
  // commas; the cookie parser copes with the joined form.)
  void add(std::string_view name, std::string_view value);
  void remove(std::string_view name);
  void clear() { fields_.clear(); }

  const std::vector<Field>& fields() const { return fields_; }
  std::size_t size() const { return fields_.size(); }
  bool empty() const { return fields_.empty(); }
  auto begin() const { return fields_.begin(); }
  auto end() const { return fields_.end(); }
  friend bool operator==(const HTTPHeaderFields& a, const HTTPHeaderFields& b);

 private:
  std::vector<Field> fields_;
};

}  // namespace ns
