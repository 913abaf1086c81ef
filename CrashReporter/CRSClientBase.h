#pragma once
// The root of the service clients: owns the web client with the fixed identification headers,
// asks its delegate for the application's identity and enciphers identity texts into header
// values.
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "CrashReporter/CRSWebClient/CRSWebClient.h"
#include "platform/core/Data.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"

// The fixed client identity the service knows the reporter by.
inline constexpr char CRSDeveloperToken[] = "c3a91f0e6b2d84a7f5c0e9d3b1a6f8e2d4c7b05a";
inline constexpr char CRSClientType[] = "CrashReporter Mac SDK";
inline constexpr char CRSClientVersion[] = "2.2.5";
inline constexpr char CRSClientBuildVersion[] = "39";

class CRSClientDelegate {
 public:
  virtual ~CRSClientDelegate() = default;
  virtual std::string APIKey() = 0;
  virtual std::string bundleId() = 0;
  virtual std::optional<std::string> applicationName() = 0;
  virtual std::optional<std::string> bundleVersion() = 0;
  virtual std::optional<std::string> shortBundleVersion() = 0;
  // Architecture → UUID; nothing when unknown.
  virtual std::optional<std::map<std::string, std::string>> executableSlices() = 0;
  virtual std::optional<std::string> minimumSDKVersion() = 0;
  virtual std::optional<std::string> builtSDKVersion() = 0;
  virtual std::uint32_t deliveryMechanism() = 0;
  virtual std::uint32_t deviceState() = 0;
  virtual ns::Dictionary identificationDictionary() = 0;
};

class CRSClientBase : public ns::Object {
 public:
  using HashedKey = std::array<std::uint8_t, 32>;

  explicit CRSClientBase(ns::Ref<ns::URL> url);

  const ns::Ref<CRSWebClient>& webClient() const { return webClient_; }
  std::shared_ptr<CRSClientDelegate> delegate() const { return delegate_.lock(); }
  void setDelegate(const std::shared_ptr<CRSClientDelegate>& delegate) { delegate_ = delegate; }

  // The delegate's answers (empty without a delegate).
  std::string APIKey() const;
  std::string bundleId() const;
  std::optional<std::string> applicationName() const;
  std::optional<std::string> bundleVersion() const;
  std::optional<std::string> shortBundleVersion() const;
  std::optional<std::map<std::string, std::string>> executableSlices() const;
  std::optional<std::string> minimumSDKVersion() const;
  std::optional<std::string> builtSDKVersion() const;
  std::uint32_t deviceState() const;

  // SHA-1 hex of the slice UUIDs joined in the order of their architectures; "(unknown)"
  // without slices.
  std::string instanceIdentifier() const;
  // The delivery mechanism as a decimal.
  std::string sourceString() const;
  // The enciphered identity, nothing when the identity is empty.
  std::optional<ns::Data> identificationData() const;
  std::optional<ns::Data> headerDataForDictionary(const ns::Dictionary& dictionary) const;
  ns::Data headerDataForArray(const ns::Array& array) const;
  // {"key":"value",...} with quotes and backslashes escaped.
  static std::string headerStringForDictionary(const ns::Dictionary& dictionary);
  static std::string headerStringForArray(const ns::Array& array);
  // AES-256-ECB of the bytes under the key made from the API key and bundle identifier; empty
  // on failure.
  ns::Data headerDataForData(const ns::Data& data) const;
  HashedKey newHashedKey() const;
  static HashedKey newHashedKeyWithSeed_salt(std::string_view seed, std::string_view salt);

  std::string className() const override { return "CRSClientBase"; }

 private:
  ns::Ref<CRSWebClient> webClient_;
  std::weak_ptr<CRSClientDelegate> delegate_;
};
