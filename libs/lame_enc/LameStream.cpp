#include "libs/lame_enc/LameStream.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace lame_enc {

namespace {

// The frame bit rates of MPEG-1 and MPEG-2 together; LAME rounds any other to the nearest.
constexpr std::array<uint32_t, 18> FrameBitrates = {8,  16,  24,  32,  40,  48,  56,  64,  80,
                                                    96, 112, 128, 144, 160, 192, 224, 256, 320};
constexpr std::array<MPEG_mode, 4> Modes = {STEREO, JOINT_STEREO, DUAL_CHANNEL, MONO};
constexpr std::array<vbr_mode, 5> VbrMethods = {vbr_default, vbr_rh, vbr_mtrh, vbr_mtrh, vbr_abr};
// lame_get_version of BE_MPEG1, BE_MPEG2, BE_MPEG25.
constexpr std::array<int, 3> LameVersions = {1, 0, 2};
constexpr uint32_t MaxSampleRate = 192000;
constexpr int MaxQuality = 9;
// lame.h: at least 7200 bytes, and 1.25 bytes per sample of one channel beyond.
constexpr uint64_t FlushBytes = 7200;
// The longest MPEG audio frame is 1441 bytes.
constexpr size_t MaxFrameBytes = 2048;
constexpr size_t Id3v2HeaderBytes = 10;

// lame_init and lame_init_params fill tables shared by every encoder of the process.
std::mutex InitLock;

bool IsFrameBitrate(uint32_t Kbps) {
  return std::find(FrameBitrates.begin(), FrameBitrates.end(), Kbps) != FrameBitrates.end();
}

// The settings the library hands to LAME before lame_init_params.
uint32_t Configure(lame_global_flags* G, const BE_CONFIG& C) {
  if (C.dwSampleRate == 0 || C.dwSampleRate > MaxSampleRate || C.nMode < 0 ||
      static_cast<size_t>(C.nMode) >= Modes.size() || C.nPreset != 0 || C.dwPsyModel != 0 ||
      C.dwEmphasis > 3 || C.dwEmphasis == 2 || C.dwMpegVersion > LameVersions.size())
    return BE_ERR_INVALID_FORMAT_PARAMETERS;
  const MPEG_mode Mode = Modes[static_cast<size_t>(C.nMode)];
  lame_set_in_samplerate(G, static_cast<int>(C.dwSampleRate));
  lame_set_out_samplerate(G, static_cast<int>(C.dwReSampleRate));
  lame_set_num_channels(G, Mode == MONO ? 1 : 2);
  lame_set_mode(G, Mode);
  lame_set_emphasis(G, static_cast<int>(C.dwEmphasis));
  lame_set_extension(G, C.bPrivate != 0);
  lame_set_error_protection(G, C.bCRC != 0);
  lame_set_copyright(G, C.bCopyright != 0);
  lame_set_original(G, C.bOriginal != 0);
  lame_set_bWriteVbrTag(G, C.bWriteVBRHeader != 0);
  lame_set_disable_reservoir(G, C.bNoRes != 0);
  lame_set_strict_ISO(G, C.bStrictIso != 0);
  lame_set_write_id3tag_automatic(G, 0);

  const uint32_t Low = C.nQuality & 0xFFu;
  if ((C.nQuality >> 8) == (~Low & 0xFFu)) {
    if (Low > MaxQuality)
      return BE_ERR_INVALID_FORMAT_PARAMETERS;
    lame_set_quality(G, static_cast<int>(Low));
  }

  if ((C.dwBitrate != 0 && !IsFrameBitrate(C.dwBitrate)) ||
      (C.dwMaxBitrate != 0 && !IsFrameBitrate(C.dwMaxBitrate)))
    return BE_ERR_INVALID_FORMAT_PARAMETERS;
  if (!C.bEnableVBR) {
    lame_set_VBR(G, vbr_off);
    if (C.dwBitrate != 0)
      lame_set_brate(G, static_cast<int>(C.dwBitrate));
    return BE_ERR_SUCCESSFUL;
  }

  if (C.nVbrMethod < 0 || static_cast<size_t>(C.nVbrMethod) >= VbrMethods.size() ||
      (C.dwMaxBitrate != 0 && C.dwBitrate > C.dwMaxBitrate))
    return BE_ERR_INVALID_FORMAT_PARAMETERS;
  const vbr_mode Method = VbrMethods[static_cast<size_t>(C.nVbrMethod)];
  lame_set_VBR(G, Method);
  if (Method == vbr_abr) {
    if (C.dwVbrAbr_bps < FrameBitrates.front() || C.dwVbrAbr_bps > FrameBitrates.back())
      return BE_ERR_INVALID_FORMAT_PARAMETERS;
    lame_set_VBR_mean_bitrate_kbps(G, static_cast<int>(C.dwVbrAbr_bps));
  } else {
    if (C.nVBRQuality < 0 || C.nVBRQuality > MaxQuality)
      return BE_ERR_INVALID_FORMAT_PARAMETERS;
    lame_set_VBR_q(G, C.nVBRQuality);
  }
  if (C.dwBitrate != 0)
    lame_set_VBR_min_bitrate_kbps(G, static_cast<int>(C.dwBitrate));
  if (C.dwMaxBitrate != 0)
    lame_set_VBR_max_bitrate_kbps(G, static_cast<int>(C.dwMaxBitrate));
  return BE_ERR_SUCCESSFUL;
}

// What lame_init_params made of the settings must be what the record asked for: LAME rounds
// a bit rate the output's MPEG version lacks and picks the version from the sample rate.
bool MatchesRecord(const lame_global_flags* G, const BE_CONFIG& C) {
  if (C.dwReSampleRate != 0 &&
      static_cast<uint32_t>(lame_get_out_samplerate(G)) != C.dwReSampleRate)
    return false;
  if (C.dwMpegVersion != BE_MPEG_AUTO && lame_get_version(G) != LameVersions[C.dwMpegVersion - 1])
    return false;
  return C.bEnableVBR || C.dwBitrate == 0 ||
         static_cast<uint32_t>(lame_get_brate(G)) == C.dwBitrate;
}

struct TFileCloser {
  void operator()(std::FILE* File) const { std::fclose(File); }
};
using TFilePtr = std::unique_ptr<std::FILE, TFileCloser>;

// Where the first frame starts: after an ID3v2 tag, with its footer if it has one.
long FirstFrameOffset(std::FILE* File) {
  unsigned char Header[Id3v2HeaderBytes];
  if (std::fread(Header, 1, sizeof Header, File) != sizeof Header ||
      std::memcmp(Header, "ID3", 3) != 0)
    return 0;
  const long Size = (Header[6] & 0x7F) << 21 | (Header[7] & 0x7F) << 14 | (Header[8] & 0x7F) << 7 |
                    (Header[9] & 0x7F);
  const long Footer = (Header[5] & 0x10) ? static_cast<long>(Id3v2HeaderBytes) : 0;
  return static_cast<long>(Id3v2HeaderBytes) + Size + Footer;
}

} // namespace

