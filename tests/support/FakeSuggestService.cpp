#include "tests/support/FakeSuggestService.h"

#include <chrono>

#include "platform/core/Value.h"
#include "platform/serialization/JSONSerialization.h"

namespace testsupport {

FakeSuggestService::FakeSuggestService() {
  server_.route("GET", "/complete/search",
                [this](const pltest::FakeRequest& request) { return reply(request); });
}

FakeSuggestService::~FakeSuggestService() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  released_.notify_all();
  server_.stop();
}

void FakeSuggestService::answer(const std::string& text, pltest::FakeReply reply) {
  std::lock_guard<std::mutex> lock(mutex_);
  answers_[text] = std::move(reply);
}

std::string FakeSuggestService::suggestionsJSON(const std::string& text,
                                                const std::vector<std::string>& suggestions) {
  ns::Array list;
  for (const auto& s : suggestions) list.push_back(ns::Value(s));
  auto data = ns::JSONSerialization::dataWithJSONObject_options_error(
      ns::Value(ns::Array{ns::Value(text), ns::Value(list)}), 0, nullptr);
  return data ? data->toString() : std::string();
}

void FakeSuggestService::hold(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  held_.insert(text);
}

void FakeSuggestService::release(const std::string& text) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    held_.erase(text);
  }
  released_.notify_all();
}

std::vector<std::string> FakeSuggestService::answered() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return answered_;
}

std::vector<std::string> FakeSuggestService::queries() const {
  std::vector<std::string> out;
  for (const auto& request : server_.requests()) {
    auto q = request.params.find("q");
    out.push_back(q == request.params.end() ? std::string() : q->second);
  }
  return out;
}

pltest::FakeReply FakeSuggestService::reply(const pltest::FakeRequest& request) {
  auto q = request.params.find("q");
  std::string text = q == request.params.end() ? std::string() : q->second;
  std::unique_lock<std::mutex> lock(mutex_);
  // A held reply waits on the server's thread for this request only; a test that forgets to
  // release it is ended by the generous time-out rather than hanging.
  released_.wait_for(lock, std::chrono::seconds(60), [&] { return stopping_ || !held_.count(text); });
  answered_.push_back(text);
  auto scripted = answers_.find(text);
  if (scripted != answers_.end()) return scripted->second;
  return pltest::FakeReply::json(200, suggestionsJSON(text, {text + "c", text + "d"}));
}

}  // namespace testsupport
