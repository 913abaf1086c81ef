#pragma once
// Save and open panels, run application-modal or as a sheet on a window.
//
// Headless, an answerer (pltest::ModalScript in tests) plays the user and the panel checks each
// answer as its dialog would: a save panel takes only a plain name (no "/", not "." or "..") in
// an existing folder and asks to confirm replacing an existing file; an open panel takes only
// existing items of the kinds it allows. A refused answer never reaches the caller: the panel
// asks again with the reason, as the dialog would stay open. With no answerer, on screen, the
// presenter shows the system's file chooser (its answer is checked the same way; a refused one
// cancels); with no answerer and no screen the panel answers Cancel.
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/appkit/Window.h"
#include "platform/net/URL.h"

namespace ak {

class SavePanel;

struct PanelAnswer {
  bool ok = false;
  std::vector<std::string> paths;  // an open panel's choice
  std::string folder;              // a save panel's folder and name
  std::string name;
  bool confirmReplace = false;  // the answer to "replace the existing file?"
};

class SavePanel : public ns::Object {
 public:
  // Called when the panel shows, and again after each refusal with its reason (empty at
  // first). nullopt: no answer; the panel then cancels.
  using Answerer =
      std::function<std::optional<PanelAnswer>(const ns::Ref<SavePanel>& panel, const std::string& refusal)>;
  static void setAnswerer(Answerer answerer);
  static bool hasAnswerer();

  virtual bool isOpenPanel() const { return false; }

  const std::string& nameFieldStringValue() const { return nameFieldStringValue_; }
  void setNameFieldStringValue(const std::string& name) { nameFieldStringValue_ = name; }
  ns::Ref<ns::URL> directoryURL() const { return directoryURL_; }
  void setDirectoryURL(const ns::Ref<ns::URL>& url) { directoryURL_ = url; }
  const std::vector<std::string>& allowedFileTypes() const { return allowedFileTypes_; }
  void setAllowedFileTypes(const std::vector<std::string>& types) { allowedFileTypes_ = types; }
  bool canCreateDirectories() const { return canCreateDirectories_; }
  void setCanCreateDirectories(bool flag) { canCreateDirectories_ = flag; }
  const std::string& message() const { return message_; }
  void setMessage(const std::string& message) { message_ = message; }
  const std::string& title() const { return title_; }
  void setTitle(const std::string& title) { title_ = title; }
  // The default button's title ("" for the panel's own).
  const std::string& prompt() const { return prompt_; }
  void setPrompt(const std::string& prompt) { prompt_ = prompt; }

  // The chosen file (a save panel) after OK; nullptr otherwise.
  ns::Ref<ns::URL> URL() const { return urls_.empty() ? nullptr : urls_.front(); }

  ns::Ref<Window> window();
  // OK 1, Cancel 0.
  long runModal();
  // A nil window runs the panel application-modal and then calls the handler.
  void beginSheetModalForWindow_completionHandler(const ns::Ref<Window>& window,
                                                  std::function<void(long)> handler);

 protected:
  // Checks an answer; fills urls_ and answers "" when it is taken, else the reason.
  virtual std::string accept(const PanelAnswer& answer);
  std::vector<ns::Ref<ns::URL>> urls_;

 private:
  long answerNow();
  // Shows the presenter's chooser; `finish` gets the code once. Answers false without one.
  bool showOnScreen(const ns::Ref<Window>& parent, std::function<void(long)> finish);

  std::string nameFieldStringValue_;
  std::string title_;
  std::string prompt_;
  ns::Ref<ns::URL> directoryURL_;
  std::vector<std::string> allowedFileTypes_;
  bool canCreateDirectories_ = true;
  std::string message_;
  ns::Ref<Window> window_;
};

class OpenPanel : public SavePanel {
 public:
  bool isOpenPanel() const override { return true; }
  bool canChooseFiles() const { return canChooseFiles_; }
  void setCanChooseFiles(bool flag) { canChooseFiles_ = flag; }
  bool canChooseDirectories() const { return canChooseDirectories_; }
  void setCanChooseDirectories(bool flag) { canChooseDirectories_ = flag; }
  bool allowsMultipleSelection() const { return allowsMultipleSelection_; }
  void setAllowsMultipleSelection(bool flag) { allowsMultipleSelection_ = flag; }
  const std::vector<ns::Ref<ns::URL>>& URLs() const { return urls_; }

 protected:
  std::string accept(const PanelAnswer& answer) override;

 private:
  bool canChooseFiles_ = true;
  bool canChooseDirectories_ = false;
  bool allowsMultipleSelection_ = false;
};

}  // namespace ak
