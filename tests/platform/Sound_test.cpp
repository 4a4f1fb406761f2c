#include "platform/Sound.h"

#include "tests/support/Pump.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>
#include <vector>

using namespace platform;

namespace {

// The record a caller makes: plain PCM up to two channels of other than 24 bits, else the
// extensible one.
TWaveFormatExtensible MakeFormat(uint16_t Bits, uint16_t Channels, uint32_t Rate) {
  TWaveFormatExtensible X;
  TWaveFormatEx& F = X.Format;
  const bool Plain = Channels < 3 && Bits != 24;
  F.FormatTag = Plain ? WAVE_FORMAT_PCM : WAVE_FORMAT_EXTENSIBLE;
  F.ExtensionSize = Plain ? 0 : 22;
  if (!Plain)
    X.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
  F.Channels = Channels;
  F.SamplesPerSec = Rate;
  F.BlockAlign = static_cast<uint16_t>(Channels * Bits / 8);
  F.AvgBytesPerSec = F.BlockAlign * Rate;
  F.BitsPerSample = Bits;
  return X;
}

struct TEntry {
  bool HasGuid = false;
  TGuid Guid;
  std::string Description;
  bool operator==(const TEntry&) const = default;
};

std::vector<TEntry> ListDevices() {
  std::vector<TEntry> Entries;
  EXPECT_EQ(DirectSoundEnumerate([&](const TGuid* Guid, const std::string& Description) {
              Entries.push_back({Guid != nullptr, Guid ? *Guid : TGuid{}, Description});
              return true;
            }),
            DS_OK);
  return Entries;
}

uint32_t StatusOf(IDirectSoundBuffer& Buffer) {
  uint32_t Status = 0xFFFFFFFF;
  EXPECT_EQ(Buffer.GetStatus(&Status), DS_OK);
  return Status;
}

uint32_t PlayCursor(IDirectSoundBuffer& Buffer) {
  uint32_t Play = 0;
  EXPECT_EQ(Buffer.GetCurrentPosition(&Play, nullptr), DS_OK);
  return Play;
}

// Writes Bytes at Offset through Lock and Unlock, across the end when they run past it.
void WriteAt(IDirectSoundBuffer& Buffer, uint32_t Offset, const uint8_t* Bytes, uint32_t Count) {
  void *P1 = nullptr, *P2 = nullptr;
  uint32_t N1 = 0, N2 = 0;
  ASSERT_EQ(Buffer.Lock(Offset, Count, &P1, &N1, &P2, &N2, 0), DS_OK);
  ASSERT_EQ(N1 + N2, Count);
  std::memcpy(P1, Bytes, N1);
  if (N2)
    std::memcpy(P2, Bytes + N1, N2);
  ASSERT_EQ(Buffer.Unlock(P1, N1, P2, N2), DS_OK);
}

// Opens the default device and a stream buffer on it, as the sound output does.
class TStream {
public:
  HRESULT Open(const TWaveFormatEx& Format, uint32_t Bytes) {
    if (const HRESULT Result = DirectSoundCreate(nullptr, Device))
      return Result;
    if (const HRESULT Result = Device->SetCooperativeLevel(nullptr, DSSCL_EXCLUSIVE))
      return Result;
    TDSBufferDesc Desc;
    Desc.Flags = DSBCAPS_GLOBALFOCUS | DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_CTRLVOLUME |
                 DSBCAPS_CTRLPAN | DSBCAPS_CTRLFREQUENCY;
    Desc.BufferBytes = Bytes;
    Desc.Format = &Format;
    return Device->CreateSoundBuffer(Desc, Buffer);
  }

