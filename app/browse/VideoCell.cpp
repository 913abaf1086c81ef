#include "app/browse/VideoCell.h"

#include <algorithm>

#include "app/browse/YTPlaylistViewController.h"
#include "app/cache/CacheState.h"
#include "app/cache/YoutubeDownloader.h"
#include "app/library/DBAccess.h"
#include "app/youtube/SearchEntry.h"
#include "common/AppUtilities.h"
#include "platform/appkit/Button.h"
#include "platform/appkit/Cell.h"
#include "platform/appkit/Color.h"
#include "platform/appkit/Font.h"
#include "platform/appkit/Image.h"
#include "platform/appkit/ImageView.h"
#include "platform/appkit/Layer.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/Menu.h"
#include "platform/appkit/TableView.h"
#include "platform/appkit/TextField.h"
#include "platform/appkit/TrackingArea.h"
#include "platform/core/Format.h"
#include "platform/core/Log.h"
#include "platform/core/NoDestructor.h"
#include "platform/net/URL.h"
#include "platform/runtime/ClassBuilder.h"
#include "ui/FakeImageView.h"
#include "ui/HoverButton.h"
#include "ui/ViewAndRatingView.h"

PL_CLASS(VideoCell, ak::View) {
  cls.method<&VideoCell::onClick>("onClick:");
}
PL_CLASS(PlaylistResultCell, ak::View) {}

namespace {

// Entered and exited events, active always, the mouse assumed inside, following the visible rect.
constexpr unsigned long kTrackingOptions = 0x381;
constexpr double kRowHeight = 83;

ns::Ref<ak::Font> customFontOfSize(double size) {
  auto font = ak::Font::fontWithName_size("AppleSDGothicNeo-Medium", size);
  return font ? font : ak::Font::systemFontOfSize(size);
}

ns::Ref<ak::Font> customBoldFontOfSize(double size) {
  auto font = ak::Font::fontWithName_size("AppleSDGothicNeo-Bold", size);
  return font ? font : ak::Font::boldSystemFontOfSize(size);
}

const ns::Ref<ak::Color>& lightGrey() {
  static ns::NoDestructor<ns::Ref<ak::Color>> colour(
      ak::Color::colorWithCalibratedRed_green_blue_alpha(192 / 255.0, 192 / 255.0, 192 / 255.0, 1));
  return *colour;
}

const ns::Ref<ak::Color>& dimGrey() {
  static ns::NoDestructor<ns::Ref<ak::Color>> colour(
      ak::Color::colorWithCalibratedRed_green_blue_alpha(96 / 255.0, 96 / 255.0, 96 / 255.0, 1));
  return *colour;
}

const ns::Ref<ak::Color>& white() {
  static ns::NoDestructor<ns::Ref<ak::Color>> colour(
      ak::Color::colorWithCalibratedRed_green_blue_alpha(1, 1, 1, 1));
  return *colour;
}

ns::Ref<ak::TextField> label(const ak::Rect& frame, const ns::Ref<ak::Font>& font) {
  auto field = ak::make<ak::TextField>(frame);
  field->setBordered(false);
  field->setEditable(false);
  field->setDrawsBackground(false);
  field->setFont(font);
  return field;
}

ns::Ref<ak::ImageView> makeImageView(const ak::Rect& frame, const std::string& image = "") {
  auto view = ak::make<ak::ImageView>(frame);
  if (!image.empty()) view->setImage(ak::Image::imageNamed(image));
  return view;
}

void wrapByCharacter(const ns::Ref<ak::TextField>& field) {
  if (auto cell = field->cell()) {
    cell->setLineBreakMode(ak::LineBreakMode::CharWrapping);
    cell->setTruncatesLastVisibleLine(true);
  }
}

void truncateTail(const ns::Ref<ak::TextField>& field) {
  if (auto cell = field->cell()) cell->setLineBreakMode(ak::LineBreakMode::TruncatingTail);
}

std::string firstTenCharacters(const std::string& date) {
  return date.size() > 10 ? date.substr(0, 10) : date;
}

ns::Ref<ns::URL> urlOf(const std::string& text) {
  return text.empty() ? nullptr : ns::URL::URLWithString(text);
}

std::string countText(long count, const char* none, const char* one, const char* many) {
  if (count == 0) return none;
  if (count == 1) return one;
  return ns::format(many, count);
}

}  // namespace

// ---- the video row ----

