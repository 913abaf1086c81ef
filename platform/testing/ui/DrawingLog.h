#pragma once
// Records what a graphics context draws: fills, strokes, clips, gradients, texts and images
// with their names and source and destination rectangles, for tests of cells and views.
#include <string>
#include <vector>

#include "platform/appkit/GraphicsContext.h"

namespace pltest {

class DrawingLog {
 public:
  explicit DrawingLog(const ns::Ref<ak::GraphicsContext>& context);
  ~DrawingLog();
  DrawingLog(const DrawingLog&) = delete;
  DrawingLog& operator=(const DrawingLog&) = delete;

  const std::vector<ak::DrawingRecord>& records() const { return records_; }
  std::vector<ak::DrawingRecord> recordsOfKind(ak::DrawingRecord::Kind kind) const;
  // The image draws, by image name.
  std::vector<ak::DrawingRecord> imagesNamed(const std::string& name) const;
  void clear() { records_.clear(); }

 private:
  ns::Ref<ak::GraphicsContext> context_;
  std::vector<ak::DrawingRecord> records_;
};

}  // namespace pltest
