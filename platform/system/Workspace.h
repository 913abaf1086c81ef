#pragma once
// The workspace: opens URLs in the user's default programs and shows files in the file manager.
//
//   ak::Workspace::sharedWorkspace()->openURL(ns::URL::URLWithString("https://example.test/"));
//
// URLs often come from network replies, so only http, https and mailto URLs and file URLs of
// existing files are opened, each handed as one argument (never through a shell) to the opener
// (see SystemServiceSettings.h). Showing files goes to the file manager on the session bus off
// the calling thread, and to the opener on the containing folders when the bus has none.
#include <string>
#include <vector>

#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/net/URL.h"

namespace ak {

class Workspace : public ns::Object {
 public:
  static ns::Ref<Workspace> sharedWorkspace();

  // YES when the opener started on the URL and did not fail at once (within the settings'
  // failure window, which the call waits for at most). NO, without running anything, for nil,
  // for other schemes ("javascript:", "data:", ...), for web URLs without a host and for file
  // URLs of missing files; NO when the opener is missing or failed, with `error` filled.
  bool openURL(const ns::Ref<ns::URL>& url, ns::Error* error = nullptr);

  // Shows the files selected in the file manager; URLs that are not file URLs are left out.
  // Returns at once; the file manager is reached off the calling thread.
  void activateFileViewerSelectingURLs(const std::vector<ns::Ref<ns::URL>>& fileURLs);

  // Shows the file selected in the file manager: NO when it does not exist. An empty `fullPath`
  // opens the folder `rootFullPath` instead (NO when that is not a folder). Returns at once.
  bool selectFile_inFileViewerRootedAtPath(const std::string& fullPath, const std::string& rootFullPath);

  // Whether openURL would hand this URL to the opener.
  static bool isOpenableURL(const ns::URL& url);

  std::string className() const override { return "NSWorkspace"; }
};

}  // namespace ak
