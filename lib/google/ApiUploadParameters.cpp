#include "lib/google/ApiUploadParameters.h"

#include <cstdio>
#include <vector>

#include "platform/core/Str.h"

ns::Ref<ApiUploadParameters> ApiUploadParameters::uploadParametersWithData_MIMEType(
    const ns::Data& data, const std::optional<std::string>& type) {
  auto p = ns::make<ApiUploadParameters>();
  p->setData(data);
  p->setMIMEType(type);
  return p;
}

ns::Ref<ApiUploadParameters> ApiUploadParameters::uploadParametersWithFileHandle_MIMEType(
    const ns::Ref<ns::FileHandle>& handle, const std::optional<std::string>& type) {
  auto p = ns::make<ApiUploadParameters>();
  p->setFileHandle(handle);
  p->setMIMEType(type);
  return p;
}

ns::Ref<ApiUploadParameters> ApiUploadParameters::uploadParametersWithFileURL_MIMEType(
    const ns::Ref<ns::URL>& url, const std::optional<std::string>& type) {
  auto p = ns::make<ApiUploadParameters>();
  p->setFileURL(url);
  p->setMIMEType(type);
  return p;
}

ns::Ref<ApiUploadParameters> ApiUploadParameters::copy() const {
  auto p = ns::make<ApiUploadParameters>();
  p->MIMEType_ = MIMEType_;
  p->data_ = data_;
  p->fileHandle_ = fileHandle_;
  p->fileURL_ = fileURL_;
  p->uploadLocationURL_ = uploadLocationURL_;
  p->slug_ = slug_;
  p->shouldSendUploadOnly_ = shouldSendUploadOnly_;
  return p;
}

std::string ApiUploadParameters::description() const {
  std::vector<std::string> parts;
  parts.push_back("MIMEType:" + MIMEType_.value_or("(null)"));
  if (data_)
    parts.push_back("data:" + std::to_string(static_cast<unsigned long long>(data_->length())) + " bytes");
  if (fileHandle_) parts.push_back("fileHandle:" + fileHandle_->description());
  if (fileURL_) parts.push_back("file:" + fileURL_->path());
  if (uploadLocationURL_) parts.push_back("uploadLocation:" + uploadLocationURL_->absoluteString());
  if (slug_) parts.push_back("slug:" + *slug_);
  if (shouldSendUploadOnly_) parts.push_back("shouldSendUploadOnly");
  char buf[64];
  std::snprintf(buf, sizeof buf, " %p: {", static_cast<const void*>(this));
  return className() + buf + ns::str::join(parts, ", ") + "}";
}
