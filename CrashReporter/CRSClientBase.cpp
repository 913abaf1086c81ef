#include "CrashReporter/CRSClientBase.h"

#include <cstring>

#include "CrashReporter/CRSSystemInfo.h"
#include "platform/core/Format.h"
#include "platform/security/Cipher.h"

namespace {

// The salt's dots become this before hashing: one place, shared with whoever must derive the
// same key.
constexpr char kSaltDot[] = {'.', '\0'};
constexpr char kSaltDotReplacement[] = {'-', '0', '-', '\0'};

std::string quoted(const ns::Value& value) {
  std::string text = value.isString() ? value.string() : value.description();
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  out += '"';
  return out;
}

}  // namespace

CRSClientBase::CRSClientBase(ns::Ref<ns::URL> url) : webClient_(CRSWebClient::initWithURL(std::move(url))) {
  webClient_->addValue_forHeader(CRSDeveloperToken, "X-CRASHREPORTER-DEVELOPER-TOKEN");
  webClient_->addValue_forHeader(ns::format("%s/%s", CRSClientType, CRSClientVersion), "User-Agent");
  webClient_->addValue_forHeader(CRSClientType, "X-CRASHREPORTER-API-CLIENT-TYPE");
  webClient_->addValue_forHeader(CRSClientVersion, "X-CRASHREPORTER-API-CLIENT-VERSION");
  webClient_->addValue_forHeader(CRSClientVersion, "X-CRASHREPORTER-API-CLIENT-DISPLAY-VERSION");
  webClient_->addValue_forHeader(CRSClientBuildVersion, "X-CRASHREPORTER-API-CLIENT-BUILD-VERSION");
}

std::string CRSClientBase::APIKey() const {
  auto d = delegate();
  return d ? d->APIKey() : std::string();
}
std::string CRSClientBase::bundleId() const {
  auto d = delegate();
  return d ? d->bundleId() : std::string();
}
std::optional<std::string> CRSClientBase::applicationName() const {
  auto d = delegate();
  return d ? d->applicationName() : std::nullopt;
}
std::optional<std::string> CRSClientBase::bundleVersion() const {
  auto d = delegate();
  return d ? d->bundleVersion() : std::nullopt;
}
std::optional<std::string> CRSClientBase::shortBundleVersion() const {
  auto d = delegate();
  return d ? d->shortBundleVersion() : std::nullopt;
}
std::optional<std::map<std::string, std::string>> CRSClientBase::executableSlices() const {
  auto d = delegate();
  return d ? d->executableSlices() : std::nullopt;
}
std::optional<std::string> CRSClientBase::minimumSDKVersion() const {
  auto d = delegate();
  return d ? d->minimumSDKVersion() : std::nullopt;
}
std::optional<std::string> CRSClientBase::builtSDKVersion() const {
  auto d = delegate();
  return d ? d->builtSDKVersion() : std::nullopt;
}
std::uint32_t CRSClientBase::deviceState() const {
  auto d = delegate();
  return d ? d->deviceState() : 0;
}

std::string CRSClientBase::instanceIdentifier() const {
  auto slices = executableSlices();
  if (!slices) return "(unknown)";
  std::string joined;
  for (const auto& [arch, uuid] : *slices) joined += uuid;  // the map orders by architecture
  return CRSSHA1HexStringFromString(joined);
}

std::string CRSClientBase::sourceString() const {
  auto d = delegate();
  return ns::format("%d", static_cast<int>(d ? d->deliveryMechanism() : 0));
}

std::optional<ns::Data> CRSClientBase::identificationData() const {
  auto d = delegate();
  if (!d) return std::nullopt;
  return headerDataForDictionary(d->identificationDictionary());
}

std::optional<ns::Data> CRSClientBase::headerDataForDictionary(const ns::Dictionary& dictionary) const {
  if (dictionary.empty()) return std::nullopt;
  return headerDataForData(ns::Data(headerStringForDictionary(dictionary)));
}

ns::Data CRSClientBase::headerDataForArray(const ns::Array& array) const {
  return headerDataForData(ns::Data(headerStringForArray(array)));
}

std::string CRSClientBase::headerStringForDictionary(const ns::Dictionary& dictionary) {
  std::string text = "{";
  for (const auto& [key, value] : dictionary) text += quoted(key) + ":" + quoted(value) + ",";
  if (text.size() > 1) text.pop_back();
  text += "}";
  return text;
}

std::string CRSClientBase::headerStringForArray(const ns::Array& array) {
  std::string text = "[";
  for (std::size_t i = 0; i < array.size(); ++i) {
    if (i) text += ",";
    if (array[i].isDictionary()) text += headerStringForDictionary(array[i].dictionary());
  }
  text += "]";
  return text;
}

ns::Data CRSClientBase::headerDataForData(const ns::Data& data) const {
  HashedKey key = newHashedKey();
  std::vector<std::uint8_t> out(data.length() + sec::kCCBlockSizeAES128);
  std::size_t moved = 0;
  auto status = sec::CCCrypt(sec::kCCEncrypt, sec::kCCAlgorithmAES,
                             sec::kCCOptionPKCS7Padding | sec::kCCOptionECBMode, key.data(), key.size(),
                             nullptr, data.bytes(), data.length(), out.data(), out.size(), &moved);
  std::memset(key.data(), 0, key.size());
  if (status != sec::kCCSuccess) return {};
  out.resize(moved);
  return ns::Data(std::move(out));
}

CRSClientBase::HashedKey CRSClientBase::newHashedKey() const {
  return newHashedKeyWithSeed_salt(APIKey(), bundleId());
}

CRSClientBase::HashedKey CRSClientBase::newHashedKeyWithSeed_salt(std::string_view seed,
                                                                  std::string_view salt) {
  std::string altered;
  const std::string_view dot = kSaltDot;
  for (std::size_t i = 0; i < salt.size();) {
    if (salt.substr(i, dot.size()) == dot) {
      altered += kSaltDotReplacement;
      i += dot.size();
    } else {
      altered += salt[i++];
    }
  }
  std::string joined = std::string(seed) + altered;
  std::string hex = CRSSHA1HexStringFromString(joined);
  HashedKey key{};
  std::memcpy(key.data(), hex.data(), key.size());
  return key;
}
