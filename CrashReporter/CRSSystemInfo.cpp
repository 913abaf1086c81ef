#include "CrashReporter/CRSSystemInfo.h"

#include <dirent.h>
#include <elf.h>
#include <fcntl.h>
#include <link.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <vector>

#include "CrashReporter/CRSElf.h"
#include "CrashReporter/CRSStackWalk.h"
#include "CrashReporter/CRSUserLogging.h"
#include "platform/core/NoDestructor.h"
#include "platform/dispatch/Queue.h"
#include "platform/dispatch/Source.h"
#include "platform/foundation/Bundle.h"
#include "platform/foundation/SearchPaths.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/security/Digest.h"
#include "platform/security/Hex.h"
#include "platform/security/UUID.h"
#include "platform/text/Locale.h"

namespace {

constexpr char kInstallIdentifierKey[] = "com.crashreporter.iuuid";
std::atomic<bool> gNewInstall{false};
std::atomic<const char*> gMachineIdPath{nullptr};

const char* copy(const std::string& text) {
  std::size_t length = text.size();
  auto* out =
      static_cast<char*>(CRSAllocatorAlloc(CRSContextAllocator(), length + 1, CRSAllocatorProtectedPool));
  if (!out) return nullptr;
  std::memcpy(out, text.data(), length + 1);
  return out;
}

std::optional<std::string> firstLine(const std::string& path) {
  std::ifstream in(path);
  std::string line;
  if (!in || !std::getline(in, line)) return std::nullopt;
  return line;
}

std::string procValue(const std::string& path, const std::string& key) {
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, key.size(), key) != 0) continue;
    auto colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string value = line.substr(colon + 1);
    value.erase(0, value.find_first_not_of(" \t"));
    return value;
  }
  return {};
}

std::string bundleString(const std::string& key) {
  ns::Value value = ns::Bundle::mainBundle()->objectForInfoDictionaryKey(key);
  return value.isString() ? value.string() : std::string();
}

// The loaded-object facts of the main program (the first object the loader lists).
struct MainProgram {
  CRSElfImageFacts facts;
  unsigned machine = 0;
};

int mainProgramCallback(dl_phdr_info* info, std::size_t, void* data) {
  auto* main = static_cast<MainProgram*>(data);
  main->facts = CRSElfFactsOfLoadedObject(info);
  if (main->facts.address) {
    ElfW(Ehdr) header;
    std::memcpy(&header, reinterpret_cast<const void*>(main->facts.address), sizeof header);
    main->machine = header.e_machine;
  }
  return 1;
}

// ---- images ----

// How many objects the loader has added and removed in all (dlpi_adds, dlpi_subs): a rescan is
// due when either moved.
struct LoaderCounts {
  unsigned long long adds = 0;
  unsigned long long subs = 0;
  bool operator==(const LoaderCounts&) const = default;
};

struct ImageState {
  std::mutex mutex;  // guards `seen`; the list itself changes on the context queue only
  LoaderCounts seen;
  std::vector<CRSBinaryImage> images;
  // Lists the crash handler may still read: published lists are kept for the life of the process,
  // and so are the names of the images they hold. A list equal to one published before is
  // published again instead of a copy, so that a library loaded and unloaded over and over costs
  // nothing more after its first time.
  std::vector<std::vector<CRSBinaryImage>*> published;
  std::vector<CRSBinaryImageList*> heads;
};

ImageState& imageState() {
  static ns::NoDestructor<ImageState> state;
  return *state;
}

struct ScanResult {
  std::vector<CRSBinaryImage> found;
  LoaderCounts counts;
  std::string exePath;
};

void noteCounts(const dl_phdr_info* info, std::size_t size, LoaderCounts* counts) {
  if (size >= offsetof(dl_phdr_info, dlpi_subs) + sizeof(info->dlpi_subs)) {
    counts->adds = info->dlpi_adds;
    counts->subs = info->dlpi_subs;
  }
}

int scanCallback(dl_phdr_info* info, std::size_t size, void* data) {
  auto* scan = static_cast<ScanResult*>(data);
  noteCounts(info, size, &scan->counts);
  CRSBinaryImage image = CRSBinaryImageOfLoadedObject(info, scan->exePath);
  if (image.address) scan->found.push_back(image);
  return 0;
}