void VideoCell::initWithFrame(const ak::Rect& frame) {
  ak::TableCellView::initWithFrame(frame);
  const double w = frame.size.width;
  setAutoresizingMask(ak::ViewWidthSizable);
  bgImgView_ = makeImageView(ak::MakeRect(0, 0, w + 40, kRowHeight));
  bgImgView_->setAutoresizingMask(ak::ViewWidthSizable);
  bgImgView_->setImageScaling(ak::ImageScaling::AxesIndependently);
  addSubview(bgImgView_);
  imgView_ = ak::make<FakeImageView>(ak::MakeRect(0, 0, 110, kRowHeight));
  addSubview(imgView_);
  addSubview(makeImageView(ak::MakeRect(0, 0, 110, 1), "thumbnail_topbar"));
  addSubview(makeImageView(ak::MakeRect(0, 0, 110, 20), "thumbnail_bar"));
  titleLabel_ = label(ak::MakeRect(115, 41, w - 120, 40), customFontOfSize(12));
  titleLabel_->setAutoresizingMask(ak::ViewWidthSizable);
  wrapByCharacter(titleLabel_);
  addSubview(titleLabel_);
  durationLabel_ = label(ak::MakeRect(0, 2, 110, 18), customBoldFontOfSize(12));
  durationLabel_->setAlignment(ak::TextAlignment::Center);
  durationLabel_->setTextColor(white());
  addSubview(durationLabel_);
  createdWidth_ = w;
  authorLabel_ = label(ak::MakeRect(195, 7, 130, 15), customBoldFontOfSize(11));
  truncateTail(authorLabel_);
  placeAuthorLabel();
  addSubview(authorLabel_);
  dateLabel_ = label(ak::MakeRect(115, 7, 80, 15), customBoldFontOfSize(11));
  addSubview(dateLabel_);
  viewAndRatingView_ = ak::make<ViewAndRatingView>(ak::MakeRect(115, 24, 150, 13));
  addSubview(viewAndRatingView_);
  inPlaylistImgView_ = makeImageView(ak::MakeRect(117, 26, 25, 12));
  addSubview(inPlaylistImgView_);
  videoQualityImgView_ = makeImageView(ak::MakeRect(117, 26, 25, 12));
  addSubview(videoQualityImgView_);
  cacheLabel_ = label(ak::MakeRect(117, 24, 100, 16), customFontOfSize(11));
  cacheLabel_->setDrawsBackground(true);
  cacheLabel_->setTextColor(white());
  cacheLabel_->setBackgroundColor(ak::Color::colorWithCalibratedRed_green_blue_alpha(0, 0, 128 / 255.0, 1));
  cacheLabel_->setAlignment(ak::TextAlignment::Center);
  cacheLabel_->setWantsLayer(true);
  if (auto layer = cacheLabel_->layer()) {
    layer->setShadowRadius(2);
    layer->setCornerRadius(4);
  }
  cacheLabel_->setHidden(true);
  addSubview(cacheLabel_);
  playBtn_ = ak::make<HoverButton>(ak::MakeRect(30, 20, 50, 43));
  playBtn_->setImage(ak::Image::imageNamed("btn_play_70"));
  playBtn_->setBordered(false);
  playBtn_->setButtonType(ak::ButtonType::MomentaryChange);
  playBtn_->setTarget(self<VideoCell>());
  playBtn_->setAction(ns::Sel("onClick:"));
  addSubview(playBtn_);
  playedImg_ = makeImageView(ak::MakeRect(7, 4, 11, 12));
  addSubview(playedImg_);
  cacheImg_ = makeImageView(ak::MakeRect(90, 4, 11, 12));
  addSubview(cacheImg_);
  selectImg_ = makeImageView(ak::MakeRect(w - 6, 0, 6, kRowHeight), "video_bar_selected");
  selectImg_->setAutoresizingMask(ak::ViewMinXMargin);
  selectImg_->setHidden(true);
  addSubview(selectImg_);
  isNowPlaying_ = false;
  addTrackingArea(ak::TrackingArea::initWithRect_options_owner_userInfo(ak::ZeroRect, kTrackingOptions,
                                                                        self<VideoCell>()));
}

void VideoCell::resizeSubviewsWithOldSize(const ak::Size& oldSize) {
  ak::TableCellView::resizeSubviewsWithOldSize(oldSize);
  placeAuthorLabel();
}

