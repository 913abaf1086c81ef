#pragma once
// Interned selector names. Two selectors with the same name are the same pointer, so selectors
// compare and hash by identity and serve as keys.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace ns {

namespace detail {
struct SelectorName {
  std::string name;
};
}  // namespace detail

// The raw form of a selector, used in the canonical C signatures of method implementations.
using SEL = const detail::SelectorName*;

class Sel {
 public:
  constexpr Sel() = default;
  // Interns the name. Implicit so that a literal can be passed where a selector is expected.
  Sel(const char* name);
  Sel(std::string_view name);
  Sel(const std::string& name) : Sel(std::string_view(name)) {}
  constexpr explicit Sel(SEL raw) : raw_(raw) {}

  SEL raw() const { return raw_; }
  // The selector's text; empty for the null selector.
  const std::string& name() const;
  const char* c_str() const { return name().c_str(); }
  // Number of arguments the selector names (its colons).
  std::size_t argumentCount() const;

  explicit operator bool() const { return raw_ != nullptr; }
  friend bool operator==(Sel a, Sel b) { return a.raw_ == b.raw_; }
  friend bool operator!=(Sel a, Sel b) { return a.raw_ != b.raw_; }
  friend bool operator<(Sel a, Sel b) { return a.raw_ < b.raw_; }

 private:
  SEL raw_ = nullptr;
};

Sel sel_registerName(std::string_view name);
const char* sel_getName(Sel sel);
Sel NSSelectorFromString(std::string_view name);
// The selector's name; "" for the null selector.
std::string NSStringFromSelector(Sel sel);

}  // namespace ns

template <>
struct std::hash<ns::Sel> {
  std::size_t operator()(ns::Sel s) const noexcept { return std::hash<const void*>()(s.raw()); }
};
