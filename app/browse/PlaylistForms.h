#pragma once
// The two small forms the source list shows in popovers: a new playlist in the account
// (optionally filed in a local group), and a new or renamed local playlist group. Made from the
// nibs "NewPlaylistViewController" and "NewPlaylistGroupViewController"; main thread only.
#include <map>
#include <optional>
#include <string>

#include "platform/appkit/ViewController.h"

namespace ak {
class Button;
class Popover;
class PopUpButton;
class TextField;
}  // namespace ak
namespace ns {
class Notification;
}

class NewPlaylistViewController : public ak::ViewController {
 public:
  void awakeFromNib() override;
  void onCancelBtn(const ns::Ref<ns::Object>& sender);
  void onCreateBtn(const ns::Ref<ns::Object>& sender);
  void controlTextDidChange(const ns::Ref<ns::Notification>& note);
  void controlTextDidEndEditing(const ns::Ref<ns::Notification>& note);

  ns::Ref<ak::Popover> popOver() const { return popOver_.lock(); }
  void setPopOver(const ns::Ref<ak::Popover>& popover) { popOver_ = popover; }
  ns::Ref<ak::TextField> playlistNameTextField() const { return playlistNameTextField_.lock(); }
  ns::Ref<ak::Button> privatePlaylistBtn() const { return privatePlaylistBtn_.lock(); }
  ns::Ref<ak::Button> createBtn() const { return createBtn_.lock(); }
  ns::Ref<ak::PopUpButton> groupPopUpButton() const { return groupPopUpButton_.lock(); }
  // The group id of each pop-up item, by index; -1 for "PLAYLISTS", the first.
  const std::vector<int>& groupIds() const { return groupIds_; }

  struct Outlets {
    ns::Ref<ak::View> view;
    ns::Ref<ak::TextField> playlistNameTextField;
    ns::Ref<ak::Button> privatePlaylistBtn, createBtn;
    ns::Ref<ak::PopUpButton> groupPopUpButton;
  };
  void connectOutlets(const Outlets& outlets);

  std::string className() const override { return "NewPlaylistViewController"; }

 private:
  ns::Weak<ak::Popover> popOver_;
  ns::Weak<ak::TextField> playlistNameTextField_;
  ns::Weak<ak::Button> privatePlaylistBtn_, createBtn_;
  ns::Weak<ak::PopUpButton> groupPopUpButton_;
  std::vector<int> groupIds_;
};

class NewPlaylistGroupViewController : public ak::ViewController {
 public:
  void awakeFromNib() override;
  void onCancelBtn(const ns::Ref<ns::Object>& sender);
  void onCreateBtn(const ns::Ref<ns::Object>& sender);
  void controlTextDidChange(const ns::Ref<ns::Notification>& note);
  void controlTextDidEndEditing(const ns::Ref<ns::Notification>& note);

  ns::Ref<ak::Popover> popOver() const { return popOver_.lock(); }
  void setPopOver(const ns::Ref<ak::Popover>& popover) { popOver_ = popover; }
  const std::string& originalName() const { return originalName_; }
  // Set before the view loads: rename mode for a non-empty name.
  void setOriginalName(const std::string& name) { originalName_ = name; }
  bool bRename() const { return bRename_; }
  ns::Ref<ak::TextField> playlistNameTextField() const { return playlistNameTextField_.lock(); }
  ns::Ref<ak::Button> createBtn() const { return createBtn_.lock(); }
  ns::Ref<ak::TextField> dialogTitle() const { return dialogTitle_.lock(); }
  ns::Ref<ak::TextField> errorTextField() const { return errorTextField_.lock(); }

  struct Outlets {
    ns::Ref<ak::View> view;
    ns::Ref<ak::TextField> playlistNameTextField, dialogTitle, errorTextField;
    ns::Ref<ak::Button> createBtn;
  };
  void connectOutlets(const Outlets& outlets);

  std::string className() const override { return "NewPlaylistGroupViewController"; }

 private:
  void showError();
  ns::Weak<ak::Popover> popOver_;
  ns::Weak<ak::TextField> playlistNameTextField_, dialogTitle_, errorTextField_;
  ns::Weak<ak::Button> createBtn_;
  std::string originalName_;
  bool bRename_ = false;
};

// Registers the forms' nib builders (once per process).
void registerPlaylistFormNibs();
