#include "CrashReporter/CRSCrashFile.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "CrashReporter/CRSSystemInfo.h"
#include "CrashReporter/CRSUserLogging.h"
#include "CrashReporter/CrashReporter.pb-c.h"
#include "platform/core/Format.h"
#include "platform/core/Str.h"
#include "platform/net/PercentEncoding.h"
#include "platform/security/Digest.h"

namespace {

const ns::Value& member(const ns::Value& value, const char* key) {
  static const ns::Value nil;
  if (!value.isDictionary()) return nil;
  const ns::Value* found = value.dictionary().find(key);
  return found ? *found : nil;
}

std::optional<std::string> text(const ns::Value& value) {
  if (!value.isString()) return std::nullopt;
  return value.string();
}

std::uint64_t number(const ns::Value& value) {
  return value.isNumber() ? value.unsignedLongLongValue() : 0;
}

std::optional<std::string> unescaped(const ns::Value& value) {
  if (!value.isString()) return std::nullopt;
  return ns::stringByRemovingPercentEncoding(value.string());
}

// UTF-8 with every byte that does not start a valid sequence replaced by U+FFFD: the log is a ring
// cut at a byte offset, so its ends may split a character.
std::string decodeLeniently(std::string_view bytes) {
  std::string out;
  std::size_t i = 0;
  while (i < bytes.size()) {
    auto c = static_cast<unsigned char>(bytes[i]);
    std::size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (length && i + length <= bytes.size() && ns::str::isValidUtf8(bytes.substr(i, length))) {
      out.append(bytes.substr(i, length));
      i += length;
    } else {
      out += "\xEF\xBF\xBD";
      ++i;
    }
  }
  return out;
}

// Every allocation made while filling the generated structures, freed together on every path.
class Arena {
 public:
  Arena() = default;
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena() {
    for (void* block : blocks_) std::free(block);
  }
  template <class T>
  T* make(void (*init)(T*)) {
    auto* value = static_cast<T*>(keep(std::calloc(1, sizeof(T))));
    init(value);
    return value;
  }
  template <class T>
  T** array(std::size_t count) {
    return static_cast<T**>(keep(std::calloc(count ? count : 1, sizeof(T*))));
  }
  char* string(const std::string& value) {
    auto* copy = static_cast<char*>(keep(std::malloc(value.size() + 1)));
    std::memcpy(copy, value.c_str(), value.size() + 1);
    return copy;
  }
  ProtobufCBinaryData bytes(const std::string& value) {
    ProtobufCBinaryData data;
    data.len = value.size();
    data.data = reinterpret_cast<std::uint8_t*>(string(value));
    return data;
  }

 private:
  void* keep(void* block) {
    if (!block) throw std::bad_alloc();
    blocks_.push_back(block);
    return block;
  }
  std::vector<void*> blocks_;
};

using ExecutionFrame = CrashReporter__Session__Event__Application__Execution__Thread__Frame;

void populateFrames(Arena& arena, const std::vector<CRSStackFrame>& frames, std::size_t* count,
                    ExecutionFrame*** out) {
  *count = frames.size();
  *out = arena.array<ExecutionFrame>(frames.size());
  for (std::size_t i = 0; i < frames.size(); ++i) {
    auto* frame = arena.make<ExecutionFrame>(
        crash_reporter__session__event__application__execution__thread__frame__init);
    frame->pc = frames[i].address;
    if (frames[i].symbol) frame->symbol = arena.string(*frames[i].symbol);
    if (frames[i].fileName) frame->file = arena.string(*frames[i].fileName);
    frame->has_offset = frame->has_address_offset = 1;
    frame->offset = frame->address_offset = frames[i].offset;
    frame->has_importance = 1;
    frame->importance = frames[i].importance;
    (*out)[i] = frame;
  }
}

CrashReporter__CustomAttribute** customAttributes(
    Arena& arena, const std::vector<std::pair<std::string, std::string>>& keys) {
  auto** out = arena.array<CrashReporter__CustomAttribute>(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    auto* attribute = arena.make<CrashReporter__CustomAttribute>(crash_reporter__custom_attribute__init);
    attribute->key = arena.string(keys[i].first);
    attribute->value = arena.string(keys[i].second);
    out[i] = attribute;
  }
  return out;
}

}  // namespace

