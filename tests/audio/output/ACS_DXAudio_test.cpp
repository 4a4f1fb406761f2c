// The sound output on SDL's dummy and disk drivers, through the real sound layer. Where a test
// must see or steer what reaches the device, a watching layer sits between the output and the
// real device.
#include "audio/output/ACS_DXAudio.h"

#include "platform/System.h"
#include "tests/audio/encoders/EncoderTestSupport.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using namespace platform;

namespace {

using TBytes = std::vector<uint8_t>;

// What the output asked of the device, in order, and a switch that stops its play cursor.
struct TSoundLog {
  mutable std::mutex Lock;
  std::vector<std::string> Calls;
  uint32_t Level = 0;
  TWaveFormatExtensible PrimaryFormat;
  TWaveFormatExtensible StreamFormat;
  uint32_t StreamFlags = 0;
  uint32_t StreamBytes = 0;
  bool Frozen = false;

  void Add(std::string Call) {
    std::lock_guard Guard(Lock);
    Calls.push_back(std::move(Call));
  }
  std::vector<std::string> Snapshot() const {
    std::lock_guard Guard(Lock);
    return Calls;
  }
};

TWaveFormatExtensible CopyFormat(const TWaveFormatEx* Format) {
  TWaveFormatExtensible Copy;
  if (Format->FormatTag == WAVE_FORMAT_EXTENSIBLE)
    Copy = *reinterpret_cast<const TWaveFormatExtensible*>(Format);
  else
    Copy.Format = *Format;
  return Copy;
}

// Passes every call on to the real buffer and logs it. A frozen buffer reports the cursors it
// had when it was made, as a device that never plays would.
class TWatchedBuffer final : public IDirectSoundBuffer {
public:
  TWatchedBuffer(std::unique_ptr<IDirectSoundBuffer> Real, std::shared_ptr<TSoundLog> Log)
      : FReal(std::move(Real)), FLog(std::move(Log)) {
    FReal->GetCurrentPosition(&FFirstPlay, &FFirstWrite);
    std::lock_guard Guard(FLog->Lock);
    FFrozen = FLog->Frozen;
  }
  ~TWatchedBuffer() override { FLog->Add("Release"); }

  HRESULT SetFormat(const TWaveFormatEx* Format) override {
    std::lock_guard Guard(FLog->Lock);
    FLog->PrimaryFormat = CopyFormat(Format);
    return FReal->SetFormat(Format);
  }
  HRESULT GetCurrentPosition(uint32_t* Play, uint32_t* Write) override {
    FLog->Add("Position");
    const HRESULT Result = FReal->GetCurrentPosition(Play, Write);
    if (FFrozen && Play)
      *Play = FFirstPlay;
    if (FFrozen && Write)
      *Write = FFirstWrite;
    return Result;
  }
  HRESULT Lock(uint32_t Offset, uint32_t Bytes, void** Ptr1, uint32_t* Bytes1, void** Ptr2,
               uint32_t* Bytes2, uint32_t Flags) override {
    FLog->Add("Lock");
    return FReal->Lock(Offset, Bytes, Ptr1, Bytes1, Ptr2, Bytes2, Flags);
  }
  HRESULT Unlock(void* Ptr1, uint32_t Bytes1, void* Ptr2, uint32_t Bytes2) override {
    return FReal->Unlock(Ptr1, Bytes1, Ptr2, Bytes2);
  }
  HRESULT SetCurrentPosition(uint32_t Position) override {
    FLog->Add("SetPosition");
    return FReal->SetCurrentPosition(Position);
  }
  HRESULT Play(uint32_t Flags) override {
    FLog->Add("Play");
    return FReal->Play(Flags);
  }
  HRESULT Stop() override {
    FLog->Add("Stop");
    return FReal->Stop();
  }
  HRESULT GetStatus(uint32_t* Status) override { return FReal->GetStatus(Status); }

private:
  std::unique_ptr<IDirectSoundBuffer> FReal;
  std::shared_ptr<TSoundLog> FLog;
  uint32_t FFirstPlay = 0;
  uint32_t FFirstWrite = 0;
  bool FFrozen = false;
};

class TWatchedSound final : public IDirectSound {
public:
  TWatchedSound(std::unique_ptr<IDirectSound> Real, std::shared_ptr<TSoundLog> Log)
      : FReal(std::move(Real)), FLog(std::move(Log)) {}

