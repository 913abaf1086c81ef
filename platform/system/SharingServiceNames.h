#pragma once
// The names of the sharing services, as the platform spells them.
namespace ak {

inline constexpr char SharingServiceNamePostOnTwitter[] = "com.apple.share.Twitter.post";
inline constexpr char SharingServiceNamePostOnFacebook[] = "com.apple.share.Facebook.post";

}  // namespace ak
