#pragma once
// A crash-time reader of an image's call frame information (.eh_frame_hdr's search table and the
// CIE/FDE records of .eh_frame): one step from a frame to its caller, for code that keeps no frame
// pointer. Written from the DWARF (version 4, section 6.4) and LSB (.eh_frame, .eh_frame_hdr)
// formats. It runs inside the crash handler: no allocation, no lock, no call into the dynamic
// loader (the image's table addresses were noted when the image list was built); every read of the
// process's memory goes through CRSReadMemory, so that a bad address answers false instead of
// faulting, and every read is counted against a budget.
#include <cstddef>
#include <cstdint>

struct CRSBinaryImage;

// Reads memory of uncertain validity (process_vm_readv on this process): false instead of a fault.
bool CRSReadMemory(void* destination, std::uint64_t source, std::size_t length);

// The registers of one frame, in the DWARF numbering of x86-64: 0 rax, 1 rdx, 2 rcx, 3 rbx, 4 rsi,
// 5 rdi, 6 rbp, 7 rsp, 8-15 r8-r15, 16 the return address column (the frame's pc).
inline constexpr int CRSUnwindRegisterCount = 17;
inline constexpr int CRSUnwindRBP = 6;
inline constexpr int CRSUnwindRSP = 7;
inline constexpr int CRSUnwindPC = 16;
struct CRSUnwindRegisters {
  std::uint64_t value[CRSUnwindRegisterCount];
  std::uint32_t known;  // bit n set: value[n] holds the register's value in this frame
  bool has(int n) const { return (known >> n) & 1u; }
  void set(int n, std::uint64_t v) {
    value[n] = v;
    known |= 1u << n;
  }
};

// The registers of a machine context's general registers (ucontext gregs), all known.
CRSUnwindRegisters CRSUnwindRegistersFromMachine(const std::uint64_t* gregs);

// What one walk may still read, in bytes, and the blocks of memory it read last. Each step reads
// much of what the step before read (the upper entries of a search table, the CIE a library's
// FDEs share, the stack around the frames), so a step mostly reads what the blocks lack. Each
// read is taken from the budget; a walk whose budget is spent stops.
inline constexpr int CRSUnwindCachedBlocks = 24;
inline constexpr std::size_t CRSUnwindBlockSize = 256;
struct CRSUnwindBudget {
  std::uint64_t bytes;
  struct Block {
    std::uint64_t base = 1;  // a 256-byte aligned address; 1: holds nothing
    std::uint64_t used = 0;  // when last read, for replacing the least recently used
    std::uint8_t bytes[CRSUnwindBlockSize];
  };
  Block blocks[CRSUnwindCachedBlocks];
  std::uint64_t clock = 0;
};

// Reads `length` bytes at `address` through the walk's blocks, taken from its budget; false when
// any of them cannot be read.
bool CRSUnwindRead(CRSUnwindBudget* budget, std::uint64_t address, void* destination, std::size_t length);

enum class CRSUnwindResult {
  Stepped,      // `caller` holds the caller's registers
  Outermost,    // the information marks this frame as the last one (its return address undefined)
  NoInfo,       // no FDE of the image covers the pc, or the image has no search table
  Unsupported,  // a form the reader does not take, a failed read, or a spent budget
};

struct CRSUnwindStepInfo {
  // The frame stepped from was a signal trampoline (augmentation "S"): the caller's pc is the
  // interrupted instruction itself, not a return address.
  bool signalFrame = false;
};

// One step from `frame` (whose pc, value[16], lies in `image`'s code) to its caller by the image's
// call frame information. `exact` says that the pc is the instruction being run (the first frame,
// or one a signal interrupted); otherwise it is a return address and the call before it is looked
// up. The caller's stack pointer is the frame's CFA; registers the information does not restore
// keep their values when the ABI preserves them across calls (rbx, rbp, r12-r15) and become
// unknown otherwise.
CRSUnwindResult CRSUnwindStep(const CRSBinaryImage& image, const CRSUnwindRegisters& frame, bool exact,
                              CRSUnwindRegisters* caller, CRSUnwindStepInfo* info, CRSUnwindBudget* budget);
