#pragma once
// The YouTube model classes: one class per resource, part of a resource and list reply, named
// ApiYouTube followed by the resource and part names. They are generated from the schema table
// (ApiYouTubeSchema.h) and carry no code of their own: each declared field is a dynamic property
// over the object's JSON (ApiRuntimeCommon.h), read and written through the typed accessors
// declared here or through the runtime (ns::send, key-value coding). A class whose resource has a
// "kind" is entered in the kind registry when the runtime starts, so that the objects of a reply
// come out as the right classes.
//
//   auto reply = ApiObject::objectForJSON_defaultClass_surrogates_batchClassMap(json, ...);
//   auto list = std::dynamic_pointer_cast<ApiYouTubeSearchListResponse>(reply);
//   for (const ns::Value& item : list->items())
//     if (auto result = item.objectAs<ApiYouTubeSearchResult>()) use(result->identifier()->videoId());
//
// A getter answers nothing (nullopt, nullptr, an empty array) when the JSON holds a value of
// another type than the one declared; the raw value stays readable with JSONValueForKey().
#include "lib/google/ApiObject.h"
#include "lib/google/ApiRuntimeCommon.h"
#include "lib/google/ApiYouTubeSchema.h"

#define API_YOUTUBE_FORWARD_(Name, Super, Kind) class Name;
API_YOUTUBE_CLASSES(API_YOUTUBE_FORWARD_)
#undef API_YOUTUBE_FORWARD_

#define API_YOUTUBE_ACCESSORS_(C, name, setter, Kind) \
  Kind::Get name() const;                             \
  void setter(const Kind::Set& value);
#define API_YOUTUBE_CLASS_(Name, Super, Kind)       \
  class Name : public Super {                       \
   public:                                          \
    Name##_PROPERTIES(API_YOUTUBE_ACCESSORS_, Name) \
  };
API_YOUTUBE_CLASSES(API_YOUTUBE_CLASS_)
#undef API_YOUTUBE_CLASS_
#undef API_YOUTUBE_ACCESSORS_

// The runtime class of a model class by name (nullptr when there is none). Calling it also keeps
// the generated classes, and with them their kinds, linked into every program that names a query
// or a model class.
ns::Class ApiYouTubeModelClassNamed(const std::string& name);
