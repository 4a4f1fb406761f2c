#include "audio/encoders/ACS_Vorbis.h"

#include "audio/encoders/Codec.h"
#include "audio/encoders/VorbisEnc.h"
#include "audio/encoders/VorbisFile.h"
#include "audio/encoders/ogg.h"
#include "runtime/Text.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <exception>
#include <filesystem>
#include <set>
#include <system_error>

namespace {

// At most the bytes taken from the input per DoOutput, and the samples per channel asked of the
// analysis buffer; the buffer always has room for one read.
constexpr uint32_t ReadSize = 24576;
// Frames handed to the analysis at a time.
constexpr uint32_t SliceFrames = 1024;

constexpr std::array<int32_t, 18> BitRateBps = {-1,     24000,  32000,  45000,  48000,  56000,
                                                64000,  80000,  96000,  112000, 128000, 144000,
                                                160000, 192000, 224000, 256000, 320000, 499000};

void WriteAll(platform::THandleStream& Stream, const unsigned char* Data, long Count) {
  if (Count > 0 && Stream.Write(Data, static_cast<size_t>(Count)) != Count)
    throw EAuException(platform::SysErrorMessage(errno));
}

} // namespace

int32_t VorbisBitRateToBps(TVorbisBitRate Value) {
  const unsigned Ordinal = static_cast<unsigned>(Value) & 0x7F;
  return Ordinal < BitRateBps.size() ? BitRateBps[Ordinal] : -1;
}

void TOggStreamClear::operator()(ogg_stream_state* State) const {
  Ogg().ogg_stream_clear(State);
  delete State;
}

void TVorbisBlockClear::operator()(vorbis_block* Block) const {
  Vorbis().vorbis_block_clear(Block);
  delete Block;
}

void TVorbisDspClear::operator()(vorbis_dsp_state* State) const {
  Vorbis().vorbis_dsp_clear(State);
  delete State;
}

void TVorbisCommentClear::operator()(vorbis_comment* Comment) const {
  Vorbis().vorbis_comment_clear(Comment);
  delete Comment;
}

void TVorbisInfoClear::operator()(vorbis_info* Info) const {
  Vorbis().vorbis_info_clear(Info);
  delete Info;
}

TVorbisOut::TVorbisOut(TComponent* AOwner) : TAuFileOut(AOwner) {}

void TVorbisOut::SetDesiredNominalBitrate(TVorbisBitRate Value) {
  FDesiredNominalBitrate = Value;
  if (Value < FMinimumBitrate)
    FMinimumBitrate = Value;
  if (FDesiredMaximumBitrate < Value)
    FDesiredMaximumBitrate = Value;
  if (Value == brAutoSelect)
    FDesiredMaximumBitrate = brAutoSelect;
}

void TVorbisOut::SetDesiredMaximumBitrate(TVorbisBitRate Value) {
  if (FDesiredNominalBitrate != brAutoSelect &&
      (Value == brAutoSelect || Value >= FDesiredNominalBitrate))
    FDesiredMaximumBitrate = Value;
}

void TVorbisOut::SetMinimumBitrate(TVorbisBitRate Value) {
  if (Value <= FDesiredNominalBitrate)
    FMinimumBitrate = Value;
}

void TVorbisOut::Prepare() {
  LoadOggLibrary();
  LoadVorbisLibrary();
  LoadVorbisFileLibrary();
  LoadVorbisEncLibrary();
  RequireOggLibrary();
  RequireVorbisLibrary();
  RequireVorbisFileLibrary();
  RequireVorbisEncLibrary();
  if (FWideFileName.empty())
    throw EAuException("File name is not assigned.");
  OpenFile();
  Input()->Init();
  const int32_t StreamSerial = FFileMode == foAppend ? UnusedSerial() : FSerial;
  if (FFileMode == foAppend)
    FStream->Seek(0, platform::TSeekOrigin::End);
  FEndOfStream = false;
  FEndOfInputMarked = false;
  FAudioPageWritten = false;
  FChannels = Input()->GetCh();
  FBitsPerSample = Input()->GetBPS();
  // Other widths would be read past the end of the input's bytes.
  const bool KnownWidth =
      FBitsPerSample == 8 || FBitsPerSample == 16 || FBitsPerSample == 24 || FBitsPerSample == 32;
  if (!KnownWidth || FChannels < 1)
    throw EAuException("The input's sample format cannot be encoded.");
  const uint32_t FrameSize = static_cast<uint32_t>(FChannels * FBitsPerSample / 8);
  FBuffer.resize(ReadSize / FrameSize * FrameSize);
  SetUpEncoder();
  AddComments();
  FDsp.reset(new vorbis_dsp_state{});
  Vorbis().vorbis_analysis_init(FDsp.get(), FInfo.get());
  FBlock.reset(new vorbis_block{});
  Vorbis().vorbis_block_init(FDsp.get(), FBlock.get());
  FStreamState.reset(new ogg_stream_state{});
  Ogg().ogg_stream_init(FStreamState.get(), StreamSerial);
  WriteHeaders();
}

