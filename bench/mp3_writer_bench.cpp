// Encodes a 10-minute track with TMP3Out at the main window's settings (128 kb/s CBR stereo)
// and with the lame command on the same PCM, in one run.
//
//   build/bench/mp3_writer_bench [ROUNDS]
#include "audio/encoders/ACS_LAME.h"
#include "bench/EncoderBench.h"
#include "tests/support/TempDir.h"

int main(int argc, char** argv) {
  const int Rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  unsetenv("TAVRUNE_LIBRARY_PATH");
  TTempDir Folder;
  constexpr int AudioSeconds = 600;
  const std::vector<uint8_t> Pcm = bench::MusicBytes(AudioSeconds);
  const std::string Raw = Folder.File("in.raw");
  bench::WriteFile(Raw, Pcm);
  const std::string Lame = "lame --quiet -r -s 44.1 --bitwidth 16 --little-endian -m s -b 128 "
                           "--cbr '" +
                           Raw + "' '" + Folder.File("tool.mp3") + "'";
  TComponentPtr<TMP3Out> Writer(new TMP3Out(nullptr));
  Writer->SetFileName(Folder.File("ours.mp3"));
  Writer->SetBitRate(static_cast<TMP3BitRate>(0xFF));
  std::printf("PCM: %d s of 16-bit stereo at 44100 Hz, %.1f MB; 128 kb/s CBR; median of %d "
              "rounds\n",
              AudioSeconds, static_cast<double>(Pcm.size()) / 1e6, Rounds);
  bench::Compare(
      Rounds, "TMP3Out, 128 kb/s", "at most 1.05",
      "lame command:", "TMP3Out:", [&] { return bench::TimeCommand(Lame); },
      [&] { return bench::TimeWriter(*Writer, Pcm); });
  return 0;
}