std::string CRSStackFrame::description() const {
  if (fileName) {
    return ns::format("{[0x%llx] %@ - %@:%lu}", static_cast<unsigned long long>(address), *fileName,
                      symbol.value_or("(null)"), static_cast<unsigned long>(lineNumber));
  }
  return ns::format("{[0x%llx + %lu] %@}", static_cast<unsigned long long>(address),
                    static_cast<unsigned long>(lineNumber), symbol.value_or("(null)"));
}

std::optional<std::size_t> CRSImageIndexForAddress(const std::vector<CRSImageRange>& images,
                                                   std::uint64_t pc) {
  for (std::size_t i = 0; i < images.size(); ++i) {
    // Half-open: with adjacent images, the first byte of the next one is not this one's.
    if (pc >= images[i].address && pc - images[i].address < images[i].size) return i;
  }
  return std::nullopt;
}

CRSCrashFile::CRSCrashFile(const std::string& path) : crashData_(parse(path)) {
  std::string base = path;
  auto dot = base.rfind('.');
  auto slash = base.rfind('/');
  if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) base.erase(dot);
  logFilePath_ = base + ".crslog";
}

const ns::Value& CRSCrashFile::section(const char* key) const {
  static const ns::Value nil;
  const ns::Value* found = crashData_.find(key);
  return found ? *found : nil;
}

bool CRSCrashFile::isValid() const {
  const ns::Value& lines = section("file_lines");
  const ns::Value& expected = member(section("schema"), "expected_lines");
  return lines.isNumber() && expected.isNumber() &&
         lines.unsignedLongLongValue() == expected.unsignedLongLongValue();
}

std::string CRSCrashFile::identifier() const {
  return CRSNormalizedUUIDString(text(member(section("identity"), "identifier")).value_or(""));
}

std::string CRSCrashFile::mainExecutableUUID() const {
  return CRSNormalizedUUIDString(text(member(section("executable"), "uuid")).value_or(""));
}

std::vector<std::pair<std::string, std::string>> CRSCrashFile::customKeys() const {
  std::vector<std::pair<std::string, std::string>> keys;
  const ns::Value& attributes = section("custom_attributes");
  if (!attributes.isDictionary()) return keys;
  for (const auto& [key, value] : attributes.dictionary().entries()) {
    auto decoded = unescaped(value);
    if (key.isString() && decoded) keys.emplace_back(key.string(), *decoded);
  }
  return keys;
}

std::optional<std::string> CRSCrashFile::deviceId() const {
  return text(member(section("identity"), "device_id"));
}

std::optional<double> CRSCrashFile::crashedOnDate() const {
  const ns::Value& ended = member(section("identity"), "ended_at");
  if (!ended.isNumber()) return std::nullopt;
  return static_cast<double>(ended.unsignedLongLongValue());
}

std::string CRSCrashFile::OSVersion() const {
  return text(member(section("host"), "os_version")).value_or("");
}

std::string CRSCrashFile::OSBuildVersion() const {
  return text(member(section("host"), "os_build")).value_or("");
}

std::string CRSCrashFile::objcSelectorName() const {
  return text(member(section("runtime"), "objc_selector")).value_or("");
}

int CRSCrashFile::architecture() const {
  std::string name = text(member(section("executable"), "architecture")).value_or("");
  if (name == "i386") return CRASH_REPORTER__ARCHITECTURE__X86_32;
  if (name == "x86_64") return CRASH_REPORTER__ARCHITECTURE__X86_64;
  if (name == "armv6") return CRASH_REPORTER__ARCHITECTURE__ARMV6;
  if (name == "armv7") return CRASH_REPORTER__ARCHITECTURE__ARMV7;
  if (name == "armv7s") return CRASH_REPORTER__ARCHITECTURE__ARMV7S;
  if (name == "arm64") return CRASH_REPORTER__ARCHITECTURE__ARM64;
  return CRASH_REPORTER__ARCHITECTURE__UNKNOWN;
}

