#include "tests/support/Pump.h"

#include "runtime/Synchronize.h"

#include <chrono>

bool PumpUntil(const std::function<bool()>& Condition, int TimeoutMs) {
  auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  while (!Condition()) {
    if (std::chrono::steady_clock::now() > Deadline)
      return false;
    CheckSynchronize(1);
  }
  return true;
}

void PumpFor(int Milliseconds) {
  auto Deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(Milliseconds);
  while (std::chrono::steady_clock::now() < Deadline)
    CheckSynchronize(1);
}
