#pragma once
// The schema of the YouTube model classes, the one table they are generated from
// (ApiYouTubeModels.h declares them, ApiYouTubeModels.cpp defines and registers them).
//
//   API_YOUTUBE_CLASSES(C): C(class, superclass, "kind" or "") for every class;
//   <class>_PROPERTIES(P, C): P(C, property, setter, kind of property) for each declared field,
//     in name order; a field's JSON key is its name, except for four keys whose names would
//     clash with C++ or with the model object's own members: "id" is identifier, "etag" is ETag,
//     "description" is descriptionProperty and "default" is defaultProperty;
//   API_YOUTUBE_ARRAY_CLASSES(A): A(class, "JSON key", "element class") for the arrays whose
//     elements are objects or strings.
//
// Numbers, booleans and the 64-bit counts that the service sends as text are number fields;
// RFC 3339 times are date-time fields. A field that is not declared still round-trips through
// the JSON and is read with JSONValueForKey() or additionalPropertyForName().

// clang-format off

#define API_YOUTUBE_CLASSES(C) \
  C(ApiYouTubeAccessPolicy, ApiObject, "") \
  C(ApiYouTubeActivity, ApiObject, "youtube#activity") \
  C(ApiYouTubeActivityContentDetails, ApiObject, "") \
  C(ApiYouTubeActivityContentDetailsBulletin, ApiObject, "") \
  C(ApiYouTubeActivityContentDetailsChannelItem, ApiObject, "") \
  C(ApiYouTubeActivityContentDetailsComment, ApiObject, "") \
  C(ApiYouTubeActivityContentDetailsFavorite, ApiObject, "") \
  C(ApiYouTubeActivityContentDetailsLike, ApiObject, "") \
  C(ApiYouTubeActivityContentDetailsPlaylistItem, ApiObject, "") \
  C(ApiYouTubeActivityContentDetailsPromotedItem, ApiObject, "") \
  C(ApiYouTubeActivityContentDetailsRecommendation, ApiObject, "") \
  C(ApiYouTubeActivityContentDetailsSocial, ApiObject, "") \
  C(ApiYouTubeActivityContentDetailsSubscription, ApiObject, "") \
  C(ApiYouTubeActivityContentDetailsUpload, ApiObject, "") \
  C(ApiYouTubeActivityListResponse, ApiCollectionObject, "youtube#activityListResponse") \
  C(ApiYouTubeActivitySnippet, ApiObject, "") \
  C(ApiYouTubeCdnSettings, ApiObject, "") \
  C(ApiYouTubeChannel, ApiObject, "youtube#channel") \
  C(ApiYouTubeChannelAuditDetails, ApiObject, "") \
  C(ApiYouTubeChannelBannerResource, ApiObject, "youtube#channelBannerResource") \
  C(ApiYouTubeChannelBrandingSettings, ApiObject, "") \
  C(ApiYouTubeChannelContentDetails, ApiObject, "") \
  C(ApiYouTubeChannelContentDetailsRelatedPlaylists, ApiObject, "") \
  C(ApiYouTubeChannelContentOwnerDetails, ApiObject, "") \
  C(ApiYouTubeChannelConversionPing, ApiObject, "") \
  C(ApiYouTubeChannelConversionPings, ApiObject, "") \
  C(ApiYouTubeChannelListResponse, ApiCollectionObject, "youtube#channelListResponse") \
  C(ApiYouTubeChannelSection, ApiObject, "youtube#channelSection") \
  C(ApiYouTubeChannelSectionContentDetails, ApiObject, "") \
  C(ApiYouTubeChannelSectionListResponse, ApiCollectionObject, "youtube#channelSectionListResponse") \
  C(ApiYouTubeChannelSectionSnippet, ApiObject, "") \
  C(ApiYouTubeChannelSettings, ApiObject, "") \
  C(ApiYouTubeChannelSnippet, ApiObject, "") \
  C(ApiYouTubeChannelStatistics, ApiObject, "") \
  C(ApiYouTubeChannelStatus, ApiObject, "") \
  C(ApiYouTubeChannelTopicDetails, ApiObject, "") \
  C(ApiYouTubeContentRating, ApiObject, "") \
  C(ApiYouTubeGeoPoint, ApiObject, "") \
  C(ApiYouTubeGuideCategory, ApiObject, "youtube#guideCategory") \
  C(ApiYouTubeGuideCategoryListResponse, ApiCollectionObject, "youtube#guideCategoryListResponse") \
  C(ApiYouTubeGuideCategorySnippet, ApiObject, "") \
  C(ApiYouTubeI18nLanguage, ApiObject, "youtube#i18nLanguage") \
  C(ApiYouTubeI18nLanguageListResponse, ApiCollectionObject, "youtube#i18nLanguageListResponse") \
  C(ApiYouTubeI18nLanguageSnippet, ApiObject, "") \
  C(ApiYouTubeI18nRegion, ApiObject, "youtube#i18nRegion") \
  C(ApiYouTubeI18nRegionListResponse, ApiCollectionObject, "youtube#i18nRegionListResponse") \
  C(ApiYouTubeI18nRegionSnippet, ApiObject, "") \
  C(ApiYouTubeImageSettings, ApiObject, "") \
  C(ApiYouTubeIngestionInfo, ApiObject, "") \
  C(ApiYouTubeInvideoBranding, ApiObject, "") \
  C(ApiYouTubeInvideoPosition, ApiObject, "") \
  C(ApiYouTubeInvideoPromotion, ApiCollectionObject, "") \
  C(ApiYouTubeInvideoTiming, ApiObject, "") \
  C(ApiYouTubeLiveBroadcast, ApiObject, "youtube#liveBroadcast") \
  C(ApiYouTubeLiveBroadcastContentDetails, ApiObject, "") \
  C(ApiYouTubeLiveBroadcastListResponse, ApiCollectionObject, "youtube#liveBroadcastListResponse") \
  C(ApiYouTubeLiveBroadcastSnippet, ApiObject, "") \
  C(ApiYouTubeLiveBroadcastStatus, ApiObject, "") \
  C(ApiYouTubeLiveStream, ApiObject, "youtube#liveStream") \
  C(ApiYouTubeLiveStreamContentDetails, ApiObject, "") \
  C(ApiYouTubeLiveStreamListResponse, ApiCollectionObject, "youtube#liveStreamListResponse") \
  C(ApiYouTubeLiveStreamSnippet, ApiObject, "") \
  C(ApiYouTubeLiveStreamStatus, ApiObject, "") \
  C(ApiYouTubeLocalizedProperty, ApiObject, "") \
  C(ApiYouTubeLocalizedString, ApiObject, "") \
  C(ApiYouTubeMonitorStreamInfo, ApiObject, "") \
  C(ApiYouTubePageInfo, ApiObject, "") \
  C(ApiYouTubePlaylist, ApiObject, "youtube#playlist") \
  C(ApiYouTubePlaylistContentDetails, ApiObject, "") \
  C(ApiYouTubePlaylistItem, ApiObject, "youtube#playlistItem") \
  C(ApiYouTubePlaylistItemContentDetails, ApiObject, "") \
  C(ApiYouTubePlaylistItemListResponse, ApiCollectionObject, "youtube#playlistItemListResponse") \
  C(ApiYouTubePlaylistItemSnippet, ApiObject, "") \
  C(ApiYouTubePlaylistItemStatus, ApiObject, "") \
  C(ApiYouTubePlaylistListResponse, ApiCollectionObject, "youtube#playlistListResponse") \
  C(ApiYouTubePlaylistPlayer, ApiObject, "") \
  C(ApiYouTubePlaylistSnippet, ApiObject, "") \
  C(ApiYouTubePlaylistStatus, ApiObject, "") \
  C(ApiYouTubePromotedItem, ApiObject, "") \
  C(ApiYouTubePromotedItemId, ApiObject, "") \
  C(ApiYouTubePropertyValue, ApiObject, "") \
  C(ApiYouTubeResourceId, ApiObject, "") \
  C(ApiYouTubeSearchListResponse, ApiCollectionObject, "youtube#searchListResponse") \
  C(ApiYouTubeSearchResult, ApiObject, "youtube#searchResult") \
  C(ApiYouTubeSearchResultSnippet, ApiObject, "") \
  C(ApiYouTubeSubscription, ApiObject, "youtube#subscription") \
  C(ApiYouTubeSubscriptionContentDetails, ApiObject, "") \
  C(ApiYouTubeSubscriptionListResponse, ApiCollectionObject, "youtube#subscriptionListResponse") \
  C(ApiYouTubeSubscriptionSnippet, ApiObject, "") \
  C(ApiYouTubeSubscriptionSubscriberSnippet, ApiObject, "") \
  C(ApiYouTubeThumbnail, ApiObject, "") \
  C(ApiYouTubeThumbnailDetails, ApiObject, "") \
  C(ApiYouTubeThumbnailSetResponse, ApiCollectionObject, "youtube#thumbnailSetResponse") \
  C(ApiYouTubeTokenPagination, ApiObject, "") \
  C(ApiYouTubeVideo, ApiObject, "youtube#video") \
  C(ApiYouTubeVideoAgeGating, ApiObject, "") \
  C(ApiYouTubeVideoCategory, ApiObject, "youtube#videoCategory") \
  C(ApiYouTubeVideoCategoryListResponse, ApiCollectionObject, "youtube#videoCategoryListResponse") \
  C(ApiYouTubeVideoCategorySnippet, ApiObject, "") \
  C(ApiYouTubeVideoContentDetails, ApiObject, "") \
  C(ApiYouTubeVideoContentDetailsRegionRestriction, ApiObject, "") \
  C(ApiYouTubeVideoConversionPing, ApiObject, "") \
  C(ApiYouTubeVideoConversionPings, ApiObject, "") \
  C(ApiYouTubeVideoFileDetails, ApiObject, "") \
  C(ApiYouTubeVideoFileDetailsAudioStream, ApiObject, "") \
  C(ApiYouTubeVideoFileDetailsVideoStream, ApiObject, "") \
  C(ApiYouTubeVideoGetRatingResponse, ApiCollectionObject, "youtube#videoGetRatingResponse") \
  C(ApiYouTubeVideoListResponse, ApiCollectionObject, "youtube#videoListResponse") \
  C(ApiYouTubeVideoLiveStreamingDetails, ApiObject, "") \
  C(ApiYouTubeVideoMonetizationDetails, ApiObject, "") \
  C(ApiYouTubeVideoPlayer, ApiObject, "") \
  C(ApiYouTubeVideoProcessingDetails, ApiObject, "") \
  C(ApiYouTubeVideoProcessingDetailsProcessingProgress, ApiObject, "") \
  C(ApiYouTubeVideoProjectDetails, ApiObject, "") \
  C(ApiYouTubeVideoRating, ApiObject, "") \
  C(ApiYouTubeVideoRecordingDetails, ApiObject, "") \
  C(ApiYouTubeVideoSnippet, ApiObject, "") \
  C(ApiYouTubeVideoStatistics, ApiObject, "") \
  C(ApiYouTubeVideoStatus, ApiObject, "") \
  C(ApiYouTubeVideoSuggestions, ApiObject, "") \
  C(ApiYouTubeVideoSuggestionsTagSuggestion, ApiObject, "") \
  C(ApiYouTubeVideoTopicDetails, ApiObject, "") \
  C(ApiYouTubeWatchSettings, ApiObject, "")