LoaderCounts currentCounts() {
  LoaderCounts counts;
  dl_iterate_phdr(
      [](dl_phdr_info* info, std::size_t size, void* data) {
        noteCounts(info, size, static_cast<LoaderCounts*>(data));
        return 1;
      },
      &counts);
  return counts;
}

LoaderCounts seenCounts() {
  ImageState& state = imageState();
  std::lock_guard lock(state.mutex);
  return state.seen;
}

bool optionalTextEqual(const char* a, const char* b) {
  return a == b || (a && b && std::strcmp(a, b) == 0);
}

// The same object: loaded at the same place from the same file, with the same contents there.
bool sameObject(const CRSBinaryImage& a, const CRSBinaryImage& b) {
  return a.address == b.address && a.size == b.size && a.identity == b.identity &&
         a.ehFrameHdr == b.ehFrameHdr && optionalTextEqual(a.path, b.path) &&
         optionalTextEqual(a.uuid, b.uuid);
}

void freeNames(const CRSBinaryImage& image) {
  std::free(const_cast<char*>(image.path));
  std::free(const_cast<char*>(image.uuid));
}

// Stores the list, or one published before that holds the same objects, for the crash handler.
// `fresh`: the entries this scan made, whose names no published list holds yet.
void publish(CRSWritableContext* writable, ImageState& state, const std::vector<CRSBinaryImage>& fresh) {
  for (std::size_t i = state.published.size(); i-- > 0;) {
    const std::vector<CRSBinaryImage>& earlier = *state.published[i];
    if (!std::equal(earlier.begin(), earlier.end(), state.images.begin(), state.images.end(), sameObject))
      continue;
    for (const CRSBinaryImage& image : fresh) freeNames(image);
    state.images = earlier;
    writable->binaryImages.store(state.heads[i], std::memory_order_release);
    return;
  }
  auto* copyOfList = new std::vector<CRSBinaryImage>(state.images);
  auto* head = new CRSBinaryImageList{static_cast<std::uint32_t>(copyOfList->size()), copyOfList->data()};
  state.published.push_back(copyOfList);
  state.heads.push_back(head);
  writable->binaryImages.store(head, std::memory_order_release);
}

// On the context queue: lists the objects loaded now, keeping the entries of those listed already,
// dropping those unloaded since, and publishes the new list when it changed.
void rescan(CRSWritableContext* writable) {
  ImageState& state = imageState();
  ScanResult scan;
  char exe[4096];
  ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  scan.exePath = n > 0 ? std::string(exe, static_cast<std::size_t>(n)) : std::string();
  dl_iterate_phdr(scanCallback, &scan);
  std::vector<CRSBinaryImage> images, fresh;
  for (const CRSBinaryImage& image : scan.found) {
    auto known = std::find_if(state.images.begin(), state.images.end(),
                              [&](const CRSBinaryImage& e) { return sameObject(e, image); });
    if (known != state.images.end()) {
      freeNames(image);
      CRSBinaryImageInsert(images, *known);
    } else {
      CRSBinaryImageInsert(images, image);
      fresh.push_back(image);
    }
  }
  {
    std::lock_guard lock(state.mutex);
    state.seen = scan.counts;
  }
  // Nothing new, and every object listed is still there. (The names of those that left stay
  // allocated: a published list may hold them.)
  if (fresh.empty() && images.size() == state.images.size()) return;
  state.images = std::move(images);
  publish(writable, state, fresh);
}

// ---- processes ----

// The kernel keeps a command name in 16 bytes with its terminator.
constexpr std::size_t kCommandNameSize = 16;

// The command name of a process, or nothing when it cannot be read (it may have ended).
std::optional<std::string> commandName(const char* pid) {
  std::string path = std::string("/proc/") + pid + "/comm";
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return std::nullopt;
  char buffer[kCommandNameSize];
  ssize_t n;
  do {
    n = ::read(fd, buffer, sizeof buffer);
  } while (n < 0 && errno == EINTR);
  ::close(fd);
  if (n <= 0) return std::nullopt;
  std::string name(buffer, static_cast<std::size_t>(n));
  if (!name.empty() && name.back() == '\n') name.pop_back();
  if (name.size() >= kCommandNameSize) name.resize(kCommandNameSize - 1);
  return name;
}

