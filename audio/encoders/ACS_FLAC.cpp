#include "audio/encoders/ACS_FLAC.h"

#include "audio/encoders/FLAC.h"
#include "runtime/Rounding.h"
#include "runtime/Text.h"

#include <cerrno>

namespace {

constexpr char Vendor[] = "VENDOR=Zivera";
// Frames read per DoOutput when the encoder picks the block size itself (BlockSize 0).
constexpr uint32_t DefaultReadFrames = 4608;

void PutLittle32(std::vector<uint8_t>& Out, uint32_t Value) {
  for (int Shift = 0; Shift < 32; Shift += 8)
    Out.push_back(static_cast<uint8_t>(Value >> Shift));
}

FLAC__bool AsBool(bool Value) {
  return Value ? -1 : 0;
}

} // namespace

void TFLACEncoderDelete::operator()(FLAC__StreamEncoder* Encoder) const {
  FLAC().FLAC__stream_encoder_finish(Encoder);
  FLAC().FLAC__stream_encoder_delete(Encoder);
}

std::vector<uint8_t> BuildCommentBlock(const TVorbisTags& Tags, bool Last) {
  const std::pair<const char16_t*, std::u16string> Fields[] = {
      {u"title=", Tags.Title()}, {u"artist=", Tags.Artist()}, {u"album=", Tags.Album()},
      {u"date=", Tags.Date()},   {u"genre=", Tags.Genre()},   {u"tracknumber=", Tags.Track()}};
  std::vector<std::string> Comments;
  for (const auto& [Prefix, Value] : Fields)
    if (!Value.empty())
      Comments.push_back(Utf16ToUtf8(Prefix + Value));
  const uint32_t VendorLength = sizeof(Vendor) - 1;
  uint32_t Length = 4 + VendorLength + 4;
  for (const std::string& Comment : Comments)
    Length += 4 + static_cast<uint32_t>(Comment.size());
  std::vector<uint8_t> Block;
  Block.reserve(Length + 4);
  Block.push_back(Last ? 0x84 : 0x04);
  Block.push_back(static_cast<uint8_t>(Length >> 16));
  Block.push_back(static_cast<uint8_t>(Length >> 8));
  Block.push_back(static_cast<uint8_t>(Length));
  PutLittle32(Block, VendorLength);
  Block.insert(Block.end(), Vendor, Vendor + VendorLength);
  PutLittle32(Block, static_cast<uint32_t>(Comments.size()));
  for (const std::string& Comment : Comments) {
    PutLittle32(Block, static_cast<uint32_t>(Comment.size()));
    Block.insert(Block.end(), Comment.begin(), Comment.end());
  }
  return Block;
}

TFLACOut::TFLACOut(TComponent* AOwner) : TAuFileOut(AOwner) {}

void TFLACOut::SetBestModelSearch(bool Value) {
  if (Value) {
    FEnableMidSideStereo = true;
    FEnableLooseMidSideStereo = false;
  }
  FBestModelSearch = Value;
}

void TFLACOut::SetEnableLooseMidSideStereo(bool Value) {
  FEnableLooseMidSideStereo = Value;
  if (Value)
    FEnableMidSideStereo = true;
}

void TFLACOut::Prepare() {
  LoadFLACLibrary();
  RequireFLACLibrary();
  if (FWideFileName.empty())
    throw EAuException("File name is not assigned.");
  FStream = std::make_unique<TAuFileStream>(FWideFileName, TAuFileStream::fmCreate);
  FEndOfInput = false;
  FCommentBlockWritten = false;
  FClientError.clear();
  FEncoder.reset(FLAC().FLAC__stream_encoder_new());
  if (!FEncoder)
    throw EAuException("Failed to initialize FLAC encoder.");
  Input()->Init();
  FChannels = Input()->GetCh();
  FBitsPerSample = Input()->GetBPS();
  // Other widths are not converted; reading them as one of these would corrupt the audio.
  const bool KnownWidth =
      FBitsPerSample == 8 || FBitsPerSample == 16 || FBitsPerSample == 24 || FBitsPerSample == 32;
  if (!KnownWidth || FChannels < 1)
    throw EAuException("The input's sample format cannot be encoded.");
  SetUpEncoder();
  if (FLAC().FLAC__stream_encoder_init_stream(FEncoder.get(), FLACWriteCallback, FLACSeekCallback,
                                              FLACTellCallback, FLACMetadataCallback,
                                              this) != FLAC__STREAM_ENCODER_INIT_STATUS_OK) {
    Input()->Flush();
    RaiseEncoderError("Failed to initialize FLAC encoder.");
  }
  const uint32_t Frames = FBlockSize != 0 ? FBlockSize : DefaultReadFrames;
  FBuffer.resize(static_cast<size_t>(FBitsPerSample / 8) * Frames * FChannels);
  FSamples.resize(static_cast<size_t>(Frames) * FChannels);
}

