#pragma once
// For tests run as root, whom no mode bit stops: meeting files' modes as an ordinary user would.
namespace pltest {

// Takes from the calling thread alone the capabilities that let root pass over mode bits
// (overriding read, write and search rights, acting as a file's owner); answers whether it could.
// Other threads keep theirs.
bool dropFileOverridesOnThisThread();

}  // namespace pltest
