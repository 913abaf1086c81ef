#pragma once
// Classes the keyed unarchiver can make, by the name written in archives: first those registered
// here (usually from a static initialiser in their .cpp), then those a resolver answers for. The
// default resolver is the object runtime's class registry: a runtime class is made with its
// factory and filled through its initWithCoder: method, and counts as supporting secure coding
// when its supportsSecureCoding class method says so.
#include <functional>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "platform/core/Object.h"
#include "platform/serialization/Coder.h"

namespace ns {

struct CodingClass {
  std::string name;
  std::string superclassName = "NSObject";  // empty for a root class
  std::function<Ref<Object>()> make;        // an empty instance, filled by initWithCoder
  bool supportsSecureCoding = true;
};

class CodingRegistry {
 public:
  using Resolver = std::function<std::optional<CodingClass>(const std::string& name)>;

  // A later registration under the same name replaces the earlier one.
  static void registerClass(CodingClass info);
  static void unregisterClass(const std::string& name);
  static std::optional<CodingClass> find(const std::string& name);
  // Replaces the default resolver (nullptr restores it).
  static void setResolver(Resolver resolver);
  // The class and its superclasses by name, ending with "NSObject"; the built-in value classes
  // (NSArray, NSMutableDictionary, ...) have their platform chains.
  static std::vector<std::string> hierarchy(const std::string& name);
};

template <class T>
void registerCodingClass(const std::string& name, const std::string& superclassName = "NSObject",
                         bool supportsSecureCoding = true) {
  static_assert(std::is_base_of_v<Object, T> && std::is_base_of_v<Coding, T>,
                "a coded class is an ns::Object that adopts ns::Coding");
  CodingRegistry::registerClass(CodingClass{name, superclassName,
                                            [] { return std::static_pointer_cast<Object>(make<T>()); },
                                            supportsSecureCoding});
}

}  // namespace ns