// The list, its entries and their names in one allocation, so that one free() releases it.
const CRSProcessList* makeProcessList(const std::vector<std::pair<std::int32_t, std::string>>& found) {
  std::size_t count = found.size();
  std::size_t bytes = sizeof(CRSProcessList) + count * (sizeof(CRSProcessEntry) + kCommandNameSize);
  void* block = std::malloc(bytes);
  if (!block) return nullptr;
  auto* list = static_cast<CRSProcessList*>(block);
  auto* entries = reinterpret_cast<CRSProcessEntry*>(list + 1);
  auto* names = reinterpret_cast<char*>(entries + count);
  for (std::size_t i = 0; i < count; ++i) {
    char* name = names + i * kCommandNameSize;
    std::memcpy(name, found[i].second.c_str(), found[i].second.size() + 1);
    entries[i] = CRSProcessEntry{found[i].first, name};
  }
  list->count = static_cast<std::uint32_t>(count);
  list->entries = entries;
  return list;
}

}  // namespace

void CRSHostSetMachineIdPathForTesting(const char* path) {
  gMachineIdPath = path;
}

void CRSHostInfoGather(CRSContext* context) {
  CRSHostInfo& host = context->host;
  utsname names{};
  if (::uname(&names) == 0) {
    host.machine = copy(names.machine);
    host.osBuild = copy(names.version);
    int major = 0, minor = 0, patch = 0;
    std::sscanf(names.release, "%d.%d.%d", &major, &minor, &patch);
    host.osVersion = copy(std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(patch));
  }
  host.model = copy(firstLine("/sys/class/dmi/id/product_name").value_or("unknown"));
  host.locale = copy(ns::Locale::currentLocale().localeIdentifier());
  long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
  host.cores = cores > 0 ? static_cast<std::uint32_t>(cores) : 0;
  std::string cpu = procValue("/proc/cpuinfo", "model name");
  host.cpu = copy(cpu.empty() ? "unknown" : cpu);
  host.platform = copy("Linux");
  host.platformCode = 5;
  host.reserved = 0;
  host.vendorInternal = 0;
  if (!host.storagePath) {
    auto folders = ns::SearchPathForDirectoriesInDomains(ns::DocumentDirectory, ns::UserDomainMask, true);
    if (!folders.empty()) host.storagePath = copy(folders.front());
  }
  host.installIdentifier = copy(CRSInstallIdentifier());
  if (host.requestFlags & 1) {
    const char* path = gMachineIdPath.load();
    auto id = firstLine(path ? path : "/etc/machine-id");
    if (id && id->size() == 32 && std::all_of(id->begin(), id->end(), ::isxdigit)) {
      std::string text;
      for (std::size_t i = 0; i < 32; ++i) {
        if (i == 8 || i == 12 || i == 16 || i == 20) text += '-';
        text += static_cast<char>(std::toupper(static_cast<unsigned char>((*id)[i])));
      }
      host.deviceIdentifier = copy(text);
    }
  }
}

void CRSProcessInfoGather(CRSContext* context) {
  CRSProcessInfo& process = context->process;
  process.pid = ::getpid();
  process.parentPid = ::getppid();
  process.name = copy(firstLine("/proc/self/comm").value_or("unknown"));
  process.parentName =
      copy(firstLine("/proc/" + std::to_string(process.parentPid) + "/comm").value_or("unknown"));
  std::string tracer = procValue("/proc/self/status", "TracerPid");
  process.debugger = !tracer.empty() && tracer != "0";
  process.dyldInsert = ::getenv("LD_PRELOAD") != nullptr;
}

