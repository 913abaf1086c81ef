#pragma once
// The crash-time walk of one thread's stack, from its registers to the return addresses of its
// callers. Runs inside the crash handler: no allocation, no lock, no call into the dynamic loader;
// memory is read only through CRSReadMemory.
#include <cstdint>

struct CRSBinaryImage;
struct CRSBinaryImageList;
struct CRSUnwindBudget;

// Writes the frames of the stack whose registers are `gregs` (a machine context's general
// registers) into `frames`, innermost first: the pc, then one return address per caller. At most
// `capacity` frames; answers how many were written (0 without registers).
//
// Code of the listed images other than the program (the C library, the C++ runtime and the other
// shared objects, built without frame pointers) is stepped by the image's unwind table
// (CRSUnwindStep). The program's own code keeps frame pointers: a frame of it stopped at a call
// is stepped by its frame-pointer chain (the saved rbp and the return address at rbp), by its
// unwind table where that cannot be done (a function of it that keeps no frame pointer). A frame
// whose pc is the instruction being run (the first, and one a signal interrupted) may lie before
// its function set up its frame: the table steps it, or else the return address on top of the
// stack is taken when it follows a call, or else the frame pointer. Code in no listed image is
// walked as the program's.
//
// Code of a library that its table does not cover (routines written in assembly without unwind
// rows), or covers with rows the reader does not take, gets the program's steps and a scan of the
// stack above the frame (512 words at most) for the first word that can be a return address:
// code of a listed image right after a call instruction. Its rbp is a frame pointer only where the
// return address there can be one, and then that of a caller further up: the scan looks below
// that frame first, so that the callers under it are not skipped, and the frame pointer steps
// where it finds none. A caller found by a scan has its frame pointer back when the frame's rbp,
// or a word the frame saved below that return address, can be one.
//
// A step is taken only where a frame can be: a frame pointer 8-byte aligned and at or above the
// stack pointer, a caller's stack pointer above the callee's (but across a signal frame), and
// both within the thread's stack [stackLow, stackHigh) when its bounds are known and the walk
// starts on it. The walk ends at the first step that cannot be taken, at an outermost frame, at
// a return address below 4096, at `capacity` frames, or when its read budget (1 MiB) is spent.
// A listed image that is no longer the object mapped at its address (CRSBinaryImageIsMapped)
// holds no code for the walk.
int CRSStackWalk(const std::uint64_t* gregs, std::uint64_t stackLow, std::uint64_t stackHigh,
                 const CRSBinaryImageList* images, std::uint64_t* frames, int capacity);

// Whether the bytes before `address` are a call instruction: a direct call (E8 rel32), or an
// indirect one (FF /2, after an optional REX prefix) in any of its addressing forms, of the
// length that form has.
bool CRSFollowsCall(std::uint64_t address);

// The identity of an image as mapped now (CRSBinaryImage::identity): a hash of the ELF header at
// its address and of the bytes at its build identifier's address; 0 when they cannot be read.
// Reads through `budget` when one is given.
std::uint64_t CRSBinaryImageIdentity(const CRSBinaryImage& image, CRSUnwindBudget* budget);
// Whether a listed image is still the object mapped at its address: false once it was unloaded,
// whatever is mapped there now. An image whose identity was not noted counts as mapped.
bool CRSBinaryImageIsMapped(const CRSBinaryImage& image, CRSUnwindBudget* budget);
