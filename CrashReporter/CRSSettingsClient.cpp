#include "CrashReporter/CRSSettingsClient.h"

#include <filesystem>

#include "CrashReporter/CRSContext.h"
#include "CrashReporter/CRSDebugLog.h"
#include "CrashReporter/CRSKeys.h"
#include "CrashReporter/CRSSystemInfo.h"
#include "platform/core/Format.h"
#include "platform/foundation/FileIO.h"

namespace {

void onGlobalQueue(std::function<void()> block) {
  dispatch::async(dispatch::globalQueue(dispatch::Priority::Default), std::move(block));
}

std::string hex(const ns::Data& data) {
  return CRSHexEncode(data.bytes(), data.length());
}

std::string errorText(const std::optional<ns::Error>& error) {
  return error ? error->description() : std::string("(null)");
}

}  // namespace

CRSSettingsClient::CRSSettingsClient(ns::Ref<ns::URL> url) : CRSClientBase(std::move(url)) {
  // Settings come back as property lists.
  webClient()->addValue_forHeader("application/x-plist", "Accept");
}

void CRSSettingsClient::removeInstallEventKey() {
  if (auto d = settingsDelegate()) d->removeInstallEventKey();
}

std::optional<ns::Data> CRSSettingsClient::eventData() const {
  auto d = settingsDelegate();
  if (!d) return std::nullopt;
  auto events = d->eventArray();
  if (!events || events->empty()) return std::nullopt;
  ns::Log("[CT] events %li.", static_cast<long>(events->size()));
  return headerDataForArray(*events);
}

std::string CRSSettingsClient::settingsPath() const {
  std::string path = "/spi/v2/platforms";
  path += ns::format("/%s/apps", "mac");
  path += ns::format("/%@/settings", CRSWebClient::escapeURLString(bundleId()));
  path += ns::format("?build_version=%@", CRSWebClient::escapeURLString(bundleVersion().value_or("(null)")));
  if (auto shortVersion = shortBundleVersion()) {
    path += ns::format("&display_version=%@", CRSWebClient::escapeURLString(*shortVersion));
  }
  path += ns::format("&instance=%@", CRSWebClient::escapeURLString(instanceIdentifier()));
  path += ns::format("&source=%@", sourceString());
  auto d = settingsDelegate();
  if (auto icon = d ? d->icon() : nullptr; icon && !icon->dataHash().empty()) {
    path += ns::format("&icon_hash=%@", icon->dataHash());
  }
  return path;
}

void CRSSettingsClient::loadSettingsWithCompletion(SettingsCompletion completion) {
  auto request = CRSWebRequest::requestWithMethod_path("GET", settingsPath());
  request->setMaximumResponseLength(CRSMaximumSettingsAnswerLength);
  if (CRSContextIsInitialized()) {
    if (auto events = eventData()) {
      request->addValue_forHTTPHeaderField(hex(*events), CRSHeaderEvents);
      ns::Log("[CT] header data added.");
    }
  }
  if (auto identity = identificationData())
    request->addValue_forHTTPHeaderField(hex(*identity), CRSHeaderIdentification);
  request->addValue_forHTTPHeaderField(ns::format("%u", deviceState()), CRSHeaderDeviceState);
  request->addValue_forHTTPHeaderField(APIKey(), CRSHeaderAPIKey);
  CRSDebugLog("[CrashReporter] Settings url string: '%@%@'",
              webClient()->URL() ? webClient()->URL()->absoluteString() : std::string("(null)"),
              request->path());

  auto self = std::static_pointer_cast<CRSSettingsClient>(shared_from_this());
  webClient()->startRequest_completion(request, [self, completion](const ns::Ref<CRSWebResponse>& response) {
    CRSDebugLog("[CrashReporter] Settings response: {status: %ld, error: %@}",
                static_cast<long>(response->statusCode()), errorText(response->error()));
    if (!completion) return;
    if (response->error()) return completion({}, response->error());
    if (response->wasSuccessful() && response->body().isDictionary()) {
      if (CRSContextIsInitialized()) self->removeInstallEventKey();
      CRSDebugLog("[CrashReporter] Settings body: %@", response->body());
      return completion(response->body(), std::nullopt);
    }
    completion({}, ns::Error(CRSClientErrorDomain, -1));
  });
}