  std::unique_ptr<IDirectSound> Device;
  std::unique_ptr<IDirectSoundBuffer> Buffer;
};

class SoundTest : public ::testing::Test {
protected:
  TScopedEnv Driver{"SDL_AUDIODRIVER", "dummy"};
  const TWaveFormatExtensible Cd = MakeFormat(16, 2, 44100);
  TStream Stream;
};

TEST_F(SoundTest, ListsTheDefaultDeviceFirstThenSdlsWithStableIds) {
  const std::vector<TEntry> Entries = ListDevices();
  ASSERT_GE(Entries.size(), 2u) << "SDL's dummy driver has one device of its own";
  EXPECT_FALSE(Entries[0].HasGuid);
  EXPECT_FALSE(Entries[0].Description.empty());
  for (size_t I = 1; I < Entries.size(); ++I) {
    SCOPED_TRACE(Entries[I].Description);
    EXPECT_TRUE(Entries[I].HasGuid);
    EXPECT_FALSE(Entries[I].Guid == TGuid{});
    for (size_t J = 1; J < I; ++J)
      EXPECT_FALSE(Entries[I].Guid == Entries[J].Guid);
  }
  EXPECT_EQ(ListDevices(), Entries);

  int Calls = 0;
  EXPECT_EQ(DirectSoundEnumerate([&](const TGuid*, const std::string&) { return ++Calls > 1; }),
            DS_OK);
  EXPECT_EQ(Calls, 1);
}

TEST_F(SoundTest, OpensTheDefaultAndEveryListedDevice) {
  std::vector<TGuid> Ids = {TGuid{}};
  for (const TEntry& Entry : ListDevices())
    if (Entry.HasGuid)
      Ids.push_back(Entry.Guid);
  for (const TGuid& Id : Ids) {
    SCOPED_TRACE(Id.D1);
    std::unique_ptr<IDirectSound> Device;
    ASSERT_EQ(DirectSoundCreate(&Id, Device), DS_OK) << LastSoundError();
    ASSERT_TRUE(Device);
    TDSBufferDesc Desc;
    Desc.BufferBytes = 4096 * Cd.Format.BlockAlign;
    Desc.Format = &Cd.Format;
    std::unique_ptr<IDirectSoundBuffer> Buffer;
    EXPECT_EQ(Device->CreateSoundBuffer(Desc, Buffer), DS_OK) << LastSoundError();
    EXPECT_TRUE(Buffer);
  }
}

TEST_F(SoundTest, RejectsAnIdNoDeviceHas) {
  const TGuid Unknown = {0x12345678, 0x9ABC, 0x8DEF, {0x80, 1, 2, 3, 4, 5, 6, 7}};
  std::unique_ptr<IDirectSound> Device;
  EXPECT_EQ(DirectSoundCreate(&Unknown, Device), DSERR_NODRIVER);
  EXPECT_FALSE(Device);
}

TEST_F(SoundTest, ReportsADriverSdlLacksWithSdlsText) {
  TScopedEnv Missing("SDL_AUDIODRIVER", "tavrune-none");
  EXPECT_EQ(DirectSoundEnumerate([](const TGuid*, const std::string&) { return true; }),
            DSERR_DEVICEFAILED);
  EXPECT_NE(LastSoundError().find("tavrune-none"), std::string::npos) << LastSoundError();
  std::unique_ptr<IDirectSound> Device;
  EXPECT_EQ(DirectSoundCreate(nullptr, Device), DSERR_DEVICEFAILED);
  EXPECT_FALSE(Device);
}

TEST_F(SoundTest, CursorsAdvanceAndWrapWhilePlaying) {
  const uint32_t Size = 4096 * Cd.Format.BlockAlign;
  ASSERT_EQ(Stream.Open(Cd.Format, Size), DS_OK) << LastSoundError();
  IDirectSoundBuffer& Buffer = *Stream.Buffer;
  uint32_t Play = 1, Write = 0;
  ASSERT_EQ(Buffer.GetCurrentPosition(&Play, &Write), DS_OK);
  EXPECT_EQ(Play, 0u);
  const uint32_t Gap = Write;
  EXPECT_GT(Gap, 0u);
  EXPECT_LT(Gap, Size);
  EXPECT_EQ(StatusOf(Buffer), 0u);

  ASSERT_EQ(Buffer.Play(DSBPLAY_LOOPING), DS_OK);
  EXPECT_EQ(StatusOf(Buffer), DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);
  // Moving on from 0, then coming round past the end to a smaller offset.
  uint32_t Last = 0;
  bool Moved = false, Wrapped = false;
  EXPECT_TRUE(PumpUntil([&] {
    EXPECT_EQ(Buffer.GetCurrentPosition(&Play, &Write), DS_OK);
    EXPECT_EQ(Play % Cd.Format.BlockAlign, 0u);
    EXPECT_EQ(Write, (Play + Gap) % Size);
    Wrapped = Wrapped || (Moved && Play < Last);
    Moved = Moved || Play != 0;
    Last = Play;
    return Wrapped;
  }));
  EXPECT_EQ(StatusOf(Buffer), DSBSTATUS_PLAYING | DSBSTATUS_LOOPING);

  ASSERT_EQ(Buffer.Stop(), DS_OK);
  EXPECT_EQ(StatusOf(Buffer), 0u);
  const uint32_t Stopped = PlayCursor(Buffer);
  PumpFor(50);
  EXPECT_EQ(PlayCursor(Buffer), Stopped);

  // Rounded down to a whole frame.
  ASSERT_EQ(Buffer.SetCurrentPosition(1003), DS_OK);
  ASSERT_EQ(Buffer.GetCurrentPosition(&Play, &Write), DS_OK);
  EXPECT_EQ(Play, 1000u);
  EXPECT_EQ(Write, 1000 + Gap);
  EXPECT_EQ(Buffer.SetCurrentPosition(Size), DSERR_INVALIDPARAM);
  // Playing goes on from there.
  ASSERT_EQ(Buffer.Play(DSBPLAY_LOOPING), DS_OK);
  EXPECT_TRUE(PumpUntil([&] { return PlayCursor(Buffer) != 1000; }));
}

TEST_F(SoundTest, LockHandsOutTwoRegionsAcrossTheEnd) {
  const uint32_t Size = 1024 * Cd.Format.BlockAlign;
  ASSERT_EQ(Stream.Open(Cd.Format, Size), DS_OK) << LastSoundError();
  IDirectSoundBuffer& Buffer = *Stream.Buffer;
  uint32_t Gap = 0;
  ASSERT_EQ(Buffer.GetCurrentPosition(nullptr, &Gap), DS_OK);

  struct TCase {
    const char* Name;
    uint32_t Offset, Bytes, Flags;
    uint32_t Start, First, Second;
  };
  const TCase Cases[] = {
      {"whole buffer", 0, Size, 0, 0, Size, 0},
      {"inside", 10, 100, 0, 10, 100, 0},
      {"up to the end", Size - 100, 100, 0, Size - 100, 100, 0},
      {"across the end", Size - 100, 300, 0, Size - 100, 100, 200},
      {"all of it from the middle", Size / 2, Size, 0, Size / 2, Size / 2, Size / 2},
      {"entire buffer flag", 0, 1, DSBLOCK_ENTIREBUFFER, 0, Size, 0},
      {"from the write cursor", 0, Size, DSBLOCK_FROMWRITECURSOR, Gap, Size - Gap, Gap},
  };
  void* Base = nullptr;
  uint32_t Whole = 0;
  ASSERT_EQ(Buffer.Lock(0, Size, &Base, &Whole, nullptr, nullptr, 0), DS_OK);
  ASSERT_EQ(Buffer.Unlock(Base, 0, nullptr, 0), DS_OK);
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    void *P1 = nullptr, *P2 = nullptr;
    uint32_t N1 = 0, N2 = 0;
    ASSERT_EQ(Buffer.Lock(Case.Offset, Case.Bytes, &P1, &N1, &P2, &N2, Case.Flags), DS_OK);
    EXPECT_EQ(P1, static_cast<uint8_t*>(Base) + Case.Start);
    EXPECT_EQ(N1, Case.First);
    EXPECT_EQ(P2, Case.Second ? Base : nullptr);
    EXPECT_EQ(N2, Case.Second);
    EXPECT_EQ(Buffer.Unlock(P1, N1, P2, N2), DS_OK);
  }