#define ApiYouTubeAccessPolicy_PROPERTIES(P, C) \
  P(C, allowed, setAllowed, ApiNumberProperty) \
  P(C, exception, setException, ApiArrayProperty)
#define ApiYouTubeActivity_PROPERTIES(P, C) \
  P(C, contentDetails, setContentDetails, ApiModelProperty<ApiYouTubeActivityContentDetails>) \
  P(C, ETag, setETag, ApiStringProperty) \
  P(C, identifier, setIdentifier, ApiStringProperty) \
  P(C, kind, setKind, ApiStringProperty) \
  P(C, snippet, setSnippet, ApiModelProperty<ApiYouTubeActivitySnippet>)
#define ApiYouTubeActivityContentDetails_PROPERTIES(P, C) \
  P(C, bulletin, setBulletin, ApiModelProperty<ApiYouTubeActivityContentDetailsBulletin>) \
  P(C, channelItem, setChannelItem, ApiModelProperty<ApiYouTubeActivityContentDetailsChannelItem>) \
  P(C, comment, setComment, ApiModelProperty<ApiYouTubeActivityContentDetailsComment>) \
  P(C, favorite, setFavorite, ApiModelProperty<ApiYouTubeActivityContentDetailsFavorite>) \
  P(C, like, setLike, ApiModelProperty<ApiYouTubeActivityContentDetailsLike>) \
  P(C, playlistItem, setPlaylistItem, ApiModelProperty<ApiYouTubeActivityContentDetailsPlaylistItem>) \
  P(C, promotedItem, setPromotedItem, ApiModelProperty<ApiYouTubeActivityContentDetailsPromotedItem>) \
  P(C, recommendation, setRecommendation, ApiModelProperty<ApiYouTubeActivityContentDetailsRecommendation>) \
  P(C, social, setSocial, ApiModelProperty<ApiYouTubeActivityContentDetailsSocial>) \
  P(C, subscription, setSubscription, ApiModelProperty<ApiYouTubeActivityContentDetailsSubscription>) \
  P(C, upload, setUpload, ApiModelProperty<ApiYouTubeActivityContentDetailsUpload>)
#define ApiYouTubeActivityContentDetailsBulletin_PROPERTIES(P, C) \
  P(C, resourceId, setResourceId, ApiModelProperty<ApiYouTubeResourceId>)
#define ApiYouTubeActivityContentDetailsChannelItem_PROPERTIES(P, C) \
  P(C, resourceId, setResourceId, ApiModelProperty<ApiYouTubeResourceId>)
#define ApiYouTubeActivityContentDetailsComment_PROPERTIES(P, C) \
  P(C, resourceId, setResourceId, ApiModelProperty<ApiYouTubeResourceId>)
#define ApiYouTubeActivityContentDetailsFavorite_PROPERTIES(P, C) \
  P(C, resourceId, setResourceId, ApiModelProperty<ApiYouTubeResourceId>)
#define ApiYouTubeActivityContentDetailsLike_PROPERTIES(P, C) \
  P(C, resourceId, setResourceId, ApiModelProperty<ApiYouTubeResourceId>)
#define ApiYouTubeActivityContentDetailsPlaylistItem_PROPERTIES(P, C) \
  P(C, playlistId, setPlaylistId, ApiStringProperty) \
  P(C, playlistItemId, setPlaylistItemId, ApiStringProperty) \
  P(C, resourceId, setResourceId, ApiModelProperty<ApiYouTubeResourceId>)
#define ApiYouTubeActivityContentDetailsPromotedItem_PROPERTIES(P, C) \
  P(C, adTag, setAdTag, ApiStringProperty) \
  P(C, clickTrackingUrl, setClickTrackingUrl, ApiStringProperty) \
  P(C, creativeViewUrl, setCreativeViewUrl, ApiStringProperty) \
  P(C, ctaType, setCtaType, ApiStringProperty) \
  P(C, customCtaButtonText, setCustomCtaButtonText, ApiStringProperty) \
  P(C, descriptionText, setDescriptionText, ApiStringProperty) \
  P(C, destinationUrl, setDestinationUrl, ApiStringProperty) \
  P(C, forecastingUrl, setForecastingUrl, ApiArrayProperty) \
  P(C, impressionUrl, setImpressionUrl, ApiArrayProperty) \
  P(C, videoId, setVideoId, ApiStringProperty)
#define ApiYouTubeActivityContentDetailsRecommendation_PROPERTIES(P, C) \
  P(C, reason, setReason, ApiStringProperty) \
  P(C, resourceId, setResourceId, ApiModelProperty<ApiYouTubeResourceId>) \
  P(C, seedResourceId, setSeedResourceId, ApiModelProperty<ApiYouTubeResourceId>)
#define ApiYouTubeActivityContentDetailsSocial_PROPERTIES(P, C) \
  P(C, author, setAuthor, ApiStringProperty) \
  P(C, imageUrl, setImageUrl, ApiStringProperty) \
  P(C, referenceUrl, setReferenceUrl, ApiStringProperty) \
  P(C, resourceId, setResourceId, ApiModelProperty<ApiYouTubeResourceId>) \
  P(C, type, setType, ApiStringProperty)
#define ApiYouTubeActivityContentDetailsSubscription_PROPERTIES(P, C) \
  P(C, resourceId, setResourceId, ApiModelProperty<ApiYouTubeResourceId>)
#define ApiYouTubeActivityContentDetailsUpload_PROPERTIES(P, C) \
  P(C, videoId, setVideoId, ApiStringProperty)
#define ApiYouTubeActivityListResponse_PROPERTIES(P, C) \
  P(C, ETag, setETag, ApiStringProperty) \
  P(C, eventId, setEventId, ApiStringProperty) \
  P(C, items, setItems, ApiArrayProperty) \
  P(C, kind, setKind, ApiStringProperty) \
  P(C, nextPageToken, setNextPageToken, ApiStringProperty) \
  P(C, pageInfo, setPageInfo, ApiModelProperty<ApiYouTubePageInfo>) \
  P(C, prevPageToken, setPrevPageToken, ApiStringProperty) \
  P(C, tokenPagination, setTokenPagination, ApiModelProperty<ApiYouTubeTokenPagination>) \
  P(C, visitorId, setVisitorId, ApiStringProperty)
#define ApiYouTubeActivitySnippet_PROPERTIES(P, C) \
  P(C, channelId, setChannelId, ApiStringProperty) \
  P(C, channelTitle, setChannelTitle, ApiStringProperty) \
  P(C, descriptionProperty, setDescriptionProperty, ApiStringProperty) \
  P(C, groupId, setGroupId, ApiStringProperty) \
  P(C, publishedAt, setPublishedAt, ApiDateTimeProperty) \
  P(C, thumbnails, setThumbnails, ApiModelProperty<ApiYouTubeThumbnailDetails>) \
  P(C, title, setTitle, ApiStringProperty) \
  P(C, type, setType, ApiStringProperty)
#define ApiYouTubeCdnSettings_PROPERTIES(P, C) \
  P(C, format, setFormat, ApiStringProperty) \
  P(C, ingestionInfo, setIngestionInfo, ApiModelProperty<ApiYouTubeIngestionInfo>) \
  P(C, ingestionType, setIngestionType, ApiStringProperty)
