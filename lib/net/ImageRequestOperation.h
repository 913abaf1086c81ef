#pragma once
// A request operation whose reply is decoded into an image. Only image content types are taken
// (a "text/plain" reply fails with -1016); a body that decodes to no image fails with a decoding
// error. Success and failure are decided on one shared serial image-processing queue, then run
// on their callback queues (the main queue when none is set).
//
//   auto op = ImageRequestOperation::initWithRequest(request);
//   op->setCompletionBlockWithSuccess_failure(
//       [](const auto& op, const ns::Ref<ak::Image>& image) { ... }, nullptr);
//   queue->addOperation(op);
#include <functional>
#include <optional>

#include "lib/net/HTTPRequestOperation.h"
#include "platform/appkit/Image.h"

class ImageRequestOperation : public HTTPRequestOperation {
 public:
  using ImageSuccess = std::function<void(const ns::Ref<ImageRequestOperation>&, const ns::Ref<ak::Image>&)>;
  using ImageFailure = std::function<void(const ns::Ref<ImageRequestOperation>&, const ns::Error&)>;

  explicit ImageRequestOperation(ns::Ref<ns::URLRequest> request)
      : HTTPRequestOperation(std::move(request)) {}
  static ns::Ref<ImageRequestOperation> initWithRequest(const ns::Ref<ns::URLRequest>& request);

  // The serial queue on which every image operation decodes and decides.
  static ns::Ref<dispatch::Queue> imageProcessingQueue();

  // The body decoded as an image whose size is its pixel size; made once and kept. Null before
  // the operation has finished and when the body is empty or no image (then error() tells).
  ns::Ref<ak::Image> responseImage() const;
  // The transfer or HTTP error, else the decoding error of a body that is no image.
  std::optional<ns::Error> error() const override;

  std::optional<std::set<std::string>> acceptableContentTypes() const override;

  void setCompletionBlockWithSuccess_failure(ImageSuccess success, ImageFailure failure);

  std::string className() const override { return "ImageRequestOperation"; }

 private:
  mutable bool decoded_ = false;
  mutable ns::Ref<ak::Image> image_;
  mutable std::optional<ns::Error> decodeError_;
};
