#pragma once
// Model classes declared by the tests, one property of each row of the type table among them,
// under kinds of their own ("pelorintest#video"), so that they never meet the real classes.
#include "lib/google/ApiObject.h"

class TestThumbnail : public ApiObject {
 public:
#define TEST_THUMBNAIL_PROPERTIES(P)   \
  P(url, setUrl, ApiStringProperty)    \
  P(width, setWidth, ApiInt64Property) \
  P(height, setHeight, ApiUInt64Property)
  TEST_THUMBNAIL_PROPERTIES(API_PROPERTY_ACCESSORS)
};

class TestStatistics : public ApiObject {
 public:
#define TEST_STATISTICS_PROPERTIES(P)                \
  P(viewCount, setViewCount, ApiUInt64Property)      \
  P(likeCount, setLikeCount, ApiNumberProperty)      \
  P(dislikeCount, setDislikeCount, ApiInt64Property) \
  P(ratio, setRatio, ApiFloatProperty)               \
  P(rating, setRating, ApiDoubleProperty)
  TEST_STATISTICS_PROPERTIES(API_PROPERTY_ACCESSORS)
};

class TestSnippet : public ApiObject {
 public:
#define TEST_SNIPPET_PROPERTIES(P)                                  \
  P(title, setTitle, ApiStringProperty)                             \
  P(descriptionProperty, setDescriptionProperty, ApiStringProperty) \
  P(publishedAt, setPublishedAt, ApiDateTimeProperty)               \
  P(thumbnails, setThumbnails, ApiArrayProperty)                    \
  P(tags, setTags, ApiArrayProperty)
  TEST_SNIPPET_PROPERTIES(API_PROPERTY_ACCESSORS)
};

class TestVideo : public ApiObject {
 public:
#define TEST_VIDEO_PROPERTIES(P)                                 \
  P(identifier, setIdentifier, ApiStringProperty)                \
  P(position, setPosition, ApiInt64Property)                     \
  P(embeddable, setEmbeddable, ApiBoolProperty)                  \
  P(snippet, setSnippet, ApiModelProperty<TestSnippet>)          \
  P(statistics, setStatistics, ApiModelProperty<TestStatistics>) \
  P(extra, setExtra, ApiAnyProperty)
  TEST_VIDEO_PROPERTIES(API_PROPERTY_ACCESSORS)
};

// A subclass, used as a surrogate and for equality across a class and its subclass.
class TestSpecialVideo : public TestVideo {};

class TestChannel : public ApiObject {
 public:
#define TEST_CHANNEL_PROPERTIES(P)                \
  P(identifier, setIdentifier, ApiStringProperty) \
  P(title, setTitle, ApiStringProperty)           \
  P(statistics, setStatistics, ApiModelProperty<TestStatistics>)
  TEST_CHANNEL_PROPERTIES(API_PROPERTY_ACCESSORS)
};

class TestVideoList : public ApiCollectionObject {
 public:
#define TEST_VIDEO_LIST_PROPERTIES(P)  \
  P(items, setItems, ApiArrayProperty) \
  P(nextPageToken, setNextPageToken, ApiStringProperty)
  TEST_VIDEO_LIST_PROPERTIES(API_PROPERTY_ACCESSORS)
};

namespace googletest {
// A copy of a real reply's tree whose "youtube#..." kinds read "pelorintest#...".
ns::Value withTestKinds(const ns::Value& tree);
// The real reply parsed, with the test kinds.
ns::Value fixtureTree(const std::string& name);
}  // namespace googletest
