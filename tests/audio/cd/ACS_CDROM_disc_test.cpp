// TCDIn over our ripping library on generated disc images in virtual drives: what a rip
// delivers is exactly the image's audio.
#include "audio/cd/ACS_CDROM.h"

#include "tests/support/TempDir.h"
#include "tests/support/TestComponents.h"
#include "tests/support/VirtualDrives.h"
#include "tools/DiscImage.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>

namespace {

// The drives of the test's own configuration folder, and the real library from the build.
class TDiscEnvironment : public ::testing::Environment {
public:
  void SetUp() override {
    unsetenv("TAVRUNE_LIBRARY_PATH");
    setenv("XDG_CONFIG_HOME", Config.Path().c_str(), 1);
  }
  TTempDir Config;
};
TDiscEnvironment* Environment =
    static_cast<TDiscEnvironment*>(::testing::AddGlobalTestEnvironment(new TDiscEnvironment));

// Twelve tracks as a disc may have them: pregaps, a data track, very short tracks.
std::vector<tools::TTrackSpec> TwelveTracks() {
  std::vector<tools::TTrackSpec> Tracks;
  const uint32_t Lengths[12] = {300, 225, 600, 1, 40, 75, 76, 149, 500, 80, 74, 213};
  for (uint32_t I = 0; I < 12; ++I) {
    tools::TTrackSpec Track;
    Track.Sectors = Lengths[I];
    Track.Source = "pattern " + std::to_string(I + 1);
    Tracks.push_back(Track);
  }
  Tracks[1].Pregap = 150; // belongs to track 1's range
  Tracks[2].Data = true;
  Tracks[6].Pregap = 33;
  Tracks[11].Pregap = 2;
  return Tracks;
}

class CDInDiscTest : public ::testing::Test {
protected:
  void SetUp() override {
    Layout = tools::WriteDiscImage(TwelveTracks(), Images.File("album.cue"));
    WriteDrivesIni(Environment->Config.Path(), {Layout.CueFile});
    Input.reset(new TCDIn(nullptr));
  }

  // The track's range on the image: from its INDEX 01 to the next track's.
  std::vector<uint8_t> ImageBytes(int32_t Track) const {
    const size_t I = static_cast<size_t>(Track - 1);
    const uint32_t End = I + 1 < Layout.Starts.size() ? Layout.Starts[I + 1] : Layout.LeadOut;
    return BinSectors(Layout.BinFile, Layout.Starts[I], End);
  }

  // One run of a writer on the track; the error text of the run, empty when it went well.
  std::string Rip(int32_t Track, std::vector<uint8_t>& Received) {
    Input->SetStartTrack(Track);
    Input->SetEndTrack(Track);
    TComponentPtr<TTestSink> Sink(new TTestSink(nullptr, 10000));
    Sink->SetInput(Input.get());
    Sink->Run();
    EXPECT_TRUE(PumpUntil([&] { return !Sink->Running(); }));
    Received = Sink->Received();
    return Sink->ExceptionText();
  }

  TTempDir Images;
  tools::TDiscLayout Layout;
  TComponentPtr<TCDIn> Input;
};

TEST_F(CDInDiscTest, TheTableOfContentsOfTwelveTracks) {
  EXPECT_EQ(Input->DrivesCount(), 1);
  EXPECT_EQ(Input->Status(), drReady);
  ASSERT_EQ(Input->TracksCount(), 12);
  const std::vector<tools::TTrackSpec> Specs = TwelveTracks();
  for (int32_t Track = 1; Track <= 12; ++Track) {
    SCOPED_TRACE(Track);
    const size_t I = static_cast<size_t>(Track - 1);
    // The pregap of the next track counts to this one.
    const uint32_t Sectors = Specs[I].Sectors + (I + 1 < Specs.size() ? Specs[I + 1].Pregap : 0);
    const TTrackInfo Info = Input->Tracks(Track);
    EXPECT_EQ(Info.Minutes * 4500u + Info.Seconds * 75u + Info.Frames, Sectors);
    EXPECT_EQ(Info.IsData != 0, Specs[I].Data);
    Input->SetStartTrack(Track);
    Input->SetEndTrack(Track);
    EXPECT_EQ(Input->GetTotalSamples(), int64_t{Sectors} * 588);
  }
}

TEST_F(CDInDiscTest, EveryAudioTrackRipsToTheImageBytesOfItsRange) {
  for (int32_t Track = 1; Track <= 12; ++Track) {
    SCOPED_TRACE(Track);
    std::vector<uint8_t> Received;
    const std::string Error = Rip(Track, Received);
    if (Track == 3) {
      EXPECT_EQ(Error, "Trying to rip a data track");
      continue;
    }
    EXPECT_EQ(Error, "");
    const std::vector<uint8_t> Expected = ImageBytes(Track);
    ASSERT_EQ(Received.size(), Expected.size());
    EXPECT_TRUE(Received == Expected);
  }
}

TEST_F(CDInDiscTest, ARemovedImageIsADriveThatIsNotReady) {
  std::filesystem::remove(Layout.BinFile);
  std::filesystem::remove(Layout.CueFile);
  EXPECT_EQ(Input->Status(), drNotReady);
  std::vector<uint8_t> Received;
  EXPECT_EQ(Rip(1, Received), "The drive is not ready");
  EXPECT_TRUE(Received.empty());
}

TEST_F(CDInDiscTest, AnImageRemovedDuringARipEndsTheRunWithAnError) {
  Input->SetStartTrack(9);
  Input->SetEndTrack(9);
  TComponentPtr<TTestSink> Sink(new TTestSink(nullptr, 10000));
  Sink->SetInput(Input.get());
  Sink->OnPass = [&](int Pass) {
    if (Pass == 2)
      std::filesystem::remove(Layout.BinFile);
  };
  Sink->Run();
  EXPECT_TRUE(PumpUntil([&] { return !Sink->Running(); }));
  EXPECT_EQ(Sink->ExceptionText(), "The disc was removed or changed during the rip");
  EXPECT_LT(Sink->Received().size(), 500u * 2352);
  EXPECT_FALSE(Input->Busy());
}

TEST_F(CDInDiscTest, TheWindowsPollingDuringARipChangesNothing) {
  std::vector<uint8_t> Quiet;
  ASSERT_EQ(Rip(9, Quiet), "");

  Input->SetStartTrack(9);
  Input->SetEndTrack(9);
  TComponentPtr<TTestSink> Sink(new TTestSink(nullptr, 10000));
  Sink->SetInput(Input.get());
  std::atomic<bool> Polling{true};
  std::atomic<int> Polls{0};
  // A second thread reads the table all the time while the worker rips.
  std::thread Poller([&] {
    while (Polling) {
      EXPECT_EQ(Input->TracksCount(), 12);
      EXPECT_EQ(Input->Tracks(9).Frames, 500 % 75);
      ++Polls;
    }
  });
  // The worker goes on only once the poller has read the table in the middle of the rip.
  Sink->OnPass = [&](int Pass) {
    while (Pass == 2 && Polls < 20)
      std::this_thread::yield();
  };
  Sink->Run();
  EXPECT_TRUE(PumpUntil([&] { return !Sink->Running(); }));
  Polling = false;
  Poller.join();
  EXPECT_EQ(Sink->ExceptionText(), "");
  EXPECT_TRUE(Sink->Received() == Quiet);
}

} // namespace
