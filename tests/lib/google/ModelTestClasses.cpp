#include "tests/lib/google/ModelTestClasses.h"

#include "lib/google/ApiJSONParser.h"
#include "tests/lib/google/GoogleTestSupport.h"

PL_CLASS(TestThumbnail, ApiObject) {
  TEST_THUMBNAIL_PROPERTIES(API_DECLARE_PROPERTY)
  ApiModelSchema(cls).kind("pelorintest#thumbnail");
}

PL_CLASS(TestStatistics, ApiObject){TEST_STATISTICS_PROPERTIES(API_DECLARE_PROPERTY)}

PL_CLASS(TestSnippet, ApiObject) {
  TEST_SNIPPET_PROPERTIES(API_DECLARE_PROPERTY)
  ApiModelSchema(cls)
      .propertyToJSONKeyMap({{"descriptionProperty", "description"}})
      .arrayPropertyToClassMap({{"thumbnails", "TestThumbnail"}});
}

PL_CLASS(TestVideo, ApiObject) {
  TEST_VIDEO_PROPERTIES(API_DECLARE_PROPERTY)
  // Row 11 by its attribute string: a mutable array is not the array row.
  cls.declaredProperty("mutableList", "T@\"NSMutableArray\",&,D,N");
  // A custom getter name.
  cls.declaredProperty("hidden", "Tc,N,GisHidden,D");
  // Not dynamic: never resolved.
  cls.declaredProperty("plain", "T@\"NSString\",C,N,V_plain");
  ApiModelSchema(cls).kind("pelorintest#video").propertyToJSONKeyMap({{"identifier", "id"}});
}

PL_CLASS(TestSpecialVideo, TestVideo) {}

PL_CLASS(TestChannel, ApiObject) {
  TEST_CHANNEL_PROPERTIES(API_DECLARE_PROPERTY)
  ApiModelSchema(cls)
      .kind("pelorintest#channel")
      .propertyToJSONKeyMap({{"identifier", "id"}})
      .classForAdditionalProperties("TestThumbnail");
}

PL_CLASS(TestVideoList, ApiCollectionObject) {
  TEST_VIDEO_LIST_PROPERTIES(API_DECLARE_PROPERTY)
  ApiModelSchema(cls).kind("pelorintest#videoListResponse").arrayPropertyToClassMap({{"items", "TestVideo"}});
}

namespace googletest {

ns::Value withTestKinds(const ns::Value& tree) {
  ns::Value copy = ApiJSONDeepCopy(tree);
  std::vector<ns::Value> pending{copy};
  while (!pending.empty()) {
    ns::Value v = pending.back();
    pending.pop_back();
    if (auto d = ApiJSONDictionaryOf(v)) {
      ns::Value kind = d->objectForKey("kind");
      if (kind.isString() && kind.string().rfind("youtube#", 0) == 0) {
        d->setObject_forKey(ns::Value("pelorintest#" + kind.string().substr(8)), "kind");
      }
      for (const auto& [key, child] : d->entries()) pending.push_back(child);
    } else if (auto a = ApiJSONArrayOf(v)) {
      for (const auto& child : a->items()) pending.push_back(child);
    }
  }
  return copy;
}

ns::Value fixtureTree(const std::string& name) {
  return withTestKinds(tree(fixtureText(name)));
}

}  // namespace googletest