#define ApiYouTubeChannel_PROPERTIES(P, C) \
  P(C, auditDetails, setAuditDetails, ApiModelProperty<ApiYouTubeChannelAuditDetails>) \
  P(C, brandingSettings, setBrandingSettings, ApiModelProperty<ApiYouTubeChannelBrandingSettings>) \
  P(C, contentDetails, setContentDetails, ApiModelProperty<ApiYouTubeChannelContentDetails>) \
  P(C, contentOwnerDetails, setContentOwnerDetails, ApiModelProperty<ApiYouTubeChannelContentOwnerDetails>) \
  P(C, conversionPings, setConversionPings, ApiModelProperty<ApiYouTubeChannelConversionPings>) \
  P(C, ETag, setETag, ApiStringProperty) \
  P(C, identifier, setIdentifier, ApiStringProperty) \
  P(C, invideoPromotion, setInvideoPromotion, ApiModelProperty<ApiYouTubeInvideoPromotion>) \
  P(C, kind, setKind, ApiStringProperty) \
  P(C, snippet, setSnippet, ApiModelProperty<ApiYouTubeChannelSnippet>) \
  P(C, statistics, setStatistics, ApiModelProperty<ApiYouTubeChannelStatistics>) \
  P(C, status, setStatus, ApiModelProperty<ApiYouTubeChannelStatus>) \
  P(C, topicDetails, setTopicDetails, ApiModelProperty<ApiYouTubeChannelTopicDetails>)
#define ApiYouTubeChannelAuditDetails_PROPERTIES(P, C) \
  P(C, communityGuidelinesGoodStanding, setCommunityGuidelinesGoodStanding, ApiNumberProperty) \
  P(C, contentIdClaimsGoodStanding, setContentIdClaimsGoodStanding, ApiNumberProperty) \
  P(C, copyrightStrikesGoodStanding, setCopyrightStrikesGoodStanding, ApiNumberProperty) \
  P(C, overallGoodStanding, setOverallGoodStanding, ApiNumberProperty)
#define ApiYouTubeChannelBannerResource_PROPERTIES(P, C) \
  P(C, ETag, setETag, ApiStringProperty) \
  P(C, kind, setKind, ApiStringProperty) \
  P(C, url, setUrl, ApiStringProperty)
#define ApiYouTubeChannelBrandingSettings_PROPERTIES(P, C) \
  P(C, channel, setChannel, ApiModelProperty<ApiYouTubeChannelSettings>) \
  P(C, hints, setHints, ApiArrayProperty) \
  P(C, image, setImage, ApiModelProperty<ApiYouTubeImageSettings>) \
  P(C, watch, setWatch, ApiModelProperty<ApiYouTubeWatchSettings>)
#define ApiYouTubeChannelContentDetails_PROPERTIES(P, C) \
  P(C, googlePlusUserId, setGooglePlusUserId, ApiStringProperty) \
  P(C, relatedPlaylists, setRelatedPlaylists, ApiModelProperty<ApiYouTubeChannelContentDetailsRelatedPlaylists>)
#define ApiYouTubeChannelContentDetailsRelatedPlaylists_PROPERTIES(P, C) \
  P(C, favorites, setFavorites, ApiStringProperty) \
  P(C, likes, setLikes, ApiStringProperty) \
  P(C, uploads, setUploads, ApiStringProperty) \
  P(C, watchHistory, setWatchHistory, ApiStringProperty) \
  P(C, watchLater, setWatchLater, ApiStringProperty)
#define ApiYouTubeChannelContentOwnerDetails_PROPERTIES(P, C) \
  P(C, contentOwner, setContentOwner, ApiStringProperty) \
  P(C, timeLinked, setTimeLinked, ApiDateTimeProperty)
#define ApiYouTubeChannelConversionPing_PROPERTIES(P, C) \
  P(C, context, setContext, ApiStringProperty) \
  P(C, conversionUrl, setConversionUrl, ApiStringProperty)
#define ApiYouTubeChannelConversionPings_PROPERTIES(P, C) \
  P(C, pings, setPings, ApiArrayProperty)
#define ApiYouTubeChannelListResponse_PROPERTIES(P, C) \
  P(C, ETag, setETag, ApiStringProperty) \
  P(C, eventId, setEventId, ApiStringProperty) \
  P(C, items, setItems, ApiArrayProperty) \
  P(C, kind, setKind, ApiStringProperty) \
  P(C, nextPageToken, setNextPageToken, ApiStringProperty) \
  P(C, pageInfo, setPageInfo, ApiModelProperty<ApiYouTubePageInfo>) \
  P(C, prevPageToken, setPrevPageToken, ApiStringProperty) \
  P(C, tokenPagination, setTokenPagination, ApiModelProperty<ApiYouTubeTokenPagination>) \
  P(C, visitorId, setVisitorId, ApiStringProperty)
#define ApiYouTubeChannelSection_PROPERTIES(P, C) \
  P(C, contentDetails, setContentDetails, ApiModelProperty<ApiYouTubeChannelSectionContentDetails>) \
  P(C, ETag, setETag, ApiStringProperty) \
  P(C, identifier, setIdentifier, ApiStringProperty) \
  P(C, kind, setKind, ApiStringProperty) \
  P(C, snippet, setSnippet, ApiModelProperty<ApiYouTubeChannelSectionSnippet>)
#define ApiYouTubeChannelSectionContentDetails_PROPERTIES(P, C) \
  P(C, channels, setChannels, ApiArrayProperty) \
  P(C, playlists, setPlaylists, ApiArrayProperty)
#define ApiYouTubeChannelSectionListResponse_PROPERTIES(P, C) \
  P(C, ETag, setETag, ApiStringProperty) \
  P(C, eventId, setEventId, ApiStringProperty) \
  P(C, items, setItems, ApiArrayProperty) \
  P(C, kind, setKind, ApiStringProperty) \
  P(C, visitorId, setVisitorId, ApiStringProperty)
#define ApiYouTubeChannelSectionSnippet_PROPERTIES(P, C) \
  P(C, channelId, setChannelId, ApiStringProperty) \
  P(C, position, setPosition, ApiNumberProperty) \
  P(C, style, setStyle, ApiStringProperty) \
  P(C, title, setTitle, ApiStringProperty) \
  P(C, type, setType, ApiStringProperty)
#define ApiYouTubeChannelSettings_PROPERTIES(P, C) \
  P(C, defaultTab, setDefaultTab, ApiStringProperty) \
  P(C, descriptionProperty, setDescriptionProperty, ApiStringProperty) \
  P(C, featuredChannelsTitle, setFeaturedChannelsTitle, ApiStringProperty) \
  P(C, featuredChannelsUrls, setFeaturedChannelsUrls, ApiArrayProperty) \
  P(C, keywords, setKeywords, ApiStringProperty) \
  P(C, moderateComments, setModerateComments, ApiNumberProperty) \
  P(C, profileColor, setProfileColor, ApiStringProperty) \
  P(C, showBrowseView, setShowBrowseView, ApiNumberProperty) \
  P(C, showRelatedChannels, setShowRelatedChannels, ApiNumberProperty) \
  P(C, title, setTitle, ApiStringProperty) \
  P(C, trackingAnalyticsAccountId, setTrackingAnalyticsAccountId, ApiStringProperty) \
  P(C, unsubscribedTrailer, setUnsubscribedTrailer, ApiStringProperty)
#define ApiYouTubeChannelSnippet_PROPERTIES(P, C) \
  P(C, descriptionProperty, setDescriptionProperty, ApiStringProperty) \
  P(C, publishedAt, setPublishedAt, ApiDateTimeProperty) \
  P(C, thumbnails, setThumbnails, ApiModelProperty<ApiYouTubeThumbnailDetails>) \
  P(C, title, setTitle, ApiStringProperty)
#define ApiYouTubeChannelStatistics_PROPERTIES(P, C) \
  P(C, commentCount, setCommentCount, ApiNumberProperty) \
  P(C, hiddenSubscriberCount, setHiddenSubscriberCount, ApiNumberProperty) \
  P(C, subscriberCount, setSubscriberCount, ApiNumberProperty) \
  P(C, videoCount, setVideoCount, ApiNumberProperty) \
  P(C, viewCount, setViewCount, ApiNumberProperty)
#define ApiYouTubeChannelStatus_PROPERTIES(P, C) \
  P(C, isLinked, setIsLinked, ApiNumberProperty) \
  P(C, privacyStatus, setPrivacyStatus, ApiStringProperty)
#define ApiYouTubeChannelTopicDetails_PROPERTIES(P, C) \
  P(C, topicIds, setTopicIds, ApiArrayProperty)
