// The crash-time stack walk in this process: the unwind-table reader on tables built here byte by
// byte, and whole walks from captured registers through the C library, held against the C
// library's own backtrace().
#include <execinfo.h>
#include <link.h>
#include <pthread.h>
#include <ucontext.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "CrashReporter/CRSContext.h"
#include "CrashReporter/CRSStackWalk.h"
#include "CrashReporter/CRSSystemInfo.h"
#include "CrashReporter/CRSUnwind.h"

namespace {

// ---- unwind tables built here ----

// One .eh_frame_hdr (one table entry) followed by an .eh_frame of one CIE and one FDE, for a
// function of `size` bytes at code(), an address near the tables that is never read. Pointers are
// pc-relative sdata4, as the linkers write them.
class Tables {
 public:
  Tables(const std::string& augmentation, const std::vector<std::uint8_t>& cieInstructions,
         const std::vector<std::uint8_t>& fdeInstructions, std::uint64_t size = 0x40) {
    std::uint64_t base = address(0);
    code_ = (base + 0x10000) & ~std::uint64_t{0xfff};
    // .eh_frame_hdr: version, encodings (eh_frame_ptr pcrel sdata4, count udata4, table datarel
    // sdata4), then the pointer, the count and the one entry.
    put({1, 0x1b, 0x03, 0x3b});
    std::size_t ehFrame = 32;
    put32(static_cast<std::uint32_t>(ehFrame - at_));
    put32(1);
    put32(static_cast<std::uint32_t>(code_ - base));
    std::size_t fdeEntry = at_;
    put32(0);  // the FDE's offset, filled in below
    at_ = ehFrame;
    std::size_t cie = record([&] {
      put32(0);  // CIE id
      put({1});  // version
      for (char c : augmentation) put({static_cast<std::uint8_t>(c)});
      put({0, 1, 0x78, 16});  // terminator, code alignment 1, data alignment -8, return column 16
      put({1, 0x1b});         // "zR": the FDE's pointers are pcrel sdata4
      put(cieInstructions);
    });
    std::size_t fde = record([&] {
      put32(static_cast<std::uint32_t>(at_ - cie));
      put32(static_cast<std::uint32_t>(code_ - address(at_)));
      put32(static_cast<std::uint32_t>(size));
      put({0});  // no augmentation data
      put(fdeInstructions);
    });
    fde_ = fde;
    std::size_t end = at_;
    at_ = fdeEntry;
    put32(static_cast<std::uint32_t>(fde - 0));
    at_ = end;
    put32(0);  // .eh_frame's terminator
    image_.ehFrameHdr = base;
    image_.ehFrameHdrSize = ehFrame;
    image_.codeCount = 1;
    image_.code[0] = CRSCodeRange{code_, size};
  }

  const CRSBinaryImage& image() const { return image_; }
  std::uint64_t code() const { return code_; }
  void setHeader(std::size_t offset, std::uint8_t value) { bytes_[offset] = value; }
  // The FDE's field that says how far back its CIE starts.
  void setCiePointer(std::uint32_t value) { std::memcpy(bytes_ + fde_ + 4, &value, 4); }

 private:
  std::uint64_t address(std::size_t offset) const { return reinterpret_cast<std::uint64_t>(bytes_) + offset; }
  void put(const std::vector<std::uint8_t>& values) {
    for (std::uint8_t v : values) bytes_[at_++] = v;
  }
  void put32(std::uint32_t value) {
    std::memcpy(bytes_ + at_, &value, 4);
    at_ += 4;
  }
  // A length-prefixed record, padded with DW_CFA_nop to 8 bytes; answers its offset.
  template <class Body>
  std::size_t record(Body body) {
    std::size_t start = at_;
    at_ += 4;
    body();
    while ((at_ - start) % 8) put({0});
    std::uint32_t length = static_cast<std::uint32_t>(at_ - start - 4);
    std::memcpy(bytes_ + start, &length, 4);
    return start;
  }

