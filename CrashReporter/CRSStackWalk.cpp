#include "CrashReporter/CRSStackWalk.h"

#include "CrashReporter/CRSContext.h"
#include "CrashReporter/CRSUnwind.h"

// Everything here runs at crash time: no allocation, no locks, stack buffers only.
namespace {

// What one thread's walk may read of unwind tables and stack: a few kilobytes per step through a
// library, so this holds for hundreds of such steps and bounds a walk through damaged tables.
constexpr std::uint64_t kWalkReadBudget = 1u << 20;
// How far above a frame's stack pointer a scan looks for its return address, in words: 4 KiB,
// more than the frames of the hand-written routines that keep no unwind rows reserve.
constexpr std::uint64_t kScanWords = 512;
// Images whose mapping is checked once per walk; those listed after them are checked at each use.
constexpr std::uint32_t kCheckedImages = 512;

struct Walk {
  const CRSBinaryImageList* images;
  std::uint64_t stackLow;
  std::uint64_t stackHigh;
  // The frame's stack lies in [stackLow, stackHigh): a thread stopped on another stack (a handler
  // on its alternate stack) is walked without the bounds.
  bool bounded;
  CRSUnwindBudget budget;
  std::uint64_t checked[kCheckedImages / 64];   // bit i: image i's mapping was checked
  std::uint64_t unmapped[kCheckedImages / 64];  // bit i: and it is no longer the object there
};

bool stillMapped(Walk& w, std::uint32_t i) {
  const CRSBinaryImage& image = w.images->entries[i];
  if (!image.identity) return true;
  if (i >= kCheckedImages) return CRSBinaryImageIsMapped(image, &w.budget);
  std::uint64_t bit = std::uint64_t{1} << (i % 64);
  if (!(w.checked[i / 64] & bit)) {
    w.checked[i / 64] |= bit;
    if (!CRSBinaryImageIsMapped(image, &w.budget)) w.unmapped[i / 64] |= bit;
  }
  return !(w.unmapped[i / 64] & bit);
}

// The listed image whose executable segments hold `address`; data and read-only segments hold no
// code and do not count, nor does an image unloaded since the list was built (the object loaded
// at its place after it is listed after it).
const CRSBinaryImage* imageForCode(Walk& w, std::uint64_t address) {
  for (std::uint32_t i = 0; w.images && i < w.images->count; ++i) {
    const CRSBinaryImage& image = w.images->entries[i];
    for (std::uint32_t r = 0; r < image.codeCount && r < CRSMaxCodeRanges; ++r) {
      if (address >= image.code[r].address && address - image.code[r].address < image.code[r].size) {
        if (stillMapped(w, i)) return &image;
        break;
      }
    }
  }
  return nullptr;
}

// Whether the eight bytes before a return address end with a call instruction: E8 rel32, or FF /2
// (after an optional REX prefix) whose ModRM and SIB bytes give a form of exactly that length.
bool endsWithCall(const std::uint8_t code[8]) {
  if (code[3] == 0xe8) return true;  // call rel32
  for (int start = 0; start < 7; ++start) {
    int at = start + ((code[start] & 0xf0) == 0x40 ? 1 : 0);  // REX
    if (at > 6 || code[at] != 0xff) continue;
    std::uint8_t modrm = code[at + 1];
    if (((modrm >> 3) & 7) != 2) continue;
    int mod = modrm >> 6, rm = modrm & 7;
    int length = 2;                        // opcode and ModRM: call *%reg, call *(%reg)
    if (mod != 3 && rm == 4) length += 1;  // a SIB byte
    if (mod == 1) length += 1;             // disp8
    if (mod == 2) length += 4;             // disp32
    if (mod == 0 && rm == 5) length += 4;  // call *disp32(%rip)
    if (mod == 0 && rm == 4 && at + 2 < 8 && (code[at + 2] & 7) == 5) length += 4;  // SIB, no base
    if (at + length == 8) return true;
  }
  return false;
}

bool followsCall(Walk& w, std::uint64_t address) {
  std::uint8_t code[8];
  return address >= sizeof code && CRSUnwindRead(&w.budget, address - sizeof code, code, sizeof code) &&
         endsWithCall(code);
}

// Whether `address` can be a return address: code of a listed image right after a call.
bool canReturnTo(Walk& w, std::uint64_t address) {
  return address >= 4096 && imageForCode(w, address - 1) && followsCall(w, address);
}

// Only the registers a call preserves, the stack pointer and the pc are carried to a caller whose
// own unwind rules are unknown.
CRSUnwindRegisters preserved(const CRSUnwindRegisters& regs) {
  CRSUnwindRegisters out{};
  for (int reg : {3, CRSUnwindRBP, 12, 13, 14, 15}) {
    if (regs.has(reg)) out.set(reg, regs.value[reg]);
  }
  return out;
}

// A function that keeps no frame of its own (a leaf the compiler left without one, or one stopped
// before its prologue) has its return address on top of the stack: taken when it is code right
// after a call instruction, unless the frame pointer's own return address is that same one (a
// frame set up already). Only for a pc that is the instruction being run.
bool leafCaller(Walk& w, const CRSUnwindRegisters& regs, CRSUnwindRegisters* next) {
  if (!regs.has(CRSUnwindRBP)) return false;
  std::uint64_t pc = regs.value[CRSUnwindPC];
  std::uint64_t sp = regs.value[CRSUnwindRSP];
  std::uint64_t fp = regs.value[CRSUnwindRBP];
  std::uint64_t top = 0;
  if (sp % 8 != 0 || sp >= fp || !CRSUnwindRead(&w.budget, sp, &top, sizeof top) || top == pc ||
      !canReturnTo(w, top))
    return false;
  std::uint64_t pair[2] = {0, 0};
  if (CRSUnwindRead(&w.budget, fp, pair, sizeof pair) && pair[1] == top) return false;
  *next = preserved(regs);
  next->set(CRSUnwindPC, top);
  next->set(CRSUnwindRSP, sp + 8);
  return true;
}

// One step of the frame-pointer chain: the saved rbp and the return address at rbp. The return
// address is taken whatever the saved rbp holds (the caller may be code that keeps no frame
// pointer and uses rbp for something else); the saved rbp is checked when it is next used as a
// frame pointer. From code that keeps no frame pointers itself (`checkReturn`), rbp is a frame
// pointer only where the return address there can be one.
bool framePointerStep(Walk& w, const CRSUnwindRegisters& regs, bool checkReturn, CRSUnwindRegisters* next) {
  if (!regs.has(CRSUnwindRBP)) return false;
  std::uint64_t fp = regs.value[CRSUnwindRBP];
  std::uint64_t sp = regs.value[CRSUnwindRSP];
  if (fp % 8 != 0 || fp < sp) return false;
  if (w.bounded && (fp < w.stackLow || fp > w.stackHigh - 16)) return false;
  std::uint64_t pair[2];
  if (!CRSUnwindRead(&w.budget, fp, pair, sizeof pair) || pair[1] < 4096) return false;
  if (checkReturn && !canReturnTo(w, pair[1])) return false;
  *next = CRSUnwindRegisters{};
  next->set(CRSUnwindPC, pair[1]);
  next->set(CRSUnwindRSP, fp + 16);
  next->set(CRSUnwindRBP, pair[0]);
  return true;
}

// Whether `fp` can be the frame pointer of the caller whose return address lies at `slot`: at or
// above that caller's stack pointer, on the stack, with a return address of its own that can be
// one.
bool callersFramePointer(Walk& w, std::uint64_t fp, std::uint64_t slot) {
  if (fp % 8 != 0 || fp < slot + 8) return false;
  if (w.bounded && fp > w.stackHigh - 16) return false;
  std::uint64_t pair[2];
  return CRSUnwindRead(&w.budget, fp, pair, sizeof pair) && canReturnTo(w, pair[1]);
}

// The frame pointer of a caller found by a scan. A call preserves rbp: code that uses it for
// something else saves the caller's on its stack first, below its return address. The frame's rbp
// is kept when it can be the caller's frame pointer, or else the nearest word below the return
// address that can be is taken; otherwise the caller's rbp is unknown.
void recoverFramePointer(Walk& w, const CRSUnwindRegisters& regs, std::uint64_t slot,
                         CRSUnwindRegisters* next) {
  next->known &= ~(1u << CRSUnwindRBP);
  if (regs.has(CRSUnwindRBP) && callersFramePointer(w, regs.value[CRSUnwindRBP], slot)) {
    next->set(CRSUnwindRBP, regs.value[CRSUnwindRBP]);
    return;
  }
  for (std::uint64_t at = slot; at > regs.value[CRSUnwindRSP];) {
    at -= 8;
    std::uint64_t word = 0;
    if (!CRSUnwindRead(&w.budget, at, &word, sizeof word)) return;
    if (callersFramePointer(w, word, slot)) {
      next->set(CRSUnwindRBP, word);
      return;
    }
  }
}

// The first word from the frame's stack pointer up to `end` (at most kScanWords of them) that can
// be a return address is taken for the frame's own.
bool scanStep(Walk& w, const CRSUnwindRegisters& regs, std::uint64_t end, CRSUnwindRegisters* next) {
  std::uint64_t sp = regs.value[CRSUnwindRSP];
  if (sp % 8 != 0) return false;
  for (std::uint64_t slot = sp; slot < end && slot - sp < kScanWords * 8; slot += 8) {
    if (w.bounded && slot > w.stackHigh - 8) return false;
    std::uint64_t word = 0;
    if (!CRSUnwindRead(&w.budget, slot, &word, sizeof word)) return false;
    if (!canReturnTo(w, word)) continue;
    *next = preserved(regs);
    next->set(CRSUnwindPC, word);
    next->set(CRSUnwindRSP, slot + 8);
    recoverFramePointer(w, regs, slot, next);
    return true;
  }
  return false;
}

// A step from code that has no unwind rows: the program's steps, then a scan. Such code keeps no
// frame pointer, but rbp may still hold that of a caller further up (one that keeps them, and
// that this code or the callers between did not overwrite): the frame-pointer step would skip the
// callers below that frame, so a return address between the stack pointer and that frame is
// taken first.
bool stepWithoutRows(Walk& w, const CRSUnwindRegisters& regs, bool exact, CRSUnwindRegisters* next) {
  if (exact && leafCaller(w, regs, next)) return true;
  CRSUnwindRegisters byFramePointer{};
  if (!framePointerStep(w, regs, true, &byFramePointer)) return scanStep(w, regs, ~std::uint64_t{0}, next);
  if (!scanStep(w, regs, regs.value[CRSUnwindRBP], next)) *next = byFramePointer;
  return true;
}

enum class TableStep {
  Stepped,
  Stop,   // the frame is the outermost, or its caller's stack pointer cannot be one
  NoRow,  // no row for the pc, or one the reader does not take
};

// A step by the image's unwind table, checked as a frame pointer's step is.
TableStep tableStep(Walk& w, const CRSBinaryImage* image, const CRSUnwindRegisters& regs, bool exact,
                    CRSUnwindRegisters* next, bool* nextExact) {
  if (!image) return TableStep::NoRow;
  CRSUnwindStepInfo info;
  CRSUnwindResult result = CRSUnwindStep(*image, regs, exact, next, &info, &w.budget);
  if (result == CRSUnwindResult::Outermost) return TableStep::Stop;
  if (result != CRSUnwindResult::Stepped) return TableStep::NoRow;
  std::uint64_t callerSp = next->value[CRSUnwindRSP];
  if (info.signalFrame) {
    // The interrupted code ran on its own stack, which need not lie above the handler's.
    *nextExact = true;
    w.bounded = w.stackLow < w.stackHigh && callerSp >= w.stackLow && callerSp < w.stackHigh;
    return TableStep::Stepped;
  }
  bool above = callerSp > regs.value[CRSUnwindRSP] && !(w.bounded && callerSp > w.stackHigh);
  return above ? TableStep::Stepped : TableStep::Stop;
}

// One step from the frame `regs` to its caller; false where none can be taken.
bool step(Walk& w, const CRSUnwindRegisters& regs, bool exact, CRSUnwindRegisters* next, bool* nextExact) {
  std::uint64_t pc = regs.value[CRSUnwindPC];
  const CRSBinaryImage* image = imageForCode(w, exact ? pc : pc - 1);
  *nextExact = false;
  if (image && !image->mainProgram) {
    TableStep table = tableStep(w, image, regs, exact, next, nextExact);
    if (table != TableStep::NoRow) return table == TableStep::Stepped;
    return stepWithoutRows(w, regs, exact, next);
  }
  if (exact) {
    // The program's code keeps frame pointers, but the instruction being run may lie before its
    // function set up its frame or after it took it down, or in a function that keeps none (a
    // leaf): the table knows; without one, the return address on top of the stack is guessed.
    return tableStep(w, image, regs, exact, next, nextExact) == TableStep::Stepped ||
           leafCaller(w, regs, next) || framePointerStep(w, regs, false, next);
  }
  // At a call, the program's function has its frame set up: its frame pointer steps. Where a
  // function of it keeps none (one written in assembly, a statically linked library built without
  // them), its unwind table steps.
  return framePointerStep(w, regs, false, next) ||
         tableStep(w, image, regs, exact, next, nextExact) == TableStep::Stepped;
}

// FNV-1a.
std::uint64_t hashBytes(std::uint64_t hash, const std::uint8_t* bytes, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) hash = (hash ^ bytes[i]) * 0x100000001b3u;
  return hash;
}

}  // namespace

