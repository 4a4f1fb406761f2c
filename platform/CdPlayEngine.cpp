#include "platform/CdPlayEngine.h"

#include "platform/DriveRegistry.h"
#include "platform/Sound.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <vector>

namespace platform {

namespace {

constexpr uint32_t SectorBytes = CDSectorBytes;
// A second of sound, 75 sectors of 16-bit stereo at 44100 Hz.
constexpr uint32_t BufferBytes = 75 * SectorBytes;
// About a quarter of a second.
constexpr uint32_t ChunkSectors = 19;
// Well within the buffer's second, even when the sound device plays faster than real time.
constexpr auto PollInterval = std::chrono::milliseconds(20);

std::unique_ptr<IDirectSoundBuffer> OpenSoundBuffer() {
  std::unique_ptr<IDirectSound> Sound;
  if (DirectSoundCreate(nullptr, Sound) != DS_OK)
    return nullptr;
  TWaveFormatEx Format;
  Format.FormatTag = WAVE_FORMAT_PCM;
  Format.Channels = 2;
  Format.SamplesPerSec = 44100;
  Format.BlockAlign = 4;
  Format.AvgBytesPerSec = 44100 * 4;
  Format.BitsPerSample = 16;
  TDSBufferDesc Desc;
  Desc.Flags = DSBCAPS_GETCURRENTPOSITION2 | DSBCAPS_GLOBALFOCUS;
  Desc.BufferBytes = BufferBytes;
  Desc.Format = &Format;
  std::unique_ptr<IDirectSoundBuffer> Buffer;
  if (Sound->CreateSoundBuffer(Desc, Buffer) != DS_OK)
    return nullptr;
  return Buffer;
}

// One play of the frames [From, To), on a thread of its own with its own disc handle and sound
// buffer. It marks the drive playing until the thread ends: by itself once the last bytes have
// been played, when the disc cannot be read or the sound device fails, or when asked to stop.
class TPlay {
public:
  TPlay(char Letter, std::unique_ptr<TDisc> Disc, std::unique_ptr<IDirectSoundBuffer> Buffer,
        uint32_t From, uint32_t To)
      : FLetter(Letter), FDisc(std::move(Disc)), FBuffer(std::move(Buffer)), FFrom(From),
        FTotal(uint64_t{To - From} * SectorBytes), FChunk(ChunkSectors * SectorBytes),
        FHeard(From) {
    SetDrivePlaying(FLetter, true);
    try {
      FThread = std::thread([this] { Run(); });
    } catch (...) {
      SetDrivePlaying(FLetter, false);
      throw;
    }
  }
  ~TPlay() { Join(); }
  TPlay(const TPlay&) = delete;
  TPlay& operator=(const TPlay&) = delete;

  // Returns once the thread has ended, asking it to stop first.
  void Join() {
    {
      const std::lock_guard Guard(FWakeLock);
      FStopAsked = true;
    }
    FWake.notify_all();
    if (FThread.joinable())
      FThread.join();
  }
  uint32_t Heard() const { return FHeard; }
  bool Finished() const { return FFinished; }

private:
  void Run() {
    bool Going = Fill() && FBuffer->Play(DSBPLAY_LOOPING) == DS_OK;
    while (Going && !WaitForStop()) {
      Follow();
      // Done once the device has taken the last bytes and a period of silence after them.
      Going = FPlayed < FTotal + FLead && Fill();
    }
    FBuffer->Stop();
    FBuffer.reset();
    SetDrivePlaying(FLetter, false);
    FFinished = true;
  }

  // Waits a poll interval; true when asked to stop.
  bool WaitForStop() {
    std::unique_lock Guard(FWakeLock);
    return FWake.wait_for(Guard, PollInterval, [this] { return FStopAsked; });
  }

  // Counts the bytes the play cursor has passed since the last look. The cursor of a lost
  // buffer goes on, so Fill finds out.
  void Follow() {
    uint32_t Cursor = 0, Write = 0;
    if (FBuffer->GetCurrentPosition(&Cursor, &Write) != DS_OK)
      return;
    FPlayed += (Cursor + BufferBytes - FLastCursor) % BufferBytes;
    FLastCursor = Cursor;
    FLead = (Write + BufferBytes - Cursor) % BufferBytes;
    // Held up past the cursor, the thread lost what it had not written: go on from there.
    FWritten = std::max(FWritten, FPlayed);
    FHeard = FFrom + static_cast<uint32_t>(std::min(FPlayed, FTotal) / SectorBytes);
  }

  // Writes from where writing got to up to the play cursor; false when the disc cannot be read
  // or the buffer is lost.
  bool Fill() {
    const auto Free = static_cast<uint32_t>(FPlayed + BufferBytes - FWritten);
    if (Free == 0)
      return true;
    void *First = nullptr, *Second = nullptr;
    uint32_t FirstBytes = 0, SecondBytes = 0;
    if (FBuffer->Lock(static_cast<uint32_t>(FWritten % BufferBytes), Free, &First, &FirstBytes,
                      &Second, &SecondBytes, 0) != DS_OK)
      return false;
    const bool Read = Source(static_cast<uint8_t*>(First), FirstBytes) &&
                      (!Second || Source(static_cast<uint8_t*>(Second), SecondBytes));
    FBuffer->Unlock(First, FirstBytes, Second, SecondBytes);
    return Read;
  }

