#pragma once

// A scripted "cdaudio" device for the media control layer: the test sets what the drive holds
// and reads back what it was told.

#include "platform/Mci.h"

#include <cstdint>
#include <string>
#include <vector>

// Absolute frames of a time: 75 a second.
constexpr uint32_t Frames(uint32_t Minutes, uint32_t Seconds, uint32_t Frame) {
  return (Minutes * 60 + Seconds) * 75 + Frame;
}

struct TScript {
  bool Media = true;
  uint32_t Mode = platform::MCI_MODE_STOP;
  // Track 1 from 00:02:00, track 2 from 04:05:10, track 3 (data) from 06:00:00.
  std::vector<uint32_t> Starts = {Frames(0, 2, 0), Frames(4, 5, 10), Frames(6, 0, 0)};
  std::vector<bool> Audio = {true, true, false};
  uint32_t Length = Frames(7, 30, 5);
  // 1:07 and 30 frames into track 2.
  uint32_t Position = Frames(4, 5, 10) + Frames(1, 7, 30);
  platform::MCIERROR Result = 0; // of play, stop and pause
  std::vector<char> Opened;      // the letter of every device the factory made
  int Closed = 0;
  std::vector<std::string> Calls;
};

class TScriptedDevice : public platform::TCdAudioDevice {
public:
  explicit TScriptedDevice(TScript& Script) : FScript(Script) {}
  ~TScriptedDevice() override { ++FScript.Closed; }
  bool MediaPresent() override { return FScript.Media; }
  uint32_t Mode() override { return FScript.Mode; }
  uint32_t TrackCount() override { return static_cast<uint32_t>(FScript.Starts.size()); }
  // A track out of range throws, which the layer reports as an internal error.
  uint32_t TrackStart(uint32_t Track) override { return FScript.Starts.at(Track - 1); }
  bool TrackIsAudio(uint32_t Track) override { return FScript.Audio.at(Track - 1); }
  uint32_t Length() override { return FScript.Length; }
  uint32_t Position() override { return FScript.Position; }
  platform::MCIERROR Play(uint32_t From, uint32_t To) override {
    FScript.Calls.push_back("play " + std::to_string(From) + " " + std::to_string(To));
    return FScript.Result;
  }
  platform::MCIERROR Stop() override {
    FScript.Calls.push_back("stop");
    return FScript.Result;
  }
  platform::MCIERROR Pause() override {
    FScript.Calls.push_back("pause");
    return FScript.Result;
  }

private:
  TScript& FScript;
};
