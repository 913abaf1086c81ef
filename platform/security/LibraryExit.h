#pragma once
// The TLS library's own clean-up at process exit frees its tables while a loading thread may
// still be in a handshake (exit does not wait for that thread), which crashes the exit. Called
// before the library is first used, this leaves its state in place until the process is gone.

namespace sec {

void keepCryptoLibraryThroughExit();

}  // namespace sec