  alignas(8) std::uint8_t bytes_[512] = {};
  std::size_t at_ = 0;
  std::size_t fde_ = 0;
  std::uint64_t code_ = 0;
  CRSBinaryImage image_{};
};

// The usual CIE of x86-64: the CFA is rsp + 8, the return address at CFA - 8.
const std::vector<std::uint8_t> kCie = {0x0c, 7, 8, 0x90, 1};

// A frame at `pc` whose stack is `stack`, with rbp `fp`.
CRSUnwindRegisters frameAt(std::uint64_t pc, const std::uint64_t* stack, std::uint64_t fp = 0) {
  CRSUnwindRegisters regs{};
  regs.set(CRSUnwindPC, pc);
  regs.set(CRSUnwindRSP, reinterpret_cast<std::uint64_t>(stack));
  regs.set(CRSUnwindRBP, fp);
  return regs;
}

struct Step {
  CRSUnwindResult result;
  CRSUnwindRegisters caller{};
};

Step step(const Tables& tables, const CRSUnwindRegisters& frame, bool exact = true,
          std::uint64_t budget = 1u << 20) {
  Step s;
  CRSUnwindStepInfo info;
  CRSUnwindBudget b{};
  b.bytes = budget;
  s.result = CRSUnwindStep(tables.image(), frame, exact, &s.caller, &info, &b);
  return s;
}

TEST(UnwindTable, EachRowOfAFunctionGivesItsCallersRegisters) {
  // push %rbp (1 byte); mov %rsp,%rbp (3 bytes); ...; leave at +14 (the epilogue's rows are kept
  // apart with remember/restore state); ret.
  Tables t("zR", kCie,
           {0x41, 0x0e, 16, 0x86, 2,  // +1: CFA rsp+16, rbp at CFA-16
            0x43, 0x0d, 6,            // +4: CFA rbp+16
            0x4a, 0x0a, 0x0c, 7, 8,   // +14: remember; CFA rsp+8
            0x41, 0x0b});             // +15: restore
  std::uint64_t stack[4] = {0x1111, 0x2222, 0x3333, 0x4444};
  auto sp = reinterpret_cast<std::uint64_t>(stack);
  auto fp = reinterpret_cast<std::uint64_t>(&stack[1]);
  struct Case {
    std::uint64_t offset;
    bool exact;
    std::uint64_t callerPc, callerSp;
  } cases[] = {
      {0, true, 0x1111, sp + 8},      // entry: the return address on top
      {1, true, 0x2222, sp + 16},     // after push %rbp
      {1, false, 0x1111, sp + 8},     // a return address at +1 follows a call at +0
      {4, true, 0x3333, fp + 16},     // a frame set up: rbp based
      {14, true, 0x1111, sp + 8},     // after leave
      {15, true, 0x3333, fp + 16},    // restored state
      {0x3f, true, 0x3333, fp + 16},  // the last byte
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.offset);
    auto s = step(t, frameAt(t.code() + c.offset, stack, fp), c.exact);
    ASSERT_EQ(s.result, CRSUnwindResult::Stepped);
    EXPECT_EQ(s.caller.value[CRSUnwindPC], c.callerPc);
    EXPECT_EQ(s.caller.value[CRSUnwindRSP], c.callerSp);
  }
  // Where rbp was saved, the caller's rbp is read back; elsewhere it is kept.
  EXPECT_EQ(step(t, frameAt(t.code() + 1, stack, fp)).caller.value[CRSUnwindRBP], 0x1111u);
  EXPECT_EQ(step(t, frameAt(t.code(), stack, fp)).caller.value[CRSUnwindRBP], fp);
  // Caller-saved registers the table says nothing about are not carried over.
  CRSUnwindRegisters frame = frameAt(t.code(), stack, fp);
  frame.set(0, 42);
  frame.set(3, 43);
  auto s = step(t, frame);
  EXPECT_FALSE(s.caller.has(0));
  EXPECT_EQ(s.caller.value[3], 43u);
}

