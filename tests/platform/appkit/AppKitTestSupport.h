#pragma once
// Shared pieces of the window and view tests: views that fill themselves with one colour and
// record what happened to them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/appkit/Color.h"
#include "platform/appkit/GraphicsContext.h"
#include "platform/appkit/Make.h"
#include "platform/appkit/View.h"
#include "platform/appkit/Window.h"
#include "platform/testing/ui/HeadlessApp.h"

namespace appkit_test {

// A view that fills a rectangle of its bounds (all of them by default) and logs its events.
class SwatchView : public ak::View {
 public:
  ak::RGBA color{255, 0, 0, 255};
  std::optional<ak::Rect> fill;
  bool flipped = false;
  std::vector<std::string>* log = nullptr;
  std::string name = "swatch";
  int draws = 0;

  bool isFlipped() const override { return flipped; }
  void drawRect(const ak::Rect&) override {
    ++draws;
    ak::Color::colorWithDeviceRed_green_blue_alpha(color.r / 255.0, color.g / 255.0, color.b / 255.0,
                                                   color.a / 255.0)
        ->setFill();
    ak::RectFillUsingOperation(fill.value_or(bounds()), ak::CompositingOperation::SourceOver);
  }
  void note(const std::string& what) {
    if (log) log->push_back(name + " " + what);
  }
  void mouseDown(const ns::Ref<ak::Event>&) override { note("down"); }
  void mouseDragged(const ns::Ref<ak::Event>&) override { note("dragged"); }
  void mouseUp(const ns::Ref<ak::Event>&) override { note("up"); }
  void mouseEntered(const ns::Ref<ak::Event>&) override { note("entered"); }
  void mouseExited(const ns::Ref<ak::Event>&) override { note("exited"); }
  void mouseMoved(const ns::Ref<ak::Event>&) override { note("moved"); }
  void cursorUpdate(const ns::Ref<ak::Event>&) override { note("cursorUpdate"); }
};

inline ns::Ref<SwatchView> swatch(ak::Rect frame, ak::RGBA color = {255, 0, 0, 255}, bool flipped = false) {
  auto v = ak::make<SwatchView>(frame);
  v->color = color;
  v->flipped = flipped;
  return v;
}

// A swatch on `window`'s content view that logs its mouse events into `log`.
inline ns::Ref<SwatchView> loggingSwatch(const ns::Ref<ak::Window>& window, ak::Rect frame,
                                         std::vector<std::string>& log, std::string name = "swatch") {
  auto v = swatch(frame);
  v->log = &log;
  v->name = std::move(name);
  window->contentView()->addSubview(v);
  return v;
}

// Makes a white swatch the content of a borderless `window`, filling it.
inline ns::Ref<SwatchView> whiteContent(const ns::Ref<ak::Window>& window) {
  auto content = swatch(ak::MakeRect(0, 0, window->frame().size.width, window->frame().size.height),
                        {255, 255, 255, 255});
  window->setContentView(content);
  return content;
}

inline std::string joined(const std::vector<std::string>& items) {
  std::string out;
  for (const auto& s : items) out += (out.empty() ? "" : ", ") + s;
  return out;
}

inline constexpr ak::RGBA kRed{255, 0, 0, 255};
inline constexpr ak::RGBA kBlue{0, 0, 255, 255};
inline constexpr ak::RGBA kWhite{255, 255, 255, 255};

}  // namespace appkit_test
