#pragma once

// `make bench` gathers one row from each measurement into a single table: the file named by
// TAVRUNE_BENCH_TABLE, one Markdown row a line. Without it a benchmark only prints.
#include <cstdio>
#include <cstdlib>
#include <string>

namespace bench {

inline void AddRow(const std::string& What, const std::string& Against, const std::string& Result,
                   const std::string& Target) {
  const char* Table = std::getenv("TAVRUNE_BENCH_TABLE");
  if (!Table || !*Table)
    return;
  if (FILE* Out = std::fopen(Table, "a")) {
    std::fprintf(Out, "| %s | %s | %s | %s |\n", What.c_str(), Against.c_str(), Result.c_str(),
                 Target.c_str());
    std::fclose(Out);
  }
}

// A number as the table shows it; Format takes one double ("%.2f").
inline std::string Figure(const char* Format, double Value) {
  char Text[64];
  std::snprintf(Text, sizeof Text, Format, Value);
  return Text;
}

} // namespace bench
