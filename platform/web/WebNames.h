#pragma once
// The web view's action-information keys and navigation types.
namespace wk {

inline constexpr char WebActionNavigationTypeKey[] = "WebActionNavigationTypeKey";
inline constexpr char WebActionOriginalURLKey[] = "WebActionOriginalURLKey";
inline constexpr char WebActionModifierFlagsKey[] = "WebActionModifierFlagsKey";

enum WebNavigationType : long {
  WebNavigationTypeLinkClicked = 0,
  WebNavigationTypeFormSubmitted = 1,
  WebNavigationTypeBackForward = 2,
  WebNavigationTypeReload = 3,
  WebNavigationTypeFormResubmitted = 4,
  WebNavigationTypeOther = 5,
};

}  // namespace wk