#define ApiYouTubeContentRating_PROPERTIES(P, C) \
  P(C, acbRating, setAcbRating, ApiStringProperty) \
  P(C, agcomRating, setAgcomRating, ApiStringProperty) \
  P(C, anatelRating, setAnatelRating, ApiStringProperty) \
  P(C, bbfcRating, setBbfcRating, ApiStringProperty) \
  P(C, bfvcRating, setBfvcRating, ApiStringProperty) \
  P(C, bmukkRating, setBmukkRating, ApiStringProperty) \
  P(C, catvRating, setCatvRating, ApiStringProperty) \
  P(C, catvfrRating, setCatvfrRating, ApiStringProperty) \
  P(C, cbfcRating, setCbfcRating, ApiStringProperty) \
  P(C, cccRating, setCccRating, ApiStringProperty) \
  P(C, cceRating, setCceRating, ApiStringProperty) \
  P(C, chfilmRating, setChfilmRating, ApiStringProperty) \
  P(C, chvrsRating, setChvrsRating, ApiStringProperty) \
  P(C, cicfRating, setCicfRating, ApiStringProperty) \
  P(C, cnaRating, setCnaRating, ApiStringProperty) \
  P(C, csaRating, setCsaRating, ApiStringProperty) \
  P(C, cscfRating, setCscfRating, ApiStringProperty) \
  P(C, czfilmRating, setCzfilmRating, ApiStringProperty) \
  P(C, djctqRating, setDjctqRating, ApiStringProperty) \
  P(C, eefilmRating, setEefilmRating, ApiStringProperty) \
  P(C, egfilmRating, setEgfilmRating, ApiStringProperty) \
  P(C, eirinRating, setEirinRating, ApiStringProperty) \
  P(C, fcbmRating, setFcbmRating, ApiStringProperty) \
  P(C, fcoRating, setFcoRating, ApiStringProperty) \
  P(C, fmocRating, setFmocRating, ApiStringProperty) \
  P(C, fpbRating, setFpbRating, ApiStringProperty) \
  P(C, fskRating, setFskRating, ApiStringProperty) \
  P(C, grfilmRating, setGrfilmRating, ApiStringProperty) \
  P(C, icaaRating, setIcaaRating, ApiStringProperty) \
  P(C, ifcoRating, setIfcoRating, ApiStringProperty) \
  P(C, ilfilmRating, setIlfilmRating, ApiStringProperty) \
  P(C, incaaRating, setIncaaRating, ApiStringProperty) \
  P(C, kfcbRating, setKfcbRating, ApiStringProperty) \
  P(C, kijkwijzerRating, setKijkwijzerRating, ApiStringProperty) \
  P(C, kmrbRating, setKmrbRating, ApiStringProperty) \
  P(C, lsfRating, setLsfRating, ApiStringProperty) \
  P(C, mccaaRating, setMccaaRating, ApiStringProperty) \
  P(C, mccypRating, setMccypRating, ApiStringProperty) \
  P(C, mdaRating, setMdaRating, ApiStringProperty) \
  P(C, medietilsynetRating, setMedietilsynetRating, ApiStringProperty) \
  P(C, mekuRating, setMekuRating, ApiStringProperty) \
  P(C, mibacRating, setMibacRating, ApiStringProperty) \
  P(C, mocRating, setMocRating, ApiStringProperty) \
  P(C, moctwRating, setMoctwRating, ApiStringProperty) \
  P(C, mpaaRating, setMpaaRating, ApiStringProperty) \
  P(C, mtrcbRating, setMtrcbRating, ApiStringProperty) \
  P(C, nbcRating, setNbcRating, ApiStringProperty) \
  P(C, nbcplRating, setNbcplRating, ApiStringProperty) \
  P(C, nfrcRating, setNfrcRating, ApiStringProperty) \
  P(C, nfvcbRating, setNfvcbRating, ApiStringProperty) \
  P(C, nkclvRating, setNkclvRating, ApiStringProperty) \
  P(C, oflcRating, setOflcRating, ApiStringProperty) \
  P(C, pefilmRating, setPefilmRating, ApiStringProperty) \
  P(C, rcnofRating, setRcnofRating, ApiStringProperty) \
  P(C, resorteviolenciaRating, setResorteviolenciaRating, ApiStringProperty) \
  P(C, rtcRating, setRtcRating, ApiStringProperty) \
  P(C, rteRating, setRteRating, ApiStringProperty) \
  P(C, russiaRating, setRussiaRating, ApiStringProperty) \
  P(C, skfilmRating, setSkfilmRating, ApiStringProperty) \
  P(C, smaisRating, setSmaisRating, ApiStringProperty) \
  P(C, smsaRating, setSmsaRating, ApiStringProperty) \
  P(C, tvpgRating, setTvpgRating, ApiStringProperty) \
  P(C, ytRating, setYtRating, ApiStringProperty)
#define ApiYouTubeGeoPoint_PROPERTIES(P, C) \
  P(C, altitude, setAltitude, ApiNumberProperty) \
  P(C, latitude, setLatitude, ApiNumberProperty) \
  P(C, longitude, setLongitude, ApiNumberProperty)
#define ApiYouTubeGuideCategory_PROPERTIES(P, C) \
  P(C, ETag, setETag, ApiStringProperty) \
  P(C, identifier, setIdentifier, ApiStringProperty) \
  P(C, kind, setKind, ApiStringProperty) \
  P(C, snippet, setSnippet, ApiModelProperty<ApiYouTubeGuideCategorySnippet>)
#define ApiYouTubeGuideCategoryListResponse_PROPERTIES(P, C) \
  P(C, ETag, setETag, ApiStringProperty) \
  P(C, eventId, setEventId, ApiStringProperty) \
  P(C, items, setItems, ApiArrayProperty) \
  P(C, kind, setKind, ApiStringProperty) \
  P(C, nextPageToken, setNextPageToken, ApiStringProperty) \
  P(C, pageInfo, setPageInfo, ApiModelProperty<ApiYouTubePageInfo>) \
  P(C, prevPageToken, setPrevPageToken, ApiStringProperty) \
  P(C, tokenPagination, setTokenPagination, ApiModelProperty<ApiYouTubeTokenPagination>) \
  P(C, visitorId, setVisitorId, ApiStringProperty)
#define ApiYouTubeGuideCategorySnippet_PROPERTIES(P, C) \
  P(C, channelId, setChannelId, ApiStringProperty) \
  P(C, title, setTitle, ApiStringProperty)
#define ApiYouTubeI18nLanguage_PROPERTIES(P, C) \
  P(C, ETag, setETag, ApiStringProperty) \
  P(C, identifier, setIdentifier, ApiStringProperty) \
  P(C, kind, setKind, ApiStringProperty) \
  P(C, snippet, setSnippet, ApiModelProperty<ApiYouTubeI18nLanguageSnippet>)
#define ApiYouTubeI18nLanguageListResponse_PROPERTIES(P, C) \
  P(C, ETag, setETag, ApiStringProperty) \
  P(C, eventId, setEventId, ApiStringProperty) \
  P(C, items, setItems, ApiArrayProperty) \
  P(C, kind, setKind, ApiStringProperty) \
  P(C, visitorId, setVisitorId, ApiStringProperty)
#define ApiYouTubeI18nLanguageSnippet_PROPERTIES(P, C) \
  P(C, hl, setHl, ApiStringProperty) \
  P(C, name, setName, ApiStringProperty)
#define ApiYouTubeI18nRegion_PROPERTIES(P, C) \
  P(C, ETag, setETag, ApiStringProperty) \
  P(C, identifier, setIdentifier, ApiStringProperty) \
  P(C, kind, setKind, ApiStringProperty) \
  P(C, snippet, setSnippet, ApiModelProperty<ApiYouTubeI18nRegionSnippet>)
#define ApiYouTubeI18nRegionListResponse_PROPERTIES(P, C) \
  P(C, ETag, setETag, ApiStringProperty) \
  P(C, eventId, setEventId, ApiStringProperty) \
  P(C, items, setItems, ApiArrayProperty) \
  P(C, kind, setKind, ApiStringProperty) \
  P(C, visitorId, setVisitorId, ApiStringProperty)
#define ApiYouTubeI18nRegionSnippet_PROPERTIES(P, C) \
  P(C, gl, setGl, ApiStringProperty) \
  P(C, name, setName, ApiStringProperty)
#define ApiYouTubeImageSettings_PROPERTIES(P, C) \
  P(C, backgroundImageUrl, setBackgroundImageUrl, ApiModelProperty<ApiYouTubeLocalizedProperty>) \
  P(C, bannerExternalUrl, setBannerExternalUrl, ApiStringProperty) \
  P(C, bannerImageUrl, setBannerImageUrl, ApiStringProperty) \
  P(C, bannerMobileExtraHdImageUrl, setBannerMobileExtraHdImageUrl, ApiStringProperty) \
  P(C, bannerMobileHdImageUrl, setBannerMobileHdImageUrl, ApiStringProperty) \
  P(C, bannerMobileImageUrl, setBannerMobileImageUrl, ApiStringProperty) \
  P(C, bannerMobileLowImageUrl, setBannerMobileLowImageUrl, ApiStringProperty) \
  P(C, bannerMobileMediumHdImageUrl, setBannerMobileMediumHdImageUrl, ApiStringProperty) \
  P(C, bannerTabletExtraHdImageUrl, setBannerTabletExtraHdImageUrl, ApiStringProperty) \
  P(C, bannerTabletHdImageUrl, setBannerTabletHdImageUrl, ApiStringProperty) \
  P(C, bannerTabletImageUrl, setBannerTabletImageUrl, ApiStringProperty) \
  P(C, bannerTabletLowImageUrl, setBannerTabletLowImageUrl, ApiStringProperty) \
  P(C, bannerTvHighImageUrl, setBannerTvHighImageUrl, ApiStringProperty) \
  P(C, bannerTvImageUrl, setBannerTvImageUrl, ApiStringProperty) \
  P(C, bannerTvLowImageUrl, setBannerTvLowImageUrl, ApiStringProperty) \
  P(C, bannerTvMediumImageUrl, setBannerTvMediumImageUrl, ApiStringProperty) \
  P(C, largeBrandedBannerImageImapScript, setLargeBrandedBannerImageImapScript, ApiModelProperty<ApiYouTubeLocalizedProperty>) \
  P(C, largeBrandedBannerImageUrl, setLargeBrandedBannerImageUrl, ApiModelProperty<ApiYouTubeLocalizedProperty>) \
  P(C, smallBrandedBannerImageImapScript, setSmallBrandedBannerImageImapScript, ApiModelProperty<ApiYouTubeLocalizedProperty>) \
  P(C, smallBrandedBannerImageUrl, setSmallBrandedBannerImageUrl, ApiModelProperty<ApiYouTubeLocalizedProperty>) \
  P(C, trackingImageUrl, setTrackingImageUrl, ApiStringProperty) \
  P(C, watchIconImageUrl, setWatchIconImageUrl, ApiStringProperty)
#define ApiYouTubeIngestionInfo_PROPERTIES(P, C) \
  P(C, backupIngestionAddress, setBackupIngestionAddress, ApiStringProperty) \
  P(C, ingestionAddress, setIngestionAddress, ApiStringProperty) \
  P(C, streamName, setStreamName, ApiStringProperty)