void TVorbisOut::OpenFile() {
  std::error_code Error;
  const bool Exists = std::filesystem::exists(Utf16ToUtf8(FWideFileName), Error);
  const uint16_t Mode = Exists && FFileMode != foRewrite
                            ? TAuFileStream::fmOpenReadWrite | TAuFileStream::fmShareExclusive
                            : TAuFileStream::fmCreate;
  FStream = std::make_unique<TAuFileStream>(FWideFileName, Mode);
}

// A chained file whose streams share a serial number is invalid (the pages of the new stream
// would read as misplaced pages of the old one), so an appended stream takes Serial, or the
// next number that no stream of the file uses yet.
int32_t TVorbisOut::UnusedSerial() {
  std::set<uint32_t> Used;
  uint8_t Header[27 + 255];
  FStream->Seek(0, platform::TSeekOrigin::Begin);
  while (FStream->Read(Header, 27) == 27 && std::memcmp(Header, "OggS", 4) == 0) {
    Used.insert(Header[14] | Header[15] << 8 | Header[16] << 16 |
                static_cast<uint32_t>(Header[17]) << 24);
    const uint8_t Segments = Header[26];
    if (FStream->Read(Header + 27, Segments) != Segments)
      break;
    int64_t Body = 0;
    for (int I = 0; I < Segments; ++I)
      Body += Header[27 + I];
    FStream->Seek(Body, platform::TSeekOrigin::Current);
  }
  auto Serial = static_cast<uint32_t>(FSerial);
  while (Used.count(Serial) != 0)
    ++Serial;
  return static_cast<int32_t>(Serial);
}

void TVorbisOut::SetUpEncoder() {
  FInfo.reset(new vorbis_info{});
  Vorbis().vorbis_info_init(FInfo.get());
  const int32_t Rate = Input()->GetSR();
  if (FDesiredNominalBitrate == brAutoSelect) {
    // An unusable quality set-up would leave the analysis without buffers, so it is an error.
    int Result = VorbisEnc().vorbis_encode_setup_vbr(FInfo.get(), FChannels, Rate, FCompression);
    if (Result == 0)
      Result = VorbisEnc().vorbis_encode_setup_init(FInfo.get());
    if (Result != 0)
      throw EAuException("Vorbis codec setup with the requested quality failed.");
    return;
  }
  const long Nominal = VorbisBitRateToBps(FDesiredNominalBitrate);
  const long Maximum = VorbisBitRateToBps(FDesiredMaximumBitrate);
  long Minimum = VorbisBitRateToBps(FMinimumBitrate);
  if (Minimum < 0)
    Minimum = Nominal;
  if (VorbisEnc().vorbis_encode_init(FInfo.get(), FChannels, Rate, Maximum, Nominal, Minimum) != 0)
    throw EAuException(
        "Vorbis codec setup with the requested bitrate failed. Try a lower bitrate.");
}

void TVorbisOut::AddComments() {
  FComment.reset(new vorbis_comment{});
  Vorbis().vorbis_comment_init(FComment.get());
  for (int I = 0; I < FComments.ValueCount(); ++I) {
    // Our 8-bit text is UTF-8 already.
    const std::string Name = FComments.NameAt(I);
    const std::string Value = Utf16ToUtf8(FComments.WideTextOf(Name));
    if (!Value.empty())
      Vorbis().vorbis_comment_add_tag(FComment.get(), Name.c_str(), Value.c_str());
  }
}

void TVorbisOut::WriteHeaders() {
  ogg_packet Header{};
  ogg_packet Comment{};
  ogg_packet Code{};
  Vorbis().vorbis_analysis_headerout(FDsp.get(), FComment.get(), &Header, &Comment, &Code);
  Ogg().ogg_stream_packetin(FStreamState.get(), &Header);
  Ogg().ogg_stream_packetin(FStreamState.get(), &Comment);
  Ogg().ogg_stream_packetin(FStreamState.get(), &Code);
  // The audio starts on a page of its own.
  ogg_page Page{};
  while (Ogg().ogg_stream_flush(FStreamState.get(), &Page) != 0)
    WritePage(Page);
}

void TVorbisOut::WritePage(const ogg_page& Page) {
  WriteAll(*FStream, Page.header, Page.header_len);
  WriteAll(*FStream, Page.body, Page.body_len);
}