void CRSSettingsClient::configureApplicationUsingURL_asNewApp_completion(ns::Ref<ns::URL> url, bool asNewApp,
                                                                         Completion completion) {
  if (!url) {
    CRSDebugLog("[CrashReporter] [Client] configure URL invalid");
    onGlobalQueue([completion] {
      if (completion) completion(ns::Error(CRSClientErrorDomain, -3));
    });
    return;
  }
  auto request = CRSWebRequest::requestWithMethod_path(asNewApp ? "POST" : "PUT", "");
  request->setURL(std::move(url));
  request->addValue_forFormField(bundleId(), "app[identifier]");
  request->addValue_forFormField(instanceIdentifier(), "app[instance_identifier]");
  request->addValue_forFormField(applicationName(), "app[name]");
  request->addValue_forFormField(bundleVersion(), "app[build_version]");
  request->addValue_forFormField(shortBundleVersion(), "app[display_version]");
  request->addValue_forFormField(sourceString(), "app[source]");
  request->addValue_forFormField(minimumSDKVersion(), "app[minimum_sdk_version]");
  request->addValue_forFormField(builtSDKVersion(), "app[built_sdk_version]");
  ns::Dictionary libraries;
  for (const auto& [name, version] : SDKKitVersions_) libraries.set(name, version);
  request->addValueForFormFromDict_withPrefix(libraries, "app[build][libraries]");
  if (auto slices = executableSlices()) {
    for (const auto& [arch, uuid] : *slices) {
      request->addValue_forFormField(arch, "app[slices][][arch]");
      request->addValue_forFormField(uuid, "app[slices][][uuid]");
    }
  }
  auto d = settingsDelegate();
  if (auto icon = d ? d->icon() : nullptr) {
    request->addValue_forFormField(icon->dataHash(), "app[icon][hash]");
    request->addValue_forFormField(icon->prerendered() ? "true" : "false", "app[icon][prerendered]");
    request->addValue_forFormField(ns::format("%lu", static_cast<unsigned long>(icon->size().width)),
                                   "app[icon][width]");
    request->addValue_forFormField(ns::format("%lu", static_cast<unsigned long>(icon->size().height)),
                                   "app[icon][height]");
    request->addData_MIMEType_fileName_forFormField(icon->data(), std::string("image/png"),
                                                    std::string("icon.png"), "app[icon][data]");
  }
  request->addValue_forHTTPHeaderField(APIKey(), CRSHeaderAPIKey);
  webClient()->startRequest_completion(request, [completion](const ns::Ref<CRSWebResponse>& response) {
    if (!completion) return;
    if (response->error()) return completion(response->error());
    if (!response->wasSuccessful()) return completion(ns::Error(CRSClientErrorDomain, -2));
    completion(std::nullopt);
  });
}

void CRSSettingsClient::submitCRSFileAtPath_toURL_asInvalid_completion(const std::string& path,
                                                                       ns::Ref<ns::URL> url, bool asInvalid,
                                                                       Completion completion) {
  auto failNow = [completion](long code) {
    onGlobalQueue([completion, code] {
      if (completion) completion(ns::Error(CRSClientErrorDomain, code));
    });
  };
  if (!url) {
    CRSDebugLog("[CrashReporter] [Client] submission URL invalid");
    return failNow(-3);
  }
  auto data = ns::dataWithContentsOfFile(path);
  if (!data) {
    CRSDebugLog("[CrashReporter] [Client] Could not read data from %@", path);
    return failNow(-4);
  }
  std::filesystem::path file(path);
  std::string fileName = file.filename().string();
  std::string identifier = file.stem().string();

  auto request = CRSWebRequest::requestWithMethod_path("POST", "");
  request->setURL(std::move(url));
  if (asInvalid) request->addValue_forHTTPHeaderField("1", CRSHeaderInvalidSession);
  request->addValue_forHTTPHeaderField(APIKey(), CRSHeaderAPIKey);
  request->addValue_forFormField(identifier, "report[identifier]");
  request->addData_MIMEType_fileName_forFormField(*data, std::string("application/octet-stream"), fileName,
                                                  "report[file]");
  webClient()->startRequest_completion(
      request, [completion, fileName](const ns::Ref<CRSWebResponse>& response) {
        CRSDebugLog("[CrashReporter] Submission response: {status: %ld, error: %@}",
                    static_cast<long>(response->statusCode()), errorText(response->error()));
        CRSDebugLog("[CrashReporter] Submitted crash report with file name: \"%@\", request-id: %@", fileName,
                    response->responseHeaders().get("X-Request-Id").value_or("<none received>"));
        if (!completion) return;
        if (response->error()) return completion(response->error());
        std::uint64_t status = response->statusCode();
        if (status >= 400 && status <= 499) return completion(ns::Error(CRSClientErrorDomain, -5));
        if (!response->wasSuccessful()) return completion(ns::Error(CRSClientErrorDomain, -6));
        completion(std::nullopt);
      });
}

void CRSSettingsClient::submitEventLogFilesAtPaths_toURL_completion(const std::vector<std::string>& paths,
                                                                    ns::Ref<ns::URL> url,
                                                                    Completion completion) {
  auto finish = [completion](std::optional<ns::Error> error) {
    onGlobalQueue([completion, error] {
      if (completion) completion(error);
    });
  };
  if (!url) {
    CRSDebugLog("[CrashReporter] [Client] submision URL invalid");
    return finish(ns::Error(CRSClientErrorDomain, -3));
  }
  if (paths.empty()) return finish(std::nullopt);
  auto request = CRSWebRequest::requestWithMethod_path("POST", "");
  request->setURL(std::move(url));
  request->addValue_forHTTPHeaderField(APIKey(), CRSHeaderAPIKey);
  for (const auto& path : paths) {
    auto data = ns::dataWithContentsOfFile(path);
    if (!data) {
      CRSDebugLog("[CrashReporter] [Client] Could not read data from %@", path);
      return finish(ns::Error(CRSClientErrorDomain, -4));
    }
    std::string name = std::filesystem::path(path).filename().string();
    request->addData_MIMEType_fileName_forFormField(*data, std::string(CRSAnalyticsEventMIMEType), name,
                                                    name);
  }
  webClient()->startRequest_completion(request, [completion](const ns::Ref<CRSWebResponse>& response) {
    CRSDebugLog("[CrashReporter] Analytics response: {status: %ld, error: %@}",
                static_cast<long>(response->statusCode()), errorText(response->error()));
    if (!completion) return;
    if (response->error()) return completion(response->error());
    std::uint64_t status = response->statusCode();
    if (status >= 400 && status <= 499) return completion(ns::Error(CRSClientErrorDomain, -5));
    if (!response->wasSuccessful()) return completion(ns::Error(CRSClientErrorDomain, -6));
    completion(std::nullopt);
  });
}