  // What goes into the two regions lands at the end and at the start of the buffer.
  std::vector<uint8_t> Bytes(300);
  for (size_t I = 0; I < Bytes.size(); ++I)
    Bytes[I] = static_cast<uint8_t>(I + 1);
  WriteAt(Buffer, Size - 100, Bytes.data(), 300);
  void* All = nullptr;
  uint32_t N = 0;
  ASSERT_EQ(Buffer.Lock(0, 0, &All, &N, nullptr, nullptr, DSBLOCK_ENTIREBUFFER), DS_OK);
  const uint8_t* Data = static_cast<const uint8_t*>(All);
  EXPECT_TRUE(std::equal(Bytes.begin(), Bytes.begin() + 100, Data + Size - 100));
  EXPECT_TRUE(std::equal(Bytes.begin() + 100, Bytes.end(), Data));
  EXPECT_EQ(Data[200], 0);
  EXPECT_EQ(Buffer.Unlock(All, N, nullptr, 0), DS_OK);

  // Without a second pointer, only the first region is handed out.
  void* P1 = nullptr;
  uint32_t N1 = 0, N2 = 7;
  ASSERT_EQ(Buffer.Lock(Size - 100, 300, &P1, &N1, nullptr, &N2, 0), DS_OK);
  EXPECT_EQ(N1, 100u);
  EXPECT_EQ(N2, 0u);
  EXPECT_EQ(Buffer.Unlock(P1, N1, nullptr, 0), DS_OK);
}

