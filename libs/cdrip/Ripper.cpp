#include "libs/cdrip/Ripper.h"

#include "libs/cdrip/cdrip.h"

#include <cdio/paranoia/cdda.h>
#include <cdio/paranoia/paranoia.h>

#include <algorithm>
#include <bit>
#include <cstdio>
#include <cstring>

namespace cdrip {
namespace {

// Paranoia hands out samples in the host's order; the chunks are little-endian.
static_assert(std::endian::native == std::endian::little);

constexpr int ParanoiaRetries = 20;

void IgnoreProgress(long, paranoia_cb_mode_t) {}

} // namespace

void TCddaDeleter::operator()(cdrom_drive_s* Drive) const {
  // The libcdio handle belongs to the disc.
  cdio_cddap_close_no_free_cdio(Drive);
}

void TParanoiaDeleter::operator()(cdrom_paranoia_s* Paranoia) const {
  cdio_paranoia_free(Paranoia);
}

int32_t TRipper::CheckRange(const platform::TDiscToc& Toc, int32_t Start, int32_t End) {
  if (Start < 0 || End < Start || End > Toc.LeadOut)
    return CDRIP_ERR_RANGE;
  // Data sectors read as audio would be noise presented as music.
  for (size_t I = 0; I < Toc.Tracks.size(); ++I) {
    const int32_t TrackEnd = I + 1 < Toc.Tracks.size() ? Toc.Tracks[I + 1].Lsn : Toc.LeadOut;
    if (!Toc.Tracks[I].Audio && Toc.Tracks[I].Lsn < End && Start < TrackEnd)
      return CDRIP_ERR_RANGE;
  }
  return CDRIP_OK;
}

TRipper::TRipper(std::unique_ptr<platform::TDisc> Disc, int32_t Start, int32_t End,
                 uint32_t ChunkSectors)
    : FDisc(std::move(Disc)), FNext(Start), FEnd(End), FChunkSectors(ChunkSectors) {}

std::unique_ptr<TRipper> TRipper::Open(std::unique_ptr<platform::TDisc> Disc, int32_t Start,
                                       int32_t End, uint32_t ChunkSectors) {
  auto Ripper = std::make_unique<TRipper>(std::move(Disc), Start, End, ChunkSectors);
  if (Ripper->FDisc->Virtual())
    return Ripper;
  Ripper->FDrive.reset(
      cdio_cddap_identify_cdio(Ripper->FDisc->Handle(), CDDA_MESSAGE_FORGETIT, nullptr));
  if (!Ripper->FDrive || cdio_cddap_open(Ripper->FDrive.get()) != 0)
    return nullptr;
  Ripper->FParanoia.reset(cdio_paranoia_init(Ripper->FDrive.get()));
  if (!Ripper->FParanoia)
    return nullptr;
  cdio_paranoia_modeset(Ripper->FParanoia.get(), PARANOIA_MODE_FULL);
  cdio_paranoia_seek(Ripper->FParanoia.get(), Start, SEEK_SET);
  return Ripper;
}

bool TRipper::ReadParanoia(uint8_t* Buffer, uint32_t Sectors) {
  for (uint32_t I = 0; I < Sectors; ++I) {
    const int16_t* Sector =
        cdio_paranoia_read_limited(FParanoia.get(), IgnoreProgress, ParanoiaRetries);
    if (!Sector)
      return false;
    std::memcpy(Buffer + I * platform::CDSectorBytes, Sector, platform::CDSectorBytes);
  }
  return true;
}

int32_t TRipper::ReadChunk(uint8_t* Buffer, int32_t& Bytes) {
  Bytes = 0;
  if (FFailure != CDRIP_OK || FNext == FEnd)
    return FFailure;
  const uint32_t Sectors = std::min<uint32_t>(FChunkSectors, FEnd - FNext);
  const bool Read = FParanoia ? ReadParanoia(Buffer, Sectors) && !FDisc->Changed()
                              : FDisc->ReadAudioSectors(FNext, Sectors, Buffer);
  if (!Read) {
    FFailure = FDisc->Changed() ? CDRIP_ERR_MEDIUM_CHANGED : CDRIP_ERR_READ;
    return FFailure;
  }
  FNext += static_cast<int32_t>(Sectors);
  Bytes = static_cast<int32_t>(Sectors) * platform::CDSectorBytes;
  return CDRIP_OK;
}

} // namespace cdrip
