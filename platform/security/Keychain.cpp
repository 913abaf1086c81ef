#include "platform/security/Keychain.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <sstream>
#include <vector>

#include "platform/core/NoDestructor.h"
#include "platform/security/Hex.h"

namespace sec {

namespace {

constexpr std::string_view kHeader = "PelorinKeychain 1";

struct Item {
  std::string service, account, password;
};

std::mutex& pathMutex() {
  static std::mutex m;
  return m;
}
std::optional<std::filesystem::path>& pathOverride() {
  static ns::NoDestructor<std::optional<std::filesystem::path>> p;
  return *p;
}

// Serialises the store's users: threads of this process with a mutex, other processes with
// an advisory lock on a companion file.
class StoreLock {
 public:
  explicit StoreLock(const std::filesystem::path& file) : guard_(mutex()) {
    std::error_code ec;
    std::filesystem::create_directories(file.parent_path(), ec);
    std::string lockPath = file.string() + ".lock";
    fd_ = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd_ >= 0) {
      while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  ~StoreLock() {
    if (fd_ >= 0) ::close(fd_);  // closing releases the lock
  }
  bool ok() const { return fd_ >= 0; }

 private:
  static std::mutex& mutex() {
    static std::mutex m;
    return m;
  }
  std::lock_guard<std::mutex> guard_;
  int fd_ = -1;
};

OSStatus load(const std::filesystem::path& file, std::vector<Item>* items) {
  items->clear();
  // Opened without waiting: a pipe in the store's place would otherwise block the caller for good.
  int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) return errno == ENOENT ? errSecSuccess : errSecIO;
  struct stat st {};
  // Only a regular file is a store: a pipe or a device (/dev/zero) would never end.
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return errSecIO;
  }
  if (st.st_mode & 077) ::fchmod(fd, 0600);  // never leave secrets readable
  std::string content;
  char buffer[8192];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return errSecIO;
    }
    if (n == 0) break;
    content.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  std::istringstream in(content);
  std::string line;
  if (!std::getline(in, line) || line != kHeader) return errSecDecode;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    std::istringstream fields(line);
    std::string s, a, p, extra;
    if (!(fields >> s >> a >> p) || (fields >> extra)) return errSecDecode;
    auto service = hexDecode(s), account = hexDecode(a == "-" ? "" : a),
         password = hexDecode(p == "-" ? "" : p);
    if (!service || !account || !password) return errSecDecode;
    items->push_back({std::move(*service), std::move(*account), std::move(*password)});
  }
  return errSecSuccess;
}