  // The range's bytes from where writing got to, then silence; on a failed read, silence and
  // false.
  bool Source(uint8_t* To, uint32_t Bytes) {
    while (Bytes > 0) {
      uint32_t Take = Bytes;
      if (FWritten >= FTotal) {
        std::memset(To, 0, Take);
      } else {
        const uint64_t Sector = FWritten / SectorBytes;
        if (Sector < FChunkFirst || Sector >= FChunkFirst + FChunkSectors) {
          FChunkFirst = Sector;
          FChunkSectors = static_cast<uint32_t>(
              std::min<uint64_t>(ChunkSectors, FTotal / SectorBytes - Sector));
          const auto Lsn = static_cast<int32_t>(FFrom - CdAudioFirstFrame + Sector);
          if (!FDisc->ReadAudioSectors(Lsn, FChunkSectors, FChunk.data())) {
            FChunkSectors = 0;
            std::memset(To, 0, Bytes);
            return false;
          }
        }
        const uint64_t At = FWritten - FChunkFirst * SectorBytes;
        Take = static_cast<uint32_t>(std::min<uint64_t>(Bytes, FChunkSectors * SectorBytes - At));
        std::memcpy(To, FChunk.data() + At, Take);
      }
      To += Take;
      Bytes -= Take;
      FWritten += Take;
    }
    return true;
  }

  const char FLetter;
  // The play thread's own.
  std::unique_ptr<TDisc> FDisc;
  std::unique_ptr<IDirectSoundBuffer> FBuffer;
  const uint32_t FFrom;
  const uint64_t FTotal;
  // Bytes of the range written to the buffer and passed by its play cursor.
  uint64_t FWritten = 0, FPlayed = 0;
  uint32_t FLastCursor = 0, FLead = 0;
  std::vector<uint8_t> FChunk;
  uint64_t FChunkFirst = 0;
  uint32_t FChunkSectors = 0;
  // Written by the play thread, read by the engine.
  std::atomic<uint32_t> FHeard;
  std::atomic<bool> FFinished{false};
  // Guarded by FWakeLock.
  std::mutex FWakeLock;
  std::condition_variable FWake;
  bool FStopAsked = false;
  std::thread FThread;
};

void StopEnginesAtExit();

// A drive's engine: the disc of the last look, which the queries answer for, and the play under
// way. Any thread may call it; each call takes FLock, which the play thread never takes.
class TCdPlayEngine {
public:
  explicit TCdPlayEngine(char Letter) : FLetter(Letter) {}
  TCdPlayEngine(const TCdPlayEngine&) = delete;
  TCdPlayEngine& operator=(const TCdPlayEngine&) = delete;

  bool MediaPresent() {
    const std::lock_guard Guard(FLock);
    if (FDisc && !FDisc->Changed())
      return true;
    // Another disc, or none: what played from the last one is over.
    FPlay.reset();
    FState = TState::Stopped;
    FDisc = OpenDisc(FLetter);
    FPosition = FDisc ? FDisc->Toc().Tracks.front().Lsn + CdAudioFirstFrame : 0;
    return FDisc != nullptr;
  }

  uint32_t Mode() {
    const std::lock_guard Guard(FLock);
    if (!FDisc)
      return MCI_MODE_NOT_READY;
    Reap();
    switch (FState) {
    case TState::Playing:
      return MCI_MODE_PLAY;
    case TState::Paused:
      return MCI_MODE_PAUSE;
    default:
      return MCI_MODE_STOP;
    }
  }

  uint32_t TrackCount() {
    const std::lock_guard Guard(FLock);
    return FDisc ? static_cast<uint32_t>(FDisc->Toc().Tracks.size()) : 0;
  }

  uint32_t TrackStart(uint32_t Track) {
    const std::lock_guard Guard(FLock);
    const TTocTrack* Found = TrackOf(Track);
    return Found ? Found->Lsn + CdAudioFirstFrame : 0;
  }

  bool TrackIsAudio(uint32_t Track) {
    const std::lock_guard Guard(FLock);
    const TTocTrack* Found = TrackOf(Track);
    return Found && Found->Audio;
  }

  uint32_t Length() {
    const std::lock_guard Guard(FLock);
    return FDisc ? FDisc->Toc().LeadOut + CdAudioFirstFrame : 0;
  }

  uint32_t Position() {
    const std::lock_guard Guard(FLock);
    Reap();
    return FPlay ? FPlay->Heard() : FPosition;
  }

