#pragma once

#include "bench/BenchTable.h"

// What the writer benchmarks share: the PCM both sides encode, and timing a writer and a
// command over it.

#include "audio/core/ACS_Classes.h"
#include "tests/support/Pump.h"
#include "tests/support/TestComponents.h"

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace bench {

using TClock = std::chrono::steady_clock;

inline double Seconds(TClock::duration Duration) {
  return std::chrono::duration<double>(Duration).count();
}

// Processor seconds used so far by this process (Who = RUSAGE_SELF) or by its finished children
// (RUSAGE_CHILDREN): on a shared machine, less disturbed by others than the wall clock.
inline double CpuSeconds(int Who) {
  rusage Usage{};
  getrusage(Who, &Usage);
  const auto Of = [](const timeval& Time) { return Time.tv_sec + Time.tv_usec / 1e6; };
  return Of(Usage.ru_utime) + Of(Usage.ru_stime);
}

// Wall-clock and processor seconds of one run.
struct TTimes {
  double Wall = 0;
  double Cpu = 0;
};

inline double Median(std::vector<double> Values) {
  std::sort(Values.begin(), Values.end());
  return Values[Values.size() / 2];
}

// Seconds of 16-bit stereo at 44100 Hz that sounds like music to an encoder: a chord that
// changes every second, with a little noise.
inline std::vector<uint8_t> MusicBytes(int SecondsOfAudio) {
  std::mt19937 Random(7);
  std::normal_distribution<double> Noise(0, 300);
  const size_t Frames = static_cast<size_t>(SecondsOfAudio) * 44100;
  std::vector<uint8_t> Bytes;
  Bytes.reserve(Frames * 4);
  for (size_t I = 0; I < Frames; ++I) {
    const double Root = 110.0 * (1 + static_cast<double>(I / 44100 % 5) / 4);
    for (int Channel = 0; Channel < 2; ++Channel) {
      double Value = Noise(Random);
      for (double Ratio : {1.0, 1.25, 1.5, 2.0})
        Value += 5000 * std::sin(2 * M_PI * Root * Ratio * I / 44100 + Channel);
      const auto Sample = static_cast<int16_t>(std::clamp(Value, -32768.0, 32767.0));
      Bytes.push_back(static_cast<uint8_t>(Sample));
      Bytes.push_back(static_cast<uint8_t>(Sample >> 8));
    }
  }
  return Bytes;
}

inline void WriteFile(const std::string& File, const std::vector<uint8_t>& Bytes) {
  std::ofstream(File, std::ios::binary)
      .write(reinterpret_cast<const char*>(Bytes.data()),
             static_cast<std::streamsize>(Bytes.size()));
}

inline TTimes TimeCommand(const std::string& Command) {
  const double Cpu = CpuSeconds(RUSAGE_CHILDREN);
  const TClock::time_point Start = TClock::now();
  if (std::system(Command.c_str()) != 0) {
    std::fprintf(stderr, "failed: %s\n", Command.c_str());
    std::exit(1);
  }
  return {Seconds(TClock::now() - Start), CpuSeconds(RUSAGE_CHILDREN) - Cpu};
}

// One run of Writer over Bytes (handed out 64 KiB at a time), to its end.
inline TTimes TimeWriter(TAuFileOut& Writer, const std::vector<uint8_t>& Bytes) {
  TComponentPtr<TMemoryInput> Input(new TMemoryInput(nullptr, Bytes, 65536));
  Writer.SetInput(Input.get());
  const double Cpu = CpuSeconds(RUSAGE_SELF);
  const TClock::time_point Start = TClock::now();
  Writer.Run();
  PumpUntil([&] { return !Writer.Running(); }, 600000);
  const TTimes Elapsed{Seconds(TClock::now() - Start), CpuSeconds(RUSAGE_SELF) - Cpu};
  if (!Writer.ExceptionText().empty()) {
    std::fprintf(stderr, "writer failed: %s\n", Writer.ExceptionText().c_str());
    std::exit(1);
  }
  Writer.SetInput(nullptr);
  return Elapsed;
}

// Runs both sides Rounds times, alternating, and prints the medians and their ratios; the
// table's row is the time ratio, ours to the tool's.
template <class FTool, class FOurs>
void Compare(int Rounds, const std::string& What, const std::string& Target, const char* ToolName,
             const char* OurName, FTool Tool, FOurs Ours) {
  Tool();
  Ours();
  std::vector<double> ToolWall, ToolCpu, OurWall, OurCpu;
  for (int Round = 0; Round < Rounds; ++Round) {
    const TTimes ToolTimes = Tool();
    const TTimes OurTimes = Ours();
    ToolWall.push_back(ToolTimes.Wall);
    ToolCpu.push_back(ToolTimes.Cpu);
    OurWall.push_back(OurTimes.Wall);
    OurCpu.push_back(OurTimes.Cpu);
  }
  const double TW = Median(ToolWall), TC = Median(ToolCpu);
  const double OW = Median(OurWall), OC = Median(OurCpu);
  std::printf("  %-14s %7.3f s wall, %7.3f s processor\n", ToolName, TW, TC);
  std::printf("  %-14s %7.3f s wall, %7.3f s processor  = %.3f x wall, %.3f x processor\n", OurName,
              OW, OC, OW / TW, OC / TC);
  AddRow(What, ToolName, Figure("%.2f", OW / TW) + Figure(" (processor %.2f)", OC / TC), Target);
}

} // namespace bench
