#pragma once
// The media a query uploads with its call: in memory, in an open file or at a file location,
// with its MIME type, an optional slug, the location of an earlier upload to resume, and whether
// the JSON body is left out.
#include <optional>
#include <string>

#include "platform/core/Data.h"
#include "platform/core/Object.h"
#include "platform/foundation/FileHandle.h"
#include "platform/net/URL.h"

class ApiUploadParameters : public ns::Object {
 public:
  static ns::Ref<ApiUploadParameters> uploadParametersWithData_MIMEType(
      const ns::Data& data, const std::optional<std::string>& type);
  static ns::Ref<ApiUploadParameters> uploadParametersWithFileHandle_MIMEType(
      const ns::Ref<ns::FileHandle>& handle, const std::optional<std::string>& type);
  static ns::Ref<ApiUploadParameters> uploadParametersWithFileURL_MIMEType(
      const ns::Ref<ns::URL>& url, const std::optional<std::string>& type);

  const std::optional<std::string>& MIMEType() const { return MIMEType_; }
  void setMIMEType(const std::optional<std::string>& type) { MIMEType_ = type; }
  const std::optional<ns::Data>& data() const { return data_; }
  void setData(const std::optional<ns::Data>& data) { data_ = data; }
  const ns::Ref<ns::FileHandle>& fileHandle() const { return fileHandle_; }
  void setFileHandle(ns::Ref<ns::FileHandle> handle) { fileHandle_ = std::move(handle); }
  // Recorded and copied; the service does not read the media from it.
  const ns::Ref<ns::URL>& fileURL() const { return fileURL_; }
  void setFileURL(ns::Ref<ns::URL> url) { fileURL_ = std::move(url); }
  const ns::Ref<ns::URL>& uploadLocationURL() const { return uploadLocationURL_; }
  void setUploadLocationURL(ns::Ref<ns::URL> url) { uploadLocationURL_ = std::move(url); }
  // Sent as the "Slug" header when not empty.
  const std::optional<std::string>& slug() const { return slug_; }
  void setSlug(const std::optional<std::string>& slug) { slug_ = slug; }
  bool shouldSendUploadOnly() const { return shouldSendUploadOnly_; }
  void setShouldSendUploadOnly(bool only) { shouldSendUploadOnly_ = only; }

  // A new object with all seven fields.
  ns::Ref<ApiUploadParameters> copy() const;
  std::string className() const override { return "ApiUploadParameters"; }
  // "ApiUploadParameters 0x...: {MIMEType:video/mp4, data:3 bytes, slug:s, shouldSendUploadOnly}".
  std::string description() const override;

 private:
  std::optional<std::string> MIMEType_;
  std::optional<ns::Data> data_;
  ns::Ref<ns::FileHandle> fileHandle_;
  ns::Ref<ns::URL> fileURL_;
  ns::Ref<ns::URL> uploadLocationURL_;
  std::optional<std::string> slug_;
  bool shouldSendUploadOnly_ = false;
};
