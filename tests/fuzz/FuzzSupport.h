#pragma once

// What the fuzz targets share: the check of a promise, and files made from the input.

#include "platform/File.h"

#include <sys/mman.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

// Reports a broken promise; libFuzzer keeps the input that led here.
inline void Check(bool Condition, const char* Promise) {
  if (Condition)
    return;
  std::fprintf(stderr, "broken: %s\n", Promise);
  std::abort();
}

// Runs Step; anything that escapes it is a fault too, reported as What.
template <typename TStep> void NothingEscapes(TStep&& Step, const char* What) {
  try {
    Step();
  } catch (...) {
    Check(false, What);
  }
}

// A file in memory holding Size bytes, positioned at its start.
inline platform::TFileHandle MemoryFile(const uint8_t* Data, size_t Size) {
  platform::TFileHandle File(memfd_create("fuzz", MFD_CLOEXEC));
  Check(File.Valid(), "a memory file opens");
  Check(platform::FileWrite(File.Get(), Data, Size) == int64_t(Size), "the input is written");
  platform::FileSeek(File.Get(), 0, platform::TSeekOrigin::Begin);
  return File;
}

// Name holding exactly Size bytes of Data, made anew.
inline void WriteFile(const std::string& Name, const uint8_t* Data, size_t Size) {
  std::ofstream Out(Name, std::ios::binary | std::ios::trunc);
  Out.write(reinterpret_cast<const char*>(Data), static_cast<std::streamsize>(Size));
  Check(Out.good(), "the input is written to its file");
}

inline std::vector<uint8_t> ReadFile(const std::string& Name) {
  std::ifstream In(Name, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(In), {});
}
