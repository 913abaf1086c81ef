#include "lib/http-server/Extensions/WebDAV/DAVResponse.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "lib/http-server/Core/HTTPLogging.h"
#include "lib/http-server/Core/StandardizedPath.h"
#include "platform/core/Date.h"
#include "platform/net/PercentEncoding.h"
#include "platform/security/UUID.h"
#include "platform/text/DateFormatter.h"
#include "platform/text/Locale.h"
#include "platform/text/TimeZone.h"

namespace fs = std::filesystem;

namespace {

constexpr std::uint64_t kLogLevel = HTTP_LOG_LEVEL_RESPONSE;
constexpr int kXMLOptions = XML_PARSE_RECOVER | XML_PARSE_NOERROR | XML_PARSE_NOWARNING | XML_PARSE_NOBLANKS |
                            XML_PARSE_NONET | XML_PARSE_COMPACT;
constexpr char kXMLHead[] = "<?xml version=\"1.0\" encoding=\"utf-8\" ?>";
constexpr char kXMLContentType[] = "application/xml; charset=\"utf-8\"";

enum : unsigned {
  kResourceType = 1,
  kCreationDate = 2,
  kLastModified = 4,
  kContentLength = 8,
  kAllProperties = 15
};

bool isPathUnder(const std::string& path, const std::string& root) {
  if (path == root) return true;
  std::string prefix = root == "/" ? "/" : root + "/";
  return path.compare(0, prefix.size(), prefix) == 0;
}

std::optional<std::string> realPath(const std::string& path) {
  char* real = ::realpath(path.c_str(), nullptr);
  if (!real) return std::nullopt;
  std::string result(real);
  std::free(real);
  return result;
}

// The joined path, standardised, when it lies under the root, also once its links are followed;
// nothing otherwise.
std::optional<std::string> underRoot(const std::string& rootPath, const std::string& relative) {
  std::string root = standardizedPath(rootPath);
  std::string full = standardizedPath(root + "/" + relative);
  if (!isPathUnder(full, root) || !DAVResponse::resolvesUnderRoot(full, root)) return std::nullopt;
  return full;
}

std::string xmlEscaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

struct XMLDoc {
  xmlDocPtr doc = nullptr;
  explicit XMLDoc(const ns::Data& body) {
    if (body.length() > 0 && body.length() < INT32_MAX)
      doc = xmlReadMemory(reinterpret_cast<const char*>(body.bytes()), static_cast<int>(body.length()),
                          nullptr, nullptr, kXMLOptions);
  }
  ~XMLDoc() {
    if (doc) xmlFreeDoc(doc);
  }
};

xmlNodePtr findElement(xmlNodePtr node, const char* name) {
  for (; node; node = node->next)
    if (node->type == XML_ELEMENT_NODE && xmlStrcmp(node->name, reinterpret_cast<const xmlChar*>(name)) == 0)
      return node;
  return nullptr;
}

xmlNodePtr childElement(xmlNodePtr parent, const char* name) {
  return parent ? findElement(parent->children, name) : nullptr;
}

std::string formatDate(double since1970, const char* format) {
  auto formatter = ns::make<ns::DateFormatter>();
  formatter->setDateFormat(format);
  formatter->setLocale(ns::Locale::localeWithLocaleIdentifier("en_US"));
  formatter->setTimeZone(*ns::TimeZone::timeZoneWithName("GMT"));
  return formatter->stringFromDate(ns::Date::dateWithTimeIntervalSince1970(since1970));
}

void appendResponseElement(std::string& xml, const std::string& itemPath, const std::string& hrefPath,
                           unsigned properties) {
  std::string href = ns::stringByAddingPercentEscapesUsingEncoding(hrefPath, "<&>?+");
  struct statx sx {};
  if (::statx(AT_FDCWD, itemPath.c_str(), 0, STATX_BASIC_STATS | STATX_BTIME, &sx) != 0) return;
  bool isDirectory = S_ISDIR(sx.stx_mode);
  xml += "<D:response><D:href>" + href + "</D:href><D:propstat><D:prop>";
  if (properties & kResourceType)
    xml += isDirectory ? "<D:resourcetype><D:collection/></D:resourcetype>" : "<D:resourcetype/>";
  if ((properties & kCreationDate) && (sx.stx_mask & STATX_BTIME))
    xml += "<D:creationdate>" +
           formatDate(sx.stx_btime.tv_sec + sx.stx_btime.tv_nsec / 1e9, "yyyy-MM-dd'T'HH:mm:ss'+00:00'") +
           "</D:creationdate>";
  if ((properties & kLastModified) && (sx.stx_mask & STATX_MTIME))
    xml += "<D:getlastmodified>" +
           formatDate(sx.stx_mtime.tv_sec + sx.stx_mtime.tv_nsec / 1e9,
                      "EEE', 'd' 'MMM' 'yyyy' 'HH:mm:ss' GMT'") +
           "</D:getlastmodified>";
  if ((properties & kContentLength) && !isDirectory && (sx.stx_mask & STATX_SIZE))
    xml += "<D:getcontentlength>" + std::to_string(sx.stx_size) + "</D:getcontentlength>";
  xml += "</D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>\n";
}

bool exists(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

bool DAVResponse::resolvesUnderRoot(const std::string& path, const std::string& rootPath) {
  auto root = realPath(rootPath);
  if (!root) return false;
  std::string existing = path;
  for (;;) {
    if (auto real = realPath(existing)) {
      if (isPathUnder(*real, *root)) return true;
      HTTP_LOG_WARN(kLogLevel, "\"%@\" leads out of the document root to \"%@\"", path, *real);
      return false;
    }
    if (errno != ENOENT && errno != ENOTDIR) return false;
    struct stat st {};
    if (::lstat(existing.c_str(), &st) == 0) {
      HTTP_LOG_WARN(kLogLevel, "\"%@\" goes through a link that leads nowhere", path);
      return false;
    }
    auto slash = existing.find_last_of('/');
    if (slash == std::string::npos || slash == 0) return false;
    existing.resize(slash);
  }
}

std::optional<ns::Data> DAVResponse::readDataOfLength(std::uint64_t length) {
  if (!data_) return std::nullopt;
  std::uint64_t left = offset_ < data_->length() ? data_->length() - offset_ : 0;
  std::uint64_t count = std::min(length, left);
  if (count == 0) return ns::Data();
  auto piece = data_->subdata(static_cast<std::size_t>(offset_), static_cast<std::size_t>(count));
  offset_ += count;
  return piece;
}

ns::Ref<DAVResponse> DAVResponse::initWithMethod_headers_bodyData_resourcePath_rootPath(
    const std::string& method, const ns::HTTPHeaderFields& headers, const std::optional<ns::Data>& body,
    const std::string& resourcePath, const std::string& rootPath) {
  auto response = ns::make<DAVResponse>();
  auto full = underRoot(rootPath, resourcePath);
  if (method == "OPTIONS") {
    bool finder = headers.get("User-Agent").value_or("").rfind("WebDAVFS/", 0) == 0;
    response->headers_.set("DAV", finder ? "1, 2" : "1");
    return response;
  }
  if (method == "PROPFIND") {
    if (!full || !response->propfind(headers, body, resourcePath, rootPath, *full)) return nullptr;
    return response;
  }
  if (method == "MKCOL") {
    if (!full) return nullptr;
    std::string parent = fs::path(*full).parent_path().string();
    struct stat st {};
    if (::stat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      HTTP_LOG_ERROR(kLogLevel, "Missing intermediate collection(s) at \"%@\"", *full);
      response->status_ = 409;
    } else if (::mkdir(full->c_str(), 0755) != 0) {
      HTTP_LOG_ERROR(kLogLevel, "Failed creating collection at \"%@\"", *full);
      response->status_ = 405;
    }
    return response;
  }
  if (method == "MOVE" || method == "COPY") {
    if (!full || !response->copyOrMove(method == "MOVE", headers, rootPath, *full)) return nullptr;
    return response;
  }
  if (method == "LOCK") {
    if (!full || !response->lock(headers, body, resourcePath, *full)) return nullptr;
    return response;
  }
  if (method == "UNLOCK") {
    if (!full || !exists(*full)) return nullptr;
    response->status_ = headers.get("Lock-Token") ? 204 : 400;
    return response;
  }
  return response;
}

bool DAVResponse::propfind(const ns::HTTPHeaderFields& headers, const std::optional<ns::Data>& body,
                           std::string resourcePath, const std::string& rootPath,
                           const std::string& fullPath) {
  auto depthHeader = headers.get("Depth");
  if (depthHeader != "0" && depthHeader != "1") {
    HTTP_LOG_ERROR(kLogLevel, "Unsupported DAV depth \"%@\"", depthHeader.value_or(""));
    return false;
  }
  unsigned properties = 0;
  if (body && body->length()) {
    XMLDoc xml(*body);
    xmlNodePtr prop = xml.doc ? childElement(findElement(xml.doc->children, "propfind"), "prop") : nullptr;
    if (!prop) {
      HTTP_LOG_WARN(kLogLevel, "HTTP Server: Invalid DAV properties\n%@", body->toString());
    } else {
      for (xmlNodePtr node = prop->children; node; node = node->next) {
        if (node->type != XML_ELEMENT_NODE) continue;
        std::string name = reinterpret_cast<const char*>(node->name);
        if (name == "resourcetype")
          properties |= kResourceType;
        else if (name == "creationdate")
          properties |= kCreationDate;
        else if (name == "getlastmodified")
          properties |= kLastModified;
        else if (name == "getcontentlength")
          properties |= kContentLength;
        else
          HTTP_LOG_WARN(kLogLevel, "Unknown DAV property requested \"%@\"", name);
      }
    }
  }
  if (properties == 0) properties = kAllProperties;
  if (!exists(fullPath)) return false;

  std::string xml = std::string(kXMLHead) + "<D:multistatus xmlns:D=\"DAV:\">\n";
  if (resourcePath.empty() || resourcePath[0] != '/') resourcePath.insert(0, "/");
  // A folder is named as a collection, with its trailing "/", whatever form the request used.
  if (fs::is_directory(fullPath) && resourcePath.back() != '/') resourcePath += "/";
  appendResponseElement(xml, fullPath, resourcePath, properties);
  if (*depthHeader == "1") {
    if (resourcePath.back() != '/') resourcePath += "/";
    std::error_code ec;
    for (fs::directory_iterator it(fullPath, ec), end; !ec && it != end; it.increment(ec)) {
      std::string name = it->path().filename().string();
      // A link out of the root is not listed: its properties are those of what it leads to.
      if (!resolvesUnderRoot(fullPath + "/" + name, rootPath)) continue;
      appendResponseElement(xml, fullPath + "/" + name, resourcePath + name, properties);
    }
  }
  xml += "</D:multistatus>";
  headers_.set("Content-Type", kXMLContentType);
  data_ = ns::Data(xml);
  status_ = 207;
  return true;
}

bool DAVResponse::copyOrMove(bool isMove, const ns::HTTPHeaderFields& headers, const std::string& rootPath,
                             const std::string& fullPath) {
  if (!isMove && headers.get("Depth") != "infinity") {
    HTTP_LOG_ERROR(kLogLevel, "Unsupported DAV depth \"%@\"", headers.get("Depth").value_or(""));
    return false;
  }
  if (!exists(fullPath)) return false;
  auto host = headers.get("Host");
  auto destinationHeader = headers.get("Destination");
  if (!host || host->empty() || !destinationHeader) return false;
  auto at = destinationHeader->find(*host);
  if (at == std::string::npos) return false;
  auto decoded = ns::stringByRemovingPercentEncoding(destinationHeader->substr(at + host->size()));
  if (!decoded) return false;
  // Standardised before the check, so that ".." cannot climb out of the root.
  auto destination = underRoot(rootPath, *decoded);
  if (!destination || *destination == standardizedPath(rootPath) || *destination == fullPath) return false;

  std::string parent = fs::path(*destination).parent_path().string();
  struct stat st {};
  if (::stat(parent.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    HTTP_LOG_ERROR(kLogLevel, "Invalid destination path \"%@\"", *destination);
    status_ = 409;
    return true;
  }
  bool replacing = exists(*destination);
  if (replacing) {
    if (headers.get("Overwrite") == "F") {
      HTTP_LOG_ERROR(kLogLevel, "Pre-existing destination path \"%@\"", *destination);
      status_ = 412;
      return true;
    }
  }
  std::error_code ec;
  if (replacing) fs::remove_all(*destination, ec);
  if (!ec) {
    if (isMove)
      fs::rename(fullPath, *destination, ec);
    else
      fs::copy(fullPath, *destination, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
  }
  if (ec) {
    if (isMove)
      HTTP_LOG_ERROR(kLogLevel, "Failed moving \"%@\" to \"%@\"", fullPath, *destination);
    else
      HTTP_LOG_ERROR(kLogLevel, "Failed copying \"%@\" to \"%@\"", fullPath, *destination);
    status_ = 403;
    return true;
  }
  status_ = replacing ? 204 : 201;
  return true;
}

bool DAVResponse::lock(const ns::HTTPHeaderFields& headers, const std::optional<ns::Data>& body,
                       const std::string& resourcePath, const std::string& fullPath) {
  std::optional<std::string> scope, type, owner;
  if (body && body->length()) {
    XMLDoc xml(*body);
    if (!xml.doc) return false;
    xmlNodePtr info = findElement(xml.doc->children, "lockinfo");
    if (!info) {
      HTTP_LOG_WARN(kLogLevel, "HTTP Server: Invalid DAV properties\n%@", body->toString());
    } else {
      auto firstChildName = [](xmlNodePtr node) -> std::optional<std::string> {
        for (xmlNodePtr c = node ? node->children : nullptr; c; c = c->next)
          if (c->type == XML_ELEMENT_NODE) return std::string(reinterpret_cast<const char*>(c->name));
        return std::nullopt;
      };
      scope = firstChildName(childElement(info, "lockscope"));
      type = firstChildName(childElement(info, "locktype"));
      xmlNodePtr href = childElement(childElement(info, "owner"), "href");
      if (href && href->children && href->children->content)
        owner = std::string(reinterpret_cast<const char*>(href->children->content));
    }
  } else {
    return false;
  }
  auto depth = headers.get("Depth");
  bool allowed = scope == "exclusive" && type == "write" && depth == "0";
  if (allowed && !exists(fullPath)) {
    int fd = ::open(fullPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    allowed = fd >= 0 && ::close(fd) == 0;
  }
  if (!allowed) {
    HTTP_LOG_ERROR(kLogLevel, "Locking request \"%@/%@/%@\" for \"%@\" is not allowed", scope.value_or(""),
                   type.value_or(""), depth.value_or(""), resourcePath);
    status_ = 403;
    return true;
  }
  std::string token = "urn:uuid:" + sec::UUID::newUUIDString();
  std::string xml = std::string(kXMLHead) + "<D:prop xmlns:D=\"DAV:\">\n<D:lockdiscovery>\n<D:activelock>\n";
  xml += "<D:locktype><D:" + *type + "/></D:locktype>\n";
  xml += "<D:lockscope><D:" + *scope + "/></D:lockscope>\n";
  xml += "<D:depth>" + xmlEscaped(*depth) + "</D:depth>\n";
  if (owner) xml += "<D:owner><D:href>" + xmlEscaped(*owner) + "</D:href></D:owner>\n";
  if (auto timeout = headers.get("Timeout")) xml += "<D:timeout>" + xmlEscaped(*timeout) + "</D:timeout>\n";
  xml += "<D:locktoken><D:href>" + token + "</D:href></D:locktoken>\n";
  xml += "</D:activelock>\n</D:lockdiscovery>\n</D:prop>";
  headers_.set("Content-Type", kXMLContentType);
  data_ = ns::Data(xml);
  return true;
}