bool writeAll(int fd, const std::string& data) {
  std::size_t done = 0;
  while (done < data.size()) {
    ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Writes a complete new file beside the old one and renames it into place, so that a crash
// leaves either the old store or the new one, never a mixture.
OSStatus save(const std::filesystem::path& file, const std::vector<Item>& items) {
  std::string content(kHeader);
  content += '\n';
  for (const Item& item : items) {
    content += hexEncode(item.service) + ' ' + (item.account.empty() ? "-" : hexEncode(item.account)) + ' ' +
               (item.password.empty() ? "-" : hexEncode(item.password)) + '\n';
  }
  std::string temp = file.string() + ".XXXXXX";
  int fd = ::mkstemp(temp.data());  // created with mode 0600
  if (fd < 0) return errSecIO;
  bool ok = ::fchmod(fd, 0600) == 0 && writeAll(fd, content) && ::fsync(fd) == 0;
  ok = (::close(fd) == 0) && ok;
  if (!ok || ::rename(temp.c_str(), file.c_str()) != 0) {
    ::unlink(temp.c_str());
    return errSecIO;
  }
  int dir = ::open(file.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return errSecSuccess;
}

std::vector<Item>::iterator findItem(std::vector<Item>& items, std::string_view service,
                                     std::string_view account) {
  for (auto it = items.begin(); it != items.end(); ++it)
    if (it->service == service && it->account == account) return it;
  return items.end();
}

}  // namespace

std::filesystem::path Keychain::defaultPath() {
  {
    std::lock_guard lock(pathMutex());
    if (pathOverride()) return *pathOverride();
  }
  std::filesystem::path data;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg == '/') {
    data = xdg;
  } else {
    const char* home = std::getenv("HOME");
    data = std::filesystem::path(home && *home ? home : "/") / ".local" / "share";
  }
  return data / "Pelorin" / "keychain";
}

void Keychain::setDefaultPath(std::optional<std::filesystem::path> file) {
  std::lock_guard lock(pathMutex());
  pathOverride() = std::move(file);
}

Keychain Keychain::defaultKeychain() {
  return Keychain(defaultPath());
}

OSStatus Keychain::addGenericPassword(std::string_view service, std::string_view account,
                                      std::string_view password) const {
  if (service.empty()) return errSecParam;
  StoreLock lock(file_);
  if (!lock.ok()) return errSecIO;
  std::vector<Item> items;
  if (OSStatus s = load(file_, &items); s != errSecSuccess) return s;
  if (findItem(items, service, account) != items.end()) return errSecDuplicateItem;
  items.push_back({std::string(service), std::string(account), std::string(password)});
  return save(file_, items);
}

OSStatus Keychain::findGenericPassword(std::string_view service, std::string_view account,
                                       std::string* password) const {
  if (service.empty()) return errSecParam;
  std::error_code ec;
  if (!std::filesystem::exists(file_, ec)) return errSecItemNotFound;  // reading creates nothing
  StoreLock lock(file_);
  std::vector<Item> items;
  if (OSStatus s = load(file_, &items); s != errSecSuccess) return s;
  auto it = findItem(items, service, account);
  if (it == items.end()) return errSecItemNotFound;
  if (password) *password = it->password;
  return errSecSuccess;
}

OSStatus Keychain::findGenericPassword(std::string_view service, std::string_view account,
                                       ns::Data* password) const {
  std::string bytes;
  OSStatus status = findGenericPassword(service, account, password ? &bytes : nullptr);
  if (status == errSecSuccess && password) *password = ns::Data(bytes);
  return status;
}

OSStatus Keychain::updateGenericPassword(std::string_view service, std::string_view account,
                                         std::string_view password) const {
  if (service.empty()) return errSecParam;
  StoreLock lock(file_);
  if (!lock.ok()) return errSecIO;
  std::vector<Item> items;
  if (OSStatus s = load(file_, &items); s != errSecSuccess) return s;
  auto it = findItem(items, service, account);
  if (it == items.end()) return errSecItemNotFound;
  it->password = std::string(password);
  return save(file_, items);
}

OSStatus Keychain::deleteGenericPassword(std::string_view service, std::string_view account) const {
  if (service.empty()) return errSecParam;
  StoreLock lock(file_);
  if (!lock.ok()) return errSecIO;
  std::vector<Item> items;
  if (OSStatus s = load(file_, &items); s != errSecSuccess) return s;
  auto it = findItem(items, service, account);
  if (it == items.end()) return errSecItemNotFound;
  items.erase(it);
  return save(file_, items);
}

OSStatus SecKeychainAddGenericPassword(std::string_view service, std::string_view account,
                                       std::string_view password) {
  return Keychain::defaultKeychain().addGenericPassword(service, account, password);
}

OSStatus SecKeychainFindGenericPassword(std::string_view service, std::string_view account,
                                        std::string* password) {
  return Keychain::defaultKeychain().findGenericPassword(service, account, password);
}

OSStatus SecKeychainFindGenericPassword(std::string_view service, std::string_view account,
                                        ns::Data* password) {
  return Keychain::defaultKeychain().findGenericPassword(service, account, password);
}

OSStatus SecKeychainDeleteGenericPassword(std::string_view service, std::string_view account) {
  return Keychain::defaultKeychain().deleteGenericPassword(service, account);
}

}  // namespace sec