TEST_F(SoundTest, LockAndUnlockRejectRangesOutsideTheBuffer) {
  const uint32_t Size = 1024 * Cd.Format.BlockAlign;
  ASSERT_EQ(Stream.Open(Cd.Format, Size), DS_OK) << LastSoundError();
  IDirectSoundBuffer& Buffer = *Stream.Buffer;
  void *P1 = nullptr, *P2 = nullptr;
  uint32_t N1 = 0, N2 = 0;

  struct TCase {
    const char* Name;
    uint32_t Offset, Bytes;
  };
  const TCase Cases[] = {
      {"offset at the end", Size, 1},
      {"offset far past the end", 0xFFFFFFF0, 4},
      {"more than the buffer", 0, Size + 1},
      {"nothing", 0, 0},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    EXPECT_EQ(Buffer.Lock(Case.Offset, Case.Bytes, &P1, &N1, &P2, &N2, 0), DSERR_INVALIDPARAM);
  }
  EXPECT_EQ(Buffer.Lock(0, 4, nullptr, &N1, &P2, &N2, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(Buffer.Lock(0, 4, &P1, nullptr, &P2, &N2, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(Buffer.Lock(0, 4, &P1, &N1, &P2, nullptr, 0), DSERR_INVALIDPARAM);

  ASSERT_EQ(Buffer.Lock(Size - 4, 4, &P1, &N1, &P2, &N2, 0), DS_OK);
  uint8_t Elsewhere[4] = {};
  EXPECT_EQ(Buffer.Unlock(Elsewhere, 4, nullptr, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(Buffer.Unlock(P1, 5, nullptr, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(Buffer.Unlock(nullptr, 0, nullptr, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(Buffer.Unlock(P1, 4, Elsewhere, 4), DSERR_INVALIDPARAM);
  EXPECT_EQ(Buffer.Unlock(P1, 4, nullptr, 0), DS_OK);
}

TEST_F(SoundTest, RejectsFormatsItCannotPlay) {
  struct TCase {
    const char* Name;
    void (*Spoil)(TWaveFormatExtensible&);
  };
  const TCase Cases[] = {
      {"ADPCM", [](TWaveFormatExtensible& X) { X.Format.FormatTag = 2; }},
      {"IEEE float", [](TWaveFormatExtensible& X) { X.Format.FormatTag = 3; }},
      {"12 bits", [](TWaveFormatExtensible& X) { X = MakeFormat(12, 2, 44100); }},
      {"no channels", [](TWaveFormatExtensible& X) { X = MakeFormat(16, 0, 44100); }},
      {"nine channels", [](TWaveFormatExtensible& X) { X = MakeFormat(16, 9, 44100); }},
      {"no rate", [](TWaveFormatExtensible& X) { X = MakeFormat(16, 2, 0); }},
      {"rate beyond SDL's", [](TWaveFormatExtensible& X) { X = MakeFormat(8, 1, 0x80000000); }},
      {"block align off", [](TWaveFormatExtensible& X) { X.Format.BlockAlign = 3; }},
      {"bytes per second off", [](TWaveFormatExtensible& X) { X.Format.AvgBytesPerSec += 4; }},
      {"extensible, short extension",
       [](TWaveFormatExtensible& X) {
         X = MakeFormat(24, 2, 48000);
         X.Format.ExtensionSize = 0;
       }},
      {"extensible, float sub-format",
       [](TWaveFormatExtensible& X) {
         X = MakeFormat(32, 6, 48000);
         X.SubFormat.D1 = 3;
       }},
      {"extensible, more valid bits than bits",
       [](TWaveFormatExtensible& X) {
         X = MakeFormat(24, 2, 48000);
         X.ValidBitsPerSample = 32;
       }},
  };
  std::unique_ptr<IDirectSound> Device;
  ASSERT_EQ(DirectSoundCreate(nullptr, Device), DS_OK) << LastSoundError();
  TDSBufferDesc PrimaryDesc;
  PrimaryDesc.Flags = DSBCAPS_PRIMARYBUFFER;
  std::unique_ptr<IDirectSoundBuffer> Primary;
  ASSERT_EQ(Device->CreateSoundBuffer(PrimaryDesc, Primary), DS_OK);
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TWaveFormatExtensible Format = Cd;
    Case.Spoil(Format);
    EXPECT_EQ(Primary->SetFormat(&Format.Format), DSERR_BADFORMAT);
    TDSBufferDesc Desc;
    Desc.BufferBytes = 4096 * 4;
    Desc.Format = &Format.Format;
    std::unique_ptr<IDirectSoundBuffer> Buffer;
    EXPECT_EQ(Device->CreateSoundBuffer(Desc, Buffer), DSERR_BADFORMAT);
    EXPECT_FALSE(Buffer);
  }
  EXPECT_EQ(Primary->SetFormat(nullptr), DSERR_INVALIDPARAM);
  for (const TWaveFormatExtensible& Good : {Cd, MakeFormat(8, 1, 8000), MakeFormat(24, 2, 96000),
                                            MakeFormat(32, 8, 192000), MakeFormat(16, 3, 11025)})
    EXPECT_EQ(Primary->SetFormat(&Good.Format), DS_OK) << Good.Format.Channels;
}

TEST_F(SoundTest, RejectsDescriptionsAndCallsThatDoNotFit) {
  std::unique_ptr<IDirectSound> Device;
  ASSERT_EQ(DirectSoundCreate(nullptr, Device), DS_OK) << LastSoundError();
  EXPECT_EQ(Device->SetCooperativeLevel(nullptr, 0), DSERR_INVALIDPARAM);
  EXPECT_EQ(Device->SetCooperativeLevel(nullptr, 5), DSERR_INVALIDPARAM);
  EXPECT_EQ(Device->SetCooperativeLevel(nullptr, DSSCL_NORMAL), DS_OK);

  const TWaveFormatExtensible Wide = MakeFormat(32, 8, 48000);
  struct TCase {
    const char* Name;
    TDSBufferDesc Desc;
  };
  const TCase Cases[] = {
      {"primary with a size", {DSBCAPS_PRIMARYBUFFER, 4096, nullptr}},
      {"primary with a format", {DSBCAPS_PRIMARYBUFFER, 0, &Cd.Format}},
      {"stream without a format", {0, 4096, nullptr}},
      {"stream of no bytes", {0, 0, &Cd.Format}},
      {"stream of part of a frame", {0, 4098, &Cd.Format}},
      {"stream of one frame", {0, 32, &Wide.Format}},
      {"stream beyond the largest size", {0, DSBSIZE_MAX + 1, &Cd.Format}},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    std::unique_ptr<IDirectSoundBuffer> Buffer;
    EXPECT_EQ(Device->CreateSoundBuffer(Case.Desc, Buffer), DSERR_INVALIDPARAM);
    EXPECT_FALSE(Buffer);
  }

  TDSBufferDesc PrimaryDesc;
  PrimaryDesc.Flags = DSBCAPS_PRIMARYBUFFER;
  std::unique_ptr<IDirectSoundBuffer> Primary;
  ASSERT_EQ(Device->CreateSoundBuffer(PrimaryDesc, Primary), DS_OK);
  void* P = nullptr;
  uint32_t N = 0, Status = 7;
  EXPECT_EQ(Primary->Lock(0, 4, &P, &N, nullptr, nullptr, 0), DSERR_INVALIDCALL);
  EXPECT_EQ(Primary->Play(DSBPLAY_LOOPING), DSERR_INVALIDCALL);
  EXPECT_EQ(Primary->GetCurrentPosition(&N, &N), DSERR_INVALIDCALL);
  EXPECT_EQ(Primary->GetStatus(&Status), DS_OK);
  EXPECT_EQ(Status, 0u);

  ASSERT_EQ(Stream.Open(Cd.Format, 4096), DS_OK) << LastSoundError();
  EXPECT_EQ(Stream.Buffer->SetFormat(&Cd.Format), DSERR_INVALIDCALL);
  EXPECT_EQ(Stream.Buffer->GetStatus(nullptr), DSERR_INVALIDPARAM);
}

// Each of device, primary and stream buffer may go first, the stream playing meanwhile.
TEST_F(SoundTest, ReleasesInAnyOrder) {
  int Order[] = {0, 1, 2};
  do {
    SCOPED_TRACE(testing::Message() << Order[0] << Order[1] << Order[2]);
    ASSERT_EQ(Stream.Open(Cd.Format, 4096 * Cd.Format.BlockAlign), DS_OK) << LastSoundError();
    TDSBufferDesc PrimaryDesc;
    PrimaryDesc.Flags = DSBCAPS_PRIMARYBUFFER;
    std::unique_ptr<IDirectSoundBuffer> Primary;
    ASSERT_EQ(Stream.Device->CreateSoundBuffer(PrimaryDesc, Primary), DS_OK);
    ASSERT_EQ(Primary->SetFormat(&Cd.Format), DS_OK);
    ASSERT_EQ(Stream.Buffer->Play(DSBPLAY_LOOPING), DS_OK);
    for (int Which : Order) {
      if (Which == 0)
        Stream.Device.reset();
      else if (Which == 1)
        Primary.reset();
      else
        Stream.Buffer.reset();
      if (Stream.Buffer) {
        const uint32_t From = PlayCursor(*Stream.Buffer);
        EXPECT_TRUE(PumpUntil([&] { return PlayCursor(*Stream.Buffer) != From; }));
      }
    }
  } while (std::next_permutation(std::begin(Order), std::end(Order)));
}

// SDL's disk driver writes what it plays to SDL_DISKAUDIOFILE, raw, in the format the device
// was opened with. It waits SDL_DISKAUDIODELAY milliseconds between periods (by default a
// period's length), so a short delay plays many times faster than real time.
class DiskSoundTest : public ::testing::Test {
protected:
  std::vector<uint8_t> Played() {
    std::ifstream File(Output, std::ios::binary);
    return {std::istreambuf_iterator<char>(File), std::istreambuf_iterator<char>()};
  }
  uintmax_t PlayedSize() {
    std::error_code Ignored;
    const uintmax_t Size = std::filesystem::file_size(Output, Ignored);
    return Ignored ? 0 : Size;
  }
  // The file is written through stdio: what a wait sees may lag by a buffer's worth.
  bool WaitForOutput(uintmax_t Bytes) {
    return PumpUntil([&] { return PlayedSize() >= Bytes + 16384; });
  }
  // Waits until silence follows a stop in the file: the period rendered just before it may
  // still be on its way there.
  bool WaitForSilence(uint32_t Size, uint32_t BlockAlign, size_t PlayedFrame) {
    uint32_t Play = 0, Write = 0;
    EXPECT_EQ(Stream.Buffer->GetCurrentPosition(&Play, &Write), DS_OK);
    const size_t Period = (Write + Size - Play) % Size / BlockAlign * PlayedFrame;
    return WaitForOutput(PlayedSize() + 2 * Period);
  }

  TTempDir Dir;
  const std::string Output = Dir.File("played.raw");
  TScopedEnv Driver{"SDL_AUDIODRIVER", "disk"};
  TScopedEnv DiskFile{"SDL_DISKAUDIOFILE", Output.c_str()};
  TScopedEnv Delay{"SDL_DISKAUDIODELAY", "1"};
  TStream Stream;
};

struct TLayoutCase {
  const char* Name;
  uint16_t Bits, Channels;
  uint32_t Rate;
};

class DiskPlaybackTest : public DiskSoundTest, public ::testing::WithParamInterface<TLayoutCase> {};

// Bytes from a fixed sequence, none of them the format's silence, so that silence and
// pattern are told apart frame by frame.
std::vector<uint8_t> Pattern(size_t Count, uint8_t Silence) {
  std::vector<uint8_t> Bytes(Count);
  uint32_t State = 12345;
  for (uint8_t& Byte : Bytes) {
    State = State * 1103515245 + 12345;
    const uint32_t Value = (State >> 16) % 255;
    Byte = static_cast<uint8_t>(Value >= Silence ? Value + 1 : Value);
  }
  return Bytes;
}

// The frames as the device gets them: 24-bit samples as the top bytes of 32-bit ones.
std::vector<uint8_t> AsPlayed(const std::vector<uint8_t>& Bytes, uint16_t Bits) {
  if (Bits != 24)
    return Bytes;
  std::vector<uint8_t> Out;
  for (size_t I = 0; I + 3 <= Bytes.size(); I += 3)
    Out.insert(Out.end(), {0, Bytes[I], Bytes[I + 1], Bytes[I + 2]});
  return Out;
}

// How the played bytes run: silence, Frames frames of the ring from its start round and round,
// then silence to the end.
struct TRun {
  size_t Lead = 0, Frames = 0, Trail = 0;
  bool SilentAfter = true;
};

TRun RunOf(const std::vector<uint8_t>& Played, const std::vector<uint8_t>& Ring, size_t Frame,
           uint8_t Silence) {
  const auto Silent = [&](size_t At) {
    return std::all_of(Played.begin() + At, Played.begin() + At + Frame,
                       [&](uint8_t B) { return B == Silence; });
  };
  const size_t Total = Played.size() / Frame, RingFrames = Ring.size() / Frame;
  TRun Run;
  while (Run.Lead < Total && Silent(Run.Lead * Frame))
    ++Run.Lead;
  while (Run.Lead + Run.Frames < Total &&
         std::equal(Played.begin() + (Run.Lead + Run.Frames) * Frame,
                    Played.begin() + (Run.Lead + Run.Frames + 1) * Frame,
                    Ring.begin() + Run.Frames % RingFrames * Frame))
    ++Run.Frames;
  for (size_t At = Run.Lead + Run.Frames; At < Total; ++At, ++Run.Trail)
    Run.SilentAfter = Run.SilentAfter && Silent(At * Frame);
  return Run;
}

TEST_P(DiskPlaybackTest, PlaysWhatWasWrittenBitExactlyAndSilenceAfterStop) {
  const TLayoutCase& Case = GetParam();
  const TWaveFormatExtensible Format = MakeFormat(Case.Bits, Case.Channels, Case.Rate);
  const uint32_t BlockAlign = Format.Format.BlockAlign, RingFrames = 8192;
  const uint32_t Size = RingFrames * BlockAlign;
  ASSERT_EQ(Stream.Open(Format.Format, Size), DS_OK) << LastSoundError();
  IDirectSoundBuffer& Buffer = *Stream.Buffer;
  const uint8_t Silence = Case.Bits == 8 ? 0x80 : 0;
  const std::vector<uint8_t> Ring = Pattern(Size, Silence);
  // Written in two regions, the end of the ring first.
  const uint32_t Split = RingFrames / 3 * BlockAlign;
  std::vector<uint8_t> Rotated(Ring.begin() + Split, Ring.end());
  Rotated.insert(Rotated.end(), Ring.begin(), Ring.begin() + Split);
  WriteAt(Buffer, Split, Rotated.data(), Size);

  const std::vector<uint8_t> Expected = AsPlayed(Ring, Case.Bits);
  const uintmax_t Before = PlayedSize();
  ASSERT_EQ(Buffer.SetCurrentPosition(0), DS_OK);
  ASSERT_EQ(Buffer.Play(DSBPLAY_LOOPING), DS_OK);
  ASSERT_TRUE(WaitForOutput(Before + 3 * Expected.size()));
  ASSERT_EQ(Buffer.Stop(), DS_OK);
  const uint32_t StoppedAt = PlayCursor(Buffer);
  ASSERT_TRUE(WaitForSilence(Size, BlockAlign, Expected.size() / RingFrames));
  Stream.Buffer.reset();

  const std::vector<uint8_t> Played = this->Played();
  const size_t Frame = Expected.size() / RingFrames;
  ASSERT_EQ(Played.size() % Frame, 0u);
  const TRun Run = RunOf(Played, Expected, Frame, Silence);
  EXPECT_GE(Run.Frames, 2u * RingFrames);
  // Playing stopped where the play cursor stayed.
  EXPECT_EQ(Run.Frames % RingFrames, StoppedAt / BlockAlign);
  EXPECT_TRUE(Run.SilentAfter);
  EXPECT_GT(Run.Trail, 0u);
}

INSTANTIATE_TEST_SUITE_P(Layouts, DiskPlaybackTest,
                         ::testing::Values(TLayoutCase{"Cd", 16, 2, 44100},
                                           TLayoutCase{"Mono8Bit", 8, 1, 22050},
                                           TLayoutCase{"Stereo24Bit", 24, 2, 48000},
                                           TLayoutCase{"Surround24Bit", 24, 6, 96000},
                                           TLayoutCase{"Surround32Bit", 32, 6, 48000},
                                           TLayoutCase{"Seven16Bit", 16, 7, 32000}),
                         [](const auto& Info) { return std::string(Info.param.Name); });

TEST_F(DiskSoundTest, PlaysOnceWithoutTheLoopingFlag) {
  const TWaveFormatExtensible Cd = MakeFormat(16, 2, 44100);
  const uint32_t RingFrames = 8192, Size = RingFrames * 4;
  ASSERT_EQ(Stream.Open(Cd.Format, Size), DS_OK) << LastSoundError();
  IDirectSoundBuffer& Buffer = *Stream.Buffer;
  const std::vector<uint8_t> Ring = Pattern(Size, 0);
  WriteAt(Buffer, 0, Ring.data(), Size);
  ASSERT_EQ(Buffer.Play(0), DS_OK);
  EXPECT_TRUE(PumpUntil([&] { return StatusOf(Buffer) == 0; }));
  EXPECT_EQ(PlayCursor(Buffer), 0u);
  ASSERT_TRUE(WaitForSilence(Size, 4, 4));
  Stream.Buffer.reset();

  const TRun Run = RunOf(Played(), Ring, 4, 0);
  EXPECT_EQ(Run.Frames, RingFrames);
  EXPECT_TRUE(Run.SilentAfter);
}

// As the sound output writes: from the write cursor on, up to the play cursor, while playing.
// Frames carry their number, so the played file shows anything lost, doubled or torn.
TEST_F(DiskSoundTest, StreamsWhatIsWrittenAheadOfThePlayCursor) {
  // Slow enough for a writer that looks every few milliseconds to stay ahead.
  TScopedEnv Slower("SDL_DISKAUDIODELAY", "5");
  const TWaveFormatExtensible Cd = MakeFormat(16, 2, 44100);
  const uint32_t RingFrames = 65536, Size = RingFrames * 4, Total = 3 * RingFrames;
  ASSERT_EQ(Stream.Open(Cd.Format, Size), DS_OK) << LastSoundError();
  IDirectSoundBuffer& Buffer = *Stream.Buffer;
  const auto FrameOf = [](uint32_t Number) {
    const uint32_t Value = Number + 1;
    return std::vector<uint8_t>{uint8_t(Value), uint8_t(Value >> 8), uint8_t(Value >> 16),
                                uint8_t(Value >> 24 | 0x80)};
  };

  uint32_t Play = 0, Position = 0, Written = 0;
  ASSERT_EQ(Buffer.GetCurrentPosition(nullptr, &Position), DS_OK);
  const auto WriteFree = [&] {
    ASSERT_EQ(Buffer.GetCurrentPosition(&Play, nullptr), DS_OK);
    // Bytes already played, up to the play cursor; none when Position is there.
    uint32_t Free = (Play + Size - Position) % Size;
    Free = std::min(Free / 4, Total - Written) * 4;
    std::vector<uint8_t> Bytes;
    for (uint32_t I = 0; I < Free / 4; ++I) {
      const std::vector<uint8_t> Frame = FrameOf(Written + I);
      Bytes.insert(Bytes.end(), Frame.begin(), Frame.end());
    }
    if (!Bytes.empty())
      WriteAt(Buffer, Position, Bytes.data(), Free);
    Written += Free / 4;
    Position = (Position + Free) % Size;
  };
  WriteFree();
  ASSERT_EQ(Buffer.Play(DSBPLAY_LOOPING), DS_OK);
  const auto Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (Written < Total && std::chrono::steady_clock::now() < Deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(3));
    WriteFree();
  }
  ASSERT_EQ(Written, Total);
  ASSERT_EQ(Buffer.Stop(), DS_OK);
  Stream.Buffer.reset();

  const std::vector<uint8_t> Played = this->Played();
  const std::vector<uint8_t> FirstFrame = FrameOf(0);
  const auto First =
      std::search(Played.begin(), Played.end(), FirstFrame.begin(), FirstFrame.end());
  ASSERT_NE(First, Played.end());
  const size_t Start = First - Played.begin();
  // At most a ring's worth was still to play at the stop.
  ASSERT_GE(Played.size() - Start, size_t(Total - RingFrames) * 4);
  for (uint32_t Number = 0; Number < Total - RingFrames; ++Number) {
    const std::vector<uint8_t> Frame = FrameOf(Number);
    if (!std::equal(Frame.begin(), Frame.end(), Played.begin() + Start + Number * 4)) {
      ADD_FAILURE() << "frame " << Number << " is not where it belongs";
      break;
    }
  }
}

TEST_F(DiskSoundTest, ReportsTheBufferLostWhenTheDeviceFails) {
  // Writes to /dev/full fail, and SDL stops a device whose writes fail.
  if (!std::filesystem::exists("/dev/full"))
    GTEST_SKIP() << "no /dev/full";
  TScopedEnv Full("SDL_DISKAUDIOFILE", "/dev/full");
  const TWaveFormatExtensible Cd = MakeFormat(16, 2, 44100);
  ASSERT_EQ(Stream.Open(Cd.Format, 4096 * 4), DS_OK) << LastSoundError();
  IDirectSoundBuffer& Buffer = *Stream.Buffer;
  EXPECT_TRUE(PumpUntil([&] { return (StatusOf(Buffer) & DSBSTATUS_BUFFERLOST) != 0; }));
  EXPECT_EQ(Buffer.Play(DSBPLAY_LOOPING), DSERR_BUFFERLOST);
  void* P = nullptr;
  uint32_t N = 0;
  EXPECT_EQ(Buffer.Lock(0, 4, &P, &N, nullptr, nullptr, 0), DSERR_BUFFERLOST);
  EXPECT_EQ(Buffer.Stop(), DS_OK);
}

} // namespace
