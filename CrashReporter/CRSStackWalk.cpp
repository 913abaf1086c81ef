#include "CrashReporter/CRSStackWalk.h"

#include "CrashReporter/CRSContext.h"
#include "CrashReporter/CRSUnwind.h"

// Everything here runs at crash time: no allocation, no locks, stack buffers only.
namespace {

// What one thread's walk may read of unwind tables and stack: a few kilobytes per step through a
// library, so this holds for hundreds of such steps and bounds a walk through damaged tables.
constexpr std::uint64_t kWalkReadBudget = 1u << 20;

// The listed image whose executable segments hold `address`; data and read-only segments hold no
// code and do not count.
const CRSBinaryImage* imageForCode(const CRSBinaryImageList* images, std::uint64_t address) {
  for (std::uint32_t i = 0; images && i < images->count; ++i) {
    const CRSBinaryImage& image = images->entries[i];
    for (std::uint32_t r = 0; r < image.codeCount && r < CRSMaxCodeRanges; ++r) {
      if (address >= image.code[r].address && address - image.code[r].address < image.code[r].size)
        return &image;
    }
  }
  return nullptr;
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
bool leafCaller(const CRSUnwindRegisters& regs, const CRSBinaryImageList* images, CRSUnwindBudget* budget,
                CRSUnwindRegisters* next) {
  if (!regs.has(CRSUnwindRBP)) return false;
  std::uint64_t pc = regs.value[CRSUnwindPC];
  std::uint64_t sp = regs.value[CRSUnwindRSP];
  std::uint64_t fp = regs.value[CRSUnwindRBP];
  std::uint64_t top = 0;
  if (sp % 8 != 0 || sp >= fp || !CRSUnwindRead(budget, sp, &top, sizeof top) || top == pc ||
      !imageForCode(images, top) || !CRSFollowsCall(top))
    return false;
  std::uint64_t pair[2] = {0, 0};
  if (CRSUnwindRead(budget, fp, pair, sizeof pair) && pair[1] == top) return false;
  *next = preserved(regs);
  next->set(CRSUnwindPC, top);
  next->set(CRSUnwindRSP, sp + 8);
  return true;
}

// One step of the frame-pointer chain: the saved rbp and the return address at rbp. The return
// address is taken whatever the saved rbp holds (the caller may be code that keeps no frame
// pointer and uses rbp for something else); the saved rbp is checked when it is next used as a
// frame pointer.
bool framePointerStep(const CRSUnwindRegisters& regs, bool bounded, std::uint64_t stackLow,
                      std::uint64_t stackHigh, CRSUnwindBudget* budget, CRSUnwindRegisters* next) {
  if (!regs.has(CRSUnwindRBP)) return false;
  std::uint64_t fp = regs.value[CRSUnwindRBP];
  std::uint64_t sp = regs.value[CRSUnwindRSP];
  if (fp % 8 != 0 || fp < sp) return false;
  if (bounded && (fp < stackLow || fp > stackHigh - 16)) return false;
  std::uint64_t pair[2];
  if (!CRSUnwindRead(budget, fp, pair, sizeof pair) || pair[1] < 4096) return false;
  *next = CRSUnwindRegisters{};
  next->set(CRSUnwindPC, pair[1]);
  next->set(CRSUnwindRSP, fp + 16);
  next->set(CRSUnwindRBP, pair[0]);
  return true;
}

}  // namespace

bool CRSFollowsCall(std::uint64_t address) {
  std::uint8_t code[7];
  if (address < sizeof code || !CRSReadMemory(code, address - sizeof code, sizeof code)) return false;
  auto callModrm = [](std::uint8_t modrm, std::uint8_t mod) { return (modrm & 0xf8) == (mod | 0x10); };
  return code[2] == 0xe8 ||                                                   // call rel32
         (code[1] == 0xff && code[2] == 0x15) ||                              // call *rel32(%rip)
         (code[5] == 0xff && callModrm(code[6], 0xc0)) ||                     // call *%reg
         (code[4] == 0x41 && code[5] == 0xff && callModrm(code[6], 0xc0)) ||  // call *%r8-15
         (code[4] == 0xff && callModrm(code[5], 0x40)) ||                     // call *disp8(%reg)
         (code[1] == 0xff && callModrm(code[2], 0x80));                       // call *disp32(%reg)
}

int CRSStackWalk(const std::uint64_t* gregs, std::uint64_t stackLow, std::uint64_t stackHigh,
                 const CRSBinaryImageList* images, std::uint64_t* frames, int capacity) {
  if (!gregs || capacity <= 0) return 0;
  CRSUnwindRegisters regs = CRSUnwindRegistersFromMachine(gregs);
  CRSUnwindBudget budget{};
  budget.bytes = kWalkReadBudget;
  // A thread stopped on another stack (a handler on its alternate stack) is walked without them.
  std::uint64_t sp = regs.value[CRSUnwindRSP];
  bool bounded = stackLow < stackHigh && sp >= stackLow && sp < stackHigh;
  int count = 0;
  frames[count++] = regs.value[CRSUnwindPC];
  // The pc is the instruction being run (not a return address) in the first frame and in a frame
  // a signal interrupted.
  bool exact = true;
  while (count < capacity) {
    std::uint64_t pc = regs.value[CRSUnwindPC];
    sp = regs.value[CRSUnwindRSP];
    const CRSBinaryImage* image = imageForCode(images, exact ? pc : pc - 1);
    CRSUnwindRegisters next{};
    bool nextExact = false;
    // A step by the image's unwind table, checked as a frame pointer's step is.
    auto tableStep = [&] {
      nextExact = false;
      CRSUnwindStepInfo info;
      if (!image || CRSUnwindStep(*image, regs, exact, &next, &info, &budget) != CRSUnwindResult::Stepped)
        return false;
      std::uint64_t callerSp = next.value[CRSUnwindRSP];
      if (info.signalFrame) {
        // The interrupted code ran on its own stack, which need not lie above the handler's.
        nextExact = true;
        bounded = stackLow < stackHigh && callerSp >= stackLow && callerSp < stackHigh;
        return true;
      }
      return callerSp > sp && !(bounded && callerSp > stackHigh);
    };
    bool stepped = false;
    if (image && !image->mainProgram) {
      stepped = tableStep();
    } else if (exact) {
      // The program's code keeps frame pointers, but the instruction being run may lie before its
      // function set up its frame or after it took it down, or in a function that keeps none (a
      // leaf): the table knows; without one, the return address on top of the stack is guessed.
      stepped = tableStep() || leafCaller(regs, images, &budget, &next) ||
                framePointerStep(regs, bounded, stackLow, stackHigh, &budget, &next);
    } else {
      // At a call, the program's function has its frame set up: its frame pointer steps. Where a
      // function of it keeps none (one written in assembly, a statically linked library built
      // without them), its unwind table steps.
      stepped = framePointerStep(regs, bounded, stackLow, stackHigh, &budget, &next) || tableStep();
    }
    if (!stepped) break;
    if (next.value[CRSUnwindPC] < 4096) break;
    frames[count++] = next.value[CRSUnwindPC];
    regs = next;
    exact = nextExact;
  }
  return count;
}