#define ApiYouTubeInvideoBranding_PROPERTIES(P, C) \
  P(C, imageBytes, setImageBytes, ApiStringProperty) \
  P(C, imageUrl, setImageUrl, ApiStringProperty) \
  P(C, position, setPosition, ApiModelProperty<ApiYouTubeInvideoPosition>) \
  P(C, targetChannelId, setTargetChannelId, ApiStringProperty) \
  P(C, timing, setTiming, ApiModelProperty<ApiYouTubeInvideoTiming>)
#define ApiYouTubeInvideoPosition_PROPERTIES(P, C) \
  P(C, cornerPosition, setCornerPosition, ApiStringProperty) \
  P(C, type, setType, ApiStringProperty)
#define ApiYouTubeInvideoPromotion_PROPERTIES(P, C) \
  P(C, defaultTiming, setDefaultTiming, ApiModelProperty<ApiYouTubeInvideoTiming>) \
  P(C, items, setItems, ApiArrayProperty) \
  P(C, position, setPosition, ApiModelProperty<ApiYouTubeInvideoPosition>) \
  P(C, useSmartTiming, setUseSmartTiming, ApiNumberProperty)
#define ApiYouTubeInvideoTiming_PROPERTIES(P, C) \
  P(C, durationMs, setDurationMs, ApiNumberProperty) \
  P(C, offsetMs, setOffsetMs, ApiNumberProperty) \
  P(C, type, setType, ApiStringProperty)
#define ApiYouTubeLiveBroadcast_PROPERTIES(P, C) \
  P(C, contentDetails, setContentDetails, ApiModelProperty<ApiYouTubeLiveBroadcastContentDetails>) \
  P(C, ETag, setETag, ApiStringProperty) \
  P(C, identifier, setIdentifier, ApiStringProperty) \
  P(C, kind, setKind, ApiStringProperty) \
  P(C, snippet, setSnippet, ApiModelProperty<ApiYouTubeLiveBroadcastSnippet>) \
  P(C, status, setStatus, ApiModelProperty<ApiYouTubeLiveBroadcastStatus>)
#define ApiYouTubeLiveBroadcastContentDetails_PROPERTIES(P, C) \
  P(C, boundStreamId, setBoundStreamId, ApiStringProperty) \
  P(C, enableClosedCaptions, setEnableClosedCaptions, ApiNumberProperty) \
  P(C, enableContentEncryption, setEnableContentEncryption, ApiNumberProperty) \
  P(C, enableDvr, setEnableDvr, ApiNumberProperty) \
  P(C, enableEmbed, setEnableEmbed, ApiNumberProperty) \
  P(C, monitorStream, setMonitorStream, ApiModelProperty<ApiYouTubeMonitorStreamInfo>) \
  P(C, recordFromStart, setRecordFromStart, ApiNumberProperty) \
  P(C, startWithSlate, setStartWithSlate, ApiNumberProperty)
#define ApiYouTubeLiveBroadcastListResponse_PROPERTIES(P, C) \
  P(C, ETag, setETag, ApiStringProperty) \
  P(C, eventId, setEventId, ApiStringProperty) \
  P(C, items, setItems, ApiArrayProperty) \
  P(C, kind, setKind, ApiStringProperty) \
  P(C, nextPageToken, setNextPageToken, ApiStringProperty) \
  P(C, pageInfo, setPageInfo, ApiModelProperty<ApiYouTubePageInfo>) \
  P(C, prevPageToken, setPrevPageToken, ApiStringProperty) \
  P(C, tokenPagination, setTokenPagination, ApiModelProperty<ApiYouTubeTokenPagination>) \
  P(C, visitorId, setVisitorId, ApiStringProperty)
#define ApiYouTubeLiveBroadcastSnippet_PROPERTIES(P, C) \
  P(C, actualEndTime, setActualEndTime, ApiDateTimeProperty) \
  P(C, actualStartTime, setActualStartTime, ApiDateTimeProperty) \
  P(C, channelId, setChannelId, ApiStringProperty) \
  P(C, descriptionProperty, setDescriptionProperty, ApiStringProperty) \
  P(C, publishedAt, setPublishedAt, ApiDateTimeProperty) \
  P(C, scheduledEndTime, setScheduledEndTime, ApiDateTimeProperty) \
  P(C, scheduledStartTime, setScheduledStartTime, ApiDateTimeProperty) \
  P(C, thumbnails, setThumbnails, ApiModelProperty<ApiYouTubeThumbnailDetails>) \
  P(C, title, setTitle, ApiStringProperty)
#define ApiYouTubeLiveBroadcastStatus_PROPERTIES(P, C) \
  P(C, lifeCycleStatus, setLifeCycleStatus, ApiStringProperty) \
  P(C, privacyStatus, setPrivacyStatus, ApiStringProperty) \
  P(C, recordingStatus, setRecordingStatus, ApiStringProperty)
#define ApiYouTubeLiveStream_PROPERTIES(P, C) \
  P(C, cdn, setCdn, ApiModelProperty<ApiYouTubeCdnSettings>) \
  P(C, contentDetails, setContentDetails, ApiModelProperty<ApiYouTubeLiveStreamContentDetails>) \
  P(C, ETag, setETag, ApiStringProperty) \
  P(C, identifier, setIdentifier, ApiStringProperty) \
  P(C, kind, setKind, ApiStringProperty) \
  P(C, snippet, setSnippet, ApiModelProperty<ApiYouTubeLiveStreamSnippet>) \
  P(C, status, setStatus, ApiModelProperty<ApiYouTubeLiveStreamStatus>)
#define ApiYouTubeLiveStreamContentDetails_PROPERTIES(P, C) \
  P(C, closedCaptionsIngestionUrl, setClosedCaptionsIngestionUrl, ApiStringProperty)
#define ApiYouTubeLiveStreamListResponse_PROPERTIES(P, C) \
  P(C, ETag, setETag, ApiStringProperty) \
  P(C, eventId, setEventId, ApiStringProperty) \
  P(C, items, setItems, ApiArrayProperty) \
  P(C, kind, setKind, ApiStringProperty) \
  P(C, nextPageToken, setNextPageToken, ApiStringProperty) \
  P(C, pageInfo, setPageInfo, ApiModelProperty<ApiYouTubePageInfo>) \
  P(C, prevPageToken, setPrevPageToken, ApiStringProperty) \
  P(C, tokenPagination, setTokenPagination, ApiModelProperty<ApiYouTubeTokenPagination>) \
  P(C, visitorId, setVisitorId, ApiStringProperty)
#define ApiYouTubeLiveStreamSnippet_PROPERTIES(P, C) \
  P(C, channelId, setChannelId, ApiStringProperty) \
  P(C, descriptionProperty, setDescriptionProperty, ApiStringProperty) \
  P(C, publishedAt, setPublishedAt, ApiDateTimeProperty) \
  P(C, title, setTitle, ApiStringProperty)
#define ApiYouTubeLiveStreamStatus_PROPERTIES(P, C) \
  P(C, streamStatus, setStreamStatus, ApiStringProperty)
#define ApiYouTubeLocalizedProperty_PROPERTIES(P, C) \
  P(C, defaultProperty, setDefaultProperty, ApiStringProperty) \
  P(C, localized, setLocalized, ApiArrayProperty)
#define ApiYouTubeLocalizedString_PROPERTIES(P, C) \
  P(C, language, setLanguage, ApiStringProperty) \
  P(C, value, setValue, ApiStringProperty)
#define ApiYouTubeMonitorStreamInfo_PROPERTIES(P, C) \
  P(C, broadcastStreamDelayMs, setBroadcastStreamDelayMs, ApiNumberProperty) \
  P(C, embedHtml, setEmbedHtml, ApiStringProperty) \
  P(C, enableMonitorStream, setEnableMonitorStream, ApiNumberProperty)
#define ApiYouTubePageInfo_PROPERTIES(P, C) \
  P(C, resultsPerPage, setResultsPerPage, ApiNumberProperty) \
  P(C, totalResults, setTotalResults, ApiNumberProperty)
#define ApiYouTubePlaylist_PROPERTIES(P, C) \
  P(C, contentDetails, setContentDetails, ApiModelProperty<ApiYouTubePlaylistContentDetails>) \
  P(C, ETag, setETag, ApiStringProperty) \
  P(C, identifier, setIdentifier, ApiStringProperty) \
  P(C, kind, setKind, ApiStringProperty) \
  P(C, player, setPlayer, ApiModelProperty<ApiYouTubePlaylistPlayer>) \
  P(C, snippet, setSnippet, ApiModelProperty<ApiYouTubePlaylistSnippet>) \
  P(C, status, setStatus, ApiModelProperty<ApiYouTubePlaylistStatus>)
#define ApiYouTubePlaylistContentDetails_PROPERTIES(P, C) \
  P(C, itemCount, setItemCount, ApiNumberProperty)
#define ApiYouTubePlaylistItem_PROPERTIES(P, C) \
  P(C, contentDetails, setContentDetails, ApiModelProperty<ApiYouTubePlaylistItemContentDetails>) \
  P(C, ETag, setETag, ApiStringProperty) \
  P(C, identifier, setIdentifier, ApiStringProperty) \
  P(C, kind, setKind, ApiStringProperty) \
  P(C, snippet, setSnippet, ApiModelProperty<ApiYouTubePlaylistItemSnippet>) \
  P(C, status, setStatus, ApiModelProperty<ApiYouTubePlaylistItemStatus>)
#define ApiYouTubePlaylistItemContentDetails_PROPERTIES(P, C) \
  P(C, endAt, setEndAt, ApiStringProperty) \
  P(C, note, setNote, ApiStringProperty) \
  P(C, startAt, setStartAt, ApiStringProperty) \
  P(C, videoId, setVideoId, ApiStringProperty)
