#pragma once

// SDL keeps a little storage for each thread that calls it and frees it only for the threads it
// started itself; the outputs' workers are ours, so each one leaves that storage behind when it
// ends. Only SDL's own allocations are let through, so that other leaks still show.
extern "C" __attribute__((visibility("default"), used)) const char* __lsan_default_suppressions() {
  return "leak:libSDL2\n";
}
