// Encodes the same PCM with TFLACOut and with the flac command, with the same parameters: the
// main window's explicit settings, and level 5.
//
//   build/bench/flac_bench [ROUNDS]
#include "audio/encoders/ACS_FLAC.h"
#include "bench/EncoderBench.h"
#include "tests/support/TempDir.h"

int main(int argc, char** argv) {
  const int Rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 5;
  unsetenv("TAVRUNE_LIBRARY_PATH");
  TTempDir Folder;
  constexpr int AudioSeconds = 120;
  const std::vector<uint8_t> Pcm = bench::MusicBytes(AudioSeconds);
  const std::string Raw = Folder.File("in.raw");
  bench::WriteFile(Raw, Pcm);
  const std::string Flags = " -s -f --force-raw-format --endian=little --sign=signed "
                            "--channels=2 --bps=16 --sample-rate=44100 --no-padding "
                            "--no-seektable -T tracknumber=0 -o '" +
                            Folder.File("tool.flac") + "' '" + Raw + "'";
  struct TSetting {
    const char* Name;
    int32_t Level;
    std::string ToolFlags;
  };
  const TSetting Settings[] = {
      {"window's (explicit, LPC order 0)", -1, "flac -b 4608 -m -l 0 -q 0 -r 0,0" + Flags},
      {"level 5", 5, "flac -5 -b 4608" + Flags},
  };
  TComponentPtr<TFLACOut> Writer(new TFLACOut(nullptr));
  Writer->SetFileName(Folder.File("ours.flac"));
  TVorbisTags Tags;
  Tags.SetTrack(u"0");
  Writer->SetTags(Tags);
  std::printf("PCM: %d s of 16-bit stereo at 44100 Hz, %.1f MB; median of %d rounds\n",
              AudioSeconds, static_cast<double>(Pcm.size()) / 1e6, Rounds);
  for (const TSetting& Setting : Settings) {
    Writer->SetCompressionLevel(Setting.Level);
    std::printf("%s:\n", Setting.Name);
    bench::Compare(
        Rounds, std::string("TFLACOut, ") + Setting.Name, "at most 1.05",
        "flac command:", "TFLACOut:", [&] { return bench::TimeCommand(Setting.ToolFlags); },
        [&] { return bench::TimeWriter(*Writer, Pcm); });
  }
  return 0;
}
