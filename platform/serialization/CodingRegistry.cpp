#include "platform/serialization/CodingRegistry.h"

#include "platform/core/NoDestructor.h"

#include <map>
#include <mutex>

namespace ns {

void installRuntimeCodingResolver();  // CoderRuntime.cpp
void setDefaultCodingResolver(CodingRegistry::Resolver r);

namespace {

// Archives may still be read on other threads while the process exits: the registry is never
// destroyed.
std::mutex& registryMutex() {
  static NoDestructor<std::mutex> m;
  return *m;
}
std::map<std::string, CodingClass>& registry() {
  static NoDestructor<std::map<std::string, CodingClass>> r;
  return *r;
}
CodingRegistry::Resolver& resolver() {
  static NoDestructor<CodingRegistry::Resolver> r;
  return *r;
}
// The runtime's class registry, consulted when no resolver was set.
CodingRegistry::Resolver& defaultResolver() {
  static NoDestructor<CodingRegistry::Resolver> r;
  return *r;
}

const std::map<std::string, std::vector<std::string>>& builtinChains() {
  static const NoDestructor<std::map<std::string, std::vector<std::string>>> chains(
      std::map<std::string, std::vector<std::string>>{
          {"NSObject", {"NSObject"}},
          {"NSString", {"NSString", "NSObject"}},
          {"NSMutableString", {"NSMutableString", "NSString", "NSObject"}},
          {"NSNumber", {"NSNumber", "NSValue", "NSObject"}},
          {"NSData", {"NSData", "NSObject"}},
          {"NSMutableData", {"NSMutableData", "NSData", "NSObject"}},
          {"NSDate", {"NSDate", "NSObject"}},
          {"NSArray", {"NSArray", "NSObject"}},
          {"NSMutableArray", {"NSMutableArray", "NSArray", "NSObject"}},
          {"NSDictionary", {"NSDictionary", "NSObject"}},
          {"NSMutableDictionary", {"NSMutableDictionary", "NSDictionary", "NSObject"}},
          {"NSSet", {"NSSet", "NSObject"}},
          {"NSMutableSet", {"NSMutableSet", "NSSet", "NSObject"}},
          {"NSNull", {"NSNull", "NSObject"}},
          {"NSError", {"NSError", "NSObject"}},
      });
  return *chains;
}

}  // namespace

void CodingRegistry::registerClass(CodingClass info) {
  std::lock_guard<std::mutex> lock(registryMutex());
  std::string name = info.name;
  registry()[name] = std::move(info);
}

void CodingRegistry::unregisterClass(const std::string& name) {
  std::lock_guard<std::mutex> lock(registryMutex());
  registry().erase(name);
}

std::optional<CodingClass> CodingRegistry::find(const std::string& name) {
  installRuntimeCodingResolver();
  Resolver fallback;
  {
    std::lock_guard<std::mutex> lock(registryMutex());
    auto it = registry().find(name);
    if (it != registry().end()) return it->second;
    fallback = resolver() ? resolver() : defaultResolver();
  }
  if (fallback) return fallback(name);
  return std::nullopt;
}

void CodingRegistry::setResolver(Resolver r) {
  std::lock_guard<std::mutex> lock(registryMutex());
  resolver() = std::move(r);
}

void setDefaultCodingResolver(CodingRegistry::Resolver r) {
  std::lock_guard<std::mutex> lock(registryMutex());
  defaultResolver() = std::move(r);
}

std::vector<std::string> CodingRegistry::hierarchy(const std::string& name) {
  auto builtin = builtinChains().find(name);
  if (builtin != builtinChains().end()) return builtin->second;
  std::vector<std::string> chain;
  std::string current = name;
  // The bound stops a registration loop (A's superclass B, B's superclass A).
  for (int i = 0; i < 64 && !current.empty(); ++i) {
    auto b = builtinChains().find(current);
    if (b != builtinChains().end()) {
      chain.insert(chain.end(), b->second.begin(), b->second.end());
      return chain;
    }
    chain.push_back(current);
    auto info = find(current);
    if (!info) break;
    current = info->superclassName;
  }
  if (chain.empty() || chain.back() != "NSObject") chain.push_back("NSObject");
  return chain;
}

}  // namespace ns
