#include "app/shell/PLMAppDelegate.h"

#include <filesystem>
#include <system_error>

#include "CrashReporter/CrashReporter.h"
#include "app/browse/BrowseHooks.h"
#include "app/cache/CacheState.h"
#include "app/shell/DownloadQualitySheet.h"
#include "app/shell/MainWindowController.h"
#include "app/youtube/StreamResolver.h"
#include "app/youtube/YoutubeStreamResolver.h"
#include "common/AppUtilities.h"
#include "common/CacheUtilities.h"
#include "common/IMainWindowController.h"
#include "lib/logging/LogHub.h"
#include "platform/appkit/Application.h"
#include "platform/appkit/Event.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/Window.h"
#include "platform/core/Log.h"
#include "platform/runloop/Clock.h"
#include "platform/runtime/ClassBuilder.h"

PL_CLASS(PLMAppDelegate, ns::Object) {
  cls.method<&PLMAppDelegate::applicationDidFinishLaunching>("applicationDidFinishLaunching:");
  cls.method<&PLMAppDelegate::applicationWillTerminate>("applicationWillTerminate:");
  cls.method<&PLMAppDelegate::applicationShouldTerminateAfterLastWindowClosed>(
      "applicationShouldTerminateAfterLastWindowClosed:");
  cls.method<&PLMAppDelegate::terminate>("terminate:");
  cls.method<&PLMAppDelegate::onExportBookmarks>("onExportBookmarks:");
  cls.method<&PLMAppDelegate::onImportBookmarks>("onImportBookmarks:");
  cls.method<&PLMAppDelegate::validateMenuItem>("validateMenuItem:");
  cls.method<&PLMAppDelegate::onBackBtn>("onBackBtn:");
  cls.method<&PLMAppDelegate::onForwardBtn>("onForwardBtn:");
  cls.method<&PLMAppDelegate::onCurrentPlaylistBtn>("onCurrentPlaylistBtn:");
  cls.method<&PLMAppDelegate::onShortSeekForward>("onShortSeekForward:");
  cls.method<&PLMAppDelegate::onShortSeekBack>("onShortSeekBack:");
  cls.method<&PLMAppDelegate::onLogin>("onLogin:");
  cls.method<&PLMAppDelegate::onLogout>("onLogout:");
}

void PLMAppDelegate::applicationDidFinishLaunching(const ns::Ref<ns::Notification>&) {
  setAppDelegate(std::static_pointer_cast<PLMAppDelegate>(shared_from_this()));
  // What other modules declared for the browsing interface and the cache to fill in.
  installBrowseHooks();
  StreamResolver::setSharedResolver(ns::make<YoutubeStreamResolver>());
  installCacheStateFunctions();
  installDownloadQualitySheet();
  // The source list reads the library store while the main window's interface is built.
  createAppSupportFolder();

  mainWindowController_ = MainWindowController::initWithDefaultNib();
  setMainWindowController(mainWindowController_);
  mainWindowController_->showWindow(nullptr);

  CrashReporter::startWithAPIKey(kCrashReporterAPIKey);
}

void PLMAppDelegate::applicationWillTerminate(const ns::Ref<ns::Notification>&) {
  // Log records still queued reach their loggers before the process goes.
  LogHub::applicationWillTerminate();
  // On screen `run` sees its stop only with the next event: one is posted, so that the run ends
  // now and not at the next movement of the mouse.
  auto app = ak::Application::sharedApplication();
  app->postEvent_atStart(
      ak::Event::otherEventWithType_location_modifierFlags_timestamp_windowNumber_context_subtype_data1_data2(
          ak::EventType::ApplicationDefined, ak::Point{0, 0}, 0, ns::Clock::now(), 0, nullptr, 0, 0, 0),
      true);
}

void PLMAppDelegate::terminate(const ns::Ref<ns::Object>& sender) {
  ak::Application::sharedApplication()->terminate(sender);
}

bool PLMAppDelegate::createAppSupportFolder() {
  auto file = getAppSupportFilePath("pelorin_web.db");
  if (!file) return false;
  const std::filesystem::path folder = std::filesystem::path(*file).parent_path();
  std::error_code error;
  if (std::filesystem::is_directory(folder, error)) return true;
  if (std::filesystem::exists(std::filesystem::symlink_status(folder, error))) {
    ns::LogWarning("PLMAppDelegate: %@ is not a folder; the library is not kept this time", folder.string());
    return false;
  }
  std::filesystem::create_directories(folder, error);
  if (error) {
    ns::LogWarning("PLMAppDelegate: cannot create %@: %@", folder.string(), error.message());
    return false;
  }
  return true;
}

void PLMAppDelegate::onExportBookmarks(const ns::Ref<ns::Object>&) {
  if (auto main = ::mainWindowController()) main->onExportBookmarks();
}

void PLMAppDelegate::onImportBookmarks(const ns::Ref<ns::Object>&) {
  if (auto main = ::mainWindowController()) main->onImportBookmarks();
}

bool PLMAppDelegate::isRunningMavericksOrHigher() {
  return isSystemMavericksOrLater();
}
