#include "CrashReporter/CRSWebClient/CRSWebRequest.h"

#include <random>

#include "CrashReporter/CRSWebClient/CRSWebClient.h"
#include "platform/core/Exception.h"
#include "platform/core/Format.h"

namespace {

constexpr double kTimeoutSeconds = 15;

std::string valueText(const ns::Value& value) {
  return value.isString() ? value.string() : value.description();
}

}  // namespace

CRSWebRequest::CRSWebRequest(std::string method, std::string path)
    : method_(std::move(method)), path_(std::move(path)) {
  if (method_.empty()) ns::Exception::raise("NSInternalInconsistencyException", "method");
}

ns::Ref<CRSWebRequest> CRSWebRequest::requestWithMethod_path(std::string method, std::string path) {
  return ns::make<CRSWebRequest>(std::move(method), std::move(path));
}

ns::Ref<CRSWebRequest> CRSWebRequest::initWithMethod(std::string method) {
  return ns::make<CRSWebRequest>(std::move(method), std::string());
}

void CRSWebRequest::addValue_forHTTPHeaderField(const std::string& value, const std::string& field) {
  customHeaders_.set(field, value);
}

void CRSWebRequest::addHeaders(const ns::HTTPHeaderFields& headers) {
  for (const auto& [name, value] : headers) {
    if (!customHeaders_.contains(name)) customHeaders_.set(name, value);
  }
}

void CRSWebRequest::addValue_forFormField(ns::Value value, const std::string& field) {
  if (!formFields_) formFields_.emplace();
  formFields_->push_back({std::move(value), field, std::string("text/plain"), std::nullopt});
}

void CRSWebRequest::addData_MIMEType_fileName_forFormField(ns::Value data,
                                                           std::optional<std::string> mimeType,
                                                           std::optional<std::string> fileName,
                                                           const std::string& field) {
  if (!formFields_) formFields_.emplace();
  formFields_->push_back({std::move(data), field, std::move(mimeType), std::move(fileName)});
}

void CRSWebRequest::addValueForFormFromDict_withPrefix(const ns::Dictionary& dict,
                                                       const std::string& prefix) {
  for (const auto& [key, value] : dict) addValue_forFormField(value, ns::format("%@[%@]", prefix, key));
}

void CRSWebRequest::setFormData(const ns::Dictionary& dict) {
  for (const auto& [key, value] : dict) addValue_forFormField(value, valueText(key));
}

std::string CRSWebRequest::fullURL() const {
  std::string text = url_ ? url_->absoluteString() : std::string();
  if (parameters_ && !parameters_->empty()) {
    text += "?";
    for (const auto& [key, value] : *parameters_) {
      text += CRSWebClient::escapeURLString(valueText(key)) + "=" +
              CRSWebClient::escapeURLString(valueText(value)) + "&";
    }
    text.pop_back();
  }
  return text;
}

std::string CRSWebRequest::boundaryForFormFields(const std::vector<CRSFormRecord>& records) {
  // Everything the body carries besides its delimiters; joined with a byte that no boundary
  // holds, so that no candidate is found across two pieces.
  std::string content;
  for (const auto& record : records) {
    for (const std::string* piece : {&record.field, record.mimeType ? &*record.mimeType : nullptr,
                                     record.fileName ? &*record.fileName : nullptr}) {
      if (piece) content.append(*piece).push_back('\n');
    }
    if (record.value.isString()) content.append(record.value.string()).push_back('\n');
    if (record.value.isData()) content.append(record.value.data().toString()).push_back('\n');
  }
  std::string boundary = CRSWebRequestBoundary;
  if (content.find(boundary) == std::string::npos) return boundary;
  // A report holds logs and user data, which may hold anything, the usual boundary too.
  static constexpr char kDigits[] = "0123456789abcdef";
  std::mt19937_64 random{std::random_device{}()};
  do {
    boundary = std::string(CRSWebRequestBoundary) + "-";
    for (int i = 0; i < 24; ++i) boundary += kDigits[random() % 16];
  } while (content.find(boundary) != std::string::npos);
  return boundary;
}

std::optional<ns::Data> CRSWebRequest::formData() {
  if (!formFields_ || formFields_->empty()) return std::nullopt;
  const std::string boundary = boundaryForFormFields(*formFields_);
  ns::MutableData body;
  body.append("MIME-Version: 1.0\r\n");
  for (const auto& record : *formFields_) {
    if (record.value.isString()) {
      body.append(
          ns::format("--%@\r\nContent-Disposition: form-data; name=\"%@\"\r\n", boundary, record.field));
      body.append("Content-Type: text/plain\r\n\r\n");
      body.append(record.value.string());
      body.append("\r\n");
    } else if (record.value.isData()) {
      body.append(ns::format("--%@\r\nContent-Disposition: form-data; name=\"%@\"; filename=\"%@\"\r\n",
                             boundary, record.field, record.fileName.value_or("(null)")));
      if (record.mimeType) {
        body.append(ns::format("Content-Type: %@\r\n", *record.mimeType));
        body.append("Content-Transfer-Encoding: binary\r\n\r\n");
      } else {
        body.append("Content-Type: application/octet-stream\r\n\r\n");
      }
      body.appendData(record.value.data());
      body.append("\r\n");
    }
  }
  body.append(ns::format("--%@--\r\n", boundary));
  customHeaders_.set("Content-Type", ns::format("multipart/form-data; boundary=%@", boundary));
  return body.copy();
}

ns::Ref<ns::URLRequest> CRSWebRequest::URLRequest() {
  auto url = ns::URL::URLWithString(fullURL());
  if (!url) return nullptr;
  auto request = ns::URLRequest::requestWithURL_cachePolicy_timeoutInterval(
      url, ns::URLRequestReloadIgnoringLocalCacheData, kTimeoutSeconds);
  request->setHTTPMethod(method_);
  if (auto body = formData()) request->setHTTPBody(*body);
  for (const auto& [name, value] : customHeaders_) request->setValue_forHTTPHeaderField(value, name);
  return request;
}