std::optional<std::string> CRSCrashFile::logContent() const {
  const ns::Value& offset = member(section("log"), "last_offset");
  if (!offset.isNumber()) return std::nullopt;
  std::ifstream in(logFilePath_, std::ios::binary);
  if (!in) return std::nullopt;
  std::stringstream contents;
  contents << in.rdbuf();
  return decodeLeniently(CRSSessionLogReorder(contents.str(), offset.unsignedLongLongValue()));
}

CRSStackFrame CRSCrashFile::frameFrom(const ns::Value& value,
                                      const std::map<std::string, std::uint64_t>& uuidMap) const {
  CRSStackFrame frame = CRSStackFrame::stackFrameWithAddress(number(member(value, "address")));
  frame.fileName = text(member(value, "file"));
  frame.symbol = text(member(value, "symbol"));
  frame.lineNumber = number(member(value, "line"));
  std::vector<CRSImageRange> images;
  const ns::Value& list = section("binary_images");
  for (std::size_t i = 0; list.isArray() && i < list.count(); ++i) {
    images.push_back({number(member(list[i], "address")), number(member(list[i], "size")),
                      CRSNormalizedUUIDString(text(member(list[i], "uuid")).value_or(""))});
  }
  auto index = CRSImageIndexForAddress(images, frame.address);
  if (!index) return frame;
  auto loaded = uuidMap.find(images[*index].uuid);
  if (loaded == uuidMap.end()) return frame;
  std::uint64_t here = loaded->second + (frame.address - images[*index].address);
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void*>(here), &info) != 0 && info.dli_sname) {
    frame.symbol = info.dli_sname;
    frame.offset = here - reinterpret_cast<std::uint64_t>(info.dli_saddr);
  }
  return frame;
}

void CRSCrashFile::symbolicateWithUUIDMap(const std::map<std::string, std::uint64_t>& uuidMap) {
  executablesMatch_ = processingExecutableUUID_ == mainExecutableUUID();
  threads_.clear();
  const ns::Value& threadsLine = section("threads");
  std::uint64_t crashed = number(section("crashed_thread"));
  const ns::Value& names = section("thread_names");
  const ns::Value& labels = section("dispatch_queue_names");
  for (std::size_t i = 0; threadsLine.isArray() && i < threadsLine.count(); ++i) {
    CRSThread thread;
    bool isCrashed = i == crashed;
    if (isCrashed) thread.importance = 4;
    const ns::Value& frames = threadsLine[i];
    for (std::size_t f = 0; frames.isArray() && f < frames.count(); ++f) {
      CRSStackFrame frame = frameFrom(frames[f], uuidMap);
      if (isCrashed) frame.importance = 4;
      thread.frames.push_back(std::move(frame));
    }
    if (names.isArray() && i < names.count()) thread.pthreadName = text(names[i]);
    if (labels.isArray() && i < labels.count()) thread.dispatchQueueName = text(labels[i]);
    threads_.push_back(std::move(thread));
  }
  exceptionFrames_.reset();
  const ns::Value& backtrace = member(section("exception"), "backtrace");
  std::vector<CRSStackFrame> frames;
  for (std::size_t f = 0; backtrace.isArray() && f < backtrace.count(); ++f)
    frames.push_back(frameFrom(backtrace[f], uuidMap));
  if (!frames.empty()) exceptionFrames_ = std::move(frames);
}

namespace {

// What every builder of the report reads: the record's lines and the arena that owns the output.
struct ReportSource {
  const CRSCrashFile& file;
  Arena& arena;

