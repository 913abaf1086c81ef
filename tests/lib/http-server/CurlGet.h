#pragma once
// GETs through libcurl, a client independent of the server under test.
#include <curl/curl.h>
#include <gtest/gtest.h>

#include <string>

namespace httptest {

// Every member has a default, so that a designated initialiser names only what it sets.
struct CurlRequest {
  std::string url{};
  std::string* body = nullptr;  // none: the body is dropped
  const char* range = nullptr;  // "100-199"
  bool head = false;
  long authType = 0;  // CURLAUTH_..., with userpwd
  const char* userpwd = nullptr;
  std::string caFile{};  // the only authority trusted for https
};

inline size_t curlCollect(char* data, size_t size, size_t count, void* out) {
  if (out) static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

// Runs the request on `curl` (kept by the caller to reuse its connection); answers the status, 0 on
// a transport failure.
inline long curlPerform(CURL* curl, const CurlRequest& request) {
  if (request.body) request.body->clear();
  curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
  curl_easy_setopt(curl, CURLOPT_RANGE, request.range);
  curl_easy_setopt(curl, CURLOPT_NOBODY, request.head ? 1L : 0L);
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, curlCollect);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, request.body);
  curl_easy_setopt(curl, CURLOPT_TIMEOUT, 30L);
  curl_easy_setopt(curl, CURLOPT_NOPROXY, "*");
  if (request.authType) {
    curl_easy_setopt(curl, CURLOPT_HTTPAUTH, request.authType);
    curl_easy_setopt(curl, CURLOPT_USERPWD, request.userpwd);
  }
  if (!request.caFile.empty()) {
    curl_easy_setopt(curl, CURLOPT_CAINFO, request.caFile.c_str());
    curl_easy_setopt(curl, CURLOPT_CAPATH, nullptr);
  }
  long status = 0;
  if (curl_easy_perform(curl) == CURLE_OK) curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
  return status;
}

// The same on a handle of its own.
inline long curlGet(const CurlRequest& request) {
  CURL* curl = curl_easy_init();
  EXPECT_NE(curl, nullptr);
  if (!curl) return 0;
  long status = curlPerform(curl, request);
  curl_easy_cleanup(curl);
  return status;
}

}  // namespace httptest
