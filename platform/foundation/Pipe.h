#pragma once
// A one-way pipe with a handle for each end. Both ends are closed when their handles go away.
#include "platform/core/Object.h"
#include "platform/foundation/FileHandle.h"

namespace ns {

class Pipe : public Object {
 public:
  // Raises NSFileHandleOperationException when the system has no descriptors left.
  Pipe();
  static Ref<Pipe> pipe() { return make<Pipe>(); }

  const Ref<FileHandle>& fileHandleForReading() const { return reading_; }
  const Ref<FileHandle>& fileHandleForWriting() const { return writing_; }

 private:
  Ref<FileHandle> reading_;
  Ref<FileHandle> writing_;
};

}  // namespace ns
