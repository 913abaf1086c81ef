#pragma once
// The query class of the YouTube Data API v3: its 54 parameters, declared as dynamic properties
// over the query's parameter dictionary (the property identifier is sent as "id", every other one
// under its own name; setting an object parameter to nothing removes it), and its 45 constructors,
// one per API method, generated from the table below.
//
//   auto query = ApiQueryYouTube::queryForVideosListWithPart("snippet");
//   query->setIdentifier("abc");
//   query->setMaxResults(50);
//
// A constructor that takes an object answers nullptr, and makes nothing, when given none.
#include <string>
#include <string_view>

#include "lib/google/ApiQuery.h"
#include "lib/google/ApiYouTubeModels.h"

// The parameters: P(property, setter, kind). Strings, booleans sent as JSON true and false,
// unsigned 64-bit numbers sent as JSON numbers, and date-times sent as RFC 3339 text.
//
// The constructors: Q(constructor, method name, parameters in order, body class, expected class);
// "void" is none. The parameter lists:
//   PART                             (part)
//   BODY_PART                        (object, part)
//   BODY_UPLOAD                      (object, uploadParameters)
//   BODY_PART_UPLOAD                 (object, part, uploadParameters)
//   BODY_CHANNELID_UPLOAD            (object, channelId, uploadParameters)
//   IDENTIFIER                       (identifier)
//   IDENTIFIER_PART                  (identifier, part)
//   IDENTIFIER_RATING                (identifier, rating)
//   BROADCASTSTATUS_IDENTIFIER_PART  (broadcastStatus, identifier, part)
//   VIDEOID_UPLOAD                   (videoId, uploadParameters)
//   CHANNELID                        (channelId)
// The object is sent as the body; the upload parameters are the media sent with the call.
// clang-format off
#define API_QUERY_YOUTUBE_PARAMETERS(P) \
  P(fields, setFields, ApiStringProperty) \
  P(broadcastStatus, setBroadcastStatus, ApiStringProperty) \
  P(categoryId, setCategoryId, ApiStringProperty) \
  P(channelId, setChannelId, ApiStringProperty) \
  P(channelType, setChannelType, ApiStringProperty) \
  P(chart, setChart, ApiStringProperty) \
  P(eventType, setEventType, ApiStringProperty) \
  P(forChannelId, setForChannelId, ApiStringProperty) \
  P(forUsername, setForUsername, ApiStringProperty) \
  P(hl, setHl, ApiStringProperty) \
  P(identifier, setIdentifier, ApiStringProperty) \
  P(locale, setLocale, ApiStringProperty) \
  P(location, setLocation, ApiStringProperty) \
  P(locationRadius, setLocationRadius, ApiStringProperty) \
  P(myRating, setMyRating, ApiStringProperty) \
  P(onBehalfOfContentOwner, setOnBehalfOfContentOwner, ApiStringProperty) \
  P(onBehalfOfContentOwnerChannel, setOnBehalfOfContentOwnerChannel, ApiStringProperty) \
  P(order, setOrder, ApiStringProperty) \
  P(pageToken, setPageToken, ApiStringProperty) \
  P(part, setPart, ApiStringProperty) \
  P(playlistId, setPlaylistId, ApiStringProperty) \
  P(q, setQ, ApiStringProperty) \
  P(rating, setRating, ApiStringProperty) \
  P(regionCode, setRegionCode, ApiStringProperty) \
  P(relatedToVideoId, setRelatedToVideoId, ApiStringProperty) \
  P(safeSearch, setSafeSearch, ApiStringProperty) \
  P(streamId, setStreamId, ApiStringProperty) \
  P(topicId, setTopicId, ApiStringProperty) \
  P(type, setType, ApiStringProperty) \
  P(videoCaption, setVideoCaption, ApiStringProperty) \
  P(videoCategoryId, setVideoCategoryId, ApiStringProperty) \
  P(videoDefinition, setVideoDefinition, ApiStringProperty) \
  P(videoDimension, setVideoDimension, ApiStringProperty) \
  P(videoDuration, setVideoDuration, ApiStringProperty) \
  P(videoEmbeddable, setVideoEmbeddable, ApiStringProperty) \
  P(videoId, setVideoId, ApiStringProperty) \
  P(videoLicense, setVideoLicense, ApiStringProperty) \
  P(videoSyndicated, setVideoSyndicated, ApiStringProperty) \
  P(videoType, setVideoType, ApiStringProperty) \
  P(autoLevels, setAutoLevels, ApiBoolProperty) \
  P(displaySlate, setDisplaySlate, ApiBoolProperty) \
  P(forContentOwner, setForContentOwner, ApiBoolProperty) \
  P(forMine, setForMine, ApiBoolProperty) \
  P(home, setHome, ApiBoolProperty) \
  P(managedByMe, setManagedByMe, ApiBoolProperty) \
  P(mine, setMine, ApiBoolProperty) \
  P(mySubscribers, setMySubscribers, ApiBoolProperty) \
  P(notifySubscribers, setNotifySubscribers, ApiBoolProperty) \
  P(stabilize, setStabilize, ApiBoolProperty) \
  P(maxResults, setMaxResults, ApiUInt64Property) \
  P(offsetTimeMs, setOffsetTimeMs, ApiUInt64Property) \
  P(publishedAfter, setPublishedAfter, ApiDateTimeProperty) \
  P(publishedBefore, setPublishedBefore, ApiDateTimeProperty) \
  P(walltime, setWalltime, ApiDateTimeProperty)

