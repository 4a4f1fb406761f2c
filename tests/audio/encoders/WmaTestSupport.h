#pragma once

// What the WMA tests share: reading a file or a stream back with ffprobe and ffmpeg, and
// comparing the decoded sound with its source.

#include "tests/audio/encoders/EncoderTestSupport.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <map>
#include <sstream>
#include <string>
#include <vector>

// The "key=value" lines of ffprobe's answer for Entries ("stream=codec_name:format_tags").
inline std::map<std::string, std::string> ProbeEntries(const std::string& Input,
                                                       const std::string& Entries) {
  std::map<std::string, std::string> Values;
  std::istringstream Lines(RunCommand("ffprobe -v error -show_entries " + Entries +
                                      " -of default=nw=1 '" + Input + "' 2>&1")
                               .Output);
  for (std::string Line; std::getline(Lines, Line);)
    if (const size_t Equals = Line.find('='); Equals != std::string::npos)
      Values[Line.substr(0, Equals)] = Line.substr(Equals + 1);
  return Values;
}

// How the decoded sound of a file compares with the 16-bit stereo source it was made from,
// sample for sample from the start.
struct TDecodedSound {
  // Decoded frames beyond the source's; negative when some are missing.
  long Extra = 0;
  // Signal-to-noise ratio of the whole source and of its last 1000 frames, in dB.
  double SnrDb = 0;
  double TailSnrDb = 0;
};

inline TDecodedSound CompareDecoded(const std::string& File, const std::vector<uint8_t>& Source) {
  const std::string Raw = RunCommand("ffmpeg -v error -i '" + File + "' -f s16le -ac 2 -").Output;
  std::vector<int16_t> Decoded(Raw.size() / 2), Pcm(Source.size() / 2);
  std::memcpy(Decoded.data(), Raw.data(), Decoded.size() * 2);
  std::memcpy(Pcm.data(), Source.data(), Pcm.size() * 2);
  // A sample the decoder lacks counts as silence.
  const auto Snr = [&](size_t First) {
    double Signal = 0, Noise = 0;
    for (size_t I = First; I < Pcm.size(); ++I) {
      const double Wanted = Pcm[I];
      const double Error = (I < Decoded.size() ? Decoded[I] : 0) - Wanted;
      Signal += Wanted * Wanted;
      Noise += Error * Error;
    }
    return 10 * std::log10(std::max(Signal, 1.0) / std::max(Noise, 1.0));
  };
  TDecodedSound Sound;
  Sound.Extra = (static_cast<long>(Decoded.size()) - static_cast<long>(Pcm.size())) / 2;
  Sound.SnrDb = Snr(0);
  Sound.TailSnrDb = Snr(Pcm.size() > 2000 ? Pcm.size() - 2000 : 0);
  return Sound;
}
