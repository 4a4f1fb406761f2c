#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tools {

// One track of a generated disc.
struct TTrackSpec {
  bool Data = false;    // a MODE1/2352 data track instead of audio
  uint32_t Sectors = 0; // from this track's INDEX 01 to the next track's INDEX 00 (or lead-out)
  uint32_t Pregap = 0;  // sectors of INDEX 00 before INDEX 01, stored in the image
  // Where the audio comes from: "sine HZ [AMPLITUDE]", "chord SEED", "silence",
  // "noise SEED", "pattern SEED" (every byte from a seeded generator), "wav FILE"
  // (16-bit stereo 44100 Hz PCM, cut or padded with silence to the length).
  std::string Source = "sine 440";
};

// Where every track ended up in the image, counted in sectors from the start of the BIN file
// (which is LSN 0 of the disc).
struct TDiscLayout {
  std::string CueFile, BinFile;
  std::vector<uint32_t> Starts; // INDEX 01 of each track
  uint32_t LeadOut = 0;         // sectors in the BIN file
};

// Writes CueFile and a BIN file beside it (same name, ".bin"). Throws std::runtime_error with
// a clear text when a spec is invalid or a file cannot be written.
TDiscLayout WriteDiscImage(const std::vector<TTrackSpec>& Tracks, const std::string& CueFile);

// Parses the text form of a disc: one track per line, "#" starts a comment:
//   audio SECTORS [pregap=N] SOURCE...
//   data SECTORS [pregap=N]
// Throws std::runtime_error naming the line on a syntax error.
std::vector<TTrackSpec> ParseDiscDescription(std::string_view Text);

} // namespace tools