  HRESULT SetCooperativeLevel(void* Window, uint32_t Level) override {
    {
      std::lock_guard Guard(FLog->Lock);
      FLog->Level = Level;
    }
    return FReal->SetCooperativeLevel(Window, Level);
  }
  HRESULT CreateSoundBuffer(const TDSBufferDesc& Desc,
                            std::unique_ptr<IDirectSoundBuffer>& Buffer) override {
    if (!(Desc.Flags & DSBCAPS_PRIMARYBUFFER)) {
      std::lock_guard Guard(FLog->Lock);
      FLog->StreamFlags = Desc.Flags;
      FLog->StreamBytes = Desc.BufferBytes;
      FLog->StreamFormat = CopyFormat(Desc.Format);
    }
    std::unique_ptr<IDirectSoundBuffer> Real;
    const HRESULT Result = FReal->CreateSoundBuffer(Desc, Real);
    if (Result == DS_OK)
      Buffer = std::make_unique<TWatchedBuffer>(std::move(Real), FLog);
    return Result;
  }

private:
  std::unique_ptr<IDirectSound> FReal;
  std::shared_ptr<TSoundLog> FLog;
};

// An output whose DoOutput is told to abort on a chosen pass.
class TAbortingOut : public TDXAudioOut {
public:
  TAbortingOut(TComponent* AOwner, std::shared_ptr<TSoundLog> Log)
      : TDXAudioOut(AOwner), FLog(std::move(Log)) {}
  int AbortOnPass = 0;

protected:
  bool DoOutput(bool Abort) override {
    if (++FPass == AbortOnPass) {
      FLog->Add("Abort");
      Abort = true;
    }
    return TDXAudioOut::DoOutput(Abort);
  }

private:
  std::shared_ptr<TSoundLog> FLog;
  int FPass = 0;
};

class DXAudioTest : public ::testing::Test {
protected:
  ~DXAudioTest() override {
    Root.reset();
    SoundSystem() = TSoundSystem{};
  }

  // The real device behind a watching layer.
  void WatchDevice() {
    SoundSystem().Create = [Log = Log](const TGuid* Guid, std::unique_ptr<IDirectSound>& Device) {
      std::unique_ptr<IDirectSound> Real;
      const HRESULT Result = DirectSoundCreate(Guid, Real);
      if (Result == DS_OK)
        Device = std::make_unique<TWatchedSound>(std::move(Real), Log);
      return Result;
    };
  }

  TDXAudioOut* MakeOut(uint32_t Frames, uint32_t Interval) {
    auto* Out = new TDXAudioOut(Root.get());
    Setup(*Out, Frames, Interval);
    return Out;
  }
  void Setup(TDXAudioOut& Out, uint32_t Frames, uint32_t Interval) {
    Out.SetFramesInBuffer(Frames);
    Out.SetPollingInterval(Interval);
    Out.SetOnThreadException([this](TComponent*) { ++ThreadExceptions; });
    Out.SetOnUnderrun([this](TComponent* Sender) {
      UnderrunSenders.push_back(Sender);
      UnderrunOnMainThread = UnderrunOnMainThread && std::this_thread::get_id() == MainThread;
    });
  }
  TFormatInput* MakeInput(TBytes Data, int32_t Bits = 16, int32_t Channels = 2,
                          int32_t Rate = 44100) {
    return new TFormatInput(Root.get(), std::move(Data), Bits, Channels, Rate);
  }
  size_t Count(const std::string& Call) const {
    const std::vector<std::string> Calls = Log->Snapshot();
    return static_cast<size_t>(std::count(Calls.begin(), Calls.end(), Call));
  }