#define ApiYouTubePlaylistItemListResponse_PROPERTIES(P, C) \
  P(C, ETag, setETag, ApiStringProperty) \
  P(C, eventId, setEventId, ApiStringProperty) \
  P(C, items, setItems, ApiArrayProperty) \
  P(C, kind, setKind, ApiStringProperty) \
  P(C, nextPageToken, setNextPageToken, ApiStringProperty) \
  P(C, pageInfo, setPageInfo, ApiModelProperty<ApiYouTubePageInfo>) \
  P(C, prevPageToken, setPrevPageToken, ApiStringProperty) \
  P(C, tokenPagination, setTokenPagination, ApiModelProperty<ApiYouTubeTokenPagination>) \
  P(C, visitorId, setVisitorId, ApiStringProperty)
#define ApiYouTubePlaylistItemSnippet_PROPERTIES(P, C) \
  P(C, channelId, setChannelId, ApiStringProperty) \
  P(C, channelTitle, setChannelTitle, ApiStringProperty) \
  P(C, descriptionProperty, setDescriptionProperty, ApiStringProperty) \
  P(C, playlistId, setPlaylistId, ApiStringProperty) \
  P(C, position, setPosition, ApiNumberProperty) \
  P(C, publishedAt, setPublishedAt, ApiDateTimeProperty) \
  P(C, resourceId, setResourceId, ApiModelProperty<ApiYouTubeResourceId>) \
  P(C, thumbnails, setThumbnails, ApiModelProperty<ApiYouTubeThumbnailDetails>) \
  P(C, title, setTitle, ApiStringProperty)
#define ApiYouTubePlaylistItemStatus_PROPERTIES(P, C) \
  P(C, privacyStatus, setPrivacyStatus, ApiStringProperty)
#define ApiYouTubePlaylistListResponse_PROPERTIES(P, C) \
  P(C, ETag, setETag, ApiStringProperty) \
  P(C, eventId, setEventId, ApiStringProperty) \
  P(C, items, setItems, ApiArrayProperty) \
  P(C, kind, setKind, ApiStringProperty) \
  P(C, nextPageToken, setNextPageToken, ApiStringProperty) \
  P(C, pageInfo, setPageInfo, ApiModelProperty<ApiYouTubePageInfo>) \
  P(C, prevPageToken, setPrevPageToken, ApiStringProperty) \
  P(C, tokenPagination, setTokenPagination, ApiModelProperty<ApiYouTubeTokenPagination>) \
  P(C, visitorId, setVisitorId, ApiStringProperty)
#define ApiYouTubePlaylistPlayer_PROPERTIES(P, C) \
  P(C, embedHtml, setEmbedHtml, ApiStringProperty)
#define ApiYouTubePlaylistSnippet_PROPERTIES(P, C) \
  P(C, channelId, setChannelId, ApiStringProperty) \
  P(C, channelTitle, setChannelTitle, ApiStringProperty) \
  P(C, descriptionProperty, setDescriptionProperty, ApiStringProperty) \
  P(C, publishedAt, setPublishedAt, ApiDateTimeProperty) \
  P(C, tags, setTags, ApiArrayProperty) \
  P(C, thumbnails, setThumbnails, ApiModelProperty<ApiYouTubeThumbnailDetails>) \
  P(C, title, setTitle, ApiStringProperty)
#define ApiYouTubePlaylistStatus_PROPERTIES(P, C) \
  P(C, privacyStatus, setPrivacyStatus, ApiStringProperty)
#define ApiYouTubePromotedItem_PROPERTIES(P, C) \
  P(C, customMessage, setCustomMessage, ApiStringProperty) \
  P(C, identifier, setIdentifier, ApiModelProperty<ApiYouTubePromotedItemId>) \
  P(C, promotedByContentOwner, setPromotedByContentOwner, ApiNumberProperty) \
  P(C, timing, setTiming, ApiModelProperty<ApiYouTubeInvideoTiming>)
#define ApiYouTubePromotedItemId_PROPERTIES(P, C) \
  P(C, type, setType, ApiStringProperty) \
  P(C, videoId, setVideoId, ApiStringProperty) \
  P(C, websiteUrl, setWebsiteUrl, ApiStringProperty)
#define ApiYouTubePropertyValue_PROPERTIES(P, C) \
  P(C, property, setProperty, ApiStringProperty) \
  P(C, value, setValue, ApiStringProperty)
#define ApiYouTubeResourceId_PROPERTIES(P, C) \
  P(C, channelId, setChannelId, ApiStringProperty) \
  P(C, kind, setKind, ApiStringProperty) \
  P(C, playlistId, setPlaylistId, ApiStringProperty) \
  P(C, videoId, setVideoId, ApiStringProperty)
#define ApiYouTubeSearchListResponse_PROPERTIES(P, C) \
  P(C, ETag, setETag, ApiStringProperty) \
  P(C, eventId, setEventId, ApiStringProperty) \
  P(C, items, setItems, ApiArrayProperty) \
  P(C, kind, setKind, ApiStringProperty) \
  P(C, nextPageToken, setNextPageToken, ApiStringProperty) \
  P(C, pageInfo, setPageInfo, ApiModelProperty<ApiYouTubePageInfo>) \
  P(C, prevPageToken, setPrevPageToken, ApiStringProperty) \
  P(C, tokenPagination, setTokenPagination, ApiModelProperty<ApiYouTubeTokenPagination>) \
  P(C, visitorId, setVisitorId, ApiStringProperty)
#define ApiYouTubeSearchResult_PROPERTIES(P, C) \
  P(C, ETag, setETag, ApiStringProperty) \
  P(C, identifier, setIdentifier, ApiModelProperty<ApiYouTubeResourceId>) \
  P(C, kind, setKind, ApiStringProperty) \
  P(C, snippet, setSnippet, ApiModelProperty<ApiYouTubeSearchResultSnippet>)
#define ApiYouTubeSearchResultSnippet_PROPERTIES(P, C) \
  P(C, channelId, setChannelId, ApiStringProperty) \
  P(C, channelTitle, setChannelTitle, ApiStringProperty) \
  P(C, descriptionProperty, setDescriptionProperty, ApiStringProperty) \
  P(C, liveBroadcastContent, setLiveBroadcastContent, ApiStringProperty) \
  P(C, publishedAt, setPublishedAt, ApiDateTimeProperty) \
  P(C, thumbnails, setThumbnails, ApiModelProperty<ApiYouTubeThumbnailDetails>) \
  P(C, title, setTitle, ApiStringProperty)
#define ApiYouTubeSubscription_PROPERTIES(P, C) \
  P(C, contentDetails, setContentDetails, ApiModelProperty<ApiYouTubeSubscriptionContentDetails>) \
  P(C, ETag, setETag, ApiStringProperty) \
  P(C, identifier, setIdentifier, ApiStringProperty) \
  P(C, kind, setKind, ApiStringProperty) \
  P(C, snippet, setSnippet, ApiModelProperty<ApiYouTubeSubscriptionSnippet>) \
  P(C, subscriberSnippet, setSubscriberSnippet, ApiModelProperty<ApiYouTubeSubscriptionSubscriberSnippet>)
#define ApiYouTubeSubscriptionContentDetails_PROPERTIES(P, C) \
  P(C, activityType, setActivityType, ApiStringProperty) \
  P(C, newItemCount, setNewItemCount, ApiNumberProperty) \
  P(C, totalItemCount, setTotalItemCount, ApiNumberProperty)
#define ApiYouTubeSubscriptionListResponse_PROPERTIES(P, C) \
  P(C, ETag, setETag, ApiStringProperty) \
  P(C, eventId, setEventId, ApiStringProperty) \
  P(C, items, setItems, ApiArrayProperty) \
  P(C, kind, setKind, ApiStringProperty) \
  P(C, nextPageToken, setNextPageToken, ApiStringProperty) \
  P(C, pageInfo, setPageInfo, ApiModelProperty<ApiYouTubePageInfo>) \
  P(C, prevPageToken, setPrevPageToken, ApiStringProperty) \
  P(C, tokenPagination, setTokenPagination, ApiModelProperty<ApiYouTubeTokenPagination>) \
  P(C, visitorId, setVisitorId, ApiStringProperty)
#define ApiYouTubeSubscriptionSnippet_PROPERTIES(P, C) \
  P(C, channelId, setChannelId, ApiStringProperty) \
  P(C, channelTitle, setChannelTitle, ApiStringProperty) \
  P(C, descriptionProperty, setDescriptionProperty, ApiStringProperty) \
  P(C, publishedAt, setPublishedAt, ApiDateTimeProperty) \
  P(C, resourceId, setResourceId, ApiModelProperty<ApiYouTubeResourceId>) \
  P(C, thumbnails, setThumbnails, ApiModelProperty<ApiYouTubeThumbnailDetails>) \
  P(C, title, setTitle, ApiStringProperty)
#define ApiYouTubeSubscriptionSubscriberSnippet_PROPERTIES(P, C) \
  P(C, channelId, setChannelId, ApiStringProperty) \
  P(C, descriptionProperty, setDescriptionProperty, ApiStringProperty) \
  P(C, thumbnails, setThumbnails, ApiModelProperty<ApiYouTubeThumbnailDetails>) \
  P(C, title, setTitle, ApiStringProperty)
#define ApiYouTubeThumbnail_PROPERTIES(P, C) \
  P(C, height, setHeight, ApiNumberProperty) \
  P(C, url, setUrl, ApiStringProperty) \
  P(C, width, setWidth, ApiNumberProperty)
