// Encodes the same PCM with TVorbisOut at the main window's quality 0.2 and with oggenc -q 2,
// the same quality on oggenc's scale.
//
//   build/bench/vorbis_bench [ROUNDS]
#include "audio/encoders/ACS_Vorbis.h"
#include "bench/EncoderBench.h"
#include "tests/support/TempDir.h"

int main(int argc, char** argv) {
  const int Rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  unsetenv("TAVRUNE_LIBRARY_PATH");
  TTempDir Folder;
  constexpr int AudioSeconds = 60;
  const std::vector<uint8_t> Pcm = bench::MusicBytes(AudioSeconds);
  const std::string Raw = Folder.File("in.raw");
  bench::WriteFile(Raw, Pcm);
  const std::string Tool = "oggenc -Q -r -B 16 -C 2 -R 44100 -q 2 -s 0 -o '" +
                           Folder.File("tool.ogg") + "' '" + Raw + "'";
  TComponentPtr<TVorbisOut> Writer(new TVorbisOut(nullptr));
  Writer->SetFileName(Folder.File("ours.ogg"));
  std::printf("PCM: %d s of 16-bit stereo at 44100 Hz, %.1f MB; median of %d rounds\n",
              AudioSeconds, static_cast<double>(Pcm.size()) / 1e6, Rounds);
  bench::Compare(
      Rounds, "TVorbisOut, quality 0.2", "at most 1.05",
      "oggenc -q 2:", "TVorbisOut:", [&] { return bench::TimeCommand(Tool); },
      [&] { return bench::TimeWriter(*Writer, Pcm); });
  return 0;
}
