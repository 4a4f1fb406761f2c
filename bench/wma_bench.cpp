// Encodes the same PCM with TWMAOut at the main window's 256 kb/s and with ffmpeg's wmav2
// encoder at the same bit rate.
//
//   build/bench/wma_bench [ROUNDS]
#include "audio/encoders/ACS_WinMedia.h"
#include "bench/EncoderBench.h"
#include "tests/support/TempDir.h"

int main(int argc, char** argv) {
  const int Rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  TTempDir Folder;
  constexpr int AudioSeconds = 60;
  const std::vector<uint8_t> Pcm = bench::MusicBytes(AudioSeconds);
  const std::string Raw = Folder.File("in.raw");
  bench::WriteFile(Raw, Pcm);
  const std::string Tool = "ffmpeg -v error -y -f s16le -ar 44100 -ac 2 -i '" + Raw +
                           "' -c:a wmav2 -b:a 256k '" + Folder.File("tool.wma") + "'";
  TComponentPtr<TWMAOut> Writer(new TWMAOut(nullptr));
  Writer->SetFileName(Folder.File("ours.wma"));
  Writer->SetDesiredBitrate(256);
  std::printf("PCM: %d s of 16-bit stereo at 44100 Hz, %.1f MB; median of %d rounds\n",
              AudioSeconds, static_cast<double>(Pcm.size()) / 1e6, Rounds);
  bench::Compare(
      Rounds, "TWMAOut, 256 kb/s", "at most 1.1",
      "ffmpeg wmav2:", "TWMAOut:", [&] { return bench::TimeCommand(Tool); },
      [&] { return bench::TimeWriter(*Writer, Pcm); });
  return 0;
}