#define ApiYouTubeThumbnailDetails_PROPERTIES(P, C) \
  P(C, defaultProperty, setDefaultProperty, ApiModelProperty<ApiYouTubeThumbnail>) \
  P(C, high, setHigh, ApiModelProperty<ApiYouTubeThumbnail>) \
  P(C, maxres, setMaxres, ApiModelProperty<ApiYouTubeThumbnail>) \
  P(C, medium, setMedium, ApiModelProperty<ApiYouTubeThumbnail>) \
  P(C, standard, setStandard, ApiModelProperty<ApiYouTubeThumbnail>)
#define ApiYouTubeThumbnailSetResponse_PROPERTIES(P, C) \
  P(C, ETag, setETag, ApiStringProperty) \
  P(C, eventId, setEventId, ApiStringProperty) \
  P(C, items, setItems, ApiArrayProperty) \
  P(C, kind, setKind, ApiStringProperty) \
  P(C, visitorId, setVisitorId, ApiStringProperty)
#define ApiYouTubeTokenPagination_PROPERTIES(P, C)
#define ApiYouTubeVideo_PROPERTIES(P, C) \
  P(C, ageGating, setAgeGating, ApiModelProperty<ApiYouTubeVideoAgeGating>) \
  P(C, contentDetails, setContentDetails, ApiModelProperty<ApiYouTubeVideoContentDetails>) \
  P(C, conversionPings, setConversionPings, ApiModelProperty<ApiYouTubeVideoConversionPings>) \
  P(C, ETag, setETag, ApiStringProperty) \
  P(C, fileDetails, setFileDetails, ApiModelProperty<ApiYouTubeVideoFileDetails>) \
  P(C, identifier, setIdentifier, ApiStringProperty) \
  P(C, kind, setKind, ApiStringProperty) \
  P(C, liveStreamingDetails, setLiveStreamingDetails, ApiModelProperty<ApiYouTubeVideoLiveStreamingDetails>) \
  P(C, monetizationDetails, setMonetizationDetails, ApiModelProperty<ApiYouTubeVideoMonetizationDetails>) \
  P(C, player, setPlayer, ApiModelProperty<ApiYouTubeVideoPlayer>) \
  P(C, processingDetails, setProcessingDetails, ApiModelProperty<ApiYouTubeVideoProcessingDetails>) \
  P(C, projectDetails, setProjectDetails, ApiModelProperty<ApiYouTubeVideoProjectDetails>) \
  P(C, recordingDetails, setRecordingDetails, ApiModelProperty<ApiYouTubeVideoRecordingDetails>) \
  P(C, snippet, setSnippet, ApiModelProperty<ApiYouTubeVideoSnippet>) \
  P(C, statistics, setStatistics, ApiModelProperty<ApiYouTubeVideoStatistics>) \
  P(C, status, setStatus, ApiModelProperty<ApiYouTubeVideoStatus>) \
  P(C, suggestions, setSuggestions, ApiModelProperty<ApiYouTubeVideoSuggestions>) \
  P(C, topicDetails, setTopicDetails, ApiModelProperty<ApiYouTubeVideoTopicDetails>)
#define ApiYouTubeVideoAgeGating_PROPERTIES(P, C) \
  P(C, alcoholContent, setAlcoholContent, ApiNumberProperty) \
  P(C, restricted, setRestricted, ApiNumberProperty) \
  P(C, videoGameRating, setVideoGameRating, ApiStringProperty)
#define ApiYouTubeVideoCategory_PROPERTIES(P, C) \
  P(C, ETag, setETag, ApiStringProperty) \
  P(C, identifier, setIdentifier, ApiStringProperty) \
  P(C, kind, setKind, ApiStringProperty) \
  P(C, snippet, setSnippet, ApiModelProperty<ApiYouTubeVideoCategorySnippet>)
#define ApiYouTubeVideoCategoryListResponse_PROPERTIES(P, C) \
  P(C, ETag, setETag, ApiStringProperty) \
  P(C, eventId, setEventId, ApiStringProperty) \
  P(C, items, setItems, ApiArrayProperty) \
  P(C, kind, setKind, ApiStringProperty) \
  P(C, nextPageToken, setNextPageToken, ApiStringProperty) \
  P(C, pageInfo, setPageInfo, ApiModelProperty<ApiYouTubePageInfo>) \
  P(C, prevPageToken, setPrevPageToken, ApiStringProperty) \
  P(C, tokenPagination, setTokenPagination, ApiModelProperty<ApiYouTubeTokenPagination>) \
  P(C, visitorId, setVisitorId, ApiStringProperty)
#define ApiYouTubeVideoCategorySnippet_PROPERTIES(P, C) \
  P(C, assignable, setAssignable, ApiNumberProperty) \
  P(C, channelId, setChannelId, ApiStringProperty) \
  P(C, title, setTitle, ApiStringProperty)
#define ApiYouTubeVideoContentDetails_PROPERTIES(P, C) \
  P(C, caption, setCaption, ApiStringProperty) \
  P(C, contentRating, setContentRating, ApiModelProperty<ApiYouTubeContentRating>) \
  P(C, countryRestriction, setCountryRestriction, ApiModelProperty<ApiYouTubeAccessPolicy>) \
  P(C, definition, setDefinition, ApiStringProperty) \
  P(C, dimension, setDimension, ApiStringProperty) \
  P(C, duration, setDuration, ApiStringProperty) \
  P(C, licensedContent, setLicensedContent, ApiNumberProperty) \
  P(C, regionRestriction, setRegionRestriction, ApiModelProperty<ApiYouTubeVideoContentDetailsRegionRestriction>)
#define ApiYouTubeVideoContentDetailsRegionRestriction_PROPERTIES(P, C) \
  P(C, allowed, setAllowed, ApiArrayProperty) \
  P(C, blocked, setBlocked, ApiArrayProperty)
#define ApiYouTubeVideoConversionPing_PROPERTIES(P, C) \
  P(C, context, setContext, ApiStringProperty) \
  P(C, conversionUrl, setConversionUrl, ApiStringProperty)
#define ApiYouTubeVideoConversionPings_PROPERTIES(P, C) \
  P(C, pings, setPings, ApiArrayProperty)
#define ApiYouTubeVideoFileDetails_PROPERTIES(P, C) \
  P(C, audioStreams, setAudioStreams, ApiArrayProperty) \
  P(C, bitrateBps, setBitrateBps, ApiNumberProperty) \
  P(C, container, setContainer, ApiStringProperty) \
  P(C, creationTime, setCreationTime, ApiStringProperty) \
  P(C, durationMs, setDurationMs, ApiNumberProperty) \
  P(C, fileName, setFileName, ApiStringProperty) \
  P(C, fileSize, setFileSize, ApiNumberProperty) \
  P(C, fileType, setFileType, ApiStringProperty) \
  P(C, recordingLocation, setRecordingLocation, ApiModelProperty<ApiYouTubeGeoPoint>) \
  P(C, videoStreams, setVideoStreams, ApiArrayProperty)
#define ApiYouTubeVideoFileDetailsAudioStream_PROPERTIES(P, C) \
  P(C, bitrateBps, setBitrateBps, ApiNumberProperty) \
  P(C, channelCount, setChannelCount, ApiNumberProperty) \
  P(C, codec, setCodec, ApiStringProperty) \
  P(C, vendor, setVendor, ApiStringProperty)
#define ApiYouTubeVideoFileDetailsVideoStream_PROPERTIES(P, C) \
  P(C, aspectRatio, setAspectRatio, ApiNumberProperty) \
  P(C, bitrateBps, setBitrateBps, ApiNumberProperty) \
  P(C, codec, setCodec, ApiStringProperty) \
  P(C, frameRateFps, setFrameRateFps, ApiNumberProperty) \
  P(C, heightPixels, setHeightPixels, ApiNumberProperty) \
  P(C, rotation, setRotation, ApiStringProperty) \
  P(C, vendor, setVendor, ApiStringProperty) \
  P(C, widthPixels, setWidthPixels, ApiNumberProperty)
#define ApiYouTubeVideoGetRatingResponse_PROPERTIES(P, C) \
  P(C, ETag, setETag, ApiStringProperty) \
  P(C, items, setItems, ApiArrayProperty) \
  P(C, kind, setKind, ApiStringProperty)
#define ApiYouTubeVideoListResponse_PROPERTIES(P, C) \
  P(C, ETag, setETag, ApiStringProperty) \
  P(C, eventId, setEventId, ApiStringProperty) \
  P(C, items, setItems, ApiArrayProperty) \
  P(C, kind, setKind, ApiStringProperty) \
  P(C, nextPageToken, setNextPageToken, ApiStringProperty) \
  P(C, pageInfo, setPageInfo, ApiModelProperty<ApiYouTubePageInfo>) \
  P(C, prevPageToken, setPrevPageToken, ApiStringProperty) \
  P(C, tokenPagination, setTokenPagination, ApiModelProperty<ApiYouTubeTokenPagination>) \
  P(C, visitorId, setVisitorId, ApiStringProperty)
#define ApiYouTubeVideoLiveStreamingDetails_PROPERTIES(P, C) \
  P(C, actualEndTime, setActualEndTime, ApiDateTimeProperty) \
  P(C, actualStartTime, setActualStartTime, ApiDateTimeProperty) \
  P(C, concurrentViewers, setConcurrentViewers, ApiNumberProperty) \
  P(C, scheduledEndTime, setScheduledEndTime, ApiDateTimeProperty) \
  P(C, scheduledStartTime, setScheduledStartTime, ApiDateTimeProperty)
#define ApiYouTubeVideoMonetizationDetails_PROPERTIES(P, C) \
  P(C, access, setAccess, ApiModelProperty<ApiYouTubeAccessPolicy>)
