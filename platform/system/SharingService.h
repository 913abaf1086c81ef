#pragma once
// Sharing services: posting a text and a link to a social service. No share sheet exists here:
// a service opens its web share page, built from the items, in the default browser through the
// workspace, and tells its delegate (through the runtime, NSSharingServiceDelegate) on a later
// turn of the main queue:
//   sharingService:didShareItems:             once the opener started on the page;
//   sharingService:didFailToShareItems:error: when it could not.
//
//   auto service = ak::SharingService::sharingServiceNamed(ak::SharingServiceNamePostOnTwitter);
//   service->setDelegate(table);
//   service->performWithItems({ns::Value(shortLink), ns::Value(text)});
#include <optional>
#include <string>

#include "platform/core/Error.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"
#include "platform/net/URL.h"
#include "platform/system/SharingServiceNames.h"

namespace ak {

class SharingService : public ns::Object {
 public:
  // The service of that name (SharingServiceNamePostOnTwitter, SharingServiceNamePostOnFacebook);
  // nullptr for any other name.
  static ns::Ref<SharingService> sharingServiceNamed(const std::string& name);

  explicit SharingService(std::string name) : name_(std::move(name)) {}
  const std::string& name() const { return name_; }

  // Not retained.
  ns::Ref<ns::Object> delegate() const { return delegate_.lock(); }
  void setDelegate(const ns::Ref<ns::Object>& delegate) { delegate_ = delegate; }

  // YES when the service has a web share page and an opener exists; the items are not looked at.
  bool canPerformWithItems(const std::optional<ns::Array>& items) const;
  // Opens the share page for the items and tells the delegate how it went.
  void performWithItems(const ns::Array& items);

  // The web share page for the items: their first text and first link (an ns::URL object),
  // each escaped with the unreserved characters of URLs alone ("text" and "url" on
  // "/intent/tweet", "u" and "t" on "/sharer/sharer.php"); nullptr when the service has no page
  // or the items hold neither a text nor a link.
  ns::Ref<ns::URL> sharePageURLForItems(const ns::Array& items) const;

  std::string className() const override { return "NSSharingService"; }

 private:
  std::string name_;
  ns::Weak<ns::Object> delegate_;
};

}  // namespace ak
