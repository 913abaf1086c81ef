#pragma once
// The crash record's writer primitives. They run at crash time: every piece goes out with its own
// write() on the state's descriptor, numbers are formatted into a stack buffer, nothing allocates.
// Strings are escaped as they are written ('"' and '\' with a backslash, bytes below 0x20 as
// \u00XX), so that every record line is one JSON object whatever the strings hold.
#include <cstdint>

struct CRSRecordWriter {
  int fd;
  int depth;
  std::uint8_t commaPending;
  std::uint8_t lookahead;  // used by the reader only
};

void CRSRecordWriterInit(CRSRecordWriter* state, int fd);

void CRSRecordOpenContainer(CRSRecordWriter* state, char c);
void CRSRecordCloseContainer(CRSRecordWriter* state, char c);
void CRSRecordWriteKey(CRSRecordWriter* state, const char* key);
void CRSRecordBeginSection(CRSRecordWriter* state, const char* key);
void CRSRecordBeginObject(CRSRecordWriter* state);
void CRSRecordBeginArray(CRSRecordWriter* state);
void CRSRecordEndObject(CRSRecordWriter* state);
void CRSRecordEndArray(CRSRecordWriter* state);
void CRSRecordEndLine(CRSRecordWriter* state);

// Raw values, no comma handling.
void CRSRecordWriteUInt64(CRSRecordWriter* state, std::uint64_t value);
// A quoted, escaped string; "(null)" for a null text.
void CRSRecordWriteString(CRSRecordWriter* state, const char* text);

void CRSRecordWriteUInt64Member(CRSRecordWriter* state, const char* key, std::uint64_t value);
void CRSRecordWriteStringMember(CRSRecordWriter* state, const char* key, const char* text);
void CRSRecordWriteBoolMember(CRSRecordWriter* state, const char* key, bool flag);
void CRSRecordWriteUInt64Element(CRSRecordWriter* state, std::uint64_t value);
void CRSRecordWriteStringElement(CRSRecordWriter* state, const char* text);
