#pragma once
// The service set up for the YouTube Data API v3: JSON-RPC calls with "apiVersion" "v3" to
// "/rpc?prettyPrint=false" (uploads to "/upload/rpc?uploadType=resumable&prettyPrint=false") on
// the configured API host (GoogleAPIConfig.h), read when the service is made.
#include "lib/google/ApiService.h"

class ApiServiceYouTube : public ApiService {
 public:
  ApiServiceYouTube();
  std::string className() const override { return "ApiServiceYouTube"; }
};