TEST(UnwindTable, APltEntrysExpressionDependsOnThePc) {
  // CFA = rsp + 8 + ((rip & 15) >= 11) * 8, as linkers describe their PLT.
  Tables t("zR", kCie, {0x0f, 11, 0x77, 8, 0x80, 0, 0x3f, 0x1a, 0x3b, 0x2a, 0x33, 0x24, 0x22});
  std::uint64_t stack[2] = {0x1234, 0x5678};
  EXPECT_EQ(step(t, frameAt(t.code() + 6, stack)).caller.value[CRSUnwindPC], 0x1234u);
  EXPECT_EQ(step(t, frameAt(t.code() + 11, stack)).caller.value[CRSUnwindPC], 0x5678u);
}

// The result of a step from `offset` bytes into the tables' function.
CRSUnwindResult resultAt(const Tables& t, std::int64_t offset, const std::uint64_t* stack,
                         std::uint64_t budget = 1u << 20) {
  return step(t, frameAt(t.code() + static_cast<std::uint64_t>(offset), stack), true, budget).result;
}

TEST(UnwindTable, WhatTheReaderDoesNotTakeEndsTheWalkCleanly) {
  std::uint64_t stack[2] = {0x1234, 0x5678};
  // An instruction of a vendor's range, an unknown augmentation letter, a return address the
  // table leaves undefined (the outermost frame), a pc past the function or before it, a spent
  // budget.
  EXPECT_EQ(resultAt(Tables("zR", kCie, {0x1d}), 0, stack), CRSUnwindResult::Unsupported);
  EXPECT_EQ(resultAt(Tables("zX", kCie, {}), 0, stack), CRSUnwindResult::Unsupported);
  EXPECT_EQ(resultAt(Tables("zR", kCie, {0x07, 16}), 0, stack), CRSUnwindResult::Outermost);
  EXPECT_EQ(resultAt(Tables("zR", kCie, {}, 8), 8, stack), CRSUnwindResult::NoInfo);
  EXPECT_EQ(resultAt(Tables("zR", kCie, {}, 8), -1, stack), CRSUnwindResult::NoInfo);
  EXPECT_EQ(resultAt(Tables("zR", kCie, {}), 0, stack, 100), CRSUnwindResult::Unsupported);
  // An expression that reads unmapped memory, and a stack pointer that points nowhere.
  EXPECT_EQ(resultAt(Tables("zR", kCie, {0x0f, 3, 0x30, 0x06, 0x13}), 0, stack),
            CRSUnwindResult::Unsupported);
  EXPECT_EQ(resultAt(Tables("zR", kCie, {}), 0, reinterpret_cast<std::uint64_t*>(8)),
            CRSUnwindResult::Unsupported);
  // A search table in an encoding that cannot be searched, and one of another version.
  Tables variable("zR", kCie, {});
  variable.setHeader(3, 0x31);  // datarel uleb128
  EXPECT_EQ(resultAt(variable, 0, stack), CRSUnwindResult::NoInfo);
  Tables version("zR", kCie, {});
  version.setHeader(0, 2);
  EXPECT_EQ(resultAt(version, 0, stack), CRSUnwindResult::NoInfo);
}

TEST(UnwindTable, EachBoundOfTheReaderRefusesCleanly) {
  std::uint64_t stack[2] = {0x1234, 0x5678};
  // A search table that says it holds 0xffffffff entries.
  Tables count("zR", kCie, {});
  for (std::size_t i = 8; i < 12; ++i) count.setHeader(i, 0xff);
  EXPECT_EQ(resultAt(count, 0, stack), CRSUnwindResult::NoInfo);
  // An FDE whose CIE pointer leads back to the FDE itself.
  Tables self("zR", kCie, {});
  self.setCiePointer(4);
  EXPECT_EQ(resultAt(self, 0, stack), CRSUnwindResult::Unsupported);
  // As many nested remembered states as the reader keeps, then one more.
  EXPECT_EQ(resultAt(Tables("zR", kCie, std::vector<std::uint8_t>(6, 0x0a)), 0, stack),
            CRSUnwindResult::Stepped);
  EXPECT_EQ(resultAt(Tables("zR", kCie, std::vector<std::uint8_t>(7, 0x0a)), 0, stack),
            CRSUnwindResult::Unsupported);
  // CFA expressions that never end: a DW_OP_skip to itself, and DW_OP_lit1 then a DW_OP_bra back
  // to it.
  EXPECT_EQ(resultAt(Tables("zR", kCie, {0x0f, 3, 0x2f, 0xfd, 0xff}), 0, stack),
            CRSUnwindResult::Unsupported);
  EXPECT_EQ(resultAt(Tables("zR", kCie, {0x0f, 4, 0x31, 0x28, 0xfc, 0xff}), 0, stack),
            CRSUnwindResult::Unsupported);
}