void CRSExecutableInfoGather(CRSContext* context) {
  CRSExecutableInfo& exe = context->executable;
  char path[4096];
  ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
  exe.path = copy(n > 0 ? std::string(path, static_cast<std::size_t>(n)) : std::string("(uninitialized)"));
  MainProgram main;
  dl_iterate_phdr(mainProgramCallback, &main);
  exe.address = main.facts.address;
  exe.size = main.facts.size;
  exe.encrypted = 0;
  exe.uuid = main.facts.buildId.empty() ? nullptr : copy(main.facts.buildId);
  exe.architecture = copy(CRSElfArchitectureName(main.machine));
  // One slice per file here.
  exe.sliceUUIDs = copy(main.facts.buildId);
  exe.sliceArchitectures = copy(CRSElfArchitectureName(main.machine));
  std::string identifier = bundleString("CFBundleIdentifier");
  std::replace(identifier.begin(), identifier.end(), '/', '_');
  exe.bundleIdentifier = copy(identifier);
  std::string version = bundleString("CFBundleVersion");
  exe.version = copy(version.empty() ? "0" : version);
  std::string shortVersion = bundleString("CFBundleShortVersionString");
  exe.displayVersion = copy(shortVersion.empty() ? "0.0" : shortVersion);
  std::string name = bundleString("CFBundleDisplayName");
  if (name.empty()) name = bundleString("CFBundleName");
  if (name.empty()) name = version.empty() ? "0" : version;
  exe.name = copy(name);
  exe.minimumOSVersion = copy(main.facts.abiTag.value_or("0.0.0"));
  // The C library this program was built against.
  exe.sdkVersion = copy(std::to_string(__GLIBC__) + "." + std::to_string(__GLIBC_MINOR__) + ".0");
}

CRSBinaryImage CRSBinaryImageOfLoadedObject(const dl_phdr_info* info, const std::string& exePath) {
  CRSElfImageFacts facts = CRSElfFactsOfLoadedObject(info);
  CRSBinaryImage image{};
  if (!facts.address) return image;
  // The loader lists the program itself with an empty name.
  bool mainProgram = !info->dlpi_name || !*info->dlpi_name;
  std::string path = mainProgram ? exePath : info->dlpi_name;
  image.path = strdup(path.c_str());
  image.uuid = facts.buildId.empty() ? nullptr : strdup(facts.buildId.c_str());
  image.address = facts.address;
  image.size = facts.size;
  image.ehFrameHdr = facts.ehFrameHdr;
  image.ehFrameHdrSize = facts.ehFrameHdrSize;
  for (const auto& [address, size] : facts.code) {
    if (image.codeCount == CRSMaxCodeRanges) break;
    image.code[image.codeCount++] = CRSCodeRange{address, size};
  }
  image.mainProgram = mainProgram;
  image.buildIdAddress = facts.buildIdAddress;
  image.buildIdSize = static_cast<std::uint32_t>(facts.buildId.size() / 2);
  image.identity = CRSBinaryImageIdentity(image, nullptr);
  return image;
}

void CRSBinaryImageInsert(std::vector<CRSBinaryImage>& list, const CRSBinaryImage& image) {
  auto at =
      std::upper_bound(list.begin(), list.end(), image.address,
                       [](std::uint64_t address, const CRSBinaryImage& e) { return address < e.address; });
  list.insert(at, image);
}

void CRSBinaryImagesStartTracking(CRSWritableContext* writable) {
  writable->binaryImages = nullptr;
  rescan(writable);
  // Objects loaded later are picked up by this tick, or when the map is asked for. The loader
  // tells nobody of a new object, and a crash walks only the listed images by their tables: the
  // media engine, loaded once the first window is drawn, must be listed within moments. A tick
  // that finds no new object costs one step into the loader's list.
  constexpr double kImageCheckSeconds = 1;
  static ns::NoDestructor<ns::Ref<dispatch::Source>> tick;
  auto queue = CRSContextQueue();
  if (!queue) return;
  *tick = dispatch::sourceCreate(dispatch::SourceType::Timer, 0, 0, queue);
  (*tick)->setTimer(dispatch::time(kImageCheckSeconds), kImageCheckSeconds, kImageCheckSeconds / 4);
  (*tick)->setEventHandler([writable] {
    if (currentCounts() != seenCounts()) rescan(writable);
  });
  (*tick)->resume();
}

