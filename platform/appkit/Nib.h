#pragma once
// Code-built nibs. A controller's interface is built by a function registered under the nib's
// name; loading runs it, then sets the outlets and actions it declared, then sends
// awakeFromNib once to every object it made, the owner last:
//
//   ak::Nib::registerBuilder("TestPane", [](ak::NibLoader& nib) {
//     auto label = nib.view<LabelView>({.frame = ak::MakeRect(10, 10, 100, 20)});
//     auto pane = nib.view<PaneView>({.frame = ak::MakeRect(0, 0, 300, 200), .subviews = {label}});
//     auto owner = nib.owner<PaneController>();
//     nib.outlet([owner, pane, label] { owner->setView(pane); owner->label_ = label; });
//   });
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/Geometry.h"
#include "platform/core/Object.h"

namespace ak {

class View;

// What a view's initWithCoder reads.
class NibCoder {
 public:
  // Every member has a default, so that a designated initialiser may name only what it sets.
  Rect frame{};
  unsigned autoresizingMask = 0;
  std::string identifier{};
  bool hidden = false;
  std::optional<long> tag{};
  // Already built; the base initialiser installs them so a subclass sees them.
  std::vector<ns::Ref<View>> subviews{};
};

class NibLoader {
 public:
  explicit NibLoader(ns::Ref<ns::Object> owner) : owner_(std::move(owner)) {}

  // The file's owner, typed (nullptr when it is of another class).
  template <class T>
  ns::Ref<T> owner() const {
    return std::dynamic_pointer_cast<T>(owner_);
  }
  const ns::Ref<ns::Object>& ownerObject() const { return owner_; }

  // A view made through initWithCoder.
  template <class T>
  ns::Ref<T> view(NibCoder coder) {
    auto v = std::make_shared<T>();
    v->initWithCoder(coder);
    add(v);
    return v;
  }
  // Any other object (a window, a controller...), made by the caller; it joins the awakening.
  template <class T>
  ns::Ref<T> object(ns::Ref<T> object) {
    add(object);
    return object;
  }
  // Connections, applied in order after every object is made and before any awakes.
  void outlet(std::function<void()> connect) { connections_.push_back(std::move(connect)); }
  void action(std::function<void()> connect) { connections_.push_back(std::move(connect)); }

  const std::vector<ns::Ref<ns::Object>>& topLevelObjects() const { return objects_; }

  // Used by Nib.
  void connect();
  void awake();

 private:
  void add(const ns::Ref<ns::Object>& object) {
    if (object) objects_.push_back(object);
  }
  ns::Ref<ns::Object> owner_;
  std::vector<ns::Ref<ns::Object>> objects_;
  std::vector<std::function<void()>> connections_;
};

class Nib {
 public:
  using Builder = std::function<void(NibLoader&)>;
  static void registerBuilder(const std::string& name, Builder builder);
  static void unregisterBuilder(const std::string& name);
  static bool hasBuilder(const std::string& name);
  // Runs the builder; false (logged) when none is registered under the name.
  static bool loadNibNamed_owner_topLevelObjects(const std::string& name, const ns::Ref<ns::Object>& owner,
                                                 std::vector<ns::Ref<ns::Object>>* topLevelObjects);
  static bool loadNibNamed_owner(const std::string& name, const ns::Ref<ns::Object>& owner) {
    return loadNibNamed_owner_topLevelObjects(name, owner, nullptr);
  }
};

}  // namespace ak
