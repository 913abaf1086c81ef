#include "lib/google/ApiServiceYouTube.h"

#include "lib/google/GoogleAPIConfig.h"

ApiServiceYouTube::ApiServiceYouTube() {
  std::string base = googleAPIBaseURL();
  setApiVersion("v3");
  setRpcURL(ns::URL::URLWithString(base + "/rpc?prettyPrint=false"));
  setRpcUploadURL(ns::URL::URLWithString(base + "/upload/rpc?uploadType=resumable&prettyPrint=false"));
}
