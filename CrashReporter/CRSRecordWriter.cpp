#include "CrashReporter/CRSRecordWriter.h"

#include <unistd.h>

#include <cstring>

namespace {

void put(CRSRecordWriter* state, const char* bytes, std::size_t length) {
  while (length > 0) {
    ssize_t n = ::write(state->fd, bytes, length);
    if (n <= 0) return;  // a failed write is not reported; the record comes out short
    bytes += n;
    length -= static_cast<std::size_t>(n);
  }
}

void put(CRSRecordWriter* state, const char* text) {
  put(state, text, std::strlen(text));
}

void commaIfPending(CRSRecordWriter* state) {
  if (state->commaPending) put(state, ",", 1);
  state->commaPending = 0;
}

}  // namespace

void CRSRecordWriterInit(CRSRecordWriter* state, int fd) {
  state->fd = fd;
  state->depth = 0;
  state->commaPending = 0;
  state->lookahead = 0;
}

void CRSRecordOpenContainer(CRSRecordWriter* state, char c) {
  char pair[2] = {',', c};
  if (state->commaPending) {
    put(state, pair, 2);
  } else {
    put(state, &c, 1);
  }
  state->depth++;
  state->commaPending = 0;
}

void CRSRecordCloseContainer(CRSRecordWriter* state, char c) {
  put(state, &c, 1);
  if (state->depth > 0) state->depth--;
  // A closed container inside another one was a value: the next member needs a comma.
  state->commaPending = state->depth > 0 ? 1 : 0;
}

void CRSRecordWriteKey(CRSRecordWriter* state, const char* key) {
  commaIfPending(state);
  CRSRecordWriteString(state, key);
  put(state, ":", 1);
}

void CRSRecordBeginSection(CRSRecordWriter* state, const char* key) {
  CRSRecordOpenContainer(state, '{');
  CRSRecordWriteKey(state, key);
}

void CRSRecordBeginObject(CRSRecordWriter* state) {
  CRSRecordOpenContainer(state, '{');
}

void CRSRecordBeginArray(CRSRecordWriter* state) {
  CRSRecordOpenContainer(state, '[');
}

void CRSRecordEndObject(CRSRecordWriter* state) {
  CRSRecordCloseContainer(state, '}');
}

void CRSRecordEndArray(CRSRecordWriter* state) {
  CRSRecordCloseContainer(state, ']');
}

void CRSRecordEndLine(CRSRecordWriter* state) {
  CRSRecordCloseContainer(state, '}');
  put(state, "\n", 1);
}

void CRSRecordWriteUInt64(CRSRecordWriter* state, std::uint64_t value) {
  char digits[21];
  int at = sizeof digits;
  do {
    digits[--at] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  put(state, digits + at, sizeof digits - static_cast<std::size_t>(at));
}

void CRSRecordWriteString(CRSRecordWriter* state, const char* text) {
  if (!text) {
    put(state, "\"(null)\"");
    return;
  }
  static const char kHex[] = "0123456789abcdef";
  put(state, "\"", 1);
  // Runs of plain bytes go out straight from the source; only escapes use the small stack array.
  const char* run = text;
  const char* p = text;
  for (; *p; ++p) {
    unsigned char c = static_cast<unsigned char>(*p);
    if (c != '"' && c != '\\' && c >= 0x20) continue;
    put(state, run, static_cast<std::size_t>(p - run));
    if (c == '"' || c == '\\') {
      char escaped[2] = {'\\', static_cast<char>(c)};
      put(state, escaped, 2);
    } else {
      char escaped[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 15]};
      put(state, escaped, 6);
    }
    run = p + 1;
  }
  put(state, run, static_cast<std::size_t>(p - run));
  put(state, "\"", 1);
}

void CRSRecordWriteUInt64Member(CRSRecordWriter* state, const char* key, std::uint64_t value) {
  CRSRecordWriteKey(state, key);
  CRSRecordWriteUInt64(state, value);
  state->commaPending = 1;
}

void CRSRecordWriteStringMember(CRSRecordWriter* state, const char* key, const char* text) {
  CRSRecordWriteKey(state, key);
  CRSRecordWriteString(state, text);
  state->commaPending = 1;
}

void CRSRecordWriteBoolMember(CRSRecordWriter* state, const char* key, bool flag) {
  CRSRecordWriteKey(state, key);
  put(state, flag ? "true" : "false");
  state->commaPending = 1;
}

void CRSRecordWriteUInt64Element(CRSRecordWriter* state, std::uint64_t value) {
  commaIfPending(state);
  CRSRecordWriteUInt64(state, value);
  state->commaPending = 1;
}

void CRSRecordWriteStringElement(CRSRecordWriter* state, const char* text) {
  commaIfPending(state);
  CRSRecordWriteString(state, text);
  state->commaPending = 1;
}
