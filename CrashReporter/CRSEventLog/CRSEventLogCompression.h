#pragma once
// Packs one analytics log file as a gzip stream (deflate, 32 KiB window, memory level 4), reading
// and writing through fixed 5120-byte buffers, so memory does not grow with the file.
#include <string>

#include "platform/core/Error.h"

inline constexpr std::size_t CRSEventLogCompressionChunkSize = 5120;

// The target is created or truncated. False with the error on a read, write or stream failure.
bool CRSEventLogCompressFileAtPath_toPath_error(const std::string& source, const std::string& target,
                                                ns::Error* error);
