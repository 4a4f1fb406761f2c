#pragma once

#include "audio/core/ACS_Classes.h"
#include "audio/tags/ACS_Tags.h"
#include "libs/lame_enc/lame_enc.h"

#include <array>
#include <cstdint>
#include <string>
#include <vector>

// One byte each; a stored value outside the list is kept as it is (see BitRateToKbps).
enum TMP3BitRate : uint8_t {
  mbrAuto,
  mbr32,
  mbr40,
  mbr48,
  mbr56,
  mbr64,
  mbr80,
  mbr96,
  mbr112,
  mbr128,
  mbr144,
  mbr160,
  mbr192,
  mbr224,
  mbr256,
  mbr320
};
enum TMP3Mode : uint8_t { mmStereo, mmJointStereo, mmDual, mmMono };
enum TMP3Quality : uint8_t {
  mp3ql0,
  mp3ql1,
  mp3ql2,
  mp3ql3,
  mp3ql4,
  mp3ql5,
  mp3ql6,
  mp3ql7,
  mp3ql8,
  mp3ql9
};

// 0 for mbrAuto, the list's kbps for the others, 128 for any ordinal beyond the list.
uint32_t BitRateToKbps(TMP3BitRate Value);

constexpr size_t Id3v1BlockSize = 128;
// The ID3v1 record every file ends in: "TAG", title, artist, album, a four-digit year (or
// zeros), comment, and genre 255, which players read as no genre.
std::array<uint8_t, Id3v1BlockSize> BuildId3v1Block(const TId3v1Tags& Tags);

// Encodes 16-bit PCM into an MPEG Layer III file through the chunk interface of lame_enc.dll,
// and appends an ID3v1 record. The library is loaded by the constructor and held until the
// destructor.
class TMP3Out : public TAuTaggedFileOut {
public:
  // Raises "lame_enc.dll library could not be loaded." when the library is missing.
  explicit TMP3Out(TComponent* AOwner);
  ~TMP3Out() override;

  TMP3BitRate BitRate() const { return FBitRate; }
  void SetBitRate(TMP3BitRate Value) { FBitRate = Value; }
  TMP3Mode Mode() const { return FMode; }
  void SetMode(TMP3Mode Value) { FMode = Value; }
  // The 32-bit booleans go into the encoder record unchanged: 0 is false, any other true.
  int32_t CRC() const { return FCRC; }
  void SetCRC(int32_t Value) { FCRC = Value; }
  int32_t Copyright() const { return FCopyright; }
  void SetCopyright(int32_t Value) { FCopyright = Value; }
  int32_t Original() const { return FOriginal; }
  void SetOriginal(int32_t Value) { FOriginal = Value; }
  TMP3Quality VBRQuality() const { return FVBRQuality; }
  void SetVBRQuality(TMP3Quality Value) { FVBRQuality = Value; }
  int32_t EnableVBR() const { return FEnableVBR; }
  void SetEnableVBR(int32_t Value) { FEnableVBR = Value; }
  TMP3BitRate AverageBitrate() const { return FAverageBitrate; }
  void SetAverageBitrate(TMP3BitRate Value) { FAverageBitrate = Value; }
  TMP3BitRate MaximumBitrate() const { return FMaximumBitrate; }
  void SetMaximumBitrate(TMP3BitRate Value) { FMaximumBitrate = Value; }
  using TAuTaggedFileOut::Id3v1Tags;
  using TAuTaggedFileOut::SetId3v1Tags;

protected:
  void Prepare() override;
  bool DoOutput(bool Abort) override;
  void Done() override;

private:
  BE_CONFIG MakeConfig() const;
  void Finish();
  void Release();
  void WriteEncoded(uint32_t Produced);
  void WriteAll(const void* Buffer, size_t Count);

  // Set on the user-interface thread between runs, read by Prepare.
  TMP3BitRate FBitRate = mbr128;
  TMP3Mode FMode = mmStereo;
  int32_t FCRC = 0;
  int32_t FCopyright = 0;
  int32_t FOriginal = -1;
  TMP3Quality FVBRQuality = mp3ql0;
  int32_t FEnableVBR = 0;
  TMP3BitRate FAverageBitrate = mbrAuto;
  TMP3BitRate FMaximumBitrate = mbrAuto;

  // Worker only, from Prepare to Done.
  BE_CONFIG FConfig{};
  uint32_t FEncoder = 0;
  bool FEncoderOpen = false;
  bool FInputOpen = false;
  // The file this run writes, for its VBR header.
  std::string FTarget;
  std::vector<int16_t> FInBuffer;
  uint32_t FInBytes = 0;
  std::vector<uint8_t> FOutBuffer;
};
