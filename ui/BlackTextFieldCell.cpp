#include "ui/BlackTextFieldCell.h"

#include "platform/appkit/Colors.h"
#include "platform/appkit/TextView.h"
#include "platform/core/Log.h"
#include "platform/runtime/ClassBuilder.h"

void BlackTextFieldCell::initWithCoder(ak::NibCoder& coder) {
  ak::TextFieldCell::initWithCoder(coder);
  setTextColor(ak::colors::blackColor());
  setDrawsBackground(false);
  setBackgroundColor(ak::colors::whiteColor());
  setFocusRingType(ak::FocusRingType::None);
}

ak::TextView* BlackTextFieldCell::setUpFieldEditorAttributes(ak::TextView* textObject) {
  ns::Log("%s called: %@", "-[BlackTextFieldCell setUpFieldEditorAttributes:]", textObject);
  ak::TextView* editor = ak::TextFieldCell::setUpFieldEditorAttributes(textObject);
  setTextColor(ak::colors::blackColor());
  setBackgroundColor(ak::colors::darkGrayColor());
  if (editor) {
    editor->setInsertionPointColor(ak::colors::blackColor());
    editor->setTextColor(ak::colors::blackColor());
    editor->setDrawsBackground(true);
    editor->setBackgroundColor(ak::colors::darkGrayColor());
  }
  return editor;
}

PL_CLASS(BlackTextFieldCell, ak::TextFieldCell) {}
