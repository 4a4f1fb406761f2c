#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Generated CUE/BIN disc images: one BIN file of raw 2352-byte sectors and the CUE sheet that
// names its tracks.
namespace tools {

inline constexpr uint32_t SectorBytes = 2352;
inline constexpr uint32_t SectorsPerSecond = 75;

// One track of a generated disc.
struct TTrackSpec {
  bool Data = false;    // a MODE1/2352 data track (blank sectors) instead of audio
  uint32_t Sectors = 0; // from this track's INDEX 01 to the next track's INDEX 00 (or lead-out)
  // Sectors of INDEX 00 before INDEX 01, stored in the image: digital silence before an audio
  // track, blank MODE1 sectors before a data track. As on a disc, they lie in the range of the
  // track before.
  uint32_t Pregap = 0;
  // Where the audio from INDEX 01 on comes from (ignored for data tracks):
  //   "sine HZ [AMPLITUDE]"  amplitude 0..1 (default 0.5), the right channel a little ahead
  //   "chord SEED"           a few soft chords, the seed choosing key and progression
  //   "silence"
  //   "noise SEED"           white noise at half of full scale
  //   "pattern SEED"         every byte from FillPattern
  //   "wav FILE"             16-bit stereo 44100 Hz PCM, cut or padded with silence to Sectors
  std::string Source = "sine 440";

  bool operator==(const TTrackSpec&) const = default;
};

// Where every track ended up in the image, counted in sectors from the start of the BIN file
// (which is LSN 0 of the disc).
struct TDiscLayout {
  std::string CueFile, BinFile;
  std::vector<uint32_t> Starts; // INDEX 01 of each track
  uint32_t LeadOut = 0;         // sectors in the BIN file
};

// Writes CueFile and a BIN file beside it (same name, ".bin"). Throws std::runtime_error with
// a clear text when a spec is invalid or a file cannot be written; every spec and WAV file is
// checked before either file is made. The disc may hold at most 99 tracks, and its lead-out
// must start by 99:59:74 on the disc, which counts the 2 seconds before track 1: so at most
// 99:57:74 (449849 sectors) of tracks and gaps.
TDiscLayout WriteDiscImage(const std::vector<TTrackSpec>& Tracks, const std::string& CueFile);

// Parses the text form of a disc: one track per line, "#" starts a comment to the end of the
// line, blank lines are skipped:
//   audio SECTORS [pregap=N] SOURCE...
//   data SECTORS [pregap=N]
// SECTORS and N are a count of sectors or a time MM:SS:FF (75 sectors a second). Throws
// std::runtime_error naming the line on a syntax error.
std::vector<TTrackSpec> ParseDiscDescription(std::string_view Text);

// The bytes of "pattern SEED" from byte Offset of the track (counted from INDEX 01) on. Any
// range can be made on its own, so that a test can check any part of a track.
void FillPattern(uint64_t Seed, uint64_t Offset, std::span<uint8_t> Bytes);

} // namespace tools
