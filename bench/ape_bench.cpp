// Compresses three minutes of music-like CD audio with our Monkey's Audio library at levels
// 2000 and 5000 and with `flac -8`, the tool a user would pick instead: time, size, realtime.
//
//   build/bench/ape_bench [ROUNDS]
#include "bench/BenchTable.h"
#include "libs/MACDll/MACDll.h"

#include "tests/support/TempDir.h"
#include "tools/DiscImage.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace {

using TClock = std::chrono::steady_clock;
using TBytes = std::vector<uint8_t>;

constexpr double Minutes = 3;
constexpr uint32_t BytesPerSecond = 44100 * 4;

double Seconds(TClock::duration Duration) {
  return std::chrono::duration<double>(Duration).count();
}

double Median(std::vector<double> Values) {
  std::sort(Values.begin(), Values.end());
  return Values[Values.size() / 2];
}

void Fail(const std::string& What) {
  std::fprintf(stderr, "%s\n", What.c_str());
  std::exit(1);
}

TBytes ReadFile(const std::string& File) {
  std::ifstream In(File, std::ios::binary);
  return TBytes(std::istreambuf_iterator<char>(In), {});
}

// The disc-image maker's soft chords, and the same with a recording's noise floor: pink noise
// (Paul Kellet's filter) about 50 dB below full scale.
TBytes Chords() {
  TTempDir Folder;
  tools::TTrackSpec Track;
  Track.Sectors = static_cast<uint32_t>(Minutes * 60 * tools::SectorsPerSecond);
  Track.Source = "chord 7";
  const tools::TDiscLayout Layout = tools::WriteDiscImage({Track}, Folder.File("chords.cue"));
  return ReadFile(Layout.BinFile);
}

TBytes WithNoiseFloor(TBytes Pcm) {
  std::mt19937 Random(1);
  std::uniform_real_distribution<double> White(-1, 1);
  double B[2][7] = {};
  for (size_t i = 0; i + 1 < Pcm.size(); i += 2) {
    double* F = B[(i / 2) % 2];
    const double W = White(Random);
    F[0] = 0.99886 * F[0] + W * 0.0555179;
    F[1] = 0.99332 * F[1] + W * 0.0750759;
    F[2] = 0.96900 * F[2] + W * 0.1538520;
    F[3] = 0.86650 * F[3] + W * 0.3104856;
    F[4] = 0.55000 * F[4] + W * 0.5329522;
    F[5] = -0.7616 * F[5] - W * 0.0168980;
    const double Pink = F[0] + F[1] + F[2] + F[3] + F[4] + F[5] + F[6] + W * 0.5362;
    F[6] = W * 0.115926;
    const auto Sample = static_cast<int16_t>(Pcm[i] | (Pcm[i + 1] << 8));
    const long Mixed = std::clamp(Sample + std::lround(Pink * 0.11 * 100), -32768L, 32767L);
    Pcm[i] = static_cast<uint8_t>(Mixed);
    Pcm[i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(Mixed) >> 8);
  }
  return Pcm;
}

// Fed as the APE writer feeds it: 64 KiB chunks through LockBuffer and UnlockBuffer.
double TimeApe(const TBytes& Pcm, int Level, const std::string& File) {
  const TClock::time_point Start = TClock::now();
  int32_t Error = 0;
  const intptr_t Handle = c_APECompress_Create(&Error);
  WAVEFORMATEX Format;
  FillWaveFormatEx(&Format, 44100, 16, 2);
  if (Handle == 0 || c_APECompress_Start(Handle, File.c_str(), &Format, -1, Level, nullptr, 0) != 0)
    Fail("the compressor did not start");
  for (size_t Pos = 0; Pos < Pcm.size();) {
    int32_t Available = 0;
    uint8_t* Buffer = c_APECompress_LockBuffer(Handle, &Available);
    const size_t Count =
        std::min({size_t{65536}, static_cast<size_t>(Available), Pcm.size() - Pos});
    std::memcpy(Buffer, Pcm.data() + Pos, Count);
    Pos += Count;
    if (c_APECompress_UnlockBuffer(Handle, static_cast<int32_t>(Count), 1) != 0)
      Fail("compressing failed");
  }
  if (c_APECompress_Finish(Handle, nullptr, 0, 0) != 0)
    Fail("finishing failed");
  c_APECompress_Destroy(Handle);
  return Seconds(TClock::now() - Start);
}

