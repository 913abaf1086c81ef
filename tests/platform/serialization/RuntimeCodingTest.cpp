// Objects that archive themselves through the object runtime (encodeWithCoder: and
// initWithCoder: methods) rather than the Coding interface.
#include <gtest/gtest.h>

#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Send.h"
#include "platform/serialization/Coder.h"
#include "platform/serialization/KeyedArchiver.h"
#include "platform/serialization/KeyedUnarchiver.h"

namespace {

struct Bookmark : ns::Object {
  std::string title;
  double position = 0;
  ns::Ref<Bookmark> next;
};

void bookmarkEncode(Bookmark* self, ns::Sel, ns::Ref<ns::Object> coder) {
  ns::send<void>(coder, "encodeObject:forKey:", ns::Value(self->title), std::string("title"));
  ns::send<void>(coder, "encodeDouble:forKey:", self->position, std::string("position"));
  ns::send<void>(coder, "encodeObject:forKey:", ns::Value(self->next), std::string("next"));
}

ns::Ref<ns::Object> bookmarkInit(Bookmark* self, ns::Sel, ns::Ref<ns::Object> coder) {
  // As a generic decoder would: with the class when the coder offers secure decoding.
  ns::Value title =
      ns::respondsToSelector(coder, "decodeObjectOfClass:forKey:")
          ? ns::send<ns::Value>(coder, "decodeObjectOfClass:forKey:", ns::NSClassFromString("NSObject"),
                                std::string("title"))
          : ns::send<ns::Value>(coder, "decodeObjectForKey:", std::string("title"));
  self->title = title.string();
  self->position = ns::send<double>(coder, "decodeDoubleForKey:", std::string("position"));
  self->next = ns::send<ns::Value>(coder, "decodeObjectForKey:", std::string("next")).objectAs<Bookmark>();
  return self->self<ns::Object>();
}

ns::BOOL bookmarkSecure(ns::Class, ns::Sel) {
  return ns::YES;
}

}  // namespace

PL_CLASS(Bookmark, ns::Object) {
  cls.method<&bookmarkEncode>("encodeWithCoder:");
  cls.method<&bookmarkInit>("initWithCoder:");
  cls.classMethod<&bookmarkSecure>("supportsSecureCoding");
}

namespace {

TEST(RuntimeCodingTest, RuntimeClassesArchiveThroughTheirMethods) {
  auto first = ns::make<Bookmark>();
  first->title = "intro";
  first->position = 12.5;
  first->next = ns::make<Bookmark>();
  first->next->title = "outro";
  ns::Data data = ns::KeyedArchiver::archivedDataWithRootObject(ns::Value(first));

  ns::Error error(ns::NSCocoaErrorDomain, 0);
  ns::Value back =
      ns::KeyedUnarchiver::unarchivedObjectOfClasses_fromData_error({"Bookmark", "NSString"}, data, &error);
  auto decoded = back.objectAs<Bookmark>();
  ASSERT_TRUE(decoded) << error.description();
  EXPECT_EQ(decoded->title, "intro");
  EXPECT_EQ(decoded->position, 12.5);
  ASSERT_TRUE(decoded->next);
  EXPECT_EQ(decoded->next->title, "outro");

  // The coders answer the runtime's questions.
  auto archiver = ns::make<ns::KeyedArchiver>(true);
  EXPECT_TRUE(ns::respondsToSelector(archiver, "encodeObject:forKey:"));
  EXPECT_TRUE(ns::send<ns::BOOL>(archiver, "requiresSecureCoding"));
  EXPECT_EQ(ns::NSStringFromClass(ns::object_getClass(archiver)), "NSKeyedArchiver");
}

}  // namespace