TLameStream::TLameStream(TLamePtr Flags, int Channels)
    : Flags(std::move(Flags)), Channels(Channels) {
  const lame_global_flags* G = this->Flags.get();
  const uint64_t FrameSamples = static_cast<uint64_t>(lame_get_framesize(G));
  ChunkSamples = static_cast<uint32_t>(FrameSamples * static_cast<uint64_t>(Channels));
  // A chunk of input becomes this many samples per channel after re-sampling.
  const uint64_t In = static_cast<uint64_t>(lame_get_in_samplerate(G));
  const uint64_t Out = static_cast<uint64_t>(lame_get_out_samplerate(G));
  const uint64_t OutSamples = (FrameSamples * std::max(In, Out) + In - 1) / In;
  OutputBytes = static_cast<uint32_t>((OutSamples * 5 + 3) / 4 + FlushBytes);
}

std::unique_ptr<TLameStream> TLameStream::Open(const BE_CONFIG& Config, uint32_t* Result) {
  if (Config.dwConfig != BE_CONFIG_LAME || Config.dwStructVersion != BE_CONFIG_VERSION ||
      Config.dwStructSize != BE_CONFIG_SIZE) {
    *Result = BE_ERR_INVALID_FORMAT;
    return nullptr;
  }
  const std::lock_guard Guard(InitLock);
  TLamePtr Flags(lame_init());
  if (!Flags) {
    *Result = BE_ERR_INTERNAL;
    return nullptr;
  }
  *Result = Configure(Flags.get(), Config);
  if (*Result != BE_ERR_SUCCESSFUL)
    return nullptr;
  if (lame_init_params(Flags.get()) < 0 || !MatchesRecord(Flags.get(), Config)) {
    *Result = BE_ERR_INVALID_FORMAT_PARAMETERS;
    return nullptr;
  }
  const int Channels = lame_get_num_channels(Flags.get());
  return std::unique_ptr<TLameStream>(new TLameStream(std::move(Flags), Channels));
}

