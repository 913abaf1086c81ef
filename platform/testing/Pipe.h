#pragma once
// A non-blocking pipe for tests of descriptor sources; both ends close when it goes.
//
//   pltest::Pipe p;
//   ::write(p.w, "x", 1);         // p.r becomes readable
//   p.closeWriteEnd();            // the reader sees the end of the stream
namespace pltest {

struct Pipe {
  int r = -1;  // read end
  int w = -1;  // write end

  // Throws std::system_error when no pipe can be made.
  Pipe();
  ~Pipe();
  Pipe(const Pipe&) = delete;
  Pipe& operator=(const Pipe&) = delete;

  void closeWriteEnd();
};

}  // namespace pltest
