#pragma once
// A GET request for a URL, and a URL connection delegate that records every callback (kind,
// thread) and lets a test answer redirects and challenges.
#include <array>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/net/URLConnection.h"

inline ns::Ref<ns::URLRequest> requestFor(const std::string& url) {
  return ns::URLRequest::requestWithURL(ns::URL::URLWithString(url));
}

class RecordingDelegate : public ns::URLConnectionDelegate {
 public:
  std::function<ns::Ref<ns::URLRequest>(const ns::Ref<ns::URLRequest>&, const ns::Ref<ns::URLResponse>&)>
      onRedirect;
  std::function<void(const ns::Ref<ns::URLConnection>&, const ns::Ref<ns::URLAuthenticationChallenge>&)>
      onChallenge;
  std::function<void(const ns::Data&)> onData;

  ns::Ref<ns::URLResponse> response;
  std::string body;
  std::optional<ns::Error> error;
  std::vector<ns::Ref<ns::URLRequest>> redirectRequests;
  std::vector<ns::Ref<ns::URLResponse>> redirectResponses;
  std::vector<ns::Ref<ns::URLAuthenticationChallenge>> challenges;
  std::array<long, 3> lastSent{0, 0, 0};

  std::vector<std::string> kinds() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> out;
    for (const auto& e : events_) out.push_back(e.first);
    return out;
  }
  std::size_t count(const std::string& kind) const {
    std::size_t n = 0;
    for (const auto& k : kinds()) n += k == kind;
    return n;
  }
  bool ended() const { return count("finish") + count("fail") > 0; }
  bool allOnThread(std::thread::id id) const {
    std::lock_guard lock(mutex_);
    for (const auto& e : events_)
      if (e.second != id) return false;
    return true;
  }

  ns::Ref<ns::URLRequest> connection_willSendRequest_redirectResponse(
      const ns::Ref<ns::URLConnection>&, const ns::Ref<ns::URLRequest>& request,
      const ns::Ref<ns::URLResponse>& redirect) override {
    record(redirect ? "redirect" : "request");
    if (redirect) {
      redirectRequests.push_back(request);
      redirectResponses.push_back(redirect);
    }
    return onRedirect ? onRedirect(request, redirect) : request;
  }
  void connection_willSendRequestForAuthenticationChallenge(
      const ns::Ref<ns::URLConnection>& c,
      const ns::Ref<ns::URLAuthenticationChallenge>& challenge) override {
    record("challenge");
    challenges.push_back(challenge);
    if (onChallenge)
      onChallenge(c, challenge);
    else
      URLConnectionDelegate::connection_willSendRequestForAuthenticationChallenge(c, challenge);
  }
  void connection_didReceiveResponse(const ns::Ref<ns::URLConnection>&,
                                     const ns::Ref<ns::URLResponse>& r) override {
    record("response");
    response = r;
    body.clear();
  }
  void connection_didReceiveData(const ns::Ref<ns::URLConnection>&, const ns::Data& data) override {
    record("data");
    body += data.toString();
    if (onData) onData(data);
  }
  void connection_didSendBodyData_totalBytesWritten_totalBytesExpectedToWrite(
      const ns::Ref<ns::URLConnection>&, long written, long total, long expected) override {
    record("sent");
    lastSent = {written, total, expected};
  }
  void connectionDidFinishLoading(const ns::Ref<ns::URLConnection>&) override { record("finish"); }
  void connection_didFailWithError(const ns::Ref<ns::URLConnection>&, const ns::Error& e) override {
    record("fail");
    error = e;
  }

 private:
  void record(const char* kind) {
    std::lock_guard lock(mutex_);
    events_.emplace_back(kind, std::this_thread::get_id());
  }
  mutable std::mutex mutex_;
  std::vector<std::pair<std::string, std::thread::id>> events_;
};
