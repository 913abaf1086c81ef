#include "CrashReporter/CRSElf.h"

#include <elf.h>

#include <algorithm>
#include <cstring>

#include "platform/security/Hex.h"

namespace {

std::size_t alignUp(std::size_t value, std::size_t alignment) {
  return (value + alignment - 1) & ~(alignment - 1);
}

void readNotes(const char* start, std::size_t length, std::size_t alignment, CRSElfImageFacts& facts) {
  std::size_t at = 0;
  while (at + sizeof(ElfW(Nhdr)) <= length) {
    ElfW(Nhdr) header;
    std::memcpy(&header, start + at, sizeof header);
    std::size_t name = at + sizeof header;
    std::size_t desc = name + alignUp(header.n_namesz, alignment);
    std::size_t next = desc + alignUp(header.n_descsz, alignment);
    if (desc + header.n_descsz > length || next <= at) return;
    bool gnu = header.n_namesz == 4 && std::memcmp(start + name, "GNU", 4) == 0;
    if (gnu && header.n_type == NT_GNU_BUILD_ID && facts.buildId.empty()) {
      facts.buildId = sec::hexEncode(start + desc, header.n_descsz);
      facts.buildIdAddress = reinterpret_cast<std::uint64_t>(start + desc);
    } else if (gnu && header.n_type == NT_GNU_ABI_TAG && header.n_descsz >= 16 && !facts.abiTag) {
      std::uint32_t words[4];
      std::memcpy(words, start + desc, sizeof words);
      facts.abiTag =
          std::to_string(words[1]) + "." + std::to_string(words[2]) + "." + std::to_string(words[3]);
    }
    at = next;
  }
}

}  // namespace

CRSElfImageFacts CRSElfFactsOfLoadedObject(const dl_phdr_info* info) {
  CRSElfImageFacts facts;
  std::uint64_t low = UINT64_MAX, high = 0;
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[i];
    if (segment.p_type == PT_LOAD) {
      low = std::min<std::uint64_t>(low, segment.p_vaddr);
      high = std::max<std::uint64_t>(high, segment.p_vaddr + segment.p_memsz);
      if ((segment.p_flags & PF_X) && segment.p_memsz)
        facts.code.emplace_back(info->dlpi_addr + segment.p_vaddr, segment.p_memsz);
    } else if (segment.p_type == PT_GNU_EH_FRAME && segment.p_memsz) {
      facts.ehFrameHdr = info->dlpi_addr + segment.p_vaddr;
      facts.ehFrameHdrSize = segment.p_memsz;
    }
  }
  if (low != UINT64_MAX) {
    facts.address = info->dlpi_addr + low;
    facts.size = high - low;
  }
  for (int i = 0; i < info->dlpi_phnum; ++i) {
    const ElfW(Phdr)& segment = info->dlpi_phdr[i];
    if (segment.p_type != PT_NOTE) continue;
    std::size_t alignment = segment.p_align == 8 ? 8 : 4;
    readNotes(reinterpret_cast<const char*>(info->dlpi_addr + segment.p_vaddr), segment.p_memsz, alignment,
              facts);
  }
  return facts;
}

const char* CRSElfArchitectureName(unsigned machine) {
  switch (machine) {
    case EM_X86_64:
      return "x86_64";
    case EM_386:
      return "i386";
    case EM_AARCH64:
      return "arm64";
    case EM_ARM:
      return "armv7";
    default:
      return "unknown";
  }
}
