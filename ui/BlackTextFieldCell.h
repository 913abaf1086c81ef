#pragma once
// A text field cell from the interface files: black text, edited on a dark grey editor.
#include "platform/appkit/TextField.h"

class BlackTextFieldCell : public ak::TextFieldCell {
 public:
  void initWithCoder(ak::NibCoder& coder) override;
  using ak::TextFieldCell::init;
  ak::TextView* setUpFieldEditorAttributes(ak::TextView* textObject) override;
  std::string className() const override { return "BlackTextFieldCell"; }
};