#define ApiYouTubeVideoPlayer_PROPERTIES(P, C) \
  P(C, embedHtml, setEmbedHtml, ApiStringProperty)
#define ApiYouTubeVideoProcessingDetails_PROPERTIES(P, C) \
  P(C, editorSuggestionsAvailability, setEditorSuggestionsAvailability, ApiStringProperty) \
  P(C, fileDetailsAvailability, setFileDetailsAvailability, ApiStringProperty) \
  P(C, processingFailureReason, setProcessingFailureReason, ApiStringProperty) \
  P(C, processingIssuesAvailability, setProcessingIssuesAvailability, ApiStringProperty) \
  P(C, processingProgress, setProcessingProgress, ApiModelProperty<ApiYouTubeVideoProcessingDetailsProcessingProgress>) \
  P(C, processingStatus, setProcessingStatus, ApiStringProperty) \
  P(C, tagSuggestionsAvailability, setTagSuggestionsAvailability, ApiStringProperty) \
  P(C, thumbnailsAvailability, setThumbnailsAvailability, ApiStringProperty)
#define ApiYouTubeVideoProcessingDetailsProcessingProgress_PROPERTIES(P, C) \
  P(C, partsProcessed, setPartsProcessed, ApiNumberProperty) \
  P(C, partsTotal, setPartsTotal, ApiNumberProperty) \
  P(C, timeLeftMs, setTimeLeftMs, ApiNumberProperty)
#define ApiYouTubeVideoProjectDetails_PROPERTIES(P, C) \
  P(C, tags, setTags, ApiArrayProperty)
#define ApiYouTubeVideoRating_PROPERTIES(P, C) \
  P(C, rating, setRating, ApiStringProperty) \
  P(C, videoId, setVideoId, ApiStringProperty)
#define ApiYouTubeVideoRecordingDetails_PROPERTIES(P, C) \
  P(C, location, setLocation, ApiModelProperty<ApiYouTubeGeoPoint>) \
  P(C, locationDescription, setLocationDescription, ApiStringProperty) \
  P(C, recordingDate, setRecordingDate, ApiDateTimeProperty)
#define ApiYouTubeVideoSnippet_PROPERTIES(P, C) \
  P(C, categoryId, setCategoryId, ApiStringProperty) \
  P(C, channelId, setChannelId, ApiStringProperty) \
  P(C, channelTitle, setChannelTitle, ApiStringProperty) \
  P(C, descriptionProperty, setDescriptionProperty, ApiStringProperty) \
  P(C, liveBroadcastContent, setLiveBroadcastContent, ApiStringProperty) \
  P(C, publishedAt, setPublishedAt, ApiDateTimeProperty) \
  P(C, tags, setTags, ApiArrayProperty) \
  P(C, thumbnails, setThumbnails, ApiModelProperty<ApiYouTubeThumbnailDetails>) \
  P(C, title, setTitle, ApiStringProperty)
#define ApiYouTubeVideoStatistics_PROPERTIES(P, C) \
  P(C, commentCount, setCommentCount, ApiNumberProperty) \
  P(C, dislikeCount, setDislikeCount, ApiNumberProperty) \
  P(C, favoriteCount, setFavoriteCount, ApiNumberProperty) \
  P(C, likeCount, setLikeCount, ApiNumberProperty) \
  P(C, viewCount, setViewCount, ApiNumberProperty)
#define ApiYouTubeVideoStatus_PROPERTIES(P, C) \
  P(C, embeddable, setEmbeddable, ApiNumberProperty) \
  P(C, failureReason, setFailureReason, ApiStringProperty) \
  P(C, license, setLicense, ApiStringProperty) \
  P(C, privacyStatus, setPrivacyStatus, ApiStringProperty) \
  P(C, publicStatsViewable, setPublicStatsViewable, ApiNumberProperty) \
  P(C, publishAt, setPublishAt, ApiDateTimeProperty) \
  P(C, rejectionReason, setRejectionReason, ApiStringProperty) \
  P(C, uploadStatus, setUploadStatus, ApiStringProperty)
#define ApiYouTubeVideoSuggestions_PROPERTIES(P, C) \
  P(C, editorSuggestions, setEditorSuggestions, ApiArrayProperty) \
  P(C, processingErrors, setProcessingErrors, ApiArrayProperty) \
  P(C, processingHints, setProcessingHints, ApiArrayProperty) \
  P(C, processingWarnings, setProcessingWarnings, ApiArrayProperty) \
  P(C, tagSuggestions, setTagSuggestions, ApiArrayProperty)
#define ApiYouTubeVideoSuggestionsTagSuggestion_PROPERTIES(P, C) \
  P(C, categoryRestricts, setCategoryRestricts, ApiArrayProperty) \
  P(C, tag, setTag, ApiStringProperty)
#define ApiYouTubeVideoTopicDetails_PROPERTIES(P, C) \
  P(C, relevantTopicIds, setRelevantTopicIds, ApiArrayProperty) \
  P(C, topicIds, setTopicIds, ApiArrayProperty)
#define ApiYouTubeWatchSettings_PROPERTIES(P, C) \
  P(C, backgroundColor, setBackgroundColor, ApiStringProperty) \
  P(C, featuredPlaylistId, setFeaturedPlaylistId, ApiStringProperty) \
  P(C, textColor, setTextColor, ApiStringProperty)

#define API_YOUTUBE_ARRAY_CLASSES(A) \
  A(ApiYouTubeAccessPolicy, "exception", "NSString") \
  A(ApiYouTubeActivityContentDetailsPromotedItem, "forecastingUrl", "NSString") \
  A(ApiYouTubeActivityContentDetailsPromotedItem, "impressionUrl", "NSString") \
  A(ApiYouTubeActivityListResponse, "items", "ApiYouTubeActivity") \
  A(ApiYouTubeChannelBrandingSettings, "hints", "ApiYouTubePropertyValue") \
  A(ApiYouTubeChannelConversionPings, "pings", "ApiYouTubeChannelConversionPing") \
  A(ApiYouTubeChannelListResponse, "items", "ApiYouTubeChannel") \
  A(ApiYouTubeChannelSectionContentDetails, "channels", "NSString") \
  A(ApiYouTubeChannelSectionContentDetails, "playlists", "NSString") \
  A(ApiYouTubeChannelSectionListResponse, "items", "ApiYouTubeChannelSection") \
  A(ApiYouTubeChannelSettings, "featuredChannelsUrls", "NSString") \
  A(ApiYouTubeChannelTopicDetails, "topicIds", "NSString") \
  A(ApiYouTubeGuideCategoryListResponse, "items", "ApiYouTubeGuideCategory") \
  A(ApiYouTubeI18nLanguageListResponse, "items", "ApiYouTubeI18nLanguage") \
  A(ApiYouTubeI18nRegionListResponse, "items", "ApiYouTubeI18nRegion") \
  A(ApiYouTubeInvideoPromotion, "items", "ApiYouTubePromotedItem") \
  A(ApiYouTubeLiveBroadcastListResponse, "items", "ApiYouTubeLiveBroadcast") \
  A(ApiYouTubeLiveStreamListResponse, "items", "ApiYouTubeLiveStream") \
  A(ApiYouTubeLocalizedProperty, "localized", "ApiYouTubeLocalizedString") \
  A(ApiYouTubePlaylistItemListResponse, "items", "ApiYouTubePlaylistItem") \
  A(ApiYouTubePlaylistListResponse, "items", "ApiYouTubePlaylist") \
  A(ApiYouTubePlaylistSnippet, "tags", "NSString") \
  A(ApiYouTubeSearchListResponse, "items", "ApiYouTubeSearchResult") \
  A(ApiYouTubeSubscriptionListResponse, "items", "ApiYouTubeSubscription") \
  A(ApiYouTubeThumbnailSetResponse, "items", "ApiYouTubeThumbnailDetails") \
  A(ApiYouTubeVideoCategoryListResponse, "items", "ApiYouTubeVideoCategory") \
  A(ApiYouTubeVideoContentDetailsRegionRestriction, "allowed", "NSString") \
  A(ApiYouTubeVideoContentDetailsRegionRestriction, "blocked", "NSString") \
  A(ApiYouTubeVideoConversionPings, "pings", "ApiYouTubeVideoConversionPing") \
  A(ApiYouTubeVideoFileDetails, "audioStreams", "ApiYouTubeVideoFileDetailsAudioStream") \
  A(ApiYouTubeVideoFileDetails, "videoStreams", "ApiYouTubeVideoFileDetailsVideoStream") \
  A(ApiYouTubeVideoGetRatingResponse, "items", "ApiYouTubeVideoRating") \
  A(ApiYouTubeVideoListResponse, "items", "ApiYouTubeVideo") \
  A(ApiYouTubeVideoSuggestions, "editorSuggestions", "NSString") \
  A(ApiYouTubeVideoSuggestions, "processingErrors", "NSString") \
  A(ApiYouTubeVideoSuggestions, "processingHints", "NSString") \
  A(ApiYouTubeVideoSuggestions, "processingWarnings", "NSString") \
  A(ApiYouTubeVideoSuggestions, "tagSuggestions", "ApiYouTubeVideoSuggestionsTagSuggestion") \
  A(ApiYouTubeVideoSuggestionsTagSuggestion, "categoryRestricts", "NSString") \
  A(ApiYouTubeVideoTopicDetails, "relevantTopicIds", "NSString") \
  A(ApiYouTubeVideoTopicDetails, "topicIds", "NSString") \
  A(ApiYouTubeVideoProjectDetails, "tags", "NSString") \
  A(ApiYouTubeVideoSnippet, "tags", "NSString")
// clang-format on
