// TMACOut with our Monkey's Audio library from the build: ffmpeg decodes every file it writes
// back to the input bit for bit, and ffprobe reads the tag it asks the library to write.
#include "audio/encoders/ACS_MAC.h"

#include "tests/audio/encoders/EncoderTestSupport.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <thread>

namespace {

// Tones over noise, left and right apart: neither silent nor pseudo-stereo.
std::vector<uint8_t> MusicBytes(size_t Frames) {
  std::vector<uint8_t> Bytes = SineBytes(Frames);
  std::mt19937 Random(3);
  std::uniform_int_distribution<int> Noise(-300, 300);
  for (size_t I = 0; I + 1 < Bytes.size(); I += 2) {
    const int Sample = static_cast<int16_t>(Bytes[I] | Bytes[I + 1] << 8) + Noise(Random);
    Bytes[I] = static_cast<uint8_t>(Sample);
    Bytes[I + 1] = static_cast<uint8_t>(Sample >> 8);
  }
  return Bytes;
}

std::string Decoded(const std::string& File) {
  const TCommandResult Result =
      RunCommand("ffmpeg -v error -err_detect crccheck+explode -i '" + File + "' -f s16le -");
  EXPECT_EQ(Result.Status, 0);
  return Result.Output;
}

std::string AsText(const std::vector<uint8_t>& Bytes) {
  return {Bytes.begin(), Bytes.end()};
}

class MACOutTest : public ::testing::Test {
protected:
  TMACOut* MakeWriter(std::vector<uint8_t> Pcm) {
    Input = new TMemoryInput(Root.get(), std::move(Pcm));
    auto* Writer = new TMACOut(Root.get());
    Writer->SetInput(Input);
    Writer->SetFileName(File);
    return Writer;
  }

  // Our library from the build's library folder, not a stand-in.
  TScopedEnv LibraryPath{"TAVRUNE_LIBRARY_PATH", nullptr};
  TTempDir Dir;
  const std::string File = Dir.File("out.ape");
  TComponentPtr<TComponent> Root{new TComponent(nullptr)};
  TMemoryInput* Input = nullptr;
};

TEST_F(MACOutTest, EveryLevelDecodesToTheInput) {
  // Two frames and a part of the low levels; the last chunk is short.
  const std::vector<uint8_t> Pcm = MusicBytes(2 * 73728 + 4321);
  for (int32_t Level : {1000, 2000, 3000, 4000, 5000}) {
    SCOPED_TRACE(Level);
    TMACOut* Writer = MakeWriter(Pcm);
    Writer->SetCompressionLevel(Level);
    ASSERT_EQ(RunToEnd(*Writer), "");
    EXPECT_TRUE(Decoded(File) == AsText(Pcm));
    EXPECT_LT(ReadBytes(File).size(), Pcm.size() * 3 / 4);
    Writer->Free();
  }
}

TEST_F(MACOutTest, TheTagIsReadBackWithItsUtf8Values) {
  const std::vector<uint8_t> Pcm = MusicBytes(30000);
  TMACOut* Writer = MakeWriter(Pcm);
  TAPEv2Tags Tags;
  Tags.SetArtist(u"Motörhead");
  Tags.SetAlbum(u"Ace of Spades");
  Tags.SetTitle(u"日本語のタイトル");
  Tags.SetComment(u"a comment");
  Tags.SetGenre(u"Rock");
  Tags.SetYear("1980");
  Tags.SetTrack("1");
  Tags.SetComposer(u"not written");
  Writer->SetAPEv2Tags(Tags);
  ASSERT_EQ(RunToEnd(*Writer), "");
  const TCommandResult Probe = RunCommand("ffprobe -v error -show_entries format_tags "
                                          "-of default=noprint_wrappers=1 '" +
                                          File + "'");
  ASSERT_EQ(Probe.Status, 0);
  EXPECT_EQ(Probe.Output, "TAG:Artist=Motörhead\n"
                          "TAG:Album=Ace of Spades\n"
                          "TAG:Title=日本語のタイトル\n"
                          "TAG:Comment=a comment\n"
                          "TAG:Genre=Rock\n"
                          "TAG:Year=1980\n"
                          "TAG:Track=1\n");
  EXPECT_TRUE(Decoded(File) == AsText(Pcm));
}

// The library writes no tag without a field, so a Publisher alone leaves the file untagged.
TEST_F(MACOutTest, OnlyAPublisherLeavesNoTagInTheFile) {
  const std::vector<uint8_t> Pcm = MusicBytes(30000);
  TMACOut* Writer = MakeWriter(Pcm);
  TAPEv2Tags Tags;
  Tags.SetPublisher(u"Label");
  Writer->SetAPEv2Tags(Tags);
  ASSERT_EQ(RunToEnd(*Writer), "");
  const std::vector<uint8_t> Bytes = ReadBytes(File);
  ASSERT_GE(Bytes.size(), 32u);
  EXPECT_NE(std::string(Bytes.end() - 32, Bytes.end() - 24), "APETAGEX");
  EXPECT_TRUE(Decoded(File) == AsText(Pcm));
}

// A stopped run still leaves a complete file of what was fed so far.
TEST_F(MACOutTest, AStoppedRunLeavesAFileOfWhatWasFed) {
  const std::vector<uint8_t> Pcm = MusicBytes(20 * 44100);
  TMACOut* Writer = MakeWriter(Pcm);
  Input->SetOnRead([] { std::this_thread::sleep_for(std::chrono::milliseconds(1)); });
  Writer->Run();
  ASSERT_TRUE(PumpUntil([&] { return Input->ReadCount > 40; }));
  // Returns once the worker has finished the file and parked.
  Writer->Stop(false);
  const std::string Audio = Decoded(File);
  ASSERT_GT(Audio.size(), 0u);
  ASSERT_LT(Audio.size(), Pcm.size());
  EXPECT_TRUE(Audio == AsText(Pcm).substr(0, Audio.size()));
}

TEST_F(MACOutTest, TheLibraryRefusesAFormatItCannotCompress) {
  auto* Writer = new TMACOut(Root.get());
  Writer->SetInput(new TFormatInput(Root.get(), std::vector<uint8_t>(6000), 24, 2));
  Writer->SetFileName(File);
  EXPECT_EQ(RunToEnd(*Writer), "Error starting APECompress.\r\ninput file unsupported bit depth");
}

} // namespace
