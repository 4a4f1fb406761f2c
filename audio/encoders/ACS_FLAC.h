#pragma once

#include "audio/core/ACS_Classes.h"
#include "audio/tags/ACS_Tags.h"

#include <FLAC/stream_encoder.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// Finishes and deletes an encoder.
struct TFLACEncoderDelete {
  void operator()(FLAC__StreamEncoder* Encoder) const;
};

// The Vorbis comment metadata block that replaces the encoder's: the vendor "VENDOR=Zivera" and
// one comment for each non-empty value, in the order title, artist, album, date, genre,
// tracknumber. Last sets the last-block bit of the header.
std::vector<uint8_t> BuildCommentBlock(const TVorbisTags& Tags, bool Last);

// Encodes the integer PCM of its input into a native FLAC file through its own write, seek and
// tell callbacks, writing its own comment block in place of the encoder's.
class TFLACOut : public TAuFileOut {
public:
  explicit TFLACOut(TComponent* AOwner);

  bool Verify() const { return FVerify; }
  void SetVerify(bool Value) { FVerify = Value; }
  uint16_t BlockSize() const { return FBlockSize; }
  void SetBlockSize(uint16_t Value) { FBlockSize = Value; }
  int32_t CompressionLevel() const { return FCompressionLevel; }
  // Levels above 8 are stored as 8; a negative level selects the explicit parameters.
  void SetCompressionLevel(int32_t Value) { FCompressionLevel = Value > 8 ? 8 : Value; }
  bool BestModelSearch() const { return FBestModelSearch; }
  void SetBestModelSearch(bool Value);
  bool EnableMidSideStereo() const { return FEnableMidSideStereo; }
  void SetEnableMidSideStereo(bool Value) { FEnableMidSideStereo = Value; }
  bool EnableLooseMidSideStereo() const { return FEnableLooseMidSideStereo; }
  void SetEnableLooseMidSideStereo(bool Value);
  uint16_t MaxLPCOrder() const { return FMaxLPCOrder; }
  void SetMaxLPCOrder(uint16_t Value) { FMaxLPCOrder = Value; }
  // Lowered by Prepare so that it and the input's bits per sample stay within 31.
  uint16_t QLPCoeffPrecision() const { return FQLPCoeffPrecision; }
  void SetQLPCoeffPrecision(uint16_t Value) { FQLPCoeffPrecision = Value; }
  bool QLPCoeffPrecisionSearch() const { return FQLPCoeffPrecisionSearch; }
  void SetQLPCoeffPrecisionSearch(bool Value) { FQLPCoeffPrecisionSearch = Value; }
  uint16_t MinResidualPartitionOrder() const { return FMinResidualPartitionOrder; }
  void SetMinResidualPartitionOrder(uint16_t Value) { FMinResidualPartitionOrder = Value; }
  uint16_t MaxResidualPartitionOrder() const { return FMaxResidualPartitionOrder; }
  void SetMaxResidualPartitionOrder(uint16_t Value) { FMaxResidualPartitionOrder = Value; }
  TVorbisTags* Tags() { return &FTags; }
  void SetTags(const TVorbisTags& Value) { FTags.CopyFrom(&Value); }

protected:
  void Prepare() override;
  bool DoOutput(bool Abort) override;
  void Done() override;

private:
  void SetUpEncoder();
  // The callbacks' work; each raises on failure, and the C callbacks turn that into a status.
  void Write(const FLAC__byte* Buffer, size_t Bytes, uint32_t Samples);
  void Seek(FLAC__uint64 Offset);
  FLAC__uint64 Tell();
  void WriteAll(const uint8_t* Buffer, size_t Bytes);
  // The encoder tells only that a callback failed; the callback's own reason is kept for it.
  void KeepClientError() noexcept;
  [[noreturn]] void RaiseEncoderError(const char* Text) const;

  // Called by the encoder on the worker with the writer as client data; nothing escapes them.
  static FLAC__StreamEncoderWriteStatus FLACWriteCallback(const FLAC__StreamEncoder* Encoder,
                                                          const FLAC__byte Buffer[], size_t Bytes,
                                                          uint32_t Samples, uint32_t Frame,
                                                          void* Writer);
  static FLAC__StreamEncoderSeekStatus FLACSeekCallback(const FLAC__StreamEncoder* Encoder,
                                                        FLAC__uint64 Offset, void* Writer);
  static FLAC__StreamEncoderTellStatus FLACTellCallback(const FLAC__StreamEncoder* Encoder,
                                                        FLAC__uint64* Offset, void* Writer);
  static void FLACMetadataCallback(const FLAC__StreamEncoder* Encoder,
                                   const FLAC__StreamMetadata* Metadata, void* Writer);

  // Set on the user-interface thread between runs (QLPCoeffPrecision also by Prepare).
  bool FVerify = false;
  uint16_t FBlockSize = 4608;
  int32_t FCompressionLevel = -1;
  bool FBestModelSearch = false;
  bool FEnableMidSideStereo = true;
  bool FEnableLooseMidSideStereo = false;
  uint16_t FMaxLPCOrder = 0;
  uint16_t FQLPCoeffPrecision = 0;
  bool FQLPCoeffPrecisionSearch = false;
  uint16_t FMinResidualPartitionOrder = 0;
  uint16_t FMaxResidualPartitionOrder = 0;
  TVorbisTags FTags;

  // Worker only, from Prepare to Done.
  std::unique_ptr<FLAC__StreamEncoder, TFLACEncoderDelete> FEncoder;
  std::vector<uint8_t> FBuffer;
  std::vector<FLAC__int32> FSamples;
  int32_t FChannels = 0;
  int32_t FBitsPerSample = 0;
  bool FEndOfInput = false;
  bool FCommentBlockWritten = false;
  // The first failure of a callback in this run ("File too large").
  std::string FClientError;
};
