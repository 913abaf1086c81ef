#pragma once
// One request to the crash-reporting service under construction: method, path or absolute URL,
// query parameters, headers and multipart form fields.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Data.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"
#include "platform/net/HTTPHeaderFields.h"
#include "platform/net/URL.h"
#include "platform/net/URLAuthenticationChallenge.h"
#include "platform/net/URLRequest.h"

// The boundary of a multipart body whose fields do not contain it; otherwise it is followed by
// "-" and random hex digits until the fields do not contain it either.
inline constexpr char CRSWebRequestBoundary[] = "AaB03x";

// A form record: a text or data value (anything else, nil included, is left out of the body).
struct CRSFormRecord {
  ns::Value value;
  std::string field;
  std::optional<std::string> mimeType;
  std::optional<std::string> fileName;
};

class CRSWebRequest : public ns::Object {
 public:
  using ProtectionSpaceHandler = std::function<bool(const ns::Ref<ns::URLProtectionSpace>&)>;

  CRSWebRequest(std::string method, std::string path);
  static ns::Ref<CRSWebRequest> requestWithMethod_path(std::string method, std::string path);
  static ns::Ref<CRSWebRequest> initWithMethod(std::string method);

  // Sets (replaces) one header of this request.
  void addValue_forHTTPHeaderField(const std::string& value, const std::string& field);
  // Takes each header whose name is not set on the request yet.
  void addHeaders(const ns::HTTPHeaderFields& headers);

  void addValue_forFormField(ns::Value value, const std::string& field);
  void addData_MIMEType_fileName_forFormField(ns::Value data, std::optional<std::string> mimeType,
                                              std::optional<std::string> fileName, const std::string& field);
  // Fields named "prefix[key]".
  void addValueForFormFromDict_withPrefix(const ns::Dictionary& dict, const std::string& prefix);
  void addValueForFormFromDict(const ns::Dictionary& dict) { addValueForFormFromDict_withPrefix(dict, ""); }
  // Fields named by the keys.
  void setFormData(const ns::Dictionary& dict);

  // The URL's absolute text with the escaped query parameters.
  std::string fullURL() const;
  // The multipart body, nothing without form records; making it sets the "Content-Type" header
  // with the body's boundary.
  std::optional<ns::Data> formData();
  // A boundary that occurs in none of the records' names, types, file names and values.
  static std::string boundaryForFormFields(const std::vector<CRSFormRecord>& records);
  // The platform request: 15 s time-out, no cached data; nullptr without a URL.
  ns::Ref<ns::URLRequest> URLRequest();

  const std::string& method() const { return method_; }
  const std::string& path() const { return path_; }
  const ns::HTTPHeaderFields& customHeaders() const { return customHeaders_; }
  const std::optional<std::vector<CRSFormRecord>>& formFields() const { return formFields_; }
  const std::optional<ns::Dictionary>& parameters() const { return parameters_; }
  void setParameters(std::optional<ns::Dictionary> parameters) { parameters_ = std::move(parameters); }
  const ns::Ref<ns::URL>& URL() const { return url_; }
  void setURL(ns::Ref<ns::URL> url) { url_ = std::move(url); }
  const ProtectionSpaceHandler& protectionSpaceHandler() const { return protectionSpaceHandler_; }
  void setProtectionSpaceHandler(ProtectionSpaceHandler handler) {
    protectionSpaceHandler_ = std::move(handler);
  }

  // The longest answer body taken, in bytes (0: no limit). A longer answer fails with
  // CRSWebClientErrorDomain -3 and its body is not read further.
  std::uint64_t maximumResponseLength() const { return maximumResponseLength_; }
  void setMaximumResponseLength(std::uint64_t length) { maximumResponseLength_ = length; }

  std::string className() const override { return "CRSWebRequest"; }

 private:
  std::string method_;
  ns::HTTPHeaderFields customHeaders_;
  std::optional<std::vector<CRSFormRecord>> formFields_;
  std::optional<ns::Dictionary> parameters_;
  ns::Ref<ns::URL> url_;
  std::string path_;
  ProtectionSpaceHandler protectionSpaceHandler_;
  std::uint64_t maximumResponseLength_ = 0;
};
