#include "CrashReporter/CRSEventLog/CRSEventLogCompression.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <cerrno>

namespace {

// Reads until the buffer is full or the file ends; -1 on a read error.
ssize_t readChunk(int fd, unsigned char* buffer, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    ssize_t n = ::read(fd, buffer + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(got);
}

bool writeAll(int fd, const unsigned char* bytes, std::size_t size) {
  while (size > 0) {
    ssize_t n = ::write(fd, bytes, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

ns::Error streamError(int code, const std::string& path) {
  return ns::Error::withDescription(ns::NSPOSIXErrorDomain, EIO,
                                    "Unable to compress " + path + " (zlib " + std::to_string(code) + ")");
}

}  // namespace

bool CRSEventLogCompressFileAtPath_toPath_error(const std::string& source, const std::string& target,
                                                ns::Error* error) {
  int in = ::open(source.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (in < 0) {
    ns::setError(error, ns::Error::fromErrno(source));
    return false;
  }
  int out = ::open(target.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
  if (out < 0) {
    ns::setError(error, ns::Error::fromErrno(target));
    ::close(in);
    return false;
  }
  z_stream stream{};
  int status = deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, 31, 4, Z_DEFAULT_STRATEGY);
  bool ok = status == Z_OK;
  if (!ok) ns::setError(error, streamError(status, source));
  unsigned char input[CRSEventLogCompressionChunkSize];
  unsigned char output[CRSEventLogCompressionChunkSize];
  // A call may leave input behind or owe output when its buffer fills: call again until the
  // input is taken and, at the end, until the stream is finished.
  for (bool finished = false; ok && !finished;) {
    ssize_t n = readChunk(in, input, sizeof input);
    if (n < 0) {
      ns::setError(error, ns::Error::fromErrno(source));
      ok = false;
      break;
    }
    int flush = static_cast<std::size_t>(n) < sizeof input ? Z_FINISH : Z_NO_FLUSH;
    stream.next_in = input;
    stream.avail_in = static_cast<uInt>(n);
    do {
      stream.next_out = output;
      stream.avail_out = sizeof output;
      status = deflate(&stream, flush);
      if (status == Z_STREAM_ERROR) {
        ns::setError(error, streamError(status, source));
        ok = false;
        break;
      }
      std::size_t produced = sizeof output - stream.avail_out;
      if (!writeAll(out, output, produced)) {
        ns::setError(error, ns::Error::fromErrno(target));
        ok = false;
        break;
      }
    } while (stream.avail_out == 0 || (flush == Z_FINISH && status != Z_STREAM_END));
    if (ok && flush == Z_FINISH) {
      finished = true;
      if (status != Z_STREAM_END) {
        ns::setError(error, streamError(status, source));
        ok = false;
      }
    }
  }
  if (stream.state) deflateEnd(&stream);
  ::close(in);
  if (::close(out) != 0 && ok) {
    ns::setError(error, ns::Error::fromErrno(target));
    ok = false;
  }
  return ok;
}