// ---- walks of this process's stacks ----

// The images of this process, as the crash context lists them.
class Images {
 public:
  Images() {
    dl_iterate_phdr(
        [](dl_phdr_info* info, std::size_t, void* data) {
          auto* images = static_cast<std::vector<CRSBinaryImage>*>(data);
          CRSBinaryImage image = CRSBinaryImageOfLoadedObject(info, "/proc/self/exe");
          if (image.address) images->push_back(image);
          return 0;
        },
        &images_);
    list_ = CRSBinaryImageList{static_cast<std::uint32_t>(images_.size()), images_.data()};
  }
  ~Images() {
    for (auto& image : images_) {
      std::free(const_cast<char*>(image.path));
      std::free(const_cast<char*>(image.uuid));
    }
  }
  const CRSBinaryImageList* list() const { return &list_; }

 private:
  std::vector<CRSBinaryImage> images_;
  CRSBinaryImageList list_{};
};

struct Capture {
  ucontext_t context;
  std::vector<std::uint64_t> walk;
  std::vector<std::uint64_t> reference;
};
Capture* gCapture = nullptr;

void stackBounds(std::uint64_t* low, std::uint64_t* high) {
  pthread_attr_t attributes;
  ASSERT_EQ(::pthread_getattr_np(::pthread_self(), &attributes), 0);
  void* start = nullptr;
  std::size_t size = 0;
  ::pthread_attr_getstack(&attributes, &start, &size);
  ::pthread_attr_destroy(&attributes);
  *low = reinterpret_cast<std::uint64_t>(start);
  *high = *low + size;
}

// Called by the C library's qsort: walks from its own registers, and asks backtrace() (the C
// library's, by the compiler runtime's unwinder) for the same stack.
extern "C" __attribute__((noinline)) int crsCompareAndCapture(const void* a, const void* b) {
  if (gCapture && gCapture->walk.empty()) {
    std::memset(&gCapture->context, 0, sizeof gCapture->context);
    ::getcontext(&gCapture->context);
    void* frames[CRSMaxFrames];
    int count = ::backtrace(frames, CRSMaxFrames);
    std::uint64_t low = 0, high = 0;
    stackBounds(&low, &high);
    static Images images;
    gCapture->walk.resize(CRSMaxFrames);
    int walked = CRSStackWalk(reinterpret_cast<const std::uint64_t*>(gCapture->context.uc_mcontext.gregs),
                              low, high, images.list(), gCapture->walk.data(), CRSMaxFrames);
    gCapture->walk.resize(static_cast<std::size_t>(walked));
    for (int i = 0; i < count; ++i) gCapture->reference.push_back(reinterpret_cast<std::uint64_t>(frames[i]));
  }
  return *static_cast<const int*>(a) - *static_cast<const int*>(b);
}

TEST(StackWalk, ACallbackOfTheCLibraryListsTheSameCallersAsBacktrace) {
  Capture capture;
  gCapture = &capture;
  int values[] = {3, 1, 2, 5, 4};
  std::qsort(values, 5, sizeof values[0], crsCompareAndCapture);
  gCapture = nullptr;
  // Both start in the callback (getcontext's and backtrace()'s return addresses differ, and under
  // AddressSanitizer backtrace() itself is a frame of its interceptor); past it, every caller
  // through qsort's frames to the start of the thread is the same.
  ASSERT_GT(capture.walk.size(), 4u);
  std::size_t offset = 0;
  while (offset < capture.reference.size() && capture.reference[offset] != capture.walk[1]) ++offset;
  ASSERT_LE(offset, 2u);
  ASSERT_EQ(capture.walk.size() - 1, capture.reference.size() - offset);
  for (std::size_t i = 1; i < capture.walk.size(); ++i)
    EXPECT_EQ(capture.walk[i], capture.reference[offset + i - 1]) << i;
}

