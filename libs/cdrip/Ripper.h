#pragma once

#include "platform/DriveRegistry.h"

#include <cstdint>
#include <memory>

struct cdrom_drive_s;
struct cdrom_paranoia_s;

namespace cdrip {

struct TCddaDeleter {
  void operator()(cdrom_drive_s* Drive) const;
};
struct TParanoiaDeleter {
  void operator()(cdrom_paranoia_s* Paranoia) const;
};

// Reads the sectors [Start, End) of one disc, chunk by chunk: a physical drive through
// paranoia (full mode, never skipping, with re-reads), a disc image directly.
class TRipper {
public:
  // CDRIP_OK when [Start, End) lies on audio tracks of the disc, else CDRIP_ERR_RANGE.
  static int32_t CheckRange(const platform::TDiscToc& Toc, int32_t Start, int32_t End);
  // The range must have passed CheckRange. Null when paranoia cannot take the drive.
  static std::unique_ptr<TRipper> Open(std::unique_ptr<platform::TDisc> Disc, int32_t Start,
                                       int32_t End, uint32_t ChunkSectors);

  TRipper(std::unique_ptr<platform::TDisc> Disc, int32_t Start, int32_t End, uint32_t ChunkSectors);
  TRipper(const TRipper&) = delete;
  TRipper& operator=(const TRipper&) = delete;

  // Fills Buffer (ChunkSectors × 2352 bytes) with the next sectors. Bytes is 0 at the end of
  // the range, and 0 with an error result when a read failed; every later chunk fails then too.
  int32_t ReadChunk(uint8_t* Buffer, int32_t& Bytes);

private:
  bool ReadParanoia(uint8_t* Buffer, uint32_t Sectors);

  // The disc goes last: paranoia and the drive use its handle.
  std::unique_ptr<platform::TDisc> FDisc;
  std::unique_ptr<cdrom_drive_s, TCddaDeleter> FDrive;
  std::unique_ptr<cdrom_paranoia_s, TParanoiaDeleter> FParanoia;
  int32_t FNext, FEnd;
  uint32_t FChunkSectors;
  int32_t FFailure = 0; // CDRIP_OK until a read fails
};

} // namespace cdrip
