#pragma once
// What the crash reporter reads from ELF objects: the GNU notes (build identifier and ABI tag) of
// objects mapped in this process, the load span of their PT_LOAD segments, the executable ones
// among them, and where their unwind search table (PT_GNU_EH_FRAME) lies.
#include <link.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

struct CRSElfImageFacts {
  std::uint64_t address = 0;  // where the ELF header is mapped
  std::uint64_t size = 0;     // span of the PT_LOAD segments
  std::string buildId;        // lowercase hexadecimal, empty when the object has none
  // Where the build identifier's bytes are mapped (0 when the object has none).
  std::uint64_t buildIdAddress = 0;
  // NT_GNU_ABI_TAG: the oldest kernel the object runs on, "%d.%d.%d".
  std::optional<std::string> abiTag;
  // Executable PT_LOAD segments (address, size), in program-header order.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> code;
  // .eh_frame_hdr as mapped (PT_GNU_EH_FRAME); 0 and 0 when the object has none.
  std::uint64_t ehFrameHdr = 0;
  std::uint64_t ehFrameHdrSize = 0;
};

CRSElfImageFacts CRSElfFactsOfLoadedObject(const dl_phdr_info* info);
// The architecture name of an ELF machine number ("x86_64" for EM_X86_64), "unknown" otherwise.
const char* CRSElfArchitectureName(unsigned machine);
