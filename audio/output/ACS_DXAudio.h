#pragma once

#include "audio/core/ACS_Classes.h"
#include "audio/output/DSWrapper.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <vector>

using TUnderrunEvent = std::function<void(TComponent* Sender)>;

// Plays its input on a sound device through one looping buffer of FramesInBuffer frames: fills
// it before the play starts, then every PollingInterval refills what the play cursor has freed.
// An underrun stops, silences and restarts the play and is reported through OnUnderrun; after
// the input ends, silence plays until the buffer has drained.
class TDXAudioOut : public TAuOutput {
public:
  // Lists the sound devices once, into the device table.
  explicit TDXAudioOut(TComponent* AOwner);

  int32_t DeviceNumber() const { return FDeviceNumber; }
  // An index into the device table; Prepare checks it.
  void SetDeviceNumber(int32_t Value) { FDeviceNumber = Value; }
  uint32_t FramesInBuffer() const { return FFramesInBuffer; }
  // Ignored while running.
  void SetFramesInBuffer(uint32_t Value);
  // Milliseconds between two looks at the play cursor.
  uint32_t PollingInterval() const { return FPollingInterval; }
  void SetPollingInterval(uint32_t Value) { FPollingInterval = Value; }
  const TUnderrunEvent& OnUnderrun() const { return FOnUnderrun; }
  void SetOnUnderrun(TUnderrunEvent Value) { FOnUnderrun = std::move(Value); }
  const TSoundDevices& DeviceTable() const { return FDevices; }

protected:
  void Prepare() override;
  bool DoOutput(bool Abort) override;
  void Done() override;

private:
  // Waits until the play cursor has freed space; the free bytes, whole frames.
  uint32_t WaitForSpace();
  void Drain();

  // Filled by the constructor, read by the worker.
  TSoundDevices FDevices;
  // Set on the user-interface thread, read by the worker.
  std::atomic<int32_t> FDeviceNumber{0};
  std::atomic<uint32_t> FFramesInBuffer{65536};
  std::atomic<uint32_t> FPollingInterval{200};
  TUnderrunEvent FOnUnderrun;

  // The worker's, for one run.
  TStreamBufferState FState;
  std::vector<uint8_t> FBuffer;
  int32_t FChannels = 0;
  int32_t FSampleRate = 0;
  int32_t FBits = 0;
  uint8_t FSilence = 0;
  bool FFirstCall = false;
  bool FEndOfInput = false;
  uint32_t FReportedUnderruns = 0;
  bool FReleased = true;
};
