#pragma once

#include <functional>

// Runs deliveries on this (the main) thread until Condition holds or TimeoutMs pass.
bool PumpUntil(const std::function<bool()>& Condition, int TimeoutMs = 20000);
// Runs deliveries for a while.
void PumpFor(int Milliseconds);