bool TVorbisOut::DoOutput(bool Abort) {
  if (!Prepared())
    return true;
  if (Abort || FEndOfStream)
    return false;
  // Whole frames only: a read that ended inside a frame would shift every later sample into
  // the next channel.
  bool EndOfData = false;
  const uint32_t Bytes =
      Input()->FillBuffer(FBuffer.data(), static_cast<uint32_t>(FBuffer.size()), EndOfData);
  const uint32_t FrameSize = static_cast<uint32_t>(FChannels * FBitsPerSample / 8);
  const uint32_t Frames = Bytes / FrameSize;
  if (Frames == 0)
    EndStream();
  // In slices: the analysis moves its pending samples down after every block, so a smaller
  // backlog is less to move.
  for (uint32_t Done = 0; Done < Frames; Done += SliceFrames) {
    const uint32_t Slice = std::min(SliceFrames, Frames - Done);
    ConvertFrames(FBuffer.data() + static_cast<size_t>(Done) * FrameSize, Slice);
    Vorbis().vorbis_analysis_wrote(FDsp.get(), static_cast<int>(Slice));
    DrainBlocks();
  }
  return true;
}

void TVorbisOut::EndStream() {
  if (!FEndOfInputMarked) {
    Vorbis().vorbis_analysis_wrote(FDsp.get(), 0);
    FEndOfInputMarked = true;
    DrainBlocks();
  }
  // Whatever the framing layer still holds closes the stream, so the run ends even if no page
  // came marked as the last.
  if (!FEndOfStream) {
    ogg_page Page{};
    while (Ogg().ogg_stream_flush(FStreamState.get(), &Page) != 0)
      WritePage(Page);
    FEndOfStream = true;
  }
}

void TVorbisOut::ConvertFrames(const uint8_t* Data, uint32_t Frames) {
  float** Buffer = Vorbis().vorbis_analysis_buffer(FDsp.get(), static_cast<int>(Frames));
  const uint32_t Channels = static_cast<uint32_t>(FChannels);
  for (uint32_t C = 0; C < Channels; ++C) {
    float* Out = Buffer[C];
    switch (FBitsPerSample) {
    case 8:
      for (uint32_t I = 0; I < Frames; ++I)
        Out[I] = static_cast<float>((Data[I * Channels + C] - 128) / 128.0);
      break;
    case 16:
      for (uint32_t I = 0; I < Frames; ++I) {
        const uint8_t* S = Data + 2 * (I * Channels + C);
        Out[I] = static_cast<float>(static_cast<int16_t>(S[0] | S[1] << 8) / 32768.0);
      }
      break;
    case 24:
      for (uint32_t I = 0; I < Frames; ++I) {
        const uint8_t* S = Data + 3 * (I * Channels + C);
        const int32_t Value = S[0] | static_cast<int16_t>(S[1] | S[2] << 8) * 256;
        Out[I] = static_cast<float>(Value / 8388608.0);
      }
      break;
    default:
      for (uint32_t I = 0; I < Frames; ++I) {
        const uint8_t* S = Data + 4 * (I * Channels + C);
        const uint32_t Bits = S[0] | S[1] << 8 | S[2] << 16 | static_cast<uint32_t>(S[3]) << 24;
        Out[I] = static_cast<float>(static_cast<int32_t>(Bits) / 2147483648.0);
      }
      break;
    }
  }
}

void TVorbisOut::DrainBlocks() {
  while (Vorbis().vorbis_analysis_blockout(FDsp.get(), FBlock.get()) == 1) {
    Vorbis().vorbis_analysis(FBlock.get(), nullptr);
    Vorbis().vorbis_bitrate_addblock(FBlock.get());
    ogg_packet Packet{};
    while (Vorbis().vorbis_bitrate_flushpacket(FDsp.get(), &Packet) != 0) {
      Ogg().ogg_stream_packetin(FStreamState.get(), &Packet);
      ogg_page Page{};
      // The first audio page ends with the first packet that yields samples: a stream whose
      // first audio page is also its last gives decoders no start to trim from (ffmpeg then
      // cuts or pads a short track's end), and a page of granule 0 is invalid.
      if (!FAudioPageWritten && Packet.e_o_s == 0 && Packet.granulepos > 0) {
        FAudioPageWritten = true;
        while (Ogg().ogg_stream_flush(FStreamState.get(), &Page) != 0)
          WritePage(Page);
      }
      while (!FEndOfStream && Ogg().ogg_stream_pageout(FStreamState.get(), &Page) != 0) {
        WritePage(Page);
        if (Ogg().ogg_page_eos(&Page) != 0)
          FEndOfStream = true;
      }
    }
  }
}

void TVorbisOut::Done() {
  // A stop ends the stream where the input stopped, so that the file written so far is a
  // whole stream that players read to its end.
  std::exception_ptr Failure;
  if (FStream && FDsp && !FEndOfStream) {
    try {
      EndStream();
    } catch (...) {
      Failure = std::current_exception();
    }
  }
  FStream.reset();
  FBuffer = {};
  if (TAuInput* Source = Input())
    Source->Flush();
  FComments.ResetValues();
  FStreamState.reset();
  FBlock.reset();
  FDsp.reset();
  FComment.reset();
  FInfo.reset();
  if (Failure)
    std::rethrow_exception(Failure);
}