extern "C" __attribute__((noinline)) std::uint64_t crsReturnAddressHere() {
  return reinterpret_cast<std::uint64_t>(__builtin_return_address(0));
}

// Bytes that look like the end of a call instruction, in a writable data segment.
std::uint8_t gLooksLikeACall[16] = {0x90, 0x90, 0xe8, 0, 0, 0, 0, 0x90};

std::vector<std::uint64_t> walkFrom(const CRSBinaryImageList* images, std::uint64_t pc, std::uint64_t* stack,
                                    std::uint64_t fp) {
  std::uint64_t gregs[NGREG] = {};
  gregs[REG_RIP] = pc;
  gregs[REG_RSP] = reinterpret_cast<std::uint64_t>(stack);
  gregs[REG_RBP] = fp;
  std::vector<std::uint64_t> frames(CRSMaxFrames);
  frames.resize(static_cast<std::size_t>(CRSStackWalk(gregs, 0, 0, images, frames.data(), CRSMaxFrames)));
  return frames;
}

std::vector<std::uint64_t> walkFrom(std::uint64_t pc, std::uint64_t* stack, std::uint64_t fp) {
  static Images images;
  return walkFrom(images.list(), pc, stack, fp);
}

TEST(StackWalk, TheFirstStepTakesOnlyCodeForALeafsReturnAddress) {
  // A call through a null pointer: the pc is in no image, the caller's return address on top.
  std::uint64_t returnAddress = crsReturnAddressHere();
  alignas(16) std::uint64_t stack[4] = {returnAddress, 0, 0, 0};
  auto frames = walkFrom(0, stack, reinterpret_cast<std::uint64_t>(&stack[2]));
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1], returnAddress);
  // A word of data that follows "a call" is no return address.
  stack[0] = reinterpret_cast<std::uint64_t>(&gLooksLikeACall[7]);
  ASSERT_TRUE(CRSFollowsCall(stack[0]));
  EXPECT_EQ(walkFrom(0, stack, reinterpret_cast<std::uint64_t>(&stack[2])).size(), 1u);
}

TEST(StackWalk, AFramePointerPairsReturnAddressIsKeptWhenItsSavedFramePointerIsNone) {
  // The caller keeps no frame pointer: the saved rbp is whatever it held, the return address good.
  // (The pc is in no image, as after a call through a null pointer, so that the frame pointer
  // steps first.)
  std::uint64_t returnAddress = crsReturnAddressHere();
  alignas(16) std::uint64_t stack[4] = {0, 0, 0x1235, returnAddress};
  auto frames = walkFrom(0, stack, reinterpret_cast<std::uint64_t>(&stack[2]));
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[1], returnAddress);
}

TEST(StackWalk, AnIndirectCallIsTakenAtTheLengthOfItsForm) {
  struct Case {
    std::vector<std::uint8_t> code;  // the bytes right before the return address
    bool call;
  } cases[] = {
      {{0xe8, 1, 2, 3, 4}, true},                     // call rel32
      {{0xff, 0xd0}, true},                           // call *%rax
      {{0x41, 0xff, 0xd3}, true},                     // call *%r11
      {{0xff, 0x10}, true},                           // call *(%rax)
      {{0xff, 0x50, 0x08}, true},                     // call *8(%rax)
      {{0xff, 0x54, 0x24, 0x08}, true},               // call *8(%rsp)
      {{0x41, 0xff, 0x94, 0x24, 1, 2, 3, 4}, true},   // call *disp32(%r12)
      {{0xff, 0x15, 1, 2, 3, 4}, true},               // call *disp32(%rip)
      {{0xff, 0x14, 0xc5, 1, 2, 3, 4}, true},         // call *table(,%rax,8)
      {{0x90, 0x90, 0x90, 0xff, 0x54, 0x24}, false},  // the start of a longer call
      {{0x90, 0x90, 0x90, 0x90, 0xff, 0x20}, false},  // jmp *(%rax)
      {{0x90, 0xff, 0x50, 0x08, 0x90, 0x90}, false},  // a call that ends before
      {{0x90, 0x90, 0x90, 0x90, 0x90, 0x90}, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.code));
    std::uint8_t bytes[16];
    std::memset(bytes, 0x90, sizeof bytes);
    std::memcpy(bytes + 12 - c.code.size(), c.code.data(), c.code.size());
    EXPECT_EQ(CRSFollowsCall(reinterpret_cast<std::uint64_t>(bytes + 12)), c.call);
  }
}

