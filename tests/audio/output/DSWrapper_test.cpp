#include "audio/output/DSWrapper.h"

#include "platform/System.h"
#include "tests/support/ScopedEnv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

using namespace platform;

namespace {

// A stream buffer whose cursors the test sets, over bytes the test reads back.
class TScriptedBuffer final : public IDirectSoundBuffer {
public:
  explicit TScriptedBuffer(uint32_t Size) : Bytes(Size, 0xEE) {}

  HRESULT SetFormat(const TWaveFormatEx*) override { return DSERR_INVALIDCALL; }
  HRESULT GetCurrentPosition(uint32_t* P, uint32_t* W) override {
    *P = PlayCursor;
    if (W)
      *W = WriteCursor;
    return DS_OK;
  }
  HRESULT Lock(uint32_t Offset, uint32_t Count, void** Ptr1, uint32_t* Bytes1, void** Ptr2,
               uint32_t* Bytes2, uint32_t) override {
    const auto Size = static_cast<uint32_t>(Bytes.size());
    *Ptr1 = Bytes.data() + Offset;
    *Bytes1 = std::min(Count, Size - Offset);
    *Ptr2 = *Bytes1 < Count ? Bytes.data() : nullptr;
    *Bytes2 = Count - *Bytes1;
    return DS_OK;
  }
  HRESULT Unlock(void*, uint32_t, void*, uint32_t) override { return DS_OK; }
  HRESULT SetCurrentPosition(uint32_t) override { return DS_OK; }
  HRESULT Play(uint32_t) override { return DS_OK; }
  HRESULT Stop() override { return DS_OK; }
  HRESULT GetStatus(uint32_t*) override { return DS_OK; }

  std::vector<uint8_t> Bytes;
  uint32_t PlayCursor = 0;
  uint32_t WriteCursor = 0;
};

// Puts stand-ins into the sound system and the real ones back afterwards.
class DSWrapperTest : public ::testing::Test {
protected:
  ~DSWrapperTest() override { SoundSystem() = TSoundSystem{}; }

  // Offers Count devices (the first without an id), each described by Describe.
  void OfferDevices(int Count, std::string Description) {
    SoundSystem().Enumerate = [=, this](const TDSEnumCallback& Callback) {
      for (int I = 0; I < Count; ++I) {
        const TGuid Id = {uint32_t(I), 1, 2, {3}};
        ++Offered;
        if (!Callback(I == 0 ? nullptr : &Id, Description + std::to_string(I)))
          break;
      }
      return DS_OK;
    };
  }

