#pragma once
// The row views of the list panes: `VideoCell` draws a video (thumbnail with duration and play
// button, title, uploader and date, the views line or the download's byte count, and the marks
// for now playing, playlists, cache state and quality, and played state); `PlaylistResultCell`
// draws a playlist or channel result over its wide thumbnail. Both hold their row weakly: a row
// that has gone shows nothing. Main thread only.
#include <string>

#include "platform/appkit/TableView.h"

class SearchEntry;
class FakeImageView;
class HoverButton;
class ViewAndRatingView;
namespace ak {
class ImageView;
class TextField;
}  // namespace ak

class VideoCell : public ak::TableCellView {
 public:
  void initWithFrame(const ak::Rect& frame) override;
  void resizeSubviewsWithOldSize(const ak::Size& oldSize) override;

  ns::Ref<SearchEntry> searchEntry() const { return searchEntry_.lock(); }
  // Binds the row and recomputes every mark.
  void setSearchEntry(const ns::Ref<SearchEntry>& entry);
  void updateViewCount();
  void updatePlaylist();
  void updateChannel();
  void mouseEntered(const ns::Ref<ak::Event>& event) override;
  void mouseExited(const ns::Ref<ak::Event>& event) override;
  void reset();
  // The play button: the list showing the row plays it and selects it.
  void onClick(const ns::Ref<ns::Object>& sender);
  void setBackgroundStyle(ak::BackgroundStyle style) override;
  // The list's own menu is the one shown: a request that reaches the row gets a placeholder.
  ns::Ref<ak::Menu> menuForEvent(const ns::Ref<ak::Event>& event) override;

  bool isNowPlaying() const { return isNowPlaying_; }
  bool editModeOn() const { return editModeOn_; }
  void setEditModeOn(bool on) { editModeOn_ = on; }
  const std::string& playlistKey() const { return playlistKey_; }
  void setPlaylistKey(std::string key) { playlistKey_ = std::move(key); }
  bool mouseOver() const { return mouseOver_; }

  // ---- subviews (tests read them) ----
  ns::Ref<FakeImageView> imgView() const { return imgView_; }
  ns::Ref<ak::ImageView> bgImgView() const { return bgImgView_; }
  ns::Ref<ak::TextField> titleLabel() const { return titleLabel_; }
  ns::Ref<ak::TextField> durationLabel() const { return durationLabel_; }
  ns::Ref<ak::TextField> authorLabel() const { return authorLabel_; }
  ns::Ref<ak::TextField> dateLabel() const { return dateLabel_; }
  ns::Ref<ViewAndRatingView> viewAndRatingView() const { return viewAndRatingView_; }
  ns::Ref<ak::ImageView> inPlaylistImgView() const { return inPlaylistImgView_; }
  ns::Ref<ak::ImageView> videoQualityImgView() const { return videoQualityImgView_; }
  ns::Ref<ak::TextField> cacheLabel() const { return cacheLabel_; }
  ns::Ref<HoverButton> playBtn() const { return playBtn_; }
  ns::Ref<ak::ImageView> playedImg() const { return playedImg_; }
  ns::Ref<ak::ImageView> cacheImg() const { return cacheImg_; }
  ns::Ref<ak::ImageView> selectImg() const { return selectImg_; }
  // The names of the images the marks show ("" for none), as last set.
  const std::string& cacheImageName() const { return cacheImageName_; }
  const std::string& playedImageName() const { return playedImageName_; }
  const std::string& qualityImageName() const { return qualityImageName_; }
  const std::string& playlistImageName() const { return playlistImageName_; }
  const std::string& viewsText() const { return viewsText_; }

  std::string className() const override { return "VideoCell"; }

 private:
  // The author grows with the row but ends inside it: in a row narrower than the one it was made
  // at, its text is truncated at the row's edge rather than cut there.
  void placeAuthorLabel();
  double createdWidth_ = 0;
  void showViewsOf(const ns::Ref<SearchEntry>& entry);
  void setMark(const ns::Ref<ak::ImageView>& view, std::string& name, const std::string& image);
  void showText(const std::string& text);

  ns::Weak<SearchEntry> searchEntry_;
  bool isNowPlaying_ = false;
  bool editModeOn_ = false;
  bool mouseOver_ = false;
  std::string playlistKey_;
  ns::Ref<ak::ImageView> bgImgView_;
  ns::Ref<FakeImageView> imgView_;
  ns::Ref<ak::TextField> titleLabel_, durationLabel_, authorLabel_, dateLabel_, cacheLabel_;
  ns::Ref<ViewAndRatingView> viewAndRatingView_;
  ns::Ref<ak::ImageView> inPlaylistImgView_, videoQualityImgView_, playedImg_, cacheImg_, selectImg_;
  ns::Ref<HoverButton> playBtn_;
  std::string cacheImageName_, playedImageName_, qualityImageName_, playlistImageName_, viewsText_;
};

class PlaylistResultCell : public ak::TableCellView {
 public:
  void initWithFrame(const ak::Rect& frame) override;
  ns::Ref<SearchEntry> searchEntry() const { return searchEntry_.lock(); }
  void setSearchEntry(const ns::Ref<SearchEntry>& entry);
  void mouseEntered(const ns::Ref<ak::Event>& event) override { mouseOver_ = true; }
  void mouseExited(const ns::Ref<ak::Event>& event) override { mouseOver_ = false; }
  // A selected row looks like any other.
  void setBackgroundStyle(ak::BackgroundStyle) override {}
  // An empty menu: the list's own is the one shown.
  ns::Ref<ak::Menu> menuForEvent(const ns::Ref<ak::Event>& event) override;

  bool isNowPlaying() const { return isNowPlaying_; }
  const std::string& playlistKey() const { return playlistKey_; }
  void setPlaylistKey(std::string key) { playlistKey_ = std::move(key); }
  ns::Ref<ak::TextField> titleLabel() const { return titleLabel_; }
  ns::Ref<ak::TextField> authorLabel() const { return authorLabel_; }
  ns::Ref<ak::TextField> dateLabel() const { return dateLabel_; }
  ns::Ref<FakeImageView> imgView() const { return imgView_; }

  std::string className() const override { return "PlaylistResultCell"; }

 private:
  ns::Weak<SearchEntry> searchEntry_;
  bool isNowPlaying_ = false;
  bool mouseOver_ = false;
  std::string playlistKey_;
  ns::Ref<ak::ImageView> bgImgView_;
  ns::Ref<FakeImageView> imgView_;
  ns::Ref<ak::TextField> titleLabel_, authorLabel_, dateLabel_;
};