uint32_t TLameStream::Encode(uint32_t NumSamples, const int16_t* Samples, uint8_t* Output,
                             uint32_t* Produced) {
  if (Done)
    return BE_ERR_SEQUENCE;
  if (NumSamples > ChunkSamples)
    return BE_ERR_BUFFER_TOO_SMALL;
  lame_global_flags* G = Flags.get();
  uint32_t Written = 0;
  // LAME's declarations take the samples as non-const; it only reads them.
  auto EncodeFrames = [&](const int16_t* From, uint32_t Frames) {
    if (Frames == 0)
      return true;
    short* Pcm = const_cast<short*>(From);
    const int Room = static_cast<int>(OutputBytes - Written);
    const int Bytes =
        Channels == 1
            ? lame_encode_buffer(G, Pcm, Pcm, static_cast<int>(Frames), Output + Written, Room)
            : lame_encode_buffer_interleaved(G, Pcm, static_cast<int>(Frames), Output + Written,
                                             Room);
    if (Bytes < 0)
      return false;
    Written += static_cast<uint32_t>(Bytes);
    return true;
  };

  uint32_t Used = 0;
  if (Pending && NumSamples > 0) {
    const int16_t Frame[2] = {*Pending, Samples[0]};
    if (!EncodeFrames(Frame, 1))
      return BE_ERR_ENCODER;
    Pending.reset();
    Used = 1;
  }
  const uint32_t Channel = static_cast<uint32_t>(Channels);
  const uint32_t Frames = (NumSamples - Used) / Channel;
  if (!EncodeFrames(Samples + Used, Frames))
    return BE_ERR_ENCODER;
  if (Used + Frames * Channel < NumSamples)
    Pending = Samples[NumSamples - 1];
  *Produced = Written;
  return BE_ERR_SUCCESSFUL;
}

uint32_t TLameStream::Flush(bool Gapless, uint8_t* Output, uint32_t* Produced) {
  if (Done)
    return BE_ERR_SEQUENCE;
  const int Room = static_cast<int>(OutputBytes);
  const int Bytes = Gapless ? lame_encode_flush_nogap(Flags.get(), Output, Room)
                            : lame_encode_flush(Flags.get(), Output, Room);
  if (Bytes < 0)
    return BE_ERR_ENCODER;
  // Half a frame at the very end has no partner to come.
  if (!Gapless) {
    Pending.reset();
    Done = true;
  }
  *Produced = static_cast<uint32_t>(Bytes);
  return BE_ERR_SUCCESSFUL;
}

uint32_t TLameStream::WriteVbrHeader(const char* FileName) const {
  if (!Done)
    return BE_ERR_SEQUENCE;
  unsigned char Frame[MaxFrameBytes];
  const size_t Bytes = lame_get_lametag_frame(Flags.get(), Frame, sizeof Frame);
  if (!lame_get_bWriteVbrTag(Flags.get()) || Bytes == 0)
    return BE_ERR_NO_VBR_HEADER;
  if (Bytes > sizeof Frame)
    return BE_ERR_INTERNAL;

  const TFilePtr File(std::fopen(FileName, "r+b"));
  if (!File)
    return BE_ERR_FILE;
  // The reserved frame must be there, or the header would overwrite someone else's bytes.
  const long Offset = FirstFrameOffset(File.get());
  unsigned char Reserved[2];
  if (std::fseek(File.get(), Offset, SEEK_SET) != 0 ||
      std::fread(Reserved, 1, sizeof Reserved, File.get()) != sizeof Reserved ||
      std::memcmp(Reserved, Frame, sizeof Reserved) != 0 ||
      std::fseek(File.get(), 0, SEEK_END) != 0 ||
      std::ftell(File.get()) < Offset + static_cast<long>(Bytes))
    return BE_ERR_FILE;
  if (std::fseek(File.get(), Offset, SEEK_SET) != 0 ||
      std::fwrite(Frame, 1, Bytes, File.get()) != Bytes || std::fflush(File.get()) != 0)
    return BE_ERR_FILE;
  return BE_ERR_SUCCESSFUL;
}

} // namespace lame_enc