#define API_QUERY_YOUTUBE_CONSTRUCTORS(Q) \
  Q(queryForActivitiesInsertWithObject_part, "youtube.activities.insert", BODY_PART, ApiYouTubeActivity, ApiYouTubeActivity) \
  Q(queryForActivitiesListWithPart, "youtube.activities.list", PART, void, ApiYouTubeActivityListResponse) \
  Q(queryForChannelBannersInsertWithObject_uploadParameters, "youtube.channelBanners.insert", BODY_UPLOAD, ApiYouTubeChannelBannerResource, ApiYouTubeChannelBannerResource) \
  Q(queryForChannelSectionsDeleteWithIdentifier, "youtube.channelSections.delete", IDENTIFIER, void, void) \
  Q(queryForChannelSectionsInsertWithObject_part, "youtube.channelSections.insert", BODY_PART, ApiYouTubeChannelSection, ApiYouTubeChannelSection) \
  Q(queryForChannelSectionsListWithPart, "youtube.channelSections.list", PART, void, ApiYouTubeChannelSectionListResponse) \
  Q(queryForChannelSectionsUpdateWithObject_part, "youtube.channelSections.update", BODY_PART, ApiYouTubeChannelSection, ApiYouTubeChannelSection) \
  Q(queryForChannelsListWithPart, "youtube.channels.list", PART, void, ApiYouTubeChannelListResponse) \
  Q(queryForChannelsUpdateWithObject_part, "youtube.channels.update", BODY_PART, ApiYouTubeChannel, ApiYouTubeChannel) \
  Q(queryForGuideCategoriesListWithPart, "youtube.guideCategories.list", PART, void, ApiYouTubeGuideCategoryListResponse) \
  Q(queryForI18nLanguagesListWithPart, "youtube.i18nLanguages.list", PART, void, ApiYouTubeI18nLanguageListResponse) \
  Q(queryForI18nRegionsListWithPart, "youtube.i18nRegions.list", PART, void, ApiYouTubeI18nRegionListResponse) \
  Q(queryForLiveBroadcastsBindWithIdentifier_part, "youtube.liveBroadcasts.bind", IDENTIFIER_PART, void, ApiYouTubeLiveBroadcast) \
  Q(queryForLiveBroadcastsControlWithIdentifier_part, "youtube.liveBroadcasts.control", IDENTIFIER_PART, void, ApiYouTubeLiveBroadcast) \
  Q(queryForLiveBroadcastsDeleteWithIdentifier, "youtube.liveBroadcasts.delete", IDENTIFIER, void, void) \
  Q(queryForLiveBroadcastsInsertWithObject_part, "youtube.liveBroadcasts.insert", BODY_PART, ApiYouTubeLiveBroadcast, ApiYouTubeLiveBroadcast) \
  Q(queryForLiveBroadcastsListWithPart, "youtube.liveBroadcasts.list", PART, void, ApiYouTubeLiveBroadcastListResponse) \
  Q(queryForLiveBroadcastsTransitionWithBroadcastStatus_identifier_part, "youtube.liveBroadcasts.transition", BROADCASTSTATUS_IDENTIFIER_PART, void, ApiYouTubeLiveBroadcast) \
  Q(queryForLiveBroadcastsUpdateWithObject_part, "youtube.liveBroadcasts.update", BODY_PART, ApiYouTubeLiveBroadcast, ApiYouTubeLiveBroadcast) \
  Q(queryForLiveStreamsDeleteWithIdentifier, "youtube.liveStreams.delete", IDENTIFIER, void, void) \
  Q(queryForLiveStreamsInsertWithObject_part, "youtube.liveStreams.insert", BODY_PART, ApiYouTubeLiveStream, ApiYouTubeLiveStream) \
  Q(queryForLiveStreamsListWithPart, "youtube.liveStreams.list", PART, void, ApiYouTubeLiveStreamListResponse) \
  Q(queryForLiveStreamsUpdateWithObject_part, "youtube.liveStreams.update", BODY_PART, ApiYouTubeLiveStream, ApiYouTubeLiveStream) \
  Q(queryForPlaylistItemsDeleteWithIdentifier, "youtube.playlistItems.delete", IDENTIFIER, void, void) \
  Q(queryForPlaylistItemsInsertWithObject_part, "youtube.playlistItems.insert", BODY_PART, ApiYouTubePlaylistItem, ApiYouTubePlaylistItem) \
  Q(queryForPlaylistItemsListWithPart, "youtube.playlistItems.list", PART, void, ApiYouTubePlaylistItemListResponse) \
  Q(queryForPlaylistItemsUpdateWithObject_part, "youtube.playlistItems.update", BODY_PART, ApiYouTubePlaylistItem, ApiYouTubePlaylistItem) \
  Q(queryForPlaylistsDeleteWithIdentifier, "youtube.playlists.delete", IDENTIFIER, void, void) \
  Q(queryForPlaylistsInsertWithObject_part, "youtube.playlists.insert", BODY_PART, ApiYouTubePlaylist, ApiYouTubePlaylist) \
  Q(queryForPlaylistsListWithPart, "youtube.playlists.list", PART, void, ApiYouTubePlaylistListResponse) \
  Q(queryForPlaylistsUpdateWithObject_part, "youtube.playlists.update", BODY_PART, ApiYouTubePlaylist, ApiYouTubePlaylist) \
  Q(queryForSearchListWithPart, "youtube.search.list", PART, void, ApiYouTubeSearchListResponse) \
  Q(queryForSubscriptionsDeleteWithIdentifier, "youtube.subscriptions.delete", IDENTIFIER, void, void) \
  Q(queryForSubscriptionsInsertWithObject_part, "youtube.subscriptions.insert", BODY_PART, ApiYouTubeSubscription, ApiYouTubeSubscription) \
  Q(queryForSubscriptionsListWithPart, "youtube.subscriptions.list", PART, void, ApiYouTubeSubscriptionListResponse) \
  Q(queryForThumbnailsSetWithVideoId_uploadParameters, "youtube.thumbnails.set", VIDEOID_UPLOAD, void, ApiYouTubeThumbnailSetResponse) \
  Q(queryForVideoCategoriesListWithPart, "youtube.videoCategories.list", PART, void, ApiYouTubeVideoCategoryListResponse) \
  Q(queryForVideosDeleteWithIdentifier, "youtube.videos.delete", IDENTIFIER, void, void) \
  Q(queryForVideosGetRatingWithIdentifier, "youtube.videos.getRating", IDENTIFIER, void, ApiYouTubeVideoGetRatingResponse) \
  Q(queryForVideosInsertWithObject_part_uploadParameters, "youtube.videos.insert", BODY_PART_UPLOAD, ApiYouTubeVideo, ApiYouTubeVideo) \
  Q(queryForVideosListWithPart, "youtube.videos.list", PART, void, ApiYouTubeVideoListResponse) \
  Q(queryForVideosRateWithIdentifier_rating, "youtube.videos.rate", IDENTIFIER_RATING, void, void) \
  Q(queryForVideosUpdateWithObject_part, "youtube.videos.update", BODY_PART, ApiYouTubeVideo, ApiYouTubeVideo) \
  Q(queryForWatermarksSetWithObject_channelId_uploadParameters, "youtube.watermarks.set", BODY_CHANNELID_UPLOAD, ApiYouTubeInvideoBranding, void) \
  Q(queryForWatermarksUnsetWithChannelId, "youtube.watermarks.unset", CHANNELID, void, void)
