// mkdisc: makes a CUE/BIN disc image from a description.

#include "tools/DiscImage.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

namespace {

constexpr const char* Usage = R"(Usage: mkdisc DESCRIPTION_FILE OUT.cue
Makes OUT.cue and OUT.bin (raw 2352-byte sectors) from a description; "-" reads it from
standard input.

The description has one track per line; "#" starts a comment:
  audio SECTORS [pregap=N] SOURCE
  data SECTORS [pregap=N]
SECTORS and N are sectors (75 a second) or a time MM:SS:FF. A pregap is stored before the
track's INDEX 01: silence before audio, blank sectors before data. SOURCE is one of
  sine HZ [AMPLITUDE]   amplitude 0..1, 0.5 when left out
  chord SEED            soft chords, the seed choosing the key and progression
  silence
  noise SEED            white noise
  pattern SEED          seeded pseudo-random bytes, for bit-exact checks
  wav FILE              16-bit stereo 44100 Hz PCM, cut or padded to the track
Example:
  audio 00:30:00 chord 1
  audio 2250 pregap=150 sine 440 0.25
  data 1000
)";

std::string ReadDescription(const std::string& Name) {
  if (Name == "-")
    return {std::istreambuf_iterator<char>(std::cin), {}};
  std::ifstream In(Name, std::ios::binary);
  if (!In)
    throw std::runtime_error("cannot open " + Name + ": " + std::strerror(errno));
  std::ostringstream Text;
  Text << In.rdbuf();
  if (In.bad())
    throw std::runtime_error("cannot read " + Name);
  return Text.str();
}

} // namespace

int main(int argc, char** argv) {
  const std::string_view First = argc > 1 ? argv[1] : "";
  if (argc == 2 && (First == "--help" || First == "-h")) {
    std::fputs(Usage, stdout);
    return 0;
  }
  if (argc != 3) {
    std::fputs(Usage, stderr);
    return 1;
  }
  const std::string Description = argv[1], CueFile = argv[2];
  try {
    const std::string Text = ReadDescription(Description);
    std::vector<tools::TTrackSpec> Tracks;
    try {
      Tracks = tools::ParseDiscDescription(Text);
    } catch (const std::runtime_error& Error) {
      const std::string Name = Description == "-" ? "standard input" : Description;
      throw std::runtime_error(Name + ": " + Error.what());
    }
    const tools::TDiscLayout Layout = tools::WriteDiscImage(Tracks, CueFile);
    std::printf("%s: %zu tracks, %u sectors\n", Layout.CueFile.c_str(), Layout.Starts.size(),
                Layout.LeadOut);
    return 0;
  } catch (const std::exception& Error) {
    std::fprintf(stderr, "mkdisc: %s\n", Error.what());
    return 1;
  }
}