bool CRSFollowsCall(std::uint64_t address) {
  std::uint8_t code[8];
  return address >= sizeof code && CRSReadMemory(code, address - sizeof code, sizeof code) &&
         endsWithCall(code);
}

std::uint64_t CRSBinaryImageIdentity(const CRSBinaryImage& image, CRSUnwindBudget* budget) {
  auto read = [budget](void* to, std::uint64_t from, std::size_t length) {
    return budget ? CRSUnwindRead(budget, from, to, length) : CRSReadMemory(to, from, length);
  };
  std::uint8_t header[64];
  std::uint8_t buildId[64];
  std::size_t idLength = image.buildIdSize < sizeof buildId ? image.buildIdSize : sizeof buildId;
  if (!image.address || !read(header, image.address, sizeof header)) return 0;
  if (idLength && (!image.buildIdAddress || !read(buildId, image.buildIdAddress, idLength))) return 0;
  std::uint64_t hash = hashBytes(0xcbf29ce484222325u, header, sizeof header);
  hash = hashBytes(hash, buildId, idLength);
  return hash ? hash : 1;
}

bool CRSBinaryImageIsMapped(const CRSBinaryImage& image, CRSUnwindBudget* budget) {
  return !image.identity || CRSBinaryImageIdentity(image, budget) == image.identity;
}

int CRSStackWalk(const std::uint64_t* gregs, std::uint64_t stackLow, std::uint64_t stackHigh,
                 const CRSBinaryImageList* images, std::uint64_t* frames, int capacity) {
  if (!gregs || capacity <= 0) return 0;
  CRSUnwindRegisters regs = CRSUnwindRegistersFromMachine(gregs);
  Walk w{};
  w.images = images;
  w.stackLow = stackLow;
  w.stackHigh = stackHigh;
  w.budget.bytes = kWalkReadBudget;
  std::uint64_t sp = regs.value[CRSUnwindRSP];
  w.bounded = stackLow < stackHigh && sp >= stackLow && sp < stackHigh;
  int count = 0;
  frames[count++] = regs.value[CRSUnwindPC];
  // The pc is the instruction being run (not a return address) in the first frame and in a frame
  // a signal interrupted.
  bool exact = true;
  while (count < capacity) {
    CRSUnwindRegisters next{};
    bool nextExact = false;
    if (!step(w, regs, exact, &next, &nextExact)) break;
    if (next.value[CRSUnwindPC] < 4096) break;
    frames[count++] = next.value[CRSUnwindPC];
    regs = next;
    exact = nextExact;
  }
  return count;
}