void WriteWav(const TBytes& Pcm, const std::string& File) {
  const auto U32 = [](std::ofstream& Out, uint32_t V) {
    const char B[4] = {char(V), char(V >> 8), char(V >> 16), char(V >> 24)};
    Out.write(B, 4);
  };
  std::ofstream Out(File, std::ios::binary);
  Out.write("RIFF", 4);
  U32(Out, static_cast<uint32_t>(36 + Pcm.size()));
  Out.write("WAVEfmt ", 8);
  U32(Out, 16);
  const char Fmt[] = {1, 0, 2, 0};
  Out.write(Fmt, 4);
  U32(Out, 44100);
  U32(Out, BytesPerSecond);
  const char Align[] = {4, 0, 16, 0};
  Out.write(Align, 4);
  Out.write("data", 4);
  U32(Out, static_cast<uint32_t>(Pcm.size()));
  Out.write(reinterpret_cast<const char*>(Pcm.data()), static_cast<std::streamsize>(Pcm.size()));
}

double TimeFlac(const std::string& Wav, const std::string& File) {
  const std::string Command = "flac -8 -s -f -o '" + File + "' '" + Wav + "'";
  const TClock::time_point Start = TClock::now();
  if (std::system(Command.c_str()) != 0)
    Fail("flac failed (is the flac package installed?)");
  return Seconds(TClock::now() - Start);
}

void Report(const char* Name, double Time, const std::string& File, size_t PcmBytes) {
  const double Size = static_cast<double>(std::filesystem::file_size(File));
  const double Audio = static_cast<double>(PcmBytes) / BytesPerSecond;
  std::printf("  %-12s %7.3f s  %5.0f x realtime  %9.0f bytes  %5.1f %% of PCM\n", Name, Time,
              Audio / Time, Size, 100 * Size / static_cast<double>(PcmBytes));
}

} // namespace

int main(int argc, char** argv) {
  const int Rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
  TTempDir Folder;
  const TBytes Clean = Chords();
  const struct {
    const char* Name;
    TBytes Pcm;
  } Materials[] = {{"chords", Clean}, {"chords over a noise floor", WithNoiseFloor(Clean)}};

  std::printf("%.0f minutes of CD stereo; median of %d rounds\n", Minutes, Rounds);
  for (const auto& Material : Materials) {
    const std::string Wav = Folder.File("in.wav");
    WriteWav(Material.Pcm, Wav);
    const std::string Ape2000 = Folder.File("2000.ape"), Ape5000 = Folder.File("5000.ape");
    const std::string Flac = Folder.File("out.flac");
    std::vector<double> T2000, T5000, TFlac;
    for (int Round = 0; Round < Rounds; ++Round) {
      T2000.push_back(TimeApe(Material.Pcm, 2000, Ape2000));
      T5000.push_back(TimeApe(Material.Pcm, 5000, Ape5000));
      TFlac.push_back(TimeFlac(Wav, Flac));
    }
    std::printf("%s:\n", Material.Name);
    Report("ape -c2000", Median(T2000), Ape2000, Material.Pcm.size());
    Report("ape -c5000", Median(T5000), Ape5000, Material.Pcm.size());
    Report("flac -8", Median(TFlac), Flac, Material.Pcm.size());
    const double Audio = static_cast<double>(Material.Pcm.size()) / BytesPerSecond;
    const auto FlacSize = static_cast<double>(std::filesystem::file_size(Flac));
    for (const auto& [Level, Time, File, Target] :
         {std::tuple{"2000", Median(T2000), Ape2000, "at least 150 x realtime, smaller"},
          std::tuple{"5000", Median(T5000), Ape5000, "at least 40 x realtime"}})
      bench::AddRow(
          std::string("APE level ") + Level + ", " + Material.Name, "flac -8",
          bench::Figure("%.0f x realtime", Audio / Time) +
              bench::Figure(", %.3f of its size",
                            static_cast<double>(std::filesystem::file_size(File)) / FlacSize),
          Target);
  }
  return 0;
}
