#pragma once

// One encoder stream over libmp3lame: the record's settings, chunks in, frames out.

#include "libs/lame_enc/lame_enc.h"

#include <lame/lame.h>

#include <cstdint>
#include <memory>
#include <optional>

namespace lame_enc {

struct TLameCloser {
  void operator()(lame_global_flags* Flags) const { lame_close(Flags); }
};
using TLamePtr = std::unique_ptr<lame_global_flags, TLameCloser>;

class TLameStream {
public:
  // Sets up an encoder from the record; *Result is BE_ERR_SUCCESSFUL or why not.
  static std::unique_ptr<TLameStream> Open(const BE_CONFIG& Config, uint32_t* Result);

  TLameStream(const TLameStream&) = delete;
  TLameStream& operator=(const TLameStream&) = delete;

  uint32_t SamplesPerChunk() const { return ChunkSamples; }
  uint32_t OutputBufferSize() const { return OutputBytes; }

  uint32_t Encode(uint32_t NumSamples, const int16_t* Samples, uint8_t* Output, uint32_t* Produced);
  // Gapless leaves the stream open for more chunks; otherwise it is finished.
  uint32_t Flush(bool Gapless, uint8_t* Output, uint32_t* Produced);
  // The Xing/Info header over the frame reserved at the start of the file.
  uint32_t WriteVbrHeader(const char* FileName) const;

  bool Finished() const { return Done; }

private:
  TLameStream(TLamePtr Flags, int Channels);

  TLamePtr Flags;
  int Channels;
  uint32_t ChunkSamples;
  uint32_t OutputBytes;
  bool Done = false;
  // The first sample of a two-channel frame whose second came in no chunk yet.
  std::optional<int16_t> Pending;
};

} // namespace lame_enc
