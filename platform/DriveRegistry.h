#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// libcdio's handle type (CdIo_t), declared here so that users need not include libcdio.
struct _CdIo;

// The process's CD drives in place of drive letters: the physical drives in libcdio's order,
// then the disc images named under [Images] in <AppDataFolder()>/tavrune/drives.ini (Image1,
// Image2, ...), lettered from D. With neither, the demo disc: $TAVRUNE_DEMO_DISC when set (for
// tests), else <ProgramFolder()>../share/tavrune/demo.cue, when that file exists. The list is
// read again whenever drives.ini (or the demo disc) changes. Every function is thread-safe.
namespace platform {

// What GetDriveTypeA tells of a root: our letters are CD-ROM drives, others have no root.
inline constexpr uint32_t DRIVE_NO_ROOT_DIR = 1;
inline constexpr uint32_t DRIVE_CDROM = 5;

inline constexpr int32_t CDSectorBytes = 2352;

struct TDriveInfo {
  char Letter = 0;
  std::string Name; // for the user: "D: album", "E: HL-DT-ST DVDRAM GH24NSD1"
  std::string Path; // the device or the image file
  bool Virtual = false;
};

struct TTocTrack {
  uint8_t Number = 0;
  int32_t Lsn = 0; // the track's first sector (INDEX 01)
  bool Audio = true;
};

struct TDiscToc {
  uint8_t FirstTrack = 1;
  std::vector<TTocTrack> Tracks; // at least one, in ascending order of sector
  int32_t LeadOut = 0;           // the first sector after the last track
};

struct TCdIoDeleter {
  void operator()(_CdIo* Handle) const;
};
using TCdIoPtr = std::unique_ptr<_CdIo, TCdIoDeleter>;

// The disc in a drive, read through a libcdio handle of its own, so that a rip and the
// user interface's queries do not wait on each other. One thread uses it at a time.
class TDisc {
public:
  struct TState;
  explicit TDisc(std::unique_ptr<TState> State);
  ~TDisc();
  TDisc(const TDisc&) = delete;
  TDisc& operator=(const TDisc&) = delete;

  char Letter() const;
  bool Virtual() const;
  const TDiscToc& Toc() const;
  // For reading a physical drive through paranoia.
  _CdIo* Handle() const;

  // True, and from then on, once the medium is not the one read: another disc, an image file
  // changed or gone, the tray opened (even if closed again), or the drive left the list.
  bool Changed();
  // Reads Count sectors of 2352 bytes from Lsn. False when they are not all before the
  // lead-out, the read fails or the medium changed; the buffer then holds no audio.
  bool ReadAudioSectors(int32_t Lsn, uint32_t Count, void* Buffer);

private:
  std::unique_ptr<TState> FState;
};

std::vector<TDriveInfo> CDDrives();
// The stand-in of GetDriveTypeA for the root "<Letter>:\".
uint32_t GetDriveType(char Letter);
// Null when there is no disc: no such drive, tray open, or an image that does not open.
std::unique_ptr<TDisc> OpenDisc(char Letter);
// Opens (Eject) or closes the tray. A virtual drive's disc is out while its tray is open, in
// this process only. False when there is no such drive or the drive refused.
bool EjectDrive(char Letter, bool Eject);
// Set by the play engine while it plays from the drive.
void SetDrivePlaying(char Letter, bool Playing);
bool DrivePlaying(char Letter);

} // namespace platform
