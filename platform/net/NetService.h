#pragma once
// Publishing a DNS-SD service (a name, a type and a port in a domain, with a TXT record) through
// the desktop's mDNS daemon, Avahi, reached over the D-Bus system bus (DBUS_SYSTEM_BUS_ADDRESS
// names another bus).
//
//   auto service = ns::make<ns::NetService>("local.", "_http._tcp.", "", 8080);
//   service->setDelegate(delegate);
//   service->scheduleInRunLoop_forMode(thread->runLoop(), ns::RunLoopCommonModes);
//   service->publish();                       // on that run loop's thread
//   service->setTXTRecordData(ns::NetService::dataFromTXTRecordDictionary({{"path", "/"}}));
//
// The daemon's traffic and the delegate callbacks run on the run loop the service is scheduled
// in, in its modes (the calling thread's run loop in the default mode when it was scheduled
// nowhere). publish, stop and setTXTRecordData called on another thread are carried out there,
// in order. A name taken by another service is replaced by the daemon's alternative ("name #2"),
// which name() then answers. The delegate is not retained.
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/core/Data.h"
#include "platform/core/Object.h"
#include "platform/core/Value.h"

namespace ns {

class RunLoop;
class NetService;

// The keys and codes of the error dictionary of netService_didNotPublish.
inline constexpr char NetServicesErrorCode[] = "NSNetServicesErrorCode";
inline constexpr char NetServicesErrorDomain[] = "NSNetServicesErrorDomain";
inline constexpr long NetServicesUnknownError = -72000;
inline constexpr long NetServicesCollisionError = -72001;
inline constexpr long NetServicesActivityInProgress = -72003;
inline constexpr long NetServicesBadArgumentError = -72004;
// The error domain the dictionary names: the net services' own.
inline constexpr long NetServicesErrorDomainNetServices = 10;

class NetServiceDelegate {
 public:
  virtual ~NetServiceDelegate() = default;
  virtual void netServiceWillPublish(const Ref<NetService>& sender) {}
  virtual void netServiceDidPublish(const Ref<NetService>& sender) {}
  // errorDict holds NetServicesErrorCode and NetServicesErrorDomain.
  virtual void netService_didNotPublish(const Ref<NetService>& sender, const Dictionary& errorDict) {}
  virtual void netServiceDidStop(const Ref<NetService>& sender) {}
};

class NetService : public Object {
 public:
  // An empty name stands for the computer's name, taken when the service publishes.
  NetService(std::string domain, std::string type, std::string name, int port);
  ~NetService() override;

  std::string className() const override { return "NSNetService"; }

  Ref<NetServiceDelegate> delegate() const;
  void setDelegate(const Weak<NetServiceDelegate>& delegate);

  // One run loop at a time: scheduling in another run loop moves the service there. Changes
  // take effect at the next publish.
  void scheduleInRunLoop_forMode(const Ref<RunLoop>& runLoop, const std::string& mode);
  void removeFromRunLoop_forMode(const Ref<RunLoop>& runLoop, const std::string& mode);

  // Registers the service with the daemon; netServiceDidPublish follows once the name is the
  // service's on the network, netService_didNotPublish when the daemon cannot be reached or
  // refuses it (or when it is already publishing).
  void publish();
  // Withdraws the service; netServiceDidStop follows.
  void stop();

  std::string domain() const { return domain_; }
  std::string type() const { return type_; }
  // The name given, or the one it is published under once the daemon named it.
  std::string name() const;
  int port() const { return port_; }

  // The TXT record (DNS wire form: length-prefixed "key=value" strings); replaced on the network
  // while published. Answers false for data that is not a TXT record.
  std::optional<Data> TXTRecordData() const;
  bool setTXTRecordData(const std::optional<Data>& data);

  // The TXT record of a dictionary of string keys and data or string values; nothing when a key
  // is empty or holds '=', a value is of another kind, or an entry passes 255 bytes.
  static std::optional<Data> dataFromTXTRecordDictionary(const Dictionary& dictionary);
  // The entries of a TXT record: key to value data (an entry without '=' has an empty value).
  static Dictionary dictionaryFromTXTRecordData(const Data& data);

  struct Impl;

 private:
  // Runs `work` on the scheduled run loop's thread: at once when called there, else queued.
  void onServiceThread(std::function<void()> work);
  Ref<RunLoop> scheduledLoop() const;

  const std::string domain_, type_;
  const int port_;
  std::string givenName_;
  Weak<NetServiceDelegate> delegate_;
  mutable std::mutex mutex_;
  Weak<RunLoop> loop_;
  std::vector<std::string> modes_;
  std::optional<Data> txtRecord_;
  std::shared_ptr<Impl> impl_;
};

}  // namespace ns