// A routine of a library that has no unwind rows: its code is this buffer (never run), listed
// with the images of this process.
class RoutineWithoutRows {
 public:
  RoutineWithoutRows() {
    for (std::uint32_t i = 0; i < process_.list()->count; ++i) images_.push_back(process_.list()->entries[i]);
    CRSBinaryImage library{};
    library.path = "routine";
    library.address = reinterpret_cast<std::uint64_t>(code_);
    library.size = sizeof code_;
    library.codeCount = 1;
    library.code[0] = CRSCodeRange{library.address, sizeof code_};
    images_.push_back(library);
    list_ = CRSBinaryImageList{static_cast<std::uint32_t>(images_.size()), images_.data()};
  }
  const CRSBinaryImageList* list() const { return &list_; }
  std::uint64_t pc() const { return reinterpret_cast<std::uint64_t>(code_) + 8; }

 private:
  Images process_;
  std::uint8_t code_[64] = {};
  std::vector<CRSBinaryImage> images_;
  CRSBinaryImageList list_{};
};

TEST(StackWalk, CodeWithoutRowsIsLeftByTheFirstReturnAddressAboveItsFrame) {
  RoutineWithoutRows routine;
  // The routine saved two registers (its caller's rbp among them) and filled a work area, and
  // keeps a pointer into that area in rbp, where the pair looks like a frame whose return address
  // is no code.
  std::uint64_t returnAddress = crsReturnAddressHere();
  auto framePointer = reinterpret_cast<std::uint64_t>(__builtin_frame_address(0));
  alignas(16) std::uint64_t stack[8] = {0x7000, 0x8000, 0x9000, 0x2a, framePointer, returnAddress, 0, 0};
  auto frames = walkFrom(routine.list(), routine.pc(), stack, reinterpret_cast<std::uint64_t>(&stack[0]));
  // Past the routine's caller (this test), the frame pointer it saved gives that one's caller.
  ASSERT_GE(frames.size(), 3u);
  EXPECT_EQ(frames[1], returnAddress);
  EXPECT_EQ(frames[2], reinterpret_cast<std::uint64_t>(__builtin_return_address(0)));
  // A routine that left rbp alone: it still holds its caller's frame pointer, whose step would
  // skip that caller. The return address below that frame comes first.
  alignas(16) std::uint64_t pushed[4] = {0x2a, 0x2b, returnAddress, 0};
  frames = walkFrom(routine.list(), routine.pc(), pushed, framePointer);
  ASSERT_GE(frames.size(), 3u);
  EXPECT_EQ(frames[1], returnAddress);
  EXPECT_EQ(frames[2], reinterpret_cast<std::uint64_t>(__builtin_return_address(0)));
  // The scan looks at 512 words above the frame, no further.
  std::vector<std::uint64_t> deep(600, 0x7000);
  deep[511] = returnAddress;
  EXPECT_EQ(walkFrom(routine.list(), routine.pc(), deep.data(), 0)[1], returnAddress);
  deep[511] = 0x7000;
  deep[512] = returnAddress;
  EXPECT_EQ(walkFrom(routine.list(), routine.pc(), deep.data(), 0).size(), 1u);
}

}  // namespace
