#pragma once

// What the writers' tests share: generated audio, running a writer to its end, and running the
// tools that check the files. A source of any sample format is TFormatInput (TestComponents.h).

#include "audio/core/ACS_Classes.h"
#include "tests/support/Command.h"
#include "tests/support/Pump.h"
#include "tests/support/TestComponents.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

// 16-bit stereo: a 440 Hz sine left and a 660 Hz one right, at half scale.
inline std::vector<uint8_t> SineBytes(size_t Frames) {
  std::vector<uint8_t> Bytes;
  Bytes.reserve(Frames * 4);
  for (size_t I = 0; I < Frames; ++I)
    for (double Hz : {440.0, 660.0}) {
      const auto Value = static_cast<int16_t>(16000 * std::sin(2 * M_PI * Hz * I / 44100));
      Bytes.push_back(static_cast<uint8_t>(Value));
      Bytes.push_back(static_cast<uint8_t>(Value >> 8));
    }
  return Bytes;
}

// Runs the output once and waits for its OnDone; returns its exception text.
inline std::string RunToEnd(TAuOutput& Output) {
  bool Finished = false;
  Output.SetOnDone([&](TComponent*) { Finished = true; });
  Output.Run();
  EXPECT_TRUE(PumpUntil([&] { return Finished; }, 60000));
  return Output.ExceptionText();
}

inline std::vector<uint8_t> ReadBytes(const std::string& File) {
  std::ifstream In(File, std::ios::binary);
  return {std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>()};
}
