#include "lib/google/ApiQueryYouTube.h"

#include <type_traits>

#include "platform/core/NoDestructor.h"
#include "platform/runtime/ClassBuilder.h"

namespace {

ns::Value parameterNameMapImpl(ns::Class, ns::Sel) {
  static const ns::NoDestructor<ns::Dictionary> map(
      ns::Dictionary{{ns::Value("identifier"), ns::Value("id")}});
  return ns::Value(*map);
}

template <class T>
ns::Class expectedClass() {
  if constexpr (std::is_void_v<T>) {
    return nullptr;
  } else {
    // Nothing before the runtime has started.
    const std::string* name = ns::detail::registeredClassName(typeid(T));
    return name ? ApiYouTubeModelClassNamed(*name) : nullptr;
  }
}

}  // namespace

PL_CLASS(ApiQueryYouTube, ApiQuery) {
  API_QUERY_YOUTUBE_PARAMETERS(API_DECLARE_PROPERTY)
  cls.classMethod<&parameterNameMapImpl>("parameterNameMap");
}

// What each parameter list does: a missing object stops the constructor before it makes a query;
// the values are set in the order of the list.
// clang-format off
#define API_QUERY_GUARD_PART
#define API_QUERY_GUARD_BODY_PART if (!object) return nullptr;
#define API_QUERY_GUARD_BODY_UPLOAD if (!object) return nullptr;
#define API_QUERY_GUARD_BODY_PART_UPLOAD if (!object) return nullptr;
#define API_QUERY_GUARD_BODY_CHANNELID_UPLOAD if (!object) return nullptr;
#define API_QUERY_GUARD_IDENTIFIER
#define API_QUERY_GUARD_IDENTIFIER_PART
#define API_QUERY_GUARD_IDENTIFIER_RATING
#define API_QUERY_GUARD_BROADCASTSTATUS_IDENTIFIER_PART
#define API_QUERY_GUARD_VIDEOID_UPLOAD
#define API_QUERY_GUARD_CHANNELID

#define API_QUERY_SET_PART query->setPart(part);
#define API_QUERY_SET_BODY_PART query->setBodyObject(object); query->setPart(part);
#define API_QUERY_SET_BODY_UPLOAD query->setBodyObject(object); query->setUploadParameters(uploadParameters);
#define API_QUERY_SET_BODY_PART_UPLOAD \
  query->setBodyObject(object); query->setPart(part); query->setUploadParameters(uploadParameters);
#define API_QUERY_SET_BODY_CHANNELID_UPLOAD \
  query->setBodyObject(object); query->setChannelId(channelId); query->setUploadParameters(uploadParameters);
#define API_QUERY_SET_IDENTIFIER query->setIdentifier(identifier);
#define API_QUERY_SET_IDENTIFIER_PART query->setIdentifier(identifier); query->setPart(part);
#define API_QUERY_SET_IDENTIFIER_RATING query->setIdentifier(identifier); query->setRating(rating);
#define API_QUERY_SET_BROADCASTSTATUS_IDENTIFIER_PART \
  query->setBroadcastStatus(broadcastStatus); query->setIdentifier(identifier); query->setPart(part);
#define API_QUERY_SET_VIDEOID_UPLOAD query->setVideoId(videoId); query->setUploadParameters(uploadParameters);
#define API_QUERY_SET_CHANNELID query->setChannelId(channelId);
// clang-format on

// clang-format off
#define API_QUERY_CONSTRUCTOR_(name, method, shape, Body, Expected)                   \
  ns::Ref<ApiQueryYouTube> ApiQueryYouTube::name(API_QUERY_SIGNATURE_##shape(Body)) { \
    API_QUERY_GUARD_##shape                                                           \
    auto query = queryWithMethodName(method);                                         \
    API_QUERY_SET_##shape                                                             \
    query->setExpectedObjectClass(expectedClass<Expected>());                         \
    return query;                                                                     \
  }
// clang-format on
API_QUERY_YOUTUBE_CONSTRUCTORS(API_QUERY_CONSTRUCTOR_)
#undef API_QUERY_CONSTRUCTOR_