void VideoCell::placeAuthorLabel() {
  if (!authorLabel_) return;
  // As wide as it was made, plus what the row grew since, but never past the row's edge.
  const double width = frame().size.width;
  const double grown = 130 + std::max(0.0, width - createdWidth_);
  authorLabel_->setFrame(ak::MakeRect(195, 7, std::clamp(width - 200, 0.0, grown), 15));
}

void VideoCell::setMark(const ns::Ref<ak::ImageView>& view, std::string& name, const std::string& image) {
  name = image;
  view->setImage(image.empty() ? nullptr : ak::Image::imageNamed(image));
}

void VideoCell::showText(const std::string& text) {
  viewsText_ = text;
  viewAndRatingView_->showStringOnly(text);
}

void VideoCell::showViewsOf(const ns::Ref<SearchEntry>& entry) {
  viewsText_.clear();
  const std::string id = entry->videoid().value_or("");
  viewAndRatingView_->showViews_andRatings_andBookmark(
      entry->viewCount(), entry->rating(), id.empty() ? 0 : DBAccess::getInstance()->getBookmarkCount(id));
}

void VideoCell::setSearchEntry(const ns::Ref<SearchEntry>& entry) {
  searchEntry_ = entry;
  if (!entry) {
    // A row that has gone leaves nothing of what the cell showed before.
    titleLabel_->setStringValue("");
    durationLabel_->setStringValue("");
    authorLabel_->setStringValue("");
    dateLabel_->setStringValue("");
    showText("");
    playBtn_->setHidden(true);
    for (auto* mark : {&cacheImageName_, &playedImageName_, &qualityImageName_, &playlistImageName_})
      mark->clear();
    for (const auto& view : {cacheImg_, playedImg_, videoQualityImgView_, inPlaylistImgView_})
      view->setImage(nullptr);
    return;
  }
  const std::string id = entry->videoid().value_or("");
  playBtn_->setVideoid(entry->videoid());
  // A reused cell's hover state was that of the row it showed before: take this row's.
  reset();

  auto list = findPlaylistViewController(playlistKey_);
  isNowPlaying_ = list && list == currentPlaylistController() && list->getPlayIndex() == entry->idx();
  bgImgView_->setImage(ak::Image::imageNamed(isNowPlaying_ ? "video_result_playing" : "video_result_normal"));
  titleLabel_->setTextColor(isNowPlaying_ ? white() : lightGrey());
  const auto& secondary = isNowPlaying_ ? lightGrey() : dimGrey();
  authorLabel_->setTextColor(secondary);
  dateLabel_->setTextColor(secondary);
  viewAndRatingView_->setTextColor(secondary);
  viewAndRatingView_->setSelected(isNowPlaying_);

  titleLabel_->setStringValue(entry->title());
  imgView_->setImageWithURL_placeholderImage(urlOf(entry->thumburl()),
                                             ak::Image::imageNamed("thumbnail_backround"));
  durationLabel_->setStringValue(entry->duration() != 0 ? timeStringFromSeconds(entry->duration(), false)
                                                        : "");
  authorLabel_->setStringValue(entry->author());
  dateLabel_->setStringValue(firstTenCharacters(entry->date()));
  showViewsOf(entry);

  const bool video = !entry->isPlaylist() && !entry->isChannel();
  playBtn_->setHidden(!video);

  bool cached = false;
  if (!id.empty() && hasDownloadError(id)) {
    cacheLabel_->setHidden(true);
    setMark(cacheImg_, cacheImageName_, "cache_error");
  } else if (video) {
    std::string mark;
    if (!id.empty() && isVideoCached(id)) {
      mark = "cache_cached";
      cached = true;
    } else if (!id.empty() && isVideoDownloaded(id)) {
      mark = "notwatched_icon";
      cached = true;
    } else if (auto downloader = id.empty() ? nullptr : getDownloaderForVideoId(id)) {
      if (getDownloadError(id)) {
        // Waiting out an error reply before asking again; the status shows in place of the counts.
        mark = "cache_queued";
      } else if (downloader->isDownloading()) {
        mark = downloader->bDownload() ? "halfwatched_icon" : "cache_cacheing";
        showText(ns::format("%@ / %@", formatByteSize(downloader->downloadedBytes()),
                            formatByteSize(downloader->contentLength())));
      } else {
        mark = "cache_queued";
      }
      cached = true;
    }
    setMark(cacheImg_, cacheImageName_, mark);
    cacheLabel_->setHidden(true);
    cacheLabel_->setStringValue("");
  }

  double offset = 0;
  if (entry->isInFavorites() || entry->isInOtherPlaylist()) {
    inPlaylistImgView_->setHidden(false);
    inPlaylistImgView_->setFrame(ak::MakeRect(117, 26, 25, 12));
    setMark(inPlaylistImgView_, playlistImageName_,
            entry->isInFavorites() ? "is_in_favorites"
                                   : (isNowPlaying_ ? "is_in_playlist_white" : "is_in_playlist"));
    videoQualityImgView_->setFrame(ak::MakeRect(142, 26, 25, 12));
    offset = 25;
  } else {
    inPlaylistImgView_->setHidden(true);
    playlistImageName_.clear();
    videoQualityImgView_->setFrame(ak::MakeRect(117, 26, 25, 12));
  }

  if (cached) {
    const int height = getCachedVideoHeight(id);
    std::string quality = height == 1080  ? "1080_cached"
                          : height == 720 ? "720_cached"
                          : height == 240 ? "240_cached"
                                          : "360_cached";
    if (isNowPlaying_) quality += "_white";
    videoQualityImgView_->setHidden(false);
    setMark(videoQualityImgView_, qualityImageName_, quality);
    viewAndRatingView_->setFrame(ak::MakeRect(115 + offset + 34, 24, 150, 13));
  } else {
    videoQualityImgView_->setHidden(true);
    qualityImageName_.clear();
    viewAndRatingView_->setFrame(ak::MakeRect(offset > 0 ? 115 + offset + 5 : 115, 24, 150, 13));
  }

  if (entry->isPlaylist())
    updatePlaylist();
  else if (entry->isChannel())
    updateChannel();
  else
    updateViewCount();

  if (video) {
    switch (id.empty() ? -1 : DBAccess::getInstance()->getPlayedStateForId(id)) {
      case 0:
        setMark(playedImg_, playedImageName_, "notwatched_icon");
        break;
      case 1:
        setMark(playedImg_, playedImageName_, "watched_icon");
        break;
      case 2:
        setMark(playedImg_, playedImageName_, "halfwatched_icon");
        break;
      default:
        break;
    }
  } else {
    setMark(playedImg_, playedImageName_, "");
  }
}

