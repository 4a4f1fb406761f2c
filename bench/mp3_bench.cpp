// Encodes a 10-minute track of synthesised music at 128 kb/s CBR through the chunk interface
// of our MP3 library, as the MP3 writer drives it, and compares the time with the lame command
// encoding the same PCM file with the same settings.
//
//   build/bench/mp3_bench [ROUNDS]
#include "bench/BenchTable.h"
#include "libs/lame_enc/lame_enc.h"

#include "tests/support/TempDir.h"
#include "tools/DiscImage.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;

struct TFileCloser {
  void operator()(std::FILE* File) const { std::fclose(File); }
};
using TFilePtr = std::unique_ptr<std::FILE, TFileCloser>;

[[noreturn]] void Fail(const std::string& What) {
  std::fprintf(stderr, "mp3_bench: %s\n", What.c_str());
  std::exit(1);
}

double Seconds(TClock::duration Duration) {
  return std::chrono::duration<double>(Duration).count();
}

double Median(std::vector<double> Values) {
  std::sort(Values.begin(), Values.end());
  return Values[Values.size() / 2];
}

// The lame command on the raw PCM file: 16-bit little-endian stereo at 44.1 kHz.
double TimeLame(const std::string& Pcm, const std::string& Mp3) {
  const std::string Command = "lame --quiet -r -s 44.1 --bitwidth 16 --little-endian -b 128 "
                              "--cbr '" +
                              Pcm + "' '" + Mp3 + "' 2>/dev/null";
  const TClock::time_point Start = TClock::now();
  if (std::system(Command.c_str()) != 0)
    Fail("lame failed");
  return Seconds(TClock::now() - Start);
}

// The MP3 writer's loop: one chunk read, encoded and written per call, then the flush.
double TimeLibrary(const std::string& Pcm, const std::string& Mp3) {
  const TClock::time_point Start = TClock::now();
  BE_CONFIG Config;
  std::memset(&Config, 0, sizeof Config);
  Config.dwConfig = BE_CONFIG_LAME;
  Config.dwStructVersion = BE_CONFIG_VERSION;
  Config.dwStructSize = BE_CONFIG_SIZE;
  Config.dwSampleRate = 44100;
  Config.nMode = BE_MP3_MODE_STEREO;
  Config.dwBitrate = 128;
  Config.bOriginal = -1;
  Config.nVbrMethod = BE_VBR_METHOD_NEW;
  uint32_t Samples = 0, OutputSize = 0, Stream = 0, Bytes = 0;
  if (beInitStream(&Config, &Samples, &OutputSize, &Stream) != BE_ERR_SUCCESSFUL)
    Fail("beInitStream failed");
  const TFilePtr In(std::fopen(Pcm.c_str(), "rb"));
  const TFilePtr Out(std::fopen(Mp3.c_str(), "wb"));
  if (!In || !Out)
    Fail("cannot open " + Pcm + " or " + Mp3);
  std::vector<int16_t> Input(Samples);
  std::vector<uint8_t> Output(OutputSize);
  for (size_t Got; (Got = std::fread(Input.data(), 2, Input.size(), In.get())) > 0;) {
    if (beEncodeChunk(Stream, static_cast<uint32_t>(Got), Input.data(), Output.data(), &Bytes) !=
        BE_ERR_SUCCESSFUL)
      Fail("beEncodeChunk failed");
    std::fwrite(Output.data(), 1, Bytes, Out.get());
  }
  if (beDeinitStream(Stream, Output.data(), &Bytes) != BE_ERR_SUCCESSFUL)
    Fail("beDeinitStream failed");
  std::fwrite(Output.data(), 1, Bytes, Out.get());
  beCloseStream(Stream);
  if (std::fflush(Out.get()) != 0)
    Fail("cannot write " + Mp3);
  return Seconds(TClock::now() - Start);
}

} // namespace

int main(int argc, char** argv) {
  const int Rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  TTempDir Folder;
  // The image's BIN file is the track's raw PCM, as the CD input delivers it.
  constexpr uint32_t TrackSeconds = 600;
  const tools::TDiscLayout Layout = tools::WriteDiscImage(
      {{false, TrackSeconds * tools::SectorsPerSecond, 0, "chord 7"}}, Folder.File("track.cue"));
  const std::string LameMp3 = Folder.File("lame.mp3"), OurMp3 = Folder.File("ours.mp3");

  // Both read from the page cache: one run of each first, then the rounds side by side.
  TimeLame(Layout.BinFile, LameMp3);
  TimeLibrary(Layout.BinFile, OurMp3);
  std::vector<double> Lame, Ours;
  for (int Round = 0; Round < Rounds; ++Round) {
    Lame.push_back(TimeLame(Layout.BinFile, LameMp3));
    Ours.push_back(TimeLibrary(Layout.BinFile, OurMp3));
  }
  const double LameSeconds = Median(Lame);
  const double OurSeconds = Median(Ours);
  std::printf("track: 10:00.00 of synthesised music, 44.1 kHz stereo, 128 kb/s CBR; median of "
              "%d rounds\n",
              Rounds);
  std::printf("lame -b 128 --cbr:      %7.3f s  %8.0f bytes, %.1f x realtime\n", LameSeconds,
              static_cast<double>(std::filesystem::file_size(LameMp3)), TrackSeconds / LameSeconds);
  std::printf("liblame_enc chunks:     %7.3f s  %8.0f bytes, %.1f x realtime, %.3f x the time "
              "of lame\n",
              OurSeconds, static_cast<double>(std::filesystem::file_size(OurMp3)),
              TrackSeconds / OurSeconds, OurSeconds / LameSeconds);
  bench::AddRow("liblame_enc chunks, 128 kb/s", "lame -b 128 --cbr",
                bench::Figure("%.2f", OurSeconds / LameSeconds), "");
  return 0;
}