void TFLACOut::SetUpEncoder() {
  const auto& Lib = FLAC();
  FLAC__StreamEncoder* Encoder = FEncoder.get();
  Lib.FLAC__stream_encoder_set_verify(Encoder, AsBool(FVerify));
  Lib.FLAC__stream_encoder_set_channels(Encoder, static_cast<uint32_t>(FChannels));
  Lib.FLAC__stream_encoder_set_bits_per_sample(Encoder, static_cast<uint32_t>(FBitsPerSample));
  Lib.FLAC__stream_encoder_set_sample_rate(Encoder, static_cast<uint32_t>(Input()->GetSR()));
  if (FChannels == 2) {
    Lib.FLAC__stream_encoder_set_do_mid_side_stereo(Encoder, AsBool(FEnableMidSideStereo));
    Lib.FLAC__stream_encoder_set_loose_mid_side_stereo(Encoder, AsBool(FEnableLooseMidSideStereo));
  }
  Lib.FLAC__stream_encoder_set_blocksize(Encoder, FBlockSize);
  if (FCompressionLevel >= 0) {
    Lib.FLAC__stream_encoder_set_compression_level(Encoder,
                                                   static_cast<uint32_t>(FCompressionLevel));
  } else {
    Lib.FLAC__stream_encoder_set_max_lpc_order(Encoder, FMaxLPCOrder);
    // At 32 bits the room left is none, not a wrapped-around precision.
    if (FBitsPerSample + FQLPCoeffPrecision > 31)
      FQLPCoeffPrecision = static_cast<uint16_t>(FBitsPerSample < 31 ? 31 - FBitsPerSample : 0);
    Lib.FLAC__stream_encoder_set_qlp_coeff_precision(Encoder, FQLPCoeffPrecision);
    Lib.FLAC__stream_encoder_set_do_qlp_coeff_prec_search(Encoder,
                                                          AsBool(FQLPCoeffPrecisionSearch));
    Lib.FLAC__stream_encoder_set_min_residual_partition_order(Encoder, FMinResidualPartitionOrder);
    Lib.FLAC__stream_encoder_set_max_residual_partition_order(Encoder, FMaxResidualPartitionOrder);
    Lib.FLAC__stream_encoder_set_do_exhaustive_model_search(Encoder, AsBool(FBestModelSearch));
  }
  const int64_t Size = Input()->Size();
  if (Size > 0) {
    const long double Estimate =
        static_cast<long double>(Size) / (FBitsPerSample / 8) / static_cast<long double>(FChannels);
    Lib.FLAC__stream_encoder_set_total_samples_estimate(
        Encoder, static_cast<FLAC__uint64>(RoundHalfEven(Estimate)));
  }
}

bool TFLACOut::DoOutput(bool Abort) {
  if (!Prepared())
    return true;
  if (Abort || FEndOfInput)
    return false;
  const uint32_t Bytes =
      Input()->FillBuffer(FBuffer.data(), static_cast<uint32_t>(FBuffer.size()), FEndOfInput);
  if (Bytes == 0)
    return false;
  const uint32_t Count = Bytes * 8 / static_cast<uint32_t>(FBitsPerSample);
  const uint8_t* Data = FBuffer.data();
  FLAC__int32* Out = FSamples.data();
  switch (FBitsPerSample) {
  case 8:
    for (uint32_t I = 0; I < Count; ++I)
      Out[I] = Data[I] - 128;
    break;
  case 16:
    for (uint32_t I = 0; I < Count; ++I)
      Out[I] = static_cast<int16_t>(Data[2 * I] | Data[2 * I + 1] << 8);
    break;
  case 24:
    for (uint32_t I = 0; I < Count; ++I) {
      const uint8_t* S = Data + 3 * I;
      Out[I] = static_cast<int32_t>(static_cast<uint32_t>(S[0] | S[1] << 8 | S[2] << 16) << 8) >> 8;
    }
    break;
  default:
    for (uint32_t I = 0; I < Count; ++I) {
      const uint8_t* S = Data + 4 * I;
      Out[I] =
          static_cast<int32_t>(S[0] | S[1] << 8 | S[2] << 16 | static_cast<uint32_t>(S[3]) << 24);
    }
    break;
  }
  if (!FLAC().FLAC__stream_encoder_process_interleaved(FEncoder.get(), Out,
                                                       Count / static_cast<uint32_t>(FChannels)))
    RaiseEncoderError("Failed to encode data.");
  return true;
}