void VideoCell::updateViewCount() {
  auto entry = searchEntry();
  if (!entry) return;
  const std::string id = entry->videoid().value_or("");
  if (id.empty() || hasDownloadError(id)) return;
  if (hasVideoCacheState(id)) {
    if (mouseOver_)
      showText(ns::format("%@", formatByteSize(getVideoFileSize(id))));
    else
      showViewsOf(entry);
  } else if (auto downloader = getDownloaderForVideoId(id)) {
    if (auto status = getDownloadError(id))
      showText(*status);
    else
      showText(ns::format("%@ / %@", formatByteSize(downloader->totalDownloadedBytes()),
                          formatByteSize(downloader->totalContentLength())));
  }
}

void VideoCell::updatePlaylist() {
  if (auto entry = searchEntry())
    showText(countText(entry->videoCount(), "no videos", "1 video in playlist", "%d videos in playlist"));
}

void VideoCell::updateChannel() {
  if (auto entry = searchEntry())
    showText(countText(entry->videoCount(), "no video", "1 video in channel", "%d videos in channel"));
}

void VideoCell::mouseEntered(const ns::Ref<ak::Event>&) {
  mouseOver_ = true;
  auto entry = searchEntry();
  setHoveredVideoId(entry ? entry->videoid() : std::nullopt);
  updateViewCount();
}

void VideoCell::mouseExited(const ns::Ref<ak::Event>&) {
  mouseOver_ = false;
  setHoveredVideoId(std::nullopt);
  updateViewCount();
}

void VideoCell::reset() {
  auto entry = searchEntry();
  auto hovered = hoveredVideoId();
  mouseOver_ = entry && hovered && entry->videoid() == hovered;
  playBtn_->reset();
}

void VideoCell::onClick(const ns::Ref<ns::Object>&) {
  auto entry = searchEntry();
  auto list = findPlaylistViewController(playlistKey_);
  if (!entry || !list) return;
  list->playAtIndex(entry->idx());
  list->selectIndex(entry->idx());
}

