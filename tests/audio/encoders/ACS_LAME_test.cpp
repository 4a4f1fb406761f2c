// TMP3Out with our MP3 encoder library on generated audio: the frames it writes, the VBR
// header, mono, and two writers at once. The window's rip is checked in
// tests/app/mainform_mp3_test.cpp.
#include "audio/encoders/ACS_LAME.h"

#include "tests/audio/encoders/EncoderTestSupport.h"
#include "tests/audio/encoders/Mp3Frames.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

namespace {

class LameTest : public ::testing::Test {
protected:
  TMP3Out* MakeWriter(TAuInput* Input, const std::string& Name = "out.mp3") {
    auto* Writer = new TMP3Out(Root.get());
    Writer->SetInput(Input);
    Writer->SetFileName(Dir.File(Name));
    return Writer;
  }
  TMemoryInput* MakeInput(size_t Frames) { return new TMemoryInput(Root.get(), SineBytes(Frames)); }
  // The frames before the 128-byte tag, which must follow the last frame at once.
  static std::vector<TMp3Frame> FramesOf(const std::vector<uint8_t>& Bytes) {
    EXPECT_GT(Bytes.size(), Id3v1BlockSize);
    const size_t End = Bytes.size() - Id3v1BlockSize;
    std::vector<TMp3Frame> Frames = Mp3Frames(Bytes, End);
    EXPECT_FALSE(Frames.empty());
    if (!Frames.empty()) {
      EXPECT_EQ(Frames.back().Offset + Frames.back().Size, End);
    }
    EXPECT_EQ(std::string(Bytes.end() - Id3v1BlockSize, Bytes.end() - Id3v1BlockSize + 3), "TAG");
    return Frames;
  }

  TScopedEnv LibraryPath{"TAVRUNE_LIBRARY_PATH", nullptr};
  TTempDir Dir;
  TComponentPtr<TComponent> Root{new TComponent(nullptr)};
};

TEST_F(LameTest, ConstantBitRateHasNoVBRHeader) {
  TMP3Out* Writer = MakeWriter(MakeInput(44100));
  ASSERT_EQ(RunToEnd(*Writer), "");
  const std::vector<uint8_t> Bytes = ReadBytes(Dir.File("out.mp3"));
  const std::vector<TMp3Frame> Frames = FramesOf(Bytes);
  ASSERT_FALSE(Frames.empty());
  EXPECT_FALSE(XingFrameCount(Bytes, Frames.front()));
  for (const TMp3Frame& Frame : Frames)
    ASSERT_EQ(Frame.Kbps, 128u) << Frame.Offset;
}

TEST_F(LameTest, VBRWritesAXingHeaderWithTheFrameCount) {
  TMP3Out* Writer = MakeWriter(MakeInput(3 * 44100 + 77));
  Writer->SetEnableVBR(-1);
  Writer->SetVBRQuality(mp3ql4);
  ASSERT_EQ(RunToEnd(*Writer), "");
  const std::vector<uint8_t> Bytes = ReadBytes(Dir.File("out.mp3"));
  const std::vector<TMp3Frame> Frames = FramesOf(Bytes);
  ASSERT_GT(Frames.size(), 100u);
  ASSERT_EQ(std::string(Bytes.begin() + 36, Bytes.begin() + 40), "Xing");
  // The count covers the audio frames, not the header's own.
  EXPECT_EQ(XingFrameCount(Bytes, Frames.front()), Frames.size() - 1);
  const TCommandResult Probe = RunCommand("ffprobe -v error -count_frames -show_entries "
                                          "stream=nb_read_frames -of csv=p=0 '" +
                                          Dir.File("out.mp3") + "'");
  EXPECT_EQ(Probe.Output, std::to_string(Frames.size() - 1) + "\n");
}

TEST_F(LameTest, TwoVBRWritersAtOnceEachGetTheirOwnHeader) {
  TMP3Out* Short = MakeWriter(MakeInput(44100), "short.mp3");
  TMP3Out* Long = MakeWriter(MakeInput(4 * 44100), "long.mp3");
  int Finished = 0;
  for (TMP3Out* Writer : {Short, Long}) {
    Writer->SetEnableVBR(-1);
    Writer->SetOnDone([&](TComponent*) { ++Finished; });
  }
  Long->Run();
  Short->Run();
  ASSERT_TRUE(PumpUntil([&] { return Finished == 2; }, 60000));
  for (const char* Name : {"short.mp3", "long.mp3"}) {
    SCOPED_TRACE(Name);
    const std::vector<uint8_t> Bytes = ReadBytes(Dir.File(Name));
    const std::vector<TMp3Frame> Frames = FramesOf(Bytes);
    ASSERT_FALSE(Frames.empty());
    EXPECT_EQ(XingFrameCount(Bytes, Frames.front()), Frames.size() - 1);
  }
}

TEST_F(LameTest, MonoIsEncodedAsMonoAtItsLength) {
  std::vector<uint8_t> Stereo = SineBytes(2 * 44100);
  std::vector<uint8_t> Mono;
  std::vector<int16_t> Source;
  for (size_t I = 0; I < Stereo.size(); I += 4) {
    Mono.insert(Mono.end(), {Stereo[I], Stereo[I + 1]});
    Source.push_back(static_cast<int16_t>(Stereo[I] | Stereo[I + 1] << 8));
  }
  TMP3Out* Writer = MakeWriter(new TFormatInput(Root.get(), Mono, 16, 1));
  Writer->SetMode(mmMono);
  Writer->SetBitRate(mbr64);
  ASSERT_EQ(RunToEnd(*Writer), "");
  const std::vector<uint8_t> Bytes = ReadBytes(Dir.File("out.mp3"));
  for (const TMp3Frame& Frame : FramesOf(Bytes))
    ASSERT_EQ(Frame.Mode, 3) << Frame.Offset;
  const std::vector<int16_t> Decoded = DecodeWithFfmpeg(Dir.File("out.mp3"));
  const TAlignment Match = Align(Source, Decoded, 1, 3000);
  EXPECT_GT(Match.SnrDb, 20) << Match.Lag;
  EXPECT_GE(Decoded.size(), Match.Lag + Source.size());
  EXPECT_LT(Decoded.size(), Match.Lag + Source.size() + 2 * 1152);
}

} // namespace