  const ns::Value& section(const char* key) const { return file.section(key); }
};

CrashReporter__Session__User* buildUser(const ReportSource& source) {
  Arena& arena = source.arena;
  auto* user = arena.make<CrashReporter__Session__User>(crash_reporter__session__user__init);
  const ns::Value& userLine = source.section("user");
  user->identifier = arena.string(unescaped(member(userLine, "id")).value_or(""));
  if (auto email = unescaped(member(userLine, "email"))) user->email = arena.string(*email);
  if (auto name = unescaped(member(userLine, "name"))) user->name = arena.string(*name);
  return user;
}

CrashReporter__Session__Application__Process* buildApplicationProcess(const ReportSource& source) {
  Arena& arena = source.arena;
  const ns::Value& process = source.section("process_info");
  const ns::Value& executable = source.section("executable");
  auto* appProcess = arena.make<CrashReporter__Session__Application__Process>(
      crash_reporter__session__application__process__init);
  if (auto exePath = text(member(executable, "path"))) appProcess->path = arena.string(*exePath);
  if (auto name = text(member(process, "name"))) appProcess->name = arena.string(*name);
  appProcess->pid = static_cast<std::uint32_t>(number(member(process, "pid")));
  appProcess->has_parent_process_id = 1;
  appProcess->parent_process_id = static_cast<std::uint32_t>(number(member(process, "parent_pid")));
  if (auto parent = text(member(process, "parent_name")))
    appProcess->parent_process_name = arena.string(*parent);
  return appProcess;
}

CrashReporter__Session__Application__Organization* buildOrganization(const ReportSource& source) {
  auto* organization = source.arena.make<CrashReporter__Session__Application__Organization>(
      crash_reporter__session__application__organization__init);
  if (auto key = text(member(source.section("identity"), "api_key")))
    organization->api_key = source.arena.string(*key);
  return organization;
}

CrashReporter__Session__Application* buildApplication(const ReportSource& source) {
  Arena& arena = source.arena;
  const ns::Value& identity = source.section("identity");
  const ns::Value& executable = source.section("executable");
  auto* app = arena.make<CrashReporter__Session__Application>(crash_reporter__session__application__init);
  app->identifier = arena.string(text(member(executable, "bundle_id")).value_or(""));
  app->version = arena.string(text(member(executable, "version")).value_or(""));
  if (auto display = text(member(executable, "display_version")))
    app->display_version = arena.string(*display);
  app->has_delivery_mechanism = 1;
  app->delivery_mechanism = member(executable, "encrypted").boolValue()
                                ? CRASH_REPORTER__DELIVERY_MECHANISM__APP_STORE
                                : CRASH_REPORTER__DELIVERY_MECHANISM__DEVELOPER;
  if (auto install = unescaped(member(identity, "install_id")))
    app->installation_uuid = arena.string(*install);
  if (auto platform = unescaped(member(executable, "dev_platform")))
    app->development_platform = arena.string(*platform);
  if (auto version = unescaped(member(executable, "dev_platform_version"))) {
    app->development_platform_version = arena.string(*version);
  }
  app->process = buildApplicationProcess(source);
  app->organization = buildOrganization(source);
  return app;
}

CrashReporter__Session__OperatingSystem* buildOperatingSystem(const ReportSource& source) {
  auto* os = source.arena.make<CrashReporter__Session__OperatingSystem>(
      crash_reporter__session__operating_system__init);
  os->platform =
      static_cast<CrashReporter__Platform>(number(member(source.section("host"), "platform_code")));
  os->version = source.arena.string(source.file.OSVersion());
  os->build_version = source.arena.string(source.file.OSBuildVersion());
  return os;
}

// The memory in use by the crashed process's host: active, inactive and wired pages.
std::uint64_t ramUsed(const ReportSource& source) {
  const ns::Value& stats = source.section("process_stats");
  return number(member(stats, "active")) + number(member(stats, "inactive")) + number(member(stats, "wired"));
}

void addDeviceIdentifiers(const ReportSource& source, CrashReporter__Session__Device* device) {
  Arena& arena = source.arena;
  const ns::Value& identity = source.section("identity");
  std::vector<std::pair<int, std::string>> identifiers;
  if (auto id = source.file.deviceId()) {
    std::string apiKey = text(member(identity, "api_key")).value_or("");
    device->has_identifier = device->has_udid = 1;
    device->identifier = arena.bytes(sec::sha1Hex(apiKey + *id));
    device->udid = arena.bytes(*id);
    identifiers.emplace_back(CRASH_REPORTER__DEVICE_IDENTIFIER_TYPE__IOS_UDID, *id);
  }
  if (auto vendor = text(member(identity, "vendor_id")))
    identifiers.emplace_back(CRASH_REPORTER__DEVICE_IDENTIFIER_TYPE__IOS_VENDOR_IDENTIFIER, *vendor);
  if (auto advertising = text(member(identity, "advertising_id")))
    identifiers.emplace_back(CRASH_REPORTER__DEVICE_IDENTIFIER_TYPE__IOS_ADVERTISING_IDENTIFIER,
                             *advertising);
  if (auto token = text(member(identity, "font_token")))
    identifiers.emplace_back(CRASH_REPORTER__DEVICE_IDENTIFIER_TYPE__TESTER_DEVICE_TOKEN, *token);
  device->n_identifiers = identifiers.size();
  device->identifiers = arena.array<CrashReporter__Session__Device__Identifier>(identifiers.size());
  for (std::size_t i = 0; i < identifiers.size(); ++i) {
    auto* entry = arena.make<CrashReporter__Session__Device__Identifier>(
        crash_reporter__session__device__identifier__init);
    entry->key = static_cast<CrashReporter__DeviceIdentifierType>(identifiers[i].first);
    entry->value = arena.string(identifiers[i].second);
    device->identifiers[i] = entry;
  }
}

CrashReporter__Session__Device* buildDevice(const ReportSource& source) {
  Arena& arena = source.arena;
  const ns::Value& host = source.section("host");
  const ns::Value& process = source.section("process_info");
  std::uint64_t platformCode = number(member(host, "platform_code"));
  auto* device = arena.make<CrashReporter__Session__Device>(crash_reporter__session__device__init);
  device->arch = static_cast<CrashReporter__Architecture>(source.file.architecture());
  if (auto model = text(member(host, "model"))) device->model = arena.string(*model);
  device->has_cores = 1;
  device->cores = static_cast<std::uint32_t>(number(member(host, "cores")));
  if (auto language = text(member(host, "locale"))) device->language = arena.string(*language);
  std::uint32_t state = 0;
  if (member(host, "vendor_internal").boolValue()) state |= CRASH_REPORTER__DEVICE_STATE__VENDOR_INTERNAL;
  if (member(host, "jailbroken").boolValue()) state |= CRASH_REPORTER__DEVICE_STATE__JAILBROKEN;
  if (platformCode == 2) state |= CRASH_REPORTER__DEVICE_STATE__IS_SIMULATOR;
  if (member(process, "debugger").boolValue()) state |= CRASH_REPORTER__DEVICE_STATE__DEBUGGER_ATTACHED;
  if (member(process, "dyld_insert").boolValue())
    state |= CRASH_REPORTER__DEVICE_STATE__COMPROMISED_LIBRARIES;
  device->has_state = device->has_simulator = 1;
  device->state = state;
  device->simulator = platformCode == 2;
  device->has_ram = 1;
  device->ram = ramUsed(source) + number(member(source.section("process_stats"), "freeMem"));
  device->has_disk_space = 1;
  device->disk_space = number(member(source.section("storage"), "total"));
  addDeviceIdentifiers(source, device);
  return device;
}

CrashReporter__Session__Event__Device* buildEventDevice(const ReportSource& source) {
  const ns::Value& host = source.section("host");
  const ns::Value& storage = source.section("storage");
  auto* eventDevice =
      source.arena.make<CrashReporter__Session__Event__Device>(crash_reporter__session__event__device__init);
  eventDevice->has_battery_level = 1;
  eventDevice->battery_level =
      std::strtof(text(member(host, "battery_level")).value_or("0").c_str(), nullptr);
  eventDevice->has_battery_velocity = eventDevice->has_orientation = eventDevice->has_proximity_on = 1;
  eventDevice->battery_velocity = static_cast<std::int32_t>(number(member(host, "charging_state")));
  eventDevice->orientation = static_cast<std::uint32_t>(number(member(host, "device_orientation")));
  eventDevice->proximity_on = member(host, "proximity_on").boolValue();
  eventDevice->has_ram_used = 1;
  eventDevice->ram_used = ramUsed(source);
  if (member(storage, "total").isNumber()) {
    eventDevice->has_disk_used = 1;
    eventDevice->disk_used = number(member(storage, "total")) - number(member(storage, "free"));
  }
  return eventDevice;
}

CrashReporter__Session__Event__OperatingSystem* buildEventOperatingSystem(const ReportSource& source) {
  Arena& arena = source.arena;
  auto* eventOs = arena.make<CrashReporter__Session__Event__OperatingSystem>(
      crash_reporter__session__event__operating_system__init);
  const ns::Value& processes = source.section("external_process_info");
  std::size_t processCount = processes.isArray() ? processes.count() : 0;
  eventOs->n_processes = processCount;
  eventOs->processes = arena.array<CrashReporter__Session__Application__Process>(processCount);
  for (std::size_t i = 0; i < processCount; ++i) {
    auto* entry = arena.make<CrashReporter__Session__Application__Process>(
        crash_reporter__session__application__process__init);
    if (auto name = text(member(processes[i], "name"))) entry->name = arena.string(*name);
    entry->pid = static_cast<std::uint32_t>(number(member(processes[i], "pid")));
    eventOs->processes[i] = entry;
  }
  return eventOs;
}

using Execution = CrashReporter__Session__Event__Application__Execution;

CrashReporter__Session__Event__Application__Execution__Signal* buildSignal(const ReportSource& source) {
  Arena& arena = source.arena;
  auto* signal = arena.make<CrashReporter__Session__Event__Application__Execution__Signal>(
      crash_reporter__session__event__application__execution__signal__init);
  const ns::Value& signalLine = source.section("signal");
  const ns::Value& mach = source.section("mach_exception");
  if (auto name = text(member(signalLine, "name"))) {
    signal->name = arena.string(*name);
    signal->code = arena.string(text(member(signalLine, "code_name")).value_or("UNKNOWN"));
    signal->address = number(member(signalLine, "address"));
  } else if (auto machName = text(member(mach, "name"))) {
    signal->name = arena.string(*machName);
    auto codeName = text(member(mach, "code_name"));
    signal->code = arena.string(codeName ? *codeName : std::to_string(number(member(mach, "code"))));
    signal->address = number(member(mach, "subcode"));
  } else {
    // Neither source names the crash; the fields are required.
    signal->name = arena.string("UNKNOWN");
    signal->code = arena.string("UNKNOWN");
  }
  return signal;
}

void addBinaryImages(const ReportSource& source, Execution* execution) {
  Arena& arena = source.arena;
  const ns::Value& images = source.section("binary_images");
  std::size_t imageCount = images.isArray() ? images.count() : 0;
  using BinaryImage = CrashReporter__Session__Event__Application__Execution__BinaryImage;
  execution->n_binaries = imageCount;
  execution->binaries = arena.array<BinaryImage>(imageCount);
  for (std::size_t i = 0; i < imageCount; ++i) {
    auto* image =
        arena.make<BinaryImage>(crash_reporter__session__event__application__execution__binary_image__init);
    image->base_address = number(member(images[i], "address"));
    image->size = number(member(images[i], "size"));
    image->name = arena.string(text(member(images[i], "path")).value_or(""));
    image->has_uuid = 1;
    image->uuid = arena.bytes(CRSNormalizedUUIDString(text(member(images[i], "uuid")).value_or("")));
    image->has_arch = 1;
    image->arch = static_cast<CrashReporter__Architecture>(source.file.architecture());
    execution->binaries[i] = image;
  }
}

void addThreads(const ReportSource& source, Execution* execution) {
  Arena& arena = source.arena;
  const std::vector<CRSThread>& threads = source.file.threads();
  using Thread = CrashReporter__Session__Event__Application__Execution__Thread;
  execution->n_threads = threads.size();
  execution->threads = arena.array<Thread>(threads.size());
  std::string selector = source.file.objcSelectorName();
  for (std::size_t i = 0; i < threads.size(); ++i) {
    auto* thread = arena.make<Thread>(crash_reporter__session__event__application__execution__thread__init);
    if (threads[i].pthreadName) thread->name = arena.string(*threads[i].pthreadName);
    if (threads[i].dispatchQueueName) thread->alternate_name = arena.string(*threads[i].dispatchQueueName);
    thread->importance = threads[i].importance;
    if (threads[i].crashed() && !selector.empty()) thread->objc_selector_name = arena.string(selector);
    populateFrames(arena, threads[i].frames, &thread->n_frames, &thread->frames);
    execution->threads[i] = thread;
  }
}

CrashReporter__Session__Event__Application__Execution__Exception* buildException(const ReportSource& source) {
  Arena& arena = source.arena;
  auto* exception = arena.make<CrashReporter__Session__Event__Application__Execution__Exception>(
      crash_reporter__session__event__application__execution__exception__init);
  const ns::Value& exceptionLine = source.section("exception");
  if (auto name = text(member(exceptionLine, "name"))) {
    exception->type = arena.string(*name);
    if (auto reason = unescaped(member(exceptionLine, "reason"))) exception->reason = arena.string(*reason);
    if (const auto& frames = source.file.exceptionFrames())
      populateFrames(arena, *frames, &exception->n_frames, &exception->frames);
  }
  return exception;
}

Execution* buildExecution(const ReportSource& source) {
  auto* execution =
      source.arena.make<Execution>(crash_reporter__session__event__application__execution__init);
  execution->signal = buildSignal(source);
  addBinaryImages(source, execution);
  addThreads(source, execution);
  execution->exception = buildException(source);
  return execution;
}

CrashReporter__Session__Event__Application* buildEventApplication(const ReportSource& source) {
  Arena& arena = source.arena;
  const ns::Value& host = source.section("host");
  auto* eventApp = arena.make<CrashReporter__Session__Event__Application>(
      crash_reporter__session__event__application__init);
  eventApp->has_background = eventApp->has_ui_orientation = 1;
  eventApp->background = member(host, "is_backgrounded").boolValue();
  eventApp->ui_orientation = static_cast<std::uint32_t>(number(member(host, "ui_orientation")));
  auto keys = source.file.customKeys();
  eventApp->n_custom_attributes = keys.size();
  eventApp->custom_attributes = customAttributes(arena, keys);
  eventApp->execution = buildExecution(source);
  return eventApp;
}

CrashReporter__Session__Event* buildEvent(const ReportSource& source) {
  Arena& arena = source.arena;
  auto* event = arena.make<CrashReporter__Session__Event>(crash_reporter__session__event__init);
  event->timestamp = number(member(source.section("identity"), "ended_at"));
  event->type = arena.string("crash");
  event->device = buildEventDevice(source);
  event->os = buildEventOperatingSystem(source);
  if (auto content = source.file.logContent()) {
    auto* log = arena.make<CrashReporter__Session__Event__Log>(crash_reporter__session__event__log__init);
    log->content = arena.string(*content);
    event->log = log;
  }
  event->app = buildEventApplication(source);
  return event;
}

CrashReporter__Session* buildSession(const ReportSource& source) {
  Arena& arena = source.arena;
  const ns::Value& identity = source.section("identity");
  auto* session = arena.make<CrashReporter__Session>(crash_reporter__session__init);
  std::string generator = text(member(identity, "generator")).value_or("");
  session->generator = arena.string(generator);
  if (generator.starts_with("CrashReporter iOS") || generator.starts_with("CrashReporter Enterprise iOS")) {
    session->has_generator_type = 1;
    session->generator_type = CRASH_REPORTER__GENERATOR_TYPE__IOS_SDK;
  } else if (generator.starts_with("CrashReporter Mac") ||
             generator.starts_with("CrashReporter Enterprise Mac")) {
    session->has_generator_type = 1;
    session->generator_type = CRASH_REPORTER__GENERATOR_TYPE__MACOS_SDK;
  }
  session->identifier = arena.bytes(source.file.identifier());
  session->started_at = number(member(identity, "started_at"));
  session->has_ended_at = 1;
  session->ended_at = number(member(identity, "ended_at"));
  session->has_crashed = 1;
  session->crashed = 1;
  session->user = buildUser(source);
  session->app = buildApplication(source);
  session->os = buildOperatingSystem(source);
  session->device = buildDevice(source);
  session->n_events = 1;
  session->events = arena.array<CrashReporter__Session__Event>(1);
  session->events[0] = buildEvent(source);
  return session;
}

}  // namespace

bool CRSCrashFile::writeCRSFileToPath(const std::string& path) {
  if (!isValid()) return false;
  try {
    Arena arena;
    CrashReporter__Session* session = buildSession(ReportSource{*this, arena});
    std::size_t size = crash_reporter__session__get_packed_size(session);
    std::vector<std::uint8_t> buffer(size);
    crash_reporter__session__pack(session, buffer.data());
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    ssize_t written = ::write(fd, buffer.data(), buffer.size());
    ::close(fd);
    return written == static_cast<ssize_t>(buffer.size());
  } catch (const std::bad_alloc&) {
    return false;
  }
}
