#include "platform/core/Data.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "platform/core/Exception.h"

namespace ns {

namespace {
// bytes() never answers null, so empty Data still has a valid pointer.
const std::uint8_t kEmpty[1] = {0};

std::string rangeReason(const char* what, std::size_t location, std::size_t length, std::size_t size) {
  return std::string(what) + ": range {" + std::to_string(location) + ", " + std::to_string(length) +
         "} exceeds data length " + std::to_string(size);
}
}  // namespace

Data::Data(const void* bytes, std::size_t length) {
  if (length == 0) return;
  auto storage = std::make_shared<std::vector<std::uint8_t>>(
      static_cast<const std::uint8_t*>(bytes), static_cast<const std::uint8_t*>(bytes) + length);
  ptr_ = std::shared_ptr<const std::uint8_t>(storage, storage->data());
  length_ = length;
}

Data::Data(std::string_view bytes) : Data(bytes.data(), bytes.size()) {}

Data::Data(std::vector<std::uint8_t> bytes) {
  if (bytes.empty()) return;
  auto storage = std::make_shared<std::vector<std::uint8_t>>(std::move(bytes));
  ptr_ = std::shared_ptr<const std::uint8_t>(storage, storage->data());
  length_ = storage->size();
}

Data::Data(std::shared_ptr<const void> owner, const std::uint8_t* bytes, std::size_t length) {
  if (length == 0) return;
  ptr_ = std::shared_ptr<const std::uint8_t>(std::move(owner), bytes);
  length_ = length;
}

const std::uint8_t* Data::bytes() const {
  return ptr_ ? ptr_.get() : kEmpty;
}

Data Data::subdata(std::size_t offset, std::size_t length) const {
  if (offset > length_ || length > length_ - offset)
    Exception::raise(NSRangeException, rangeReason("subdataWithRange", offset, length, length_));
  Data view;
  if (length == 0) return view;
  view.ptr_ = std::shared_ptr<const std::uint8_t>(ptr_, ptr_.get() + offset);
  view.length_ = length;
  return view;
}

Data Data::subdataFromOffset(std::size_t offset) const {
  if (offset > length_)
    Exception::raise(NSRangeException, rangeReason("subdataFromOffset", offset, 0, length_));
  return subdata(offset, length_ - offset);
}

std::size_t Data::find(std::string_view needle, std::size_t from) const {
  if (needle.empty() || from >= length_) return NotFound;
  std::size_t pos = view().find(needle, from);
  return pos == std::string_view::npos ? NotFound : pos;
}

std::size_t Data::find(const Data& needle, std::size_t from) const {
  return find(needle.view(), from);
}

Range Data::rangeOfData(const Data& needle) const {
  std::size_t pos = find(needle);
  return pos == NotFound ? Range{NotFound, 0} : Range{pos, needle.length()};
}

bool operator==(const Data& a, const Data& b) {
  return a.length_ == b.length_ && (a.length_ == 0 || std::memcmp(a.bytes(), b.bytes(), a.length_) == 0);
}

std::size_t Data::hash() const {
  // Hash at most the first 80 bytes, as the platform does, so that hashing large blobs stays cheap.
  std::size_t n = std::min<std::size_t>(length_, 80);
  return std::hash<std::string_view>()(view().substr(0, n)) ^ (length_ * 0x9E3779B97F4A7C15ull);
}

std::string Data::description() const {
  static const char hex[] = "0123456789abcdef";
  std::string out;
  out.reserve(2 + length_ * 2 + length_ / 4);
  out += '<';
  const std::uint8_t* p = bytes();
  for (std::size_t i = 0; i < length_; ++i) {
    if (i > 0 && i % 4 == 0) out += ' ';
    out += hex[p[i] >> 4];
    out += hex[p[i] & 0xF];
  }
  out += '>';
  return out;
}

// ---- MutableData ----

MutableData::MutableData(const void* bytes, std::size_t length)
    : bytes_(static_cast<const std::uint8_t*>(bytes), static_cast<const std::uint8_t*>(bytes) + length) {}

MutableData MutableData::dataWithCapacity(std::size_t capacity) {
  MutableData d;
  d.bytes_.reserve(capacity);
  return d;
}

void MutableData::appendBytes_length(const void* bytes, std::size_t length) {
  if (length == 0) return;
  auto p = static_cast<const std::uint8_t*>(bytes);
  // The source may point into this buffer; copy first if so, since growth may move it.
  if (p >= bytes_.data() && p < bytes_.data() + bytes_.size()) {
    std::vector<std::uint8_t> tmp(p, p + length);
    bytes_.insert(bytes_.end(), tmp.begin(), tmp.end());
  } else {
    bytes_.insert(bytes_.end(), p, p + length);
  }
}

void MutableData::insertAtFront(const void* bytes, std::size_t length) {
  replaceBytesInRange_withBytes_length(Range{0, 0}, bytes, length);
}

void MutableData::replaceBytesInRange_withBytes_length(Range range, const void* bytes, std::size_t length) {
  if (range.location > bytes_.size() || range.length > bytes_.size() - range.location)
    Exception::raise(NSRangeException,
                     rangeReason("replaceBytesInRange", range.location, range.length, bytes_.size()));
  auto p = static_cast<const std::uint8_t*>(bytes);
  std::vector<std::uint8_t> src(p, p + length);  // the source may alias this buffer
  auto at = bytes_.begin() + static_cast<std::ptrdiff_t>(range.location);
  bytes_.erase(at, at + static_cast<std::ptrdiff_t>(range.length));
  bytes_.insert(bytes_.begin() + static_cast<std::ptrdiff_t>(range.location), src.begin(), src.end());
}

void MutableData::replaceBytesInRange_withBytes(Range range, const void* bytes) {
  if (range.location > bytes_.size())
    Exception::raise(NSRangeException,
                     rangeReason("replaceBytesInRange", range.location, range.length, bytes_.size()));
  auto p = static_cast<const std::uint8_t*>(bytes);
  std::vector<std::uint8_t> src(p, p + range.length);
  if (range.max() > bytes_.size()) bytes_.resize(range.max(), 0);
  std::copy(src.begin(), src.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(range.location));
}

void MutableData::resetBytesInRange(Range range) {
  if (range.location > bytes_.size())
    Exception::raise(NSRangeException,
                     rangeReason("resetBytesInRange", range.location, range.length, bytes_.size()));
  if (range.max() > bytes_.size()) bytes_.resize(range.max(), 0);
  std::fill_n(bytes_.begin() + static_cast<std::ptrdiff_t>(range.location), range.length, 0);
}

void MutableData::removeFront(std::size_t count) {
  count = std::min(count, bytes_.size());
  bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(count));
}

Data MutableData::take() {
  Data d(std::move(bytes_));
  bytes_.clear();
  return d;
}

}  // namespace ns
