#include "platform/testing/ui/DrawingLog.h"

namespace pltest {

DrawingLog::DrawingLog(const ns::Ref<ak::GraphicsContext>& context) : context_(context) {
  context_->setDrawingRecorder([this](const ak::DrawingRecord& record) { records_.push_back(record); });
}

DrawingLog::~DrawingLog() {
  context_->setDrawingRecorder(nullptr);
}

std::vector<ak::DrawingRecord> DrawingLog::recordsOfKind(ak::DrawingRecord::Kind kind) const {
  std::vector<ak::DrawingRecord> out;
  for (const auto& r : records_) {
    if (r.kind == kind) out.push_back(r);
  }
  return out;
}

std::vector<ak::DrawingRecord> DrawingLog::imagesNamed(const std::string& name) const {
  std::vector<ak::DrawingRecord> out;
  for (const auto& r : records_) {
    if (r.kind == ak::DrawingRecord::Kind::Image && r.name == name) out.push_back(r);
  }
  return out;
}

}  // namespace pltest
