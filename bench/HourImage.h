#pragma once

// The rip benchmarks' disc: fifteen four-minute tracks of noise, 60 minutes and 635 MB, as the
// one virtual drive of a configuration folder of the benchmark's own.
#include "tests/support/TempDir.h"
#include "tests/support/VirtualDrives.h"
#include "tools/DiscImage.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace bench {

inline constexpr int32_t HourTracks = 15;

inline tools::TDiscLayout WriteHourImage(const TTempDir& Folder) {
  setenv("XDG_CONFIG_HOME", Folder.Path().c_str(), 1);
  unsetenv("TAVRUNE_LIBRARY_PATH");
  std::vector<tools::TTrackSpec> Specs(HourTracks);
  for (int32_t I = 0; I < HourTracks; ++I) {
    Specs[I].Sectors = 4 * 60 * 75;
    Specs[I].Source = "noise " + std::to_string(I + 1);
  }
  tools::TDiscLayout Layout = tools::WriteDiscImage(Specs, Folder.File("hour.cue"));
  WriteDrivesIni(Folder.Path(), {Layout.CueFile});
  return Layout;
}

} // namespace bench
