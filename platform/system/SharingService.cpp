#include "platform/system/SharingService.h"

#include "platform/dispatch/Queue.h"
#include "platform/net/PercentEncoding.h"
#include "platform/runtime/ClassBuilder.h"
#include "platform/runtime/Send.h"
#include "platform/system/Opener.h"
#include "platform/system/SystemServiceSettings.h"
#include "platform/system/Workspace.h"

namespace ak {
namespace {

const ns::Sel kDidShare("sharingService:didShareItems:");
const ns::Sel kDidFail("sharingService:didFailToShareItems:error:");

constexpr long kFeatureUnsupportedError = 3328;  // NSFeatureUnsupportedError

ns::Ref<ns::Object> delegateGetter(SharingService* self, ns::Sel) {
  return self->delegate();
}
void delegateSetter(SharingService* self, ns::Sel, ns::Ref<ns::Object> delegate) {
  self->setDelegate(delegate);
}

std::string escaped(const std::string& value) {
  return ns::stringByAddingPercentEncodingWithAllowedCharacters(
      value, ns::URLCharacterSet::unreservedCharacterSet());
}

std::string withoutTrailingSlash(std::string text) {
  while (!text.empty() && text.back() == '/') text.pop_back();
  return text;
}

}  // namespace

PL_PROTOCOL(NSSharingServiceDelegate) {
  proto.adopts("NSObject");
  proto.optional<void(ns::Ref<SharingService>, ns::Array)>("sharingService:didShareItems:");
  proto.optional<void(ns::Ref<SharingService>, ns::Array, ns::Ref<ns::ErrorObject>)>(
      "sharingService:didFailToShareItems:error:");
}

PL_CLASS_NAMED(SharingService, "NSSharingService", ns::Object) {
  cls.method<&delegateGetter>("delegate");
  cls.method<&delegateSetter>("setDelegate:");
  cls.declaredProperty("delegate", "T@\"<NSSharingServiceDelegate>\",W,N");
}

ns::Ref<SharingService> SharingService::sharingServiceNamed(const std::string& name) {
  if (name != SharingServiceNamePostOnTwitter && name != SharingServiceNamePostOnFacebook) return nullptr;
  return ns::make<SharingService>(name);
}

bool SharingService::canPerformWithItems(const std::optional<ns::Array>&) const {
  return sys::sharePageHost(name_).has_value() && sys::resolveOpener().has_value();
}

ns::Ref<ns::URL> SharingService::sharePageURLForItems(const ns::Array& items) const {
  auto host = sys::sharePageHost(name_);
  if (!host) return nullptr;
  std::optional<std::string> text, link;
  for (const auto& item : items) {
    if (!text && item.isString()) text = item.string();
    if (!link && item.isObject()) {
      if (auto url = item.objectAs<ns::URL>()) link = url->absoluteString();
    }
  }
  if (!text && !link) return nullptr;

  struct Field {
    const char* key;
    const std::optional<std::string>* value;
  };
  std::string page = withoutTrailingSlash(*host);
  std::vector<Field> fields;
  if (name_ == SharingServiceNamePostOnTwitter) {
    page += "/intent/tweet";
    fields = {{"text", &text}, {"url", &link}};
  } else {
    page += "/sharer/sharer.php";
    fields = {{"u", &link}, {"t", &text}};
  }
  char separator = '?';
  for (const auto& field : fields) {
    if (!*field.value) continue;
    page += separator;
    page += field.key;
    page += '=';
    page += escaped(**field.value);
    separator = '&';
  }
  return ns::URL::URLWithString(page);
}

void SharingService::performWithItems(const ns::Array& items) {
  ns::Error error;
  bool shared = false;
  if (auto page = sharePageURLForItems(items)) {
    shared = Workspace::sharedWorkspace()->openURL(page, &error);
    if (!shared && error.domain().empty()) {
      error = ns::Error::withDescription(ns::NSCocoaErrorDomain, kFeatureUnsupportedError,
                                         "The share page " + page->absoluteString() + " cannot be opened.");
    }
  } else {
    error = ns::Error::withDescription(ns::NSCocoaErrorDomain, kFeatureUnsupportedError,
                                       "The items cannot be shared with this service.");
  }
  auto self = std::static_pointer_cast<SharingService>(shared_from_this());
  // The delegate hears it on a later turn, as it would once a share sheet had closed.
  dispatch::async(dispatch::mainQueue(), [self, items, shared, error] {
    auto delegate = self->delegate();
    if (!delegate) return;
    if (shared) {
      if (ns::respondsToSelector(delegate, kDidShare)) ns::send(delegate, kDidShare, self, items);
    } else if (ns::respondsToSelector(delegate, kDidFail)) {
      ns::send(delegate, kDidFail, self, items, ns::make<ns::ErrorObject>(error));
    }
  });
}

}  // namespace ak
