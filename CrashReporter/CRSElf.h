#pragma once
// What the crash reporter reads from ELF objects: the GNU notes (build identifier and ABI tag) of
// objects mapped in this process, and the load span of their PT_LOAD segments.
#include <link.h>

#include <cstdint>
#include <optional>
#include <string>

struct CRSElfImageFacts {
  std::uint64_t address = 0;  // where the ELF header is mapped
  std::uint64_t size = 0;     // span of the PT_LOAD segments
  std::string buildId;        // lowercase hexadecimal, empty when the object has none
  // NT_GNU_ABI_TAG: the oldest kernel the object runs on, "%d.%d.%d".
  std::optional<std::string> abiTag;
};

CRSElfImageFacts CRSElfFactsOfLoadedObject(const dl_phdr_info* info);
// The architecture name of an ELF machine number ("x86_64" for EM_X86_64), "unknown" otherwise.
const char* CRSElfArchitectureName(unsigned machine);