void TFLACOut::Done() {
  // Finishing writes the last frame and rewrites STREAMINFO, either of which a full disk can
  // refuse.
  const bool Finished = !FEncoder || FLAC().FLAC__stream_encoder_finish(FEncoder.get());
  FEncoder.reset();
  FBuffer = {};
  FSamples = {};
  FStream.reset();
  if (TAuInput* Source = Input())
    Source->Flush();
  if (!Finished)
    RaiseEncoderError("Failed to finish the FLAC file.");
}

void TFLACOut::RaiseEncoderError(const char* Text) const {
  throw EAuException(FClientError.empty() ? Text : FClientError);
}

void TFLACOut::KeepClientError() noexcept {
  try {
    if (FClientError.empty())
      FClientError = ExceptionMessage(std::current_exception());
  } catch (...) {
    // Without memory for the text the encoder's own failure still fails the run.
  }
}

void TFLACOut::Write(const FLAC__byte* Buffer, size_t Bytes, uint32_t Samples) {
  // Only a metadata block (no samples) of type 4 is the encoder's comment block.
  if (!FCommentBlockWritten && Samples == 0 && Bytes >= 4 && (Buffer[0] & 0x7F) == 4) {
    FCommentBlockWritten = true;
    const std::vector<uint8_t> Block = BuildCommentBlock(FTags, (Buffer[0] & 0x80) != 0);
    WriteAll(Block.data(), Block.size());
    return;
  }
  WriteAll(Buffer, Bytes);
}

void TFLACOut::WriteAll(const uint8_t* Buffer, size_t Bytes) {
  if (FStream->Write(Buffer, Bytes) != static_cast<int64_t>(Bytes))
    throw EAuException(platform::SysErrorMessage(errno));
}

void TFLACOut::Seek(FLAC__uint64 Offset) {
  const auto Target = static_cast<int64_t>(Offset);
  if (FStream->Seek(Target, platform::TSeekOrigin::Begin) != Target)
    throw EAuException(platform::SysErrorMessage(errno));
}

FLAC__uint64 TFLACOut::Tell() {
  const int64_t Position = FStream->Position();
  if (Position < 0)
    throw EAuException(platform::SysErrorMessage(errno));
  return static_cast<FLAC__uint64>(Position);
}

FLAC__StreamEncoderWriteStatus TFLACOut::FLACWriteCallback(const FLAC__StreamEncoder*,
                                                           const FLAC__byte Buffer[], size_t Bytes,
                                                           uint32_t Samples, uint32_t,
                                                           void* Writer) {
  try {
    static_cast<TFLACOut*>(Writer)->Write(Buffer, Bytes, Samples);
    return FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
  } catch (...) {
    static_cast<TFLACOut*>(Writer)->KeepClientError();
    return FLAC__STREAM_ENCODER_WRITE_STATUS_FATAL_ERROR;
  }
}

FLAC__StreamEncoderSeekStatus TFLACOut::FLACSeekCallback(const FLAC__StreamEncoder*,
                                                         FLAC__uint64 Offset, void* Writer) {
  try {
    static_cast<TFLACOut*>(Writer)->Seek(Offset);
    return FLAC__STREAM_ENCODER_SEEK_STATUS_OK;
  } catch (...) {
    static_cast<TFLACOut*>(Writer)->KeepClientError();
    return FLAC__STREAM_ENCODER_SEEK_STATUS_ERROR;
  }
}

FLAC__StreamEncoderTellStatus TFLACOut::FLACTellCallback(const FLAC__StreamEncoder*,
                                                         FLAC__uint64* Offset, void* Writer) {
  try {
    *Offset = static_cast<TFLACOut*>(Writer)->Tell();
    return FLAC__STREAM_ENCODER_TELL_STATUS_OK;
  } catch (...) {
    static_cast<TFLACOut*>(Writer)->KeepClientError();
    return FLAC__STREAM_ENCODER_TELL_STATUS_ERROR;
  }
}

void TFLACOut::FLACMetadataCallback(const FLAC__StreamEncoder*, const FLAC__StreamMetadata*,
                                    void*) {}