ns::Ref<ak::Menu> VideoCell::menuForEvent(const ns::Ref<ak::Event>& event) {
  ns::Log("%s", "-[VideoCell menuForEvent:]");
  // A right-click anywhere on a row of a list opens the list's menu for that row, as it does on
  // the thumbnail; the cell's own menu is only a stand-in for a cell outside a list.
  if (event)
    for (auto view = superview(); view; view = view->superview())
      if (auto table = std::dynamic_pointer_cast<ak::TableView>(view)) return table->menuForEvent(event);
  auto menu = ak::Menu::initWithTitle("");
  menu->addItem(ak::MenuItem::initWithTitle_action_keyEquivalent("test2", ns::Sel(), ""));
  return menu;
}

void VideoCell::setBackgroundStyle(ak::BackgroundStyle style) {
  ak::TableCellView::setBackgroundStyle(style);
  selectImg_->setHidden(static_cast<int>(style) != 1);
}

// ---- the playlist and channel row ----

void PlaylistResultCell::initWithFrame(const ak::Rect& frame) {
  ak::TableCellView::initWithFrame(frame);
  const double w = frame.size.width;
  setAutoresizingMask(ak::ViewWidthSizable);
  bgImgView_ = makeImageView(ak::MakeRect(0, 0, w + 40, 120));
  bgImgView_->setAutoresizingMask(ak::ViewWidthSizable);
  bgImgView_->setImageScaling(ak::ImageScaling::AxesIndependently);
  addSubview(bgImgView_);
  imgView_ = ak::make<FakeImageView>(ak::MakeRect(0, 0, w, 120));
  imgView_->setAutoresizingMask(ak::ViewWidthSizable);
  addSubview(imgView_);
  auto overlay = makeImageView(ak::MakeRect(0, 0, w + 20, 50), "playlistresultoverlay");
  overlay->setImageScaling(ak::ImageScaling::AxesIndependently);
  overlay->setAutoresizingMask(ak::ViewWidthSizable);
  addSubview(overlay);
  titleLabel_ = label(ak::MakeRect(5, 25, w - 10, 20), customFontOfSize(12));
  titleLabel_->setTextColor(white());
  titleLabel_->setAutoresizingMask(ak::ViewWidthSizable);
  wrapByCharacter(titleLabel_);
  addSubview(titleLabel_);
  authorLabel_ = label(ak::MakeRect(5, 7, w - 90, 15), customBoldFontOfSize(11));
  authorLabel_->setTextColor(lightGrey());
  authorLabel_->setAutoresizingMask(ak::ViewWidthSizable);
  truncateTail(authorLabel_);
  addSubview(authorLabel_);
  dateLabel_ = label(ak::MakeRect(w - 90, 7, 80, 15), customBoldFontOfSize(11));
  dateLabel_->setTextColor(lightGrey());
  dateLabel_->setAlignment(ak::TextAlignment::Right);
  dateLabel_->setAutoresizingMask(ak::ViewMinXMargin);
  addSubview(dateLabel_);
  addTrackingArea(ak::TrackingArea::initWithRect_options_owner_userInfo(ak::ZeroRect, kTrackingOptions,
                                                                        self<PlaylistResultCell>()));
}

ns::Ref<ak::Menu> PlaylistResultCell::menuForEvent(const ns::Ref<ak::Event>&) {
  ns::Log("%s", "-[PlaylistResultCell menuForEvent:]");
  return ak::Menu::initWithTitle("");
}

void PlaylistResultCell::setSearchEntry(const ns::Ref<SearchEntry>& entry) {
  searchEntry_ = entry;
  isNowPlaying_ = false;
  bgImgView_->setImage(ak::Image::imageNamed("video_result_normal"));
  if (!entry) {
    titleLabel_->setStringValue("");
    authorLabel_->setStringValue("");
    dateLabel_->setStringValue("");
    return;
  }
  titleLabel_->setStringValue(entry->title());
  imgView_->setImageWithURL_placeholderImage(urlOf(entry->getHighResolutionThumbnailURL()),
                                             ak::Image::imageNamed("thumbnail_backround"));
  const std::string count = countText(entry->videoCount(), "no video", "1 video", "%d videos");
  authorLabel_->setStringValue(entry->author().empty() ? count
                                                       : ns::format("%@ · %@", count, entry->author()));
  dateLabel_->setStringValue(firstTenCharacters(entry->date()));
}