  TScopedEnv Driver{"SDL_AUDIODRIVER", "dummy"};
  std::shared_ptr<TSoundLog> Log = std::make_shared<TSoundLog>();
  const std::thread::id MainThread = std::this_thread::get_id();
  int ThreadExceptions = 0;
  std::vector<TComponent*> UnderrunSenders;
  bool UnderrunOnMainThread = true;
  TComponentPtr<TComponent> Root{new TComponent(nullptr)};
};

TEST_F(DXAudioTest, StartsWithTheDefaultsAndTheDeviceList) {
  TDXAudioOut* Out = new TDXAudioOut(Root.get());
  EXPECT_EQ(Out->DeviceNumber(), 0);
  EXPECT_EQ(Out->FramesInBuffer(), 65536u);
  EXPECT_EQ(Out->PollingInterval(), 200u);
  ASSERT_GE(Out->DeviceTable().Count, 1u);
  EXPECT_TRUE(Out->DeviceTable().Devices[0].Guid == TGuid{});
}

TEST_F(DXAudioTest, KeepsTheFirstSixteenOfTwentyDevices) {
  SoundSystem().Enumerate = [](const TDSEnumCallback& Callback) {
    for (uint32_t I = 0; I < 20; ++I) {
      const TGuid Id = {I + 1, 0, 0, {}};
      if (!Callback(&Id, std::string(200, char('a' + I))))
        break;
    }
    return DS_OK;
  };
  TDXAudioOut* Out = new TDXAudioOut(Root.get());
  const TSoundDevices& Table = Out->DeviceTable();
  ASSERT_EQ(Table.Count, 16u);
  EXPECT_EQ(Table.Devices[15].Guid.D1, 16u);
  EXPECT_EQ(Table.Devices[15].Description, std::string(127, 'p'));
}

// The record the device gets for each input layout.
struct TFormatCase {
  const char* Name;
  int32_t Bits, Channels;
  uint16_t Tag, ExtensionSize;
  uint32_t Mask;
};

class DXAudioFormatTest : public DXAudioTest, public ::testing::WithParamInterface<TFormatCase> {};

TEST_P(DXAudioFormatTest, GivesTheDeviceTheFormatRecordOfTheInput) {
  const TFormatCase& Case = GetParam();
  WatchDevice();
  TDXAudioOut* Out = MakeOut(2048, 5);
  const uint32_t Align = Case.Channels * Case.Bits / 8;
  Out->SetInput(MakeInput(PatternBytes(1000 * Align, 1), Case.Bits, Case.Channels, 48000));
  ASSERT_EQ(RunToEnd(*Out), "");

  std::lock_guard Guard(Log->Lock);
  EXPECT_EQ(Log->Level, DSSCL_EXCLUSIVE);
  EXPECT_EQ(Log->StreamFlags, 0x180E0u);
  EXPECT_EQ(Log->StreamBytes, 2048 * Align);
  const TWaveFormatExtensible& X = Log->StreamFormat;
  EXPECT_EQ(X.Format.FormatTag, Case.Tag);
  EXPECT_EQ(X.Format.ExtensionSize, Case.ExtensionSize);
  EXPECT_EQ(X.Format.Channels, Case.Channels);
  EXPECT_EQ(X.Format.SamplesPerSec, 48000u);
  EXPECT_EQ(X.Format.BlockAlign, Align);
  EXPECT_EQ(X.Format.AvgBytesPerSec, Align * 48000);
  EXPECT_EQ(X.Format.BitsPerSample, Case.Bits);
  EXPECT_EQ(X.ChannelMask, Case.Mask);
  EXPECT_EQ(X.ValidBitsPerSample, 0);
  EXPECT_TRUE(X.SubFormat ==
              (Case.Tag == WAVE_FORMAT_EXTENSIBLE ? KSDATAFORMAT_SUBTYPE_PCM : TGuid{}));
  EXPECT_EQ(Log->PrimaryFormat.Format.FormatTag, Case.Tag);
  EXPECT_EQ(Log->PrimaryFormat.ChannelMask, Case.Mask);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, DXAudioFormatTest,
    ::testing::Values(TFormatCase{"stereo_16", 16, 2, WAVE_FORMAT_PCM, 0, 0},
                      TFormatCase{"stereo_32", 32, 2, WAVE_FORMAT_PCM, 0, 0},
                      TFormatCase{"mono_8", 8, 1, WAVE_FORMAT_PCM, 0, 0},
                      TFormatCase{"stereo_24", 24, 2, WAVE_FORMAT_EXTENSIBLE, 22, 0x3},
                      TFormatCase{"mono_24", 24, 1, WAVE_FORMAT_EXTENSIBLE, 22, 0},
                      TFormatCase{"six_channels", 16, 6, WAVE_FORMAT_EXTENSIBLE, 22, 0x3F},
                      TFormatCase{"eight_channels", 16, 8, WAVE_FORMAT_EXTENSIBLE, 22, 0xFF}),
    [](const ::testing::TestParamInfo<TFormatCase>& Info) { return Info.param.Name; });

TEST_F(DXAudioTest, PrepareFailuresEndTheRunWithTheirMessage) {
  struct TCase {
    const char* Name;
    int32_t DeviceNumber;
    int32_t Bits;
    const char* Driver;
    const char* Message;
    int Inits;
  };
  const TCase Cases[] = {
      {"device number past the table", 3, 16, "dummy", "Invalid device number", 0},
      {"negative device number", -1, 16, "dummy", "Invalid device number", 0},
      {"no sound driver", 0, 16, "tavrune-none", "Failed to create DirectSound device", 1},
      {"12-bit samples", 0, 12, "dummy", "Failed to create DirectSound buffer80510002", 1},
  };
  // Three devices: the default one and two of the dummy driver's.
  SoundSystem().Enumerate = [](const TDSEnumCallback& Callback) {
    const TGuid Id = {7, 0, 0, {}};
    for (const TGuid* Device : {static_cast<const TGuid*>(nullptr), &Id, &Id})
      if (!Callback(Device, "Device"))
        break;
    return DS_OK;
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    ThreadExceptions = 0;
    TDXAudioOut* Out = MakeOut(4096, 5);
    ASSERT_EQ(Out->DeviceTable().Count, 3u);
    Out->SetDeviceNumber(Case.DeviceNumber);
    TFormatInput* Input = MakeInput(TBytes(4096), Case.Bits);
    Out->SetInput(Input);
    TScopedEnv Sdl("SDL_AUDIODRIVER", Case.Driver);
    EXPECT_EQ(RunToEnd(*Out), Case.Message);
    EXPECT_EQ(ThreadExceptions, 1);
    EXPECT_EQ(Input->InitCount, Case.Inits);
    EXPECT_EQ(Input->FlushCount, 1);
    EXPECT_FALSE(Out->Running());
  }
}

TEST_F(DXAudioTest, EndsWithAnOutputErrorWhenTheDeviceNeverFreesSpace) {
  Log->Frozen = true;
  WatchDevice();
  TDXAudioOut* Out = MakeOut(4096, 1);
  TFormatInput* Input = MakeInput(PatternBytes(4096 * 4 * 4, 1));
  Out->SetInput(Input);
  EXPECT_EQ(RunToEnd(*Out), "Audio output error");
  EXPECT_EQ(ThreadExceptions, 1);
  EXPECT_EQ(Input->Position(), 4096 * 4);
  // One look at the cursors when the buffer is made, then seventeen polls.
  const std::vector<std::string> Calls = Log->Snapshot();
  const auto Played = std::find(Calls.begin(), Calls.end(), "Play");
  ASSERT_NE(Played, Calls.end());
  EXPECT_EQ(std::count(Played, Calls.end(), "Position"), 17);
  EXPECT_EQ(Calls.back(), "Release");
  EXPECT_EQ(Input->FlushCount, 1);
}

TEST_F(DXAudioTest, AbortStopsThePlayAtOnce) {
  WatchDevice();
  auto* Out = new TAbortingOut(Root.get(), Log);
  Setup(*Out, 4096, 5);
  Out->AbortOnPass = 3;
  TFormatInput* Input = MakeInput(PatternBytes(44100 * 4 * 10, 1));
  Out->SetInput(Input);
  EXPECT_EQ(RunToEnd(*Out), "");
  EXPECT_LT(Input->Position(), 44100 * 4);
  // Stopped, then released: no more polls, writes or silence after the abort.
  const std::vector<std::string> Calls = Log->Snapshot();
  const auto Abort = std::find(Calls.begin(), Calls.end(), "Abort");
  ASSERT_NE(Abort, Calls.end());
  const std::vector<std::string> After(Abort + 1, Calls.end());
  EXPECT_EQ(After, (std::vector<std::string>{"Stop", "Stop", "Release", "Release"}));
}

TEST_F(DXAudioTest, StopEndsAPlayingRun) {
  WatchDevice();
  TDXAudioOut* Out = MakeOut(4096, 5);
  int DoneCount = 0;
  Out->SetOnDone([&](TComponent*) { ++DoneCount; });
  TFormatInput* Input = MakeInput(PatternBytes(44100 * 4 * 10, 1));
  Out->SetInput(Input);
  Out->Run();
  ASSERT_TRUE(PumpUntil([&] { return Count("Play") > 0; }));
  Out->Stop(false);
  EXPECT_FALSE(Out->Running());
  EXPECT_EQ(Log->Snapshot().back(), "Release");
  EXPECT_EQ(Input->FlushCount, 1);
  EXPECT_LT(Input->Position(), 44100 * 4 * 10);
  PumpFor(100);
  EXPECT_EQ(DoneCount, 0);
}

// A stop while the worker waits on a device that frees nothing, or while the last buffer
// drains, ends the run at the next poll: the window that stops it does not wait the whole
// time, and no error is made of it.
struct TStopCase {
  const char* Name;
  bool Frozen;
  uint32_t FramesInBuffer;
  size_t InputFrames;
  // The polls the run would make without the stop: 17 of a frozen device, and a drain of
  // 2 s in steps of 100 ms.
  long WholeRunPolls;
};

class DXAudioStopTest : public DXAudioTest, public ::testing::WithParamInterface<TStopCase> {};

TEST_P(DXAudioStopTest, EndsTheRunAtTheNextPoll) {
  const TStopCase& Case = GetParam();
  Log->Frozen = Case.Frozen;
  WatchDevice();
  TDXAudioOut* Out = MakeOut(Case.FramesInBuffer, 50);
  Out->SetInput(MakeInput(PatternBytes(Case.InputFrames * 4, 1)));
  const auto PollsSincePlay = [&] {
    const std::vector<std::string> Calls = Log->Snapshot();
    const auto Played = std::find(Calls.begin(), Calls.end(), "Play");
    return std::count(Played, Calls.end(), "Position");
  };
  Out->Run();
  ASSERT_TRUE(PumpUntil([&] { return PollsSincePlay() >= 3; }));
  Out->Stop(false);
  EXPECT_FALSE(Out->Running());
  EXPECT_EQ(Out->ExceptionText(), "");
  EXPECT_EQ(ThreadExceptions, 0);
  EXPECT_LT(PollsSincePlay(), Case.WholeRunPolls);
  EXPECT_EQ(Log->Snapshot().back(), "Release");
}

INSTANTIATE_TEST_SUITE_P(
    Waits, DXAudioStopTest,
    ::testing::Values(TStopCase{"device_frees_nothing", true, 4096, 4096 * 4, 17},
                      TStopCase{"draining", false, 88200, 4096, 20}),
    [](const ::testing::TestParamInfo<TStopCase>& Info) { return Info.param.Name; });

TEST_F(DXAudioTest, KeepsTheBufferSizeWhileRunning) {
  WatchDevice();
  TDXAudioOut* Out = MakeOut(4096, 5);
  bool Finished = false;
  Out->SetOnDone([&](TComponent*) { Finished = true; });
  Out->SetInput(MakeInput(PatternBytes(8192 * 4, 1)));
  Out->Run();
  Out->SetFramesInBuffer(1024);
  EXPECT_EQ(Out->FramesInBuffer(), 4096u);
  ASSERT_TRUE(PumpUntil([&] { return Finished; }));
  EXPECT_EQ(Out->ExceptionText(), "");
  {
    std::lock_guard Guard(Log->Lock);
    EXPECT_EQ(Log->StreamBytes, 4096u * 4);
  }
  Out->SetFramesInBuffer(1024);
  EXPECT_EQ(Out->FramesInBuffer(), 1024u);
}

// A worker held up past a whole pass of the buffer, or a clock that says so while the cursors
// look normal: either way one underrun, reported once, and the play goes on to the end.
struct TUnderrunCase {
  const char* Name;
  int DelayMs;
  int64_t ClockPasses;
};

class DXAudioUnderrunTest : public DXAudioTest,
                            public ::testing::WithParamInterface<TUnderrunCase> {};

TEST_P(DXAudioUnderrunTest, CountsOneUnderrunReportsItAndPlaysOn) {
  const TUnderrunCase& Case = GetParam();
  constexpr uint32_t Frames = 32768;
  const int64_t TicksPerBuffer = QueryPerformanceFrequency() * Frames / 44100;
  std::atomic<int64_t> ClockAhead{0};
  SoundSystem().Counter = [&] { return QueryPerformanceCounter() + ClockAhead.load(); };
  WatchDevice();
  TDXAudioOut* Out = MakeOut(Frames, 20);
  TFormatInput* Input = MakeInput(PatternBytes(66150 * 4, 1));
  // The first fill takes 32 reads; the 40th comes in the steady play.
  int Reads = 0;
  Input->SetOnRead([&] {
    if (++Reads != 40)
      return;
    std::this_thread::sleep_for(std::chrono::milliseconds(Case.DelayMs));
    ClockAhead += Case.ClockPasses * TicksPerBuffer;
  });
  Out->SetInput(Input);
  EXPECT_EQ(RunToEnd(*Out), "");
  EXPECT_EQ(UnderrunSenders, std::vector<TComponent*>{Out});
  EXPECT_TRUE(UnderrunOnMainThread);
  EXPECT_EQ(Input->Position(), 66150 * 4);
  // Stopped and played again; the run's own stop and release come after.
  const std::vector<std::string> Calls = Log->Snapshot();
  const auto Start = std::find(Calls.begin(), Calls.end(), "Play");
  ASSERT_NE(Start, Calls.end());
  EXPECT_EQ(std::count(Start, Calls.end(), "Play"), 2);
  EXPECT_EQ(std::count(Start, Calls.end(), "Stop"), 3);
}

INSTANTIATE_TEST_SUITE_P(Causes, DXAudioUnderrunTest,
                         ::testing::Values(TUnderrunCase{"worker_delayed", 2000, 0},
                                           TUnderrunCase{"clock_ahead_of_the_cursors", 0, 2}),
                         [](const ::testing::TestParamInfo<TUnderrunCase>& Info) {
                           return Info.param.Name;
                         });

// SDL's disk driver writes what it plays to SDL_DISKAUDIOFILE, one device period each
// SDL_DISKAUDIODELAY milliseconds (by default a period's own length).
struct TDiskCase {
  const char* Name;
  int32_t Bits, Channels, Rate;
  uint32_t FramesInBuffer;
  size_t InputFrames;
  const char* Delay;
};

class DXAudioDiskTest : public DXAudioTest, public ::testing::WithParamInterface<TDiskCase> {
protected:
  TTempDir Dir;
  const std::string Output = Dir.File("played.raw");
  TScopedEnv Disk{"SDL_AUDIODRIVER", "disk"};
  TScopedEnv DiskFile{"SDL_DISKAUDIOFILE", Output.c_str()};
};

TEST_P(DXAudioDiskTest, PlaysExactlyTheInputThenSilence) {
  const TDiskCase& Case = GetParam();
  TScopedEnv Delay("SDL_DISKAUDIODELAY", Case.Delay);
  const uint8_t Silence = Case.Bits == 8 ? 0x80 : 0;
  const size_t Align = size_t(Case.Bits / 8) * Case.Channels;
  const TBytes Played = PatternBytes(Case.InputFrames * Align, 1);
  TDXAudioOut* Out = MakeOut(Case.FramesInBuffer, 10);
  TFormatInput* Input = MakeInput(Played, Case.Bits, Case.Channels, Case.Rate);
  Out->SetInput(Input);
  ASSERT_EQ(RunToEnd(*Out), "");
  EXPECT_TRUE(UnderrunSenders.empty());
  EXPECT_EQ(Input->Position(), static_cast<int64_t>(Played.size()));

  // Silence until the play starts, the input, and nothing but silence after it.
  const TBytes File = ReadBytes(Output);
  const auto Start =
      std::find_if(File.begin(), File.end(), [&](uint8_t Byte) { return Byte != Silence; });
  const size_t Lead = static_cast<size_t>(Start - File.begin());
  ASSERT_EQ(Lead % Align, 0u);
  ASSERT_GE(File.size() - Lead, Played.size());
  EXPECT_TRUE(std::equal(Played.begin(), Played.end(), Start)) << "played from " << Lead;
  EXPECT_TRUE(std::all_of(Start + static_cast<std::ptrdiff_t>(Played.size()), File.end(),
                          [&](uint8_t Byte) { return Byte == Silence; }));
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, DXAudioDiskTest,
    ::testing::Values(
        // Two and a half passes of the buffer, played a little faster than real time.
        TDiskCase{"cd_audio", 16, 2, 44100, 16384, 40960, "10"},
        TDiskCase{"mono_8_bit", 8, 1, 22050, 8192, 20480, "10"},
        // An input shorter than a buffer of less than half a second, in real time: it is heard
        // in full before the play stops.
        TDiskCase{"short_buffer_real_time", 16, 2, 44100, 8192, 2048, nullptr}),
    [](const ::testing::TestParamInfo<TDiskCase>& Info) { return Info.param.Name; });

} // namespace
