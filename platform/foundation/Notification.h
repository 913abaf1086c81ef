#pragma once
// A posted notification: a name, the object that posted it (optional) and user info.
#include <string>
#include <utility>

#include "platform/core/Object.h"
#include "platform/core/Value.h"

namespace ns {

class Notification : public Object {
 public:
  Notification(std::string name, Ref<Object> object = nullptr, Dictionary userInfo = {})
      : name_(std::move(name)), object_(std::move(object)), userInfo_(std::move(userInfo)) {}

  static Ref<Notification> notificationWithName_object_userInfo(std::string name,
                                                                Ref<Object> object = nullptr,
                                                                Dictionary userInfo = {}) {
    return make<Notification>(std::move(name), std::move(object), std::move(userInfo));
  }

  const std::string& name() const { return name_; }
  const Ref<Object>& object() const { return object_; }
  // Empty when the poster gave none.
  const Dictionary& userInfo() const { return userInfo_; }

  std::string description() const override;

 private:
  std::string name_;
  Ref<Object> object_;
  Dictionary userInfo_;
};

}  // namespace ns