  TScopedEnv Driver{"SDL_AUDIODRIVER", "dummy"};
  int Offered = 0;
  int64_t Now = 0;
};

TEST_F(DSWrapperTest, ListsTheDefaultDeviceFirstWithAZeroId) {
  TSoundDevices Devices;
  ASSERT_EQ(EnumerateSoundDevices(Devices), DS_OK);
  ASSERT_GE(Devices.Count, 2u) << "SDL's dummy driver has a device of its own";
  EXPECT_TRUE(Devices.Devices[0].Guid == TGuid{});
  EXPECT_FALSE(Devices.Devices[1].Guid == TGuid{});
  EXPECT_FALSE(Devices.Devices[1].Description.empty());
}

TEST_F(DSWrapperTest, KeepsSixteenDevicesAndStopsTheListThere) {
  OfferDevices(20, "Device ");
  TSoundDevices Devices;
  Devices.Count = 99;
  ASSERT_EQ(EnumerateSoundDevices(Devices), DS_OK);
  EXPECT_EQ(Devices.Count, 16u);
  EXPECT_EQ(Offered, 17);
  EXPECT_TRUE(Devices.Devices[0].Guid == TGuid{});
  EXPECT_EQ(Devices.Devices[15].Guid.D1, 15u);
  EXPECT_EQ(Devices.Devices[15].Description, "Device 15");
}

TEST_F(DSWrapperTest, CutsDescriptionsTo127Bytes) {
  struct TCase {
    const char* Name;
    std::string Description;
    std::string Kept;
  };
  const std::string Long(200, 'a');
  // "é" is two bytes; one starting at byte 126 would be cut in two.
  const std::string Accented = std::string(126, 'b') + "\xC3\xA9" + "tail";
  const TCase Cases[] = {
      {"200 characters", Long, Long.substr(0, 127)},
      {"a character across the cut", Accented, Accented.substr(0, 126)},
      {"127 characters", Long.substr(0, 126), Long.substr(0, 126) + "0"},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    OfferDevices(1, Case.Description);
    TSoundDevices Devices;
    ASSERT_EQ(EnumerateSoundDevices(Devices), DS_OK);
    ASSERT_EQ(Devices.Count, 1u);
    EXPECT_EQ(Devices.Devices[0].Description, Case.Kept);
  }
}

TEST_F(DSWrapperTest, CreatesASilentBufferWrittenFromThePlayCursor) {
  struct TCase {
    uint16_t Bits;
    uint8_t Silence;
  };
  for (const TCase& Case : {TCase{8, 0x80}, TCase{16, 0}}) {
    SCOPED_TRACE(Case.Bits);
    TWaveFormatEx Format;
    Format.FormatTag = WAVE_FORMAT_PCM;
    Format.Channels = 2;
    Format.SamplesPerSec = 22050;
    Format.BitsPerSample = Case.Bits;
    Format.BlockAlign = static_cast<uint16_t>(Case.Bits / 4);
    Format.AvgBytesPerSec = Format.BlockAlign * 22050;
    const uint32_t Size = 4410 * Format.BlockAlign;
    TStreamBufferState State;
    ASSERT_EQ(OpenSoundDevice(State, TGuid{}), DS_OK) << LastSoundError();
    ASSERT_EQ(CreateStreamBuffer(State, Format, Size), DS_OK) << LastSoundError();
    EXPECT_EQ(State.BufferSize, Size);
    EXPECT_EQ(State.BlockAlign, Format.BlockAlign);
    // 4410 frames at 22050 Hz: a fifth of a second.
    EXPECT_EQ(State.TicksPerBuffer, QueryPerformanceFrequency() / 5);
    EXPECT_EQ(State.WritePosition, 0u);
    EXPECT_FALSE(State.Playing);

    void* Whole = nullptr;
    uint32_t Bytes = 0;
    ASSERT_EQ(State.StreamBuffer->Lock(0, Size, &Whole, &Bytes, nullptr, nullptr, 0), DS_OK);
    const auto* Data = static_cast<const uint8_t*>(Whole);
    EXPECT_TRUE(std::all_of(Data, Data + Bytes, [&](uint8_t B) { return B == Case.Silence; }));
    State.StreamBuffer->Unlock(Whole, Bytes, nullptr, 0);

    // Written across the end of the buffer, in two regions.
    State.WritePosition = Size - 100;
    std::vector<uint8_t> Pattern(300);
    for (size_t I = 0; I < Pattern.size(); ++I)
      Pattern[I] = static_cast<uint8_t>(I + 1);
    ASSERT_EQ(WriteStream(State, Pattern.data(), 300), DS_OK);
    EXPECT_EQ(State.WritePosition, 200u);
    ASSERT_EQ(State.StreamBuffer->Lock(0, Size, &Whole, &Bytes, nullptr, nullptr, 0), DS_OK);
    Data = static_cast<const uint8_t*>(Whole);
    EXPECT_TRUE(std::equal(Pattern.begin(), Pattern.begin() + 100, Data + Size - 100));
    EXPECT_TRUE(std::equal(Pattern.begin() + 100, Pattern.end(), Data));
    EXPECT_EQ(Data[200], Case.Silence);
    State.StreamBuffer->Unlock(Whole, Bytes, nullptr, 0);
    CloseSoundDevice(State);
    EXPECT_FALSE(State.StreamBuffer || State.PrimaryBuffer || State.SoundDevice);
  }
}

TEST_F(DSWrapperTest, ReportsTheStepThatFailed) {
  TWaveFormatEx TwelveBits;
  TwelveBits.FormatTag = WAVE_FORMAT_PCM;
  TwelveBits.Channels = 2;
  TwelveBits.SamplesPerSec = 44100;
  TwelveBits.BitsPerSample = 12;
  TwelveBits.BlockAlign = 3;
  TwelveBits.AvgBytesPerSec = 3 * 44100;
  TStreamBufferState State;
  ASSERT_EQ(OpenSoundDevice(State, TGuid{}), DS_OK) << LastSoundError();
  EXPECT_EQ(CreateStreamBuffer(State, TwelveBits, 3000), DSERR_BADFORMAT);
  EXPECT_FALSE(State.StreamBuffer);

  const TGuid Unknown = {0x12345678, 0x9ABC, 0x8DEF, {0x80, 1, 2, 3, 4, 5, 6, 7}};
  TStreamBufferState Other;
  EXPECT_EQ(OpenSoundDevice(Other, Unknown), DSERR_NODRIVER);
  uint32_t Free = 7;
  EXPECT_NE(QueryWritableBytes(Other, Free), DS_OK);
  EXPECT_EQ(Free, 0u);
  EXPECT_NE(ResumeStream(Other), DS_OK);
  EXPECT_EQ(StopStream(Other), DS_OK);
}

// A buffer of 10000 bytes whose write cursor runs 400 ahead of its play cursor, and a clock of
// 1000 ticks a pass.
struct TQueryCase {
  const char* Name;
  bool Playing;
  int64_t TicksPerBuffer;
  uint32_t LastPlay, WritePosition;
  uint32_t Play;
  int64_t Elapsed;
  uint32_t Free;
  uint32_t Underruns;
  uint32_t WritePositionAfter;
};

class QueryWritableBytesTest : public DSWrapperTest,
                               public ::testing::WithParamInterface<TQueryCase> {};

TEST_P(QueryWritableBytesTest, FreesWhatThePlayMovedAndCountsOverruns) {
  const TQueryCase& Case = GetParam();
  SoundSystem().Counter = [this] { return Now; };
  auto Buffer = std::make_unique<TScriptedBuffer>(10000);
  Buffer->PlayCursor = Case.Play;
  Buffer->WriteCursor = (Case.Play + 400) % 10000;
  TStreamBufferState State;
  State.StreamBuffer = std::move(Buffer);
  State.BufferSize = 10000;
  State.BlockAlign = 4;
  State.TicksPerBuffer = Case.TicksPerBuffer;
  State.Playing = Case.Playing;
  State.LastPlayCursor = Case.LastPlay;
  State.WritePosition = Case.WritePosition;
  State.LastCounter = 5000;
  Now = 5000 + Case.Elapsed;

  uint32_t Free = 0;
  ASSERT_EQ(QueryWritableBytes(State, Free), DS_OK);
  EXPECT_EQ(Free, Case.Free);
  EXPECT_EQ(State.UnderrunCount, Case.Underruns);
  EXPECT_EQ(State.WritePosition, Case.WritePositionAfter);
  EXPECT_EQ(State.LastPlayCursor, Case.Playing ? Case.Play : Case.LastPlay);
  EXPECT_EQ(State.LastCounter, Case.Playing && Case.TicksPerBuffer ? Now : 5000);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, QueryWritableBytesTest,
    ::testing::Values(
        TQueryCase{"steady", true, 1000, 2000, 1000, 4000, 200, 3000, 0, 1000},
        TQueryCase{"across_the_end", true, 1000, 9000, 8000, 1000, 200, 3000, 0, 8000},
        TQueryCase{"write_cursor_past_the_write_position", true, 1000, 2000, 1000, 700, 870, 9600,
                   1, 1100},
        TQueryCase{"play_cursor_past_the_write_position", true, 1000, 2000, 1000, 1500, 950, 9600,
                   1, 1900},
        TQueryCase{"unseen_pass_cursor_ahead_of_the_write_position", true, 1000, 2000, 1000, 4000,
                   1200, 9600, 1, 4400},
        TQueryCase{"unseen_pass_cursor_behind_the_write_position", true, 1000, 9000, 8000, 1000,
                   1200, 9600, 1, 1400},
        TQueryCase{"less_than_a_pass_beyond_the_cursors", true, 1000, 2000, 1000, 4000, 1100, 3000,
                   0, 1000},
        TQueryCase{"stopped_ignores_the_clock", false, 1000, 2000, 1000, 2000, 5000, 1000, 0, 1000},
        TQueryCase{"stopped_behind_the_write_cursor", false, 1000, 900, 1000, 900, 0, 9600, 0,
                   1300},
        TQueryCase{"no_counter", true, 0, 2000, 1000, 4000, 99999, 3000, 0, 1000}),
    [](const ::testing::TestParamInfo<TQueryCase>& Info) { return Info.param.Name; });

TEST_F(DSWrapperTest, FillsTheWritableBytesWithSilence) {
  auto Buffer = std::make_unique<TScriptedBuffer>(10000);
  TScriptedBuffer& Bytes = *Buffer;
  Bytes.PlayCursor = 2000;
  Bytes.WriteCursor = 2400;
  TStreamBufferState State;
  State.StreamBuffer = std::move(Buffer);
  State.BufferSize = 10000;
  State.BlockAlign = 4;
  State.WritePosition = 8000;
  ASSERT_EQ(FillSilence(State, 0x80), DS_OK);
  EXPECT_EQ(State.WritePosition, 2000u);
  for (uint32_t I = 0; I < 10000; ++I)
    ASSERT_EQ(Bytes.Bytes[I], I < 2000 || I >= 8000 ? 0x80 : 0xEE) << I;
}

} // namespace
