#pragma once

#include "audio/core/ACS_Classes.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>

// A time on a disc: 75 frames (sectors of 2352 bytes) per second.
struct TDiscTime {
  uint8_t Minutes = 0;
  uint8_t Seconds = 0;
  uint8_t Frames = 0;
};

// A track's length and kind.
struct TTrackInfo {
  uint8_t Minutes = 0;
  uint8_t Seconds = 0;
  uint8_t Frames = 0;
  uint8_t IsData = 0;
};

struct TDiscPosition {
  int32_t Track = 0; // from 1
  TDiscTime Time;
};

enum TDriveState { drNotReady = 0, drReady = 1, drPlaying = 2, drPaused = 3 };

inline constexpr uint32_t CD_SECTOR_BYTES = 2352;
inline constexpr uint32_t CD_SECTORS_PER_SECOND = 75;

// Sector count of a disc time.
uint32_t DiscTimeSectors(const TDiscTime& Time);
// A sector count as a track length: minutes, seconds within the minute, frames within the second.
TTrackInfo SectorsToTrackInfo(uint32_t Sectors, bool IsData);

// Reads a range of tracks of an audio CD through the ripping library, as 16-bit stereo PCM at
// 44100 Hz, and answers what the window asks about the drives and the disc.
//
// The stream hooks run on the worker of the output pulling from it; every other operation runs
// on the user-interface thread, also while a rip is in progress.
class TCDIn : public TAuInput {
public:
  // Raises "cdrip.dll could not be loaded." when the library is missing.
  explicit TCDIn(TComponent* AOwner);
  ~TCDIn() override;

  int32_t GetBPS() override { return 16; }
  int32_t GetCh() override { return 2; }
  int32_t GetSR() override { return 44100; }
  int32_t GetTotalTime() override;
  int64_t GetTotalSamples() override;

  int32_t DrivesCount();
  int32_t CurrentDrive() const { return FCurrentDrive; }
  // Ignored unless 0 <= Value < DrivesCount.
  void SetCurrentDrive(int32_t Value);
  std::string DriveName();
  TDriveState Status();
  // -1 when the table of contents cannot be read.
  int32_t TracksCount();
  TTrackInfo Tracks(int32_t Track);

  int32_t StartTrack() const;
  void SetStartTrack(int32_t Value);
  int32_t EndTrack() const;
  void SetEndTrack(int32_t Value);

  void Eject();
  void CloseTray();

  static constexpr uint32_t RipBufferSize = 44100 * 4;

protected:
  void InitInternal() override;
  void FlushInternal() override;
  void GetDataInternal(const uint8_t*& Buffer, uint32_t& Bytes) override;

private:
  // The library works on one active drive; it is chosen when the outermost level is taken.
  void AcquireDrive();
  void ReleaseDrive();
  class TDriveLock;

  // The first sector of a position and the first one after the range, from the library's TOC.
  struct TSectorRange {
    int64_t Start = 0;
    int64_t End = 0;
  };
  TSectorRange RangeSectors();
  // The start and end positions, read together.
  std::pair<TDiscPosition, TDiscPosition> Positions() const;
  int64_t RangeBytes();
  void RaiseIfBusy() const;

  // Guards the depth; the worker and the user-interface thread both change it.
  std::mutex FDriveLock;
  int32_t FDriveLockDepth = 0;
  std::atomic<int32_t> FCurrentDrive{0};

  // Guards the range; written on the user-interface thread while idle, read by the worker.
  mutable std::mutex FRangeLock;
  int32_t FStartTrack = 0;
  int32_t FEndTrack = 0;
  TDiscPosition FStartPos;
  TDiscPosition FEndPos;

  // Worker while ripping; read by the user-interface thread for the totals.
  std::atomic<int64_t> FOpenRangeSize{0};
  // Worker only, between Init and Flush.
  int32_t FBufSize = 0;
  std::array<uint8_t, RipBufferSize> RipBuffer{};
};

// Plays tracks of a CD on the drive through the media control interface's "cdaudio" device
// and reads the CD-audio input's volume. Runs on the user-interface thread only.
class TCDPlayer : public TComponent {
public:
  explicit TCDPlayer(TComponent* AOwner);
  ~TCDPlayer() override;

  int32_t DrivesCount() const { return static_cast<int32_t>(FDriveLetters.size()); }
  int32_t CurrentDrive() const { return FCurrentDrive; }
  // Ignored unless 0 <= Value < DrivesCount.
  void SetCurrentDrive(int32_t Value);

  // 0 when the drive is not ready.
  int32_t TracksCount();
  TTrackInfo Tracks(int32_t Track);
  // Plays the track to the start of the next one (or the end of the disc) and returns at once.
  void Play(int32_t Track);
  void Stop();
  TDiscPosition Position();
  TDriveState Status();

  uint16_t LVolume();
  void SetLVolume(uint16_t Value);
  uint16_t RVolume();
  void SetRVolume(uint16_t Value);

  // The nesting of the open bracket: 0 between operations, when the device is closed.
  int32_t OpenDepth() const { return FOpenDepth; }

private:
  void OpenDevice();
  void CloseDevice();
  // Closes the device whatever the nesting, so that an error leaves it closed.
  void ForceCloseDevice();
  TDiscTime TrackStart(int32_t Track);
  void SetTimeFormat(uint32_t Format);
  // A status query; false when the device refuses it.
  bool TryStatus(uint32_t Item, uintptr_t& Result, int32_t Track = 0);
  // The result of a status query; 0 when the query fails.
  uintptr_t QueryStatus(uint32_t Item, int32_t Track = 0);
  // Replaces the 16 bits at Shift of the CD-audio input's volume.
  void SetVolumeBits(uint16_t Value, uint32_t Shift);
  uint16_t VolumeBits(uint32_t Shift);

  int32_t FOpenDepth = 0;
  int32_t FCurrentDrive = 0;
  uint32_t FDeviceId = 0;
  int32_t FAuxDevice = -1;
  std::string FDriveLetters;
};