  MCIERROR Play(uint32_t From, uint32_t To) {
    const std::lock_guard Guard(FLock);
    if (!FDisc)
      return MCIERR_DEVICE_NOT_READY;
    EndPlay();
    FState = TState::Stopped;
    FPosition = From;
    if (From >= To)
      return 0;
    // The play thread reads through a handle of its own, so that queries never wait on a read.
    std::unique_ptr<TDisc> Disc = OpenDisc(FLetter);
    if (!Disc)
      return MCIERR_DEVICE_NOT_READY;
    std::unique_ptr<IDirectSoundBuffer> Buffer = OpenSoundBuffer();
    if (!Buffer)
      return MCIERR_HARDWARE;
    StopEnginesAtExit();
    FPlay = std::make_unique<TPlay>(FLetter, std::move(Disc), std::move(Buffer), From, To);
    FState = TState::Playing;
    return 0;
  }

  MCIERROR Stop() {
    const std::lock_guard Guard(FLock);
    EndPlay();
    FState = TState::Stopped;
    return 0;
  }

  MCIERROR Pause() {
    const std::lock_guard Guard(FLock);
    Reap();
    if (FState == TState::Playing) {
      EndPlay();
      FState = TState::Paused;
    }
    return 0;
  }

private:
  enum class TState { Stopped, Playing, Paused };

  // Under FLock.
  const TTocTrack* TrackOf(uint32_t Track) const {
    if (!FDisc || Track < 1 || Track > FDisc->Toc().Tracks.size())
      return nullptr;
    return &FDisc->Toc().Tracks[Track - 1];
  }

  // Under FLock: ends the play and keeps where it got to.
  void EndPlay() {
    if (!FPlay)
      return;
    FPlay->Join();
    FPosition = FPlay->Heard();
    FPlay.reset();
  }

  // Under FLock: a play that ended by itself leaves the drive stopped.
  void Reap() {
    if (FPlay && FPlay->Finished()) {
      EndPlay();
      FState = TState::Stopped;
    }
  }

  const char FLetter;
  std::mutex FLock;
  // Guarded by FLock. FDisc is the disc of the last look, for the queries.
  std::unique_ptr<TDisc> FDisc;
  TState FState = TState::Stopped;
  uint32_t FPosition = 0;
  std::unique_ptr<TPlay> FPlay;
};

struct TEngines {
  std::mutex Lock;
  // Guarded by Lock.
  std::map<char, std::unique_ptr<TCdPlayEngine>> ByLetter;
};

// Never destroyed, so that a device closed at process end still finds its engine.
TEngines& Engines() {
  static TEngines* const Instance = new TEngines;
  return *Instance;
}

TCdPlayEngine& EngineOf(char Letter) {
  TEngines& Engines = platform::Engines();
  const std::lock_guard Guard(Engines.Lock);
  std::unique_ptr<TCdPlayEngine>& Engine = Engines.ByLetter[Letter];
  if (!Engine)
    Engine = std::make_unique<TCdPlayEngine>(Letter);
  return *Engine;
}

// Stops every engine at process end, joining its thread.
struct TStopEnginesAtExit {
  TStopEnginesAtExit() = default;
  ~TStopEnginesAtExit() {
    TEngines& Engines = platform::Engines();
    const std::lock_guard Guard(Engines.Lock);
    for (const auto& [Letter, Engine] : Engines.ByLetter)
      Engine->Stop();
  }
  TStopEnginesAtExit(const TStopEnginesAtExit&) = delete;
  TStopEnginesAtExit& operator=(const TStopEnginesAtExit&) = delete;
};

// Called before the first play thread starts, once the drive registry and the sound layer have
// made what they keep, so that the stopper is destroyed before them: a play thread still uses
// both as it stops.
void StopEnginesAtExit() {
  static const TStopEnginesAtExit Stopper;
}

class TEngineDevice final : public TCdAudioDevice {
public:
  explicit TEngineDevice(TCdPlayEngine& Engine) : FEngine(Engine) {}
  bool MediaPresent() override { return FEngine.MediaPresent(); }
  uint32_t Mode() override { return FEngine.Mode(); }
  uint32_t TrackCount() override { return FEngine.TrackCount(); }
  uint32_t TrackStart(uint32_t Track) override { return FEngine.TrackStart(Track); }
  bool TrackIsAudio(uint32_t Track) override { return FEngine.TrackIsAudio(Track); }
  uint32_t Length() override { return FEngine.Length(); }
  uint32_t Position() override { return FEngine.Position(); }
  MCIERROR Play(uint32_t From, uint32_t To) override { return FEngine.Play(From, To); }
  MCIERROR Stop() override { return FEngine.Stop(); }
  MCIERROR Pause() override { return FEngine.Pause(); }

private:
  TCdPlayEngine& FEngine;
};

} // namespace

std::unique_ptr<TCdAudioDevice> OpenCdPlayDevice(char Letter) {
  return std::make_unique<TEngineDevice>(EngineOf(Letter));
}

} // namespace platform