// clang-format on

// clang-format off
#define API_QUERY_SIGNATURE_PART(Body) const std::string& part
#define API_QUERY_SIGNATURE_BODY_PART(Body) const ns::Ref<Body>& object, const std::string& part
#define API_QUERY_SIGNATURE_BODY_UPLOAD(Body) \
  const ns::Ref<Body>& object, const ns::Ref<ApiUploadParameters>& uploadParameters
#define API_QUERY_SIGNATURE_BODY_PART_UPLOAD(Body) \
  const ns::Ref<Body>& object, const std::string& part, const ns::Ref<ApiUploadParameters>& uploadParameters
#define API_QUERY_SIGNATURE_BODY_CHANNELID_UPLOAD(Body) \
  const ns::Ref<Body>& object, const std::string& channelId, const ns::Ref<ApiUploadParameters>& uploadParameters
#define API_QUERY_SIGNATURE_IDENTIFIER(Body) const std::string& identifier
#define API_QUERY_SIGNATURE_IDENTIFIER_PART(Body) const std::string& identifier, const std::string& part
#define API_QUERY_SIGNATURE_IDENTIFIER_RATING(Body) const std::string& identifier, const std::string& rating
#define API_QUERY_SIGNATURE_BROADCASTSTATUS_IDENTIFIER_PART(Body) \
  const std::string& broadcastStatus, const std::string& identifier, const std::string& part
#define API_QUERY_SIGNATURE_VIDEOID_UPLOAD(Body) \
  const std::string& videoId, const ns::Ref<ApiUploadParameters>& uploadParameters
#define API_QUERY_SIGNATURE_CHANNELID(Body) const std::string& channelId
// clang-format on

class ApiQueryYouTube : public ApiQuery {
 public:
  API_QUERY_YOUTUBE_PARAMETERS(API_PROPERTY_ACCESSORS)

  // A new YouTube query; nullptr for an empty method name.
  static ns::Ref<ApiQueryYouTube> queryWithMethodName(std::string_view methodName) {
    return ApiQuery::queryWithMethodName<ApiQueryYouTube>(methodName);
  }

#define API_QUERY_CONSTRUCTOR_(name, method, shape, Body, Expected) \
  static ns::Ref<ApiQueryYouTube> name(API_QUERY_SIGNATURE_##shape(Body));
  API_QUERY_YOUTUBE_CONSTRUCTORS(API_QUERY_CONSTRUCTOR_)
#undef API_QUERY_CONSTRUCTOR_
};
