#include "lib/net/ImageRequestOperation.h"

#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Queue.h"
#include "platform/net/URLErrorCodes.h"

ns::Ref<ImageRequestOperation> ImageRequestOperation::initWithRequest(
    const ns::Ref<ns::URLRequest>& request) {
  return ns::make<ImageRequestOperation>(request);
}

ns::Ref<dispatch::Queue> ImageRequestOperation::imageProcessingQueue() {
  static ns::NoDestructor<ns::Ref<dispatch::Queue>> queue(
      dispatch::queueCreate("com.ordel42.zeravozezi.image-request.processing"));
  return *queue;
}

std::optional<std::set<std::string>> ImageRequestOperation::acceptableContentTypes() const {
  return std::set<std::string>{"image/tiff",      "image/jpeg",        "image/gif", "image/png",
                               "image/ico",       "image/x-icon",      "image/bmp", "image/x-bmp",
                               "image/x-xbitmap", "image/x-win-bitmap"};
}

ns::Ref<ak::Image> ImageRequestOperation::responseImage() const {
  std::lock_guard guard(lock());
  if (!decoded_ && isFinished()) {
    decoded_ = true;
    auto data = responseData();
    // An empty body is no image either: success would hand on nothing.
    image_ = data && data->length() > 0 ? ak::Image::initWithData(*data) : nullptr;
    if (!image_ || !image_->hasBitmapRepresentation()) {
      image_ = nullptr;
      auto response = URLConnectionOperation::response();
      ns::Error error =
          ns::makeURLError(ns::URLErrorCannotDecodeContentData, response ? response->URL() : nullptr);
      ns::Dictionary info = error.userInfo();
      info.set(ns::NSLocalizedDescriptionKey, std::string("The reply could not be decoded as an image."));
      decodeError_ = ns::Error(error.domain(), error.code(), std::move(info));
    }
  }
  return image_;
}

std::optional<ns::Error> ImageRequestOperation::error() const {
  if (auto error = HTTPRequestOperation::error()) return error;
  responseImage();
  std::lock_guard guard(lock());
  return decodeError_;
}

void ImageRequestOperation::setCompletionBlockWithSuccess_failure(ImageSuccess success,
                                                                  ImageFailure failure) {
  auto self = this->self<ImageRequestOperation>();
  setCompletionBlock([self, success = std::move(success), failure = std::move(failure)] {
    dispatch::async(imageProcessingQueue(), [self, success, failure] {
      if (self->isCancelled()) return;
      if (auto error = self->error()) {
        if (failure) self->dispatchFailure([self, failure, error = *error] { failure(self, error); });
      } else if (success) {
        self->dispatchSuccess([self, success, image = self->responseImage()] { success(self, image); });
      }
    });
  });
}
