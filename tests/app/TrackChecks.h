#pragma once

// What a ripped track's file must hold in each format, read back with the tools others wrote:
// the lossless formats decode to the track's exact bytes, the lossy ones to its whole sound.
#include "tests/app/RipWindow.h"
#include "tests/audio/encoders/Mp3Frames.h"
#include "tests/audio/encoders/WmaTestSupport.h"
#include "tests/support/Command.h"

#include <cstdio>
#include <functional>

inline void ExpectDecodesToTheTrack(const std::string& Command, int Track) {
  const TCommandResult Decoded = RunCommand(Command);
  EXPECT_EQ(Decoded.Status, 0) << Command;
  const std::vector<uint8_t> Bytes = Environment->TrackBytes(Track);
  EXPECT_TRUE(std::vector<uint8_t>(Decoded.Output.begin(), Decoded.Output.end()) == Bytes)
      << Decoded.Output.size() << " bytes decoded of " << Bytes.size();
}

inline void ExpectFfmpegDecodesExactly(const std::string& File, int Track) {
  ExpectDecodesToTheTrack("ffmpeg -v error -i " + ShellQuoted(File) + " -f s16le -", Track);
}

inline void ExpectFlacDecodesExactly(const std::string& File, int Track) {
  ExpectDecodesToTheTrack(FlacToRawCommand(File), Track);
}

// LAME's 576 samples of encoder delay and the decoder's 529 lead the sound; less than one frame
// of padding follows it.
inline void ExpectMp3Sound(const std::string& File, int Track) {
  const std::vector<int16_t> Source = Environment->TrackSamples(Track);
  const std::vector<int16_t> Decoded = DecodeWithFfmpeg(File);
  const TAlignment Match = Align(Source, Decoded, 2, 3000);
  std::printf("mp3 track %d: lag %zu, SNR %.1f dB\n", Track, Match.Lag, Match.SnrDb);
  EXPECT_EQ(Match.Lag, 1105u);
  EXPECT_GT(Match.SnrDb, 20);
  ASSERT_GE(Decoded.size(), 2 * Match.Lag + Source.size());
  EXPECT_LT(Decoded.size() - 2 * Match.Lag - Source.size(), 2 * 1152u);
}

// Vorbis keeps every sample and nothing more.
inline void ExpectOggSound(const std::string& File, int Track) {
  const TDecodedSound Sound = CompareDecoded(File, Environment->TrackBytes(Track));
  std::printf("ogg track %d: %ld extra frames, SNR %.1f dB\n", Track, Sound.Extra, Sound.SnrDb);
  EXPECT_EQ(Sound.Extra, 0);
  EXPECT_GT(Sound.SnrDb, 15);
}

// The encoder's last frame is padded with silence, and at most one codec frame of 2048 samples
// may follow it.
inline void ExpectWmaSound(const std::string& File, int Track) {
  constexpr long CodecFrame = 2048;
  const std::vector<uint8_t> Source = Environment->TrackBytes(Track);
  const long Frames = static_cast<long>(Source.size() / 4);
  const long Padding = (CodecFrame - Frames % CodecFrame) % CodecFrame;
  const TDecodedSound Sound = CompareDecoded(File, Source);
  std::printf("wma track %d: %ld extra frames, SNR %.1f dB\n", Track, Sound.Extra, Sound.SnrDb);
  EXPECT_GE(Sound.Extra, 0);
  EXPECT_LE(Sound.Extra, Padding + CodecFrame);
  EXPECT_GT(Sound.SnrDb, 30);
}

struct TFormatCase {
  const char* Format;
  const char* Extension;
  std::function<void(const std::string& File, int Track)> Check;
};

inline const TFormatCase FormatCases[] = {
    {"mp3", ".mp3", ExpectMp3Sound},
    {"wma", ".wma", ExpectWmaSound},
    {"wav", ".wav", ExpectFfmpegDecodesExactly},
    {"ape", ".ape", ExpectFfmpegDecodesExactly},
    {"ogg", ".ogg", ExpectOggSound},
    {"flac", ".flac", ExpectFlacDecodesExactly},
};
