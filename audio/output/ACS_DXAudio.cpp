#include "audio/output/ACS_DXAudio.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

using namespace platform;

namespace {

// Polls that may find no space before the next one ends the run.
constexpr int MaxEmptyPolls = 16;
constexpr int DrainStepMs = 100;

struct TChannelMask {
  int32_t Channels;
  uint32_t Mask;
};
constexpr TChannelMask ChannelMasks[] = {{2, 0x3}, {6, 0x3F}, {8, 0xFF}};

// Plain PCM up to two channels of other than 24 bits, else the extensible record.
TWaveFormatExtensible MakeFormat(int32_t Channels, int32_t Rate, int32_t Bits) {
  TWaveFormatExtensible X;
  TWaveFormatEx& F = X.Format;
  if (Channels < 3 && Bits != 24) {
    F.FormatTag = WAVE_FORMAT_PCM;
    F.ExtensionSize = 0;
  } else {
    F.FormatTag = WAVE_FORMAT_EXTENSIBLE;
    F.ExtensionSize = 22;
    X.SubFormat = KSDATAFORMAT_SUBTYPE_PCM;
    for (const TChannelMask& Entry : ChannelMasks)
      if (Entry.Channels == Channels)
        X.ChannelMask = Entry.Mask;
  }
  F.Channels = static_cast<uint16_t>(Channels);
  F.SamplesPerSec = static_cast<uint32_t>(Rate);
  F.BlockAlign = static_cast<uint16_t>((Channels * Bits) >> 3);
  F.AvgBytesPerSec = F.BlockAlign * F.SamplesPerSec;
  F.BitsPerSample = static_cast<uint16_t>(Bits);
  return X;
}

std::string Hex8(HRESULT Value) {
  char Text[9];
  std::snprintf(Text, sizeof(Text), "%08X", static_cast<uint32_t>(Value));
  return Text;
}

void SleepMs(uint32_t Milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(Milliseconds));
}

} // namespace

TDXAudioOut::TDXAudioOut(TComponent* AOwner) : TAuOutput(AOwner) {
  EnumerateSoundDevices(FDevices);
}

void TDXAudioOut::SetFramesInBuffer(uint32_t Value) {
  if (!Running())
    FFramesInBuffer = Value;
}

void TDXAudioOut::Prepare() {
  FReleased = false;
  const int32_t Number = FDeviceNumber;
  if (Number < 0 || static_cast<uint32_t>(Number) >= FDevices.Count)
    throw EAuException("Invalid device number");
  TAuInput& In = *Input();
  In.Init();
  FChannels = In.GetCh();
  FSampleRate = In.GetSR();
  FBits = In.GetBPS();

  FState = {};
  if (OpenSoundDevice(FState, FDevices.Devices[Number].Guid) != DS_OK)
    throw EAuException("Failed to create DirectSound device");
  const auto Size = static_cast<uint32_t>(int64_t(FFramesInBuffer) * (FBits / 8) * FChannels);
  const TWaveFormatExtensible Format = MakeFormat(FChannels, FSampleRate, FBits);
  if (const HRESULT Result = CreateStreamBuffer(FState, Format.Format, Size))
    throw EAuException("Failed to create DirectSound buffer" + Hex8(Result));
  // Only now: the sound layer has refused sizes beyond what it can play.
  FBuffer.assign(Size, 0);
  FSilence = FBits == 8 ? 0x80 : 0;
  FFirstCall = true;
  FEndOfInput = false;
  FReportedUnderruns = 0;
}

bool TDXAudioOut::DoOutput(bool Abort) {
  if (!Running())
    return true;
  if (!Prepared())
    return false;
  TAuInput& In = *Input();
  if (FFirstCall) {
    const uint32_t Read = In.FillBuffer(FBuffer.data(), FState.BufferSize, FEndOfInput);
    WriteStream(FState, FBuffer.data(), Read);
    StartStream(FState);
    FFirstCall = false;
  }
  if (Abort) {
    StopStream(FState);
    return false;
  }
  if (FEndOfInput) {
    Drain();
    StopStream(FState);
    return false;
  }

  const uint32_t Free = WaitForSpace();
  if (Free == 0)
    return true;
  const uint32_t Read =
      In.FillBuffer(FBuffer.data(), std::min(Free, FState.BufferSize), FEndOfInput);
  WriteStream(FState, FBuffer.data(), Read);
  // What the buffer still holds of earlier passes must not play again.
  if (FEndOfInput)
    FillSilence(FState, FSilence);
  if (FState.UnderrunCount != FReportedUnderruns) {
    FReportedUnderruns = FState.UnderrunCount;
    StopStream(FState);
    FillSilence(FState, FSilence);
    if (FOnUnderrun)
      EventHandler()->QueueThreadException(this, FOnUnderrun);
    ResumeStream(FState);
  }
  return true;
}

// 0 once the run is stopped: a window that closes must not wait for a stuck device.
uint32_t TDXAudioOut::WaitForSpace() {
  for (int Polls = 1;; ++Polls) {
    SleepMs(FPollingInterval);
    if (StopRequested())
      return 0;
    uint32_t Free = 0;
    QueryWritableBytes(FState, Free);
    Free -= Free % FState.BlockAlign;
    // The worker makes this the exception text and reports it through OnThreadException.
    if (Polls > MaxEmptyPolls)
      throw EAuException("Audio output error");
    if (Free > 0)
      return Free;
  }
}

// Plays silence for as long as a whole buffer lasts, rounded up to the next step, so that all
// the input still in the buffer is heard before the play stops; a stop ends it at once.
void TDXAudioOut::Drain() {
  const int64_t BytesPerSecond = int64_t(FBits / 8) * FChannels * FSampleRate;
  const int64_t StepsPerSecond = 1000 / DrainStepMs;
  const int64_t Steps =
      (int64_t(FState.BufferSize) * StepsPerSecond + BytesPerSecond - 1) / BytesPerSecond;
  for (int64_t Step = 0; Step < Steps && !StopRequested(); ++Step) {
    SleepMs(DrainStepMs);
    FillSilence(FState, FSilence);
  }
}

void TDXAudioOut::Done() {
  if (!FReleased) {
    CloseSoundDevice(FState);
    FBuffer = {};
  }
  if (TAuInput* In = Input())
    In->Flush();
  FReleased = true;
}
