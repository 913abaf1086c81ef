#pragma once
// Model classes of the archiving tests, registered with the object runtime.
#include <optional>
#include <string>

#include "lib/cache/AutoArchiving.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"

namespace cachetest {

class ArchItem : public ns::Object, public AutoArchiving {
 public:
  int count() const { return count_; }
  void setCount(int count) { count_ = count; }
  std::string title() const { return title_; }
  void setTitle(std::string title) { title_ = std::move(title); }
  // Untyped: never archived.
  ns::Value extra() const { return extra_; }
  void setExtra(ns::Value extra) { extra_ = std::move(extra); }
  // Backed by a field of another name: never archived.
  std::string nickname() const { return alias_; }
  void setNickname(std::string nickname) { alias_ = std::move(nickname); }

 private:
  int count_ = 0;
  std::string title_;
  ns::Value extra_;
  std::string alias_;
};

class ArchSubItem : public ArchItem {
 public:
  std::optional<std::string> subtitle() const { return subtitle_; }
  void setSubtitle(std::optional<std::string> subtitle) { subtitle_ = std::move(subtitle); }
  bool isFinished() const { return finished_; }
  void setFinished(bool finished) { finished_ = finished; }

 private:
  std::optional<std::string> subtitle_ = "untitled";
  bool finished_ = false;
};

// Declares properties only, for the rules on dynamic and read-only properties.
class ArchDeclarations : public ns::Object, public AutoArchiving {};

// Excludes a property the old way, which still works but is logged.
class ArchLegacy : public ns::Object, public AutoArchiving {
 public:
  std::string kept() const { return "k"; }
  std::string dropped() const { return "d"; }
  static ns::Array uncodableProperties() { return {ns::Value("dropped")}; }
};

class ArchNode : public ns::Object, public AutoArchiving {
 public:
  std::string name() const { return name_; }
  void setName(std::string name) { name_ = std::move(name); }
  ns::Weak<ArchNode> parent() const { return parent_; }
  void setParent(ns::Weak<ArchNode> parent) { parent_ = std::move(parent); }
  ns::Array children() const { return children_; }
  void setChildren(ns::Array children) { children_ = std::move(children); }

 private:
  std::string name_;
  ns::Weak<ArchNode> parent_;
  ns::Array children_;
};

}  // namespace cachetest