std::map<std::string, std::uint64_t> CRSBinaryImagesUUIDMap() {
  std::map<std::string, std::uint64_t> map;
  CRSWritableContext* writable = CRSWritableContextGet();
  if (!CRSContextIsInitialized() || !writable) return map;
  if (currentCounts() != seenCounts()) dispatch::sync(CRSContextQueue(), [writable] { rescan(writable); });
  const CRSBinaryImageList* list = writable->binaryImages.load(std::memory_order_acquire);
  for (std::uint32_t i = 0; list && i < list->count; ++i) {
    if (list->entries[i].uuid) map[list->entries[i].uuid] = list->entries[i].address;
  }
  return map;
}

void CRSProcessListCapture(CRSWritableContext* writable) {
  if (!writable) return;
  DISPATCH_DEBUG_ASSERT_QUEUE(CRSContextQueue());
  DIR* proc = ::opendir("/proc");
  if (!proc) return;
  std::vector<std::pair<std::int32_t, std::string>> found;
  while (dirent* entry = ::readdir(proc)) {
    const char* name = entry->d_name;
    std::int64_t pid = 0;
    const char* p = name;
    for (; *p >= '0' && *p <= '9' && pid <= INT32_MAX; ++p) pid = pid * 10 + (*p - '0');
    if (p == name || *p || pid > INT32_MAX) continue;
    if (auto command = commandName(name)) found.emplace_back(static_cast<std::int32_t>(pid), *command);
  }
  ::closedir(proc);
  if (found.empty()) return;
  const CRSProcessList* list = makeProcessList(found);
  if (!list) return;
  // A crash-time writer may be reading the list replaced here.
  CRSContextRetire(const_cast<CRSProcessList*>(writable->processList.exchange(list)));
}

std::string CRSInstallIdentifier() {
  auto defaults = ns::UserDefaults::standardUserDefaults();
  static std::mutex mutex;
  std::lock_guard lock(mutex);
  if (auto existing = defaults->stringForKey(kInstallIdentifierKey); existing && !existing->empty())
    return *existing;
  std::string fresh = CRSGenerateUUIDString();
  defaults->setObject_forKey(ns::Value(fresh), kInstallIdentifierKey);
  defaults->synchronize();
  gNewInstall = true;
  return fresh;
}

bool CRSInstallIdentifierIsNew() {
  return gNewInstall.load();
}

std::uint32_t CRSDeviceStateFlags() {
  const CRSContext* context = CRSContextGet();
  if (!CRSContextIsInitialized() || !context) return 0;
  std::uint32_t flags = 0;
  if (context->host.reserved) flags += 2;
  if (context->process.debugger) flags += 4;
  if (context->process.dyldInsert) flags += 32;
  return flags;
}

std::uint32_t CRSMachExceptionMaskForSignal(int signal) {
  switch (signal) {
    case SIGILL:
      return CRSExceptionMaskBadInstruction;
    case SIGTRAP:
      return CRSExceptionMaskBreakpoint;
    case SIGABRT:
      return 1u << 10;  // the crash type
    case SIGFPE:
      return CRSExceptionMaskArithmetic;
    case SIGBUS:
      return CRSExceptionMaskBadAccess;
    case SIGSEGV:
      return CRSExceptionMaskBadAccess;
    case SIGSYS:
      return 1u << 10;
    default:
      return 0;
  }
}

std::string CRSHexEncode(const void* bytes, std::size_t length) {
  if (!bytes) return {};
  return sec::hexEncode(bytes, length);
}

std::string CRSSHA1HexString(const void* bytes, std::size_t length) {
  return sec::sha1Hex(std::string_view(static_cast<const char*>(bytes), bytes ? length : 0));
}

std::string CRSSHA1HexStringFromString(std::string_view text) {
  return sec::sha1Hex(text);
}

std::string CRSGenerateUUIDString() {
  return sec::UUID::newUUIDString();
}

std::string CRSNormalizedUUIDString(std::string_view uuid) {
  std::string out;
  for (char c : uuid) {
    if (c != '-') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}
