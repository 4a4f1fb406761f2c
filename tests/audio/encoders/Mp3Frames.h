#pragma once

// What the MP3 writer's tests read from the files it makes: the MPEG audio frame headers, the
// Xing/Info header of the first frame, and the PCM that ffmpeg decodes.

#include "tests/audio/encoders/EncoderTestSupport.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

struct TMp3Frame {
  size_t Offset = 0;
  size_t Size = 0;
  // 1 for MPEG-1; Layer 3 for Layer III.
  int Version = 0;
  int Layer = 0;
  uint32_t Kbps = 0;
  uint32_t Rate = 0;
  // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono.
  int Mode = 0;
  bool Crc = false;
  bool Original = false;
};

// The MPEG-1 Layer III frames from the start of Bytes up to End; stops at the first bytes that
// are not a frame header of that kind.
inline std::vector<TMp3Frame> Mp3Frames(const std::vector<uint8_t>& Bytes, size_t End) {
  static const uint32_t Kbps[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                    112, 128, 160, 192, 224, 256, 320, 0};
  static const uint32_t Rates[4] = {44100, 48000, 32000, 0};
  std::vector<TMp3Frame> Frames;
  size_t At = 0;
  while (At + 4 <= End) {
    const uint8_t* H = Bytes.data() + At;
    if (H[0] != 0xFF || (H[1] & 0xE0) != 0xE0 || ((H[1] >> 3) & 3) != 3 || ((H[1] >> 1) & 3) != 1)
      break;
    TMp3Frame Frame;
    Frame.Offset = At;
    Frame.Version = 1;
    Frame.Layer = 3;
    Frame.Crc = (H[1] & 1) == 0;
    Frame.Kbps = Kbps[H[2] >> 4];
    Frame.Rate = Rates[(H[2] >> 2) & 3];
    Frame.Mode = H[3] >> 6;
    Frame.Original = (H[3] & 0x04) != 0;
    if (Frame.Kbps == 0 || Frame.Rate == 0)
      break;
    Frame.Size = 144000 * Frame.Kbps / Frame.Rate + ((H[2] >> 1) & 1);
    Frames.push_back(Frame);
    At += Frame.Size;
  }
  return Frames;
}

// The frame count of the Xing or Info header in the first frame, if it has one.
inline std::optional<uint32_t> XingFrameCount(const std::vector<uint8_t>& Bytes,
                                              const TMp3Frame& First) {
  const size_t At = First.Offset + 4 + (First.Mode == 3 ? 17 : 32);
  if (At + 12 > Bytes.size())
    return std::nullopt;
  if (std::memcmp(&Bytes[At], "Xing", 4) != 0 && std::memcmp(&Bytes[At], "Info", 4) != 0)
    return std::nullopt;
  if ((Bytes[At + 7] & 1) == 0)
    return std::nullopt;
  return static_cast<uint32_t>(Bytes[At + 8] << 24 | Bytes[At + 9] << 16 | Bytes[At + 10] << 8 |
                               Bytes[At + 11]);
}

// The file decoded by ffmpeg into 16-bit samples of its own channel count.
inline std::vector<int16_t> DecodeWithFfmpeg(const std::string& File) {
  const TCommandResult Result =
      RunCommand("ffmpeg -v error -i '" + File + "' -f s16le -acodec pcm_s16le - 2>/dev/null");
  std::vector<int16_t> Samples(Result.Output.size() / 2);
  std::memcpy(Samples.data(), Result.Output.data(), Samples.size() * 2);
  return Samples;
}

struct TAlignment {
  size_t Lag = 0; // in sample frames
  double SnrDb = 0;
};

// The lag (up to MaxLag frames) at which Decoded matches Source best over its first second,
// and the signal-to-noise ratio over all of Source at that lag.
inline TAlignment Align(const std::vector<int16_t>& Source, const std::vector<int16_t>& Decoded,
                        size_t Channels, size_t MaxLag) {
  const size_t Frames = Source.size() / Channels;
  const size_t Window = std::min<size_t>(Frames, 44100) * Channels;
  TAlignment Best;
  double BestError = -1;
  for (size_t Lag = 0; Lag <= MaxLag; ++Lag) {
    const size_t Shift = Lag * Channels;
    if (Shift + Window > Decoded.size())
      break;
    double Error = 0;
    for (size_t I = 0; I < Window; ++I) {
      const double D = double(Decoded[Shift + I]) - Source[I];
      Error += D * D;
    }
    if (BestError < 0 || Error < BestError) {
      BestError = Error;
      Best.Lag = Lag;
    }
  }
  const size_t Shift = Best.Lag * Channels;
  double Signal = 0;
  double Noise = 0;
  for (size_t I = 0; I < Source.size() && Shift + I < Decoded.size(); ++I) {
    Signal += double(Source[I]) * Source[I];
    const double D = double(Decoded[Shift + I]) - Source[I];
    Noise += D * D;
  }
  Best.SnrDb = 10 * std::log10(Signal / std::max(Noise, 1.0));
  return Best;
}
