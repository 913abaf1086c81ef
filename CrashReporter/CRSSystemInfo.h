#pragma once
// Facts about the host, the process, the executable and the loaded images, gathered at start-up
// into the crash context, and the small accessors and text functions built on them.
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CrashReporter/CRSContext.h"

struct dl_phdr_info;

void CRSHostInfoGather(CRSContext* context);
void CRSProcessInfoGather(CRSContext* context);
void CRSExecutableInfoGather(CRSContext* context);

// Images: scanned at start-up, rescanned on the context queue when the loader reports additions
// or removals; a rescan drops the objects unloaded since and lists what was loaded in their
// place. An image loaded after the last rescan is missing from a record written before the next
// one; one unloaded since is still in the list, but the crash handler leaves it out
// (CRSBinaryImageIsMapped).
void CRSBinaryImagesStartTracking(CRSWritableContext* writable);
// Rescans when the loader's count of added or removed objects changed; answers lowercase build
// identifier → load address for every image in the list.
std::map<std::string, std::uint64_t> CRSBinaryImagesUUIDMap();
// The image record of an object the loader lists (its path and build identifier strdup'ed; the
// program itself, listed with an empty name, gets `exePath`); address 0 when it has no PT_LOAD.
CRSBinaryImage CRSBinaryImageOfLoadedObject(const dl_phdr_info* info, const std::string& exePath);
// Inserts in ascending address order; an equal address goes after the entries already there.
void CRSBinaryImageInsert(std::vector<CRSBinaryImage>& list, const CRSBinaryImage& image);

// On the context queue: reads the running processes (pid and command name, as /proc/PID/comm
// gives it: at most 15 bytes) and exchanges the new list into the context. A replaced list is
// retired, and freed once no crash-time writer may be reading it. A listing that fails or finds
// no process leaves the previous list in place.
void CRSProcessListCapture(CRSWritableContext* writable);

std::string CRSInstallIdentifier();
bool CRSInstallIdentifierIsNew();
// 2 when the host's reserved flag is set, + 4 with a debugger attached, + 32 with LD_PRELOAD set.
std::uint32_t CRSDeviceStateFlags();
// The exception-type mask bits standing for a signal (0 for signals without one).
std::uint32_t CRSMachExceptionMaskForSignal(int signal);

std::string CRSHexEncode(const void* bytes, std::size_t length);
std::string CRSSHA1HexString(const void* bytes, std::size_t length);
std::string CRSSHA1HexStringFromString(std::string_view text);
std::string CRSGenerateUUIDString();
std::string CRSNormalizedUUIDString(std::string_view uuid);

// Test hook: the file the device identifier is read from (null restores /etc/machine-id).
void CRSHostSetMachineIdPathForTesting(const char* path);
