#include "platform/WMWriter.h"

#include "platform/File.h"
#include "platform/WMRefCounted.h"
#include "runtime/Text.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

namespace platform {
namespace {

struct TCodecContextFree {
  void operator()(AVCodecContext* Context) const { avcodec_free_context(&Context); }
};
struct TFormatContextFree {
  void operator()(AVFormatContext* Context) const { avformat_free_context(Context); }
};
struct TIOContextFree {
  void operator()(AVIOContext* Context) const {
    av_freep(&Context->buffer);
    avio_context_free(&Context);
  }
};
struct TFrameFree {
  void operator()(AVFrame* Frame) const { av_frame_free(&Frame); }
};
struct TPacketFree {
  void operator()(AVPacket* Packet) const { av_packet_free(&Packet); }
};
using TCodecContextPtr = std::unique_ptr<AVCodecContext, TCodecContextFree>;
using TFormatContextPtr = std::unique_ptr<AVFormatContext, TFormatContextFree>;
using TIOContextPtr = std::unique_ptr<AVIOContext, TIOContextFree>;
using TFramePtr = std::unique_ptr<AVFrame, TFrameFree>;
using TPacketPtr = std::unique_ptr<AVPacket, TPacketFree>;

// ASF data packets of the muxer's usual size; a network sink cuts the stream at them.
constexpr uint32_t PacketSize = 3200;
constexpr uint16_t BitsPerSample = 16;

struct TWmaCodec {
  AVCodecID Id;
  uint16_t FormatTag;
  TGuid Subtype;
};
constexpr TWmaCodec WmaCodecs[] = {
    {AV_CODEC_ID_WMAV2, WAVE_FORMAT_WMAUDIO2, WMMEDIASUBTYPE_WMAudioV8},
    {AV_CODEC_ID_WMAV1, WAVE_FORMAT_WMAUDIO1, WMMEDIASUBTYPE_WMAudioV1},
};
// CD audio's rate first: a writer that walks the list for the closest bit rate, and then the
// closest rate, meets 44100 Hz before any other rate with an equal bit rate.
constexpr int SampleRates[] = {44100, 48000, 32000, 22050, 16000, 11025, 8000};
constexpr int Bitrates[] = {32000,  48000,  64000,  80000,  96000,
                            128000, 160000, 192000, 256000, 320000};

struct TWmaFormat {
  uint32_t Codec;
  int Channels;
  int SampleRate;
  // What the encoder is asked for, and what it makes of it.
  int NominalBitrate;
  int BlockAlign;
  int FrameSize;
  uint32_t Bitrate;
};

// Opens the encoder for every format, so that each format is one FFmpeg really encodes and
// its bit rate is the stream's own: the encoder rounds each frame's bytes down.
std::vector<TWmaFormat> ProbeFormats(uint32_t Codec) {
  std::vector<TWmaFormat> Formats;
  const AVCodec* Encoder = avcodec_find_encoder(WmaCodecs[Codec].Id);
  if (!Encoder)
    return Formats;
  for (int Rate : SampleRates)
    for (int Channels = 1; Channels <= 2; ++Channels)
      for (int Nominal : Bitrates) {
        TCodecContextPtr Context(avcodec_alloc_context3(Encoder));
        if (!Context)
          continue;
        Context->sample_rate = Rate;
        Context->sample_fmt = AV_SAMPLE_FMT_FLTP;
        Context->bit_rate = Nominal;
        av_channel_layout_default(&Context->ch_layout, Channels);
        if (avcodec_open2(Context.get(), Encoder, nullptr) < 0 || Context->frame_size <= 0)
          continue;
        const double Real =
            Context->block_align * 8.0 * Rate / static_cast<double>(Context->frame_size);
        Formats.push_back({Codec, Channels, Rate, Nominal, Context->block_align,
                           Context->frame_size, static_cast<uint32_t>(std::lround(Real))});
      }
  return Formats;
}

const std::vector<TWmaFormat>& CodecFormats(uint32_t Codec) {
  static const std::vector<TWmaFormat> Formats[] = {ProbeFormats(0), ProbeFormats(1)};
  return Formats[Codec];
}

constexpr uint32_t CodecCount = std::size(WmaCodecs);

// A media type block: the record, then a TWaveFormatEx.
class TMediaType {
public:
  TMediaType() = default;
  TMediaType(const TGuid& Subtype, const TWaveFormatEx& Format)
      : FSubtype(Subtype), FFormat(Format) {}

  const TGuid& Subtype() const { return FSubtype; }
  const TWaveFormatEx& Format() const { return FFormat; }

  HRESULT Get(WM_MEDIA_TYPE* Type, uint32_t* Size) const {
    if (!Size)
      return WM_E_INVALIDARG;
    constexpr uint32_t Needed = sizeof(WM_MEDIA_TYPE) + sizeof(TWaveFormatEx);
    if (!Type) {
      *Size = Needed;
      return S_OK;
    }
    if (*Size < Needed)
      return WM_E_INVALIDARG;
    *Type = WM_MEDIA_TYPE{};
    Type->majortype = WMMEDIATYPE_Audio;
    Type->subtype = FSubtype;
    Type->bFixedSizeSamples = FSubtype == WMMEDIASUBTYPE_PCM;
    Type->lSampleSize = FFormat.BlockAlign;
    Type->formattype = WMFORMAT_WaveFormatEx;
    Type->cbFormat = sizeof(TWaveFormatEx);
    Type->pbFormat = reinterpret_cast<uint8_t*>(Type + 1);
    std::memcpy(Type->pbFormat, &FFormat, sizeof FFormat);
    *Size = Needed;
    return S_OK;
  }

  // Takes an audio type with a wave format block.
  HRESULT Set(const WM_MEDIA_TYPE* Type) {
    if (!Type || !(Type->majortype == WMMEDIATYPE_Audio) ||
        !(Type->formattype == WMFORMAT_WaveFormatEx) || !Type->pbFormat ||
        Type->cbFormat < sizeof(TWaveFormatEx))
      return WM_E_INVALIDFORMAT;
    FSubtype = Type->subtype;
    std::memcpy(&FFormat, Type->pbFormat, sizeof FFormat);
    return S_OK;
  }

private:
  TGuid FSubtype;
  TWaveFormatEx FFormat;
};

TWaveFormatEx PcmFormat(int Channels, int SampleRate) {
  TWaveFormatEx Format;
  Format.FormatTag = WAVE_FORMAT_PCM;
  Format.Channels = static_cast<uint16_t>(Channels);
  Format.SamplesPerSec = static_cast<uint32_t>(SampleRate);
  Format.BlockAlign = static_cast<uint16_t>(Channels * BitsPerSample / 8);
  Format.AvgBytesPerSec = Format.BlockAlign * Format.SamplesPerSec;
  Format.BitsPerSample = BitsPerSample;
  return Format;
}

class TStreamConfig : public TWMRefCounted<IWMStreamConfig, IWMMediaProps> {
public:
  explicit TStreamConfig(const TWmaFormat& Format) : FFormat(Format) {
    TWaveFormatEx Wave;
    Wave.FormatTag = WmaCodecs[Format.Codec].FormatTag;
    Wave.Channels = static_cast<uint16_t>(Format.Channels);
    Wave.SamplesPerSec = static_cast<uint32_t>(Format.SampleRate);
    Wave.AvgBytesPerSec = (Format.Bitrate + 4) / 8;
    Wave.BlockAlign = static_cast<uint16_t>(Format.BlockAlign);
    Wave.BitsPerSample = BitsPerSample;
    FType = TMediaType(WmaCodecs[Format.Codec].Subtype, Wave);
  }

  const TWmaFormat& Format() const { return FFormat; }

  HRESULT GetBitrate(uint32_t* Bitrate) override {
    if (!Bitrate)
      return WM_E_INVALIDARG;
    *Bitrate = FFormat.Bitrate;
    return S_OK;
  }
  // The muxer numbers its one stream 1 and has no place for names.
  HRESULT SetStreamNumber(uint16_t Number) override {
    return Number >= 1 && Number <= 63 ? S_OK : WM_E_INVALIDARG;
  }
  HRESULT SetStreamName(const char16_t*) override { return S_OK; }
  HRESULT SetConnectionName(const char16_t*) override { return S_OK; }
  HRESULT QueryMediaProps(IWMMediaProps** Props) override {
    if (!Props)
      return WM_E_INVALIDARG;
    AddRef();
    *Props = this;
    return S_OK;
  }
  HRESULT GetMediaType(WM_MEDIA_TYPE* Type, uint32_t* Size) override {
    return FType.Get(Type, Size);
  }
  HRESULT SetMediaType(const WM_MEDIA_TYPE*) override { return WM_E_UNSUPPORTED; }

private:
  TWmaFormat FFormat;
  TMediaType FType;
};

class TProfile : public TWMRefCounted<IWMProfile> {
public:
  HRESULT AddStream(IWMStreamConfig* Config) override {
    auto* Ours = dynamic_cast<TStreamConfig*>(Config);
    if (!Ours)
      return WM_E_INVALIDARG;
    if (FStream)
      return WM_E_UNSUPPORTED;
    FStream = std::make_unique<TWmaFormat>(Ours->Format());
    return S_OK;
  }
  const TWmaFormat* Stream() const { return FStream.get(); }

private:
  std::unique_ptr<TWmaFormat> FStream;
};

class TProfileManager : public TWMRefCounted<IWMProfileManager, IWMCodecInfo3> {
public:
  HRESULT CreateEmptyProfile(uint32_t Version, IWMProfile** Profile) override {
    if (!Profile || Version != WMT_VER_9_0)
      return WM_E_INVALIDARG;
    *Profile = new TProfile;
    return S_OK;
  }
  HRESULT QueryCodecInfo3(IWMCodecInfo3** Info) override {
    if (!Info)
      return WM_E_INVALIDARG;
    AddRef();
    *Info = this;
    return S_OK;
  }

  HRESULT GetCodecInfoCount(const TGuid& MajorType, uint32_t* Count) override {
    if (!Count)
      return WM_E_INVALIDARG;
    *Count = MajorType == WMMEDIATYPE_Audio ? CodecCount : 0;
    return S_OK;
  }
  HRESULT GetCodecFormatCount(const TGuid& MajorType, uint32_t Codec, uint32_t* Count) override {
    if (!Count || !IsCodec(MajorType, Codec))
      return WM_E_INVALIDARG;
    *Count = static_cast<uint32_t>(CodecFormats(Codec).size());
    return S_OK;
  }
  HRESULT GetCodecFormat(const TGuid& MajorType, uint32_t Codec, uint32_t Format,
                         IWMStreamConfig** Config) override {
    if (!Config || !IsFormat(MajorType, Codec, Format))
      return WM_E_INVALIDARG;
    *Config = new TStreamConfig(CodecFormats(Codec)[Format]);
    return S_OK;
  }
  HRESULT SetCodecEnumerationSetting(const TGuid& MajorType, uint32_t Codec, const char16_t* Name,
                                     WMT_ATTR_DATATYPE Type, const uint8_t* Value,
                                     uint32_t Size) override {
    if (!IsCodec(MajorType, Codec) || !Name || !Value)
      return WM_E_INVALIDARG;
    if (std::u16string_view(Name) != u"_VBRENABLED" || Type != WMT_TYPE_BOOL || Size != 4)
      return WM_E_INVALIDARG;
    uint32_t Enabled = 0;
    std::memcpy(&Enabled, Value, 4);
    return Enabled ? WM_E_UNSUPPORTED : S_OK;
  }
  HRESULT GetCodecFormatProp(const TGuid& MajorType, uint32_t Codec, uint32_t Format,
                             const char16_t* Name, WMT_ATTR_DATATYPE* Type, uint8_t* Value,
                             uint32_t* Size) override {
    if (!IsFormat(MajorType, Codec, Format) || !Name || !Type || !Size)
      return WM_E_INVALIDARG;
    if (std::u16string_view(Name) == u"_VBRQUALITY")
      return WM_E_UNSUPPORTED;
    if (std::u16string_view(Name) != u"_VBR")
      return WM_E_INVALIDARG;
    *Type = WMT_TYPE_BOOL;
    if (Value && *Size < 4)
      return WM_E_INVALIDARG;
    if (Value)
      std::memset(Value, 0, 4);
    *Size = 4;
    return S_OK;
  }

private:
  static bool IsCodec(const TGuid& MajorType, uint32_t Codec) {
    return MajorType == WMMEDIATYPE_Audio && Codec < CodecCount;
  }
  static bool IsFormat(const TGuid& MajorType, uint32_t Codec, uint32_t Format) {
    return IsCodec(MajorType, Codec) && Format < CodecFormats(Codec).size();
  }
};

class TInputProps : public TWMRefCounted<IWMInputMediaProps> {
public:
  explicit TInputProps(const TMediaType& Type) : FType(Type) {}
  const TMediaType& Type() const { return FType; }
  HRESULT GetMediaType(WM_MEDIA_TYPE* Type, uint32_t* Size) override {
    return FType.Get(Type, Size);
  }
  HRESULT SetMediaType(const WM_MEDIA_TYPE* Type) override { return FType.Set(Type); }

private:
  TMediaType FType;
};

class TSample : public TWMRefCounted<INSSBuffer> {
public:
  explicit TSample(uint32_t Size) : FBytes(Size), FLength(Size) {}
  HRESULT GetBuffer(uint8_t** Buffer) override {
    if (!Buffer)
      return WM_E_INVALIDARG;
    *Buffer = FBytes.data();
    return S_OK;
  }
  HRESULT GetLength(uint32_t* Length) override {
    if (!Length)
      return WM_E_INVALIDARG;
    *Length = FLength;
    return S_OK;
  }
  HRESULT SetLength(uint32_t Length) override {
    if (Length > FBytes.size())
      return WM_E_INVALIDARG;
    FLength = Length;
    return S_OK;
  }

private:
  std::vector<uint8_t> FBytes;
  uint32_t FLength;
};

class TFileSink : public TWMRefCounted<IWMWriterFileSink> {
public:
  HRESULT Open(const char16_t* FileName) override {
    if (!FileName || !*FileName)
      return WM_E_INVALIDARG;
    FFile = FileCreate(Utf16ToUtf8(FileName), TFileShare::Read);
    FWriteError = 0;
    return FFile.Valid() ? S_OK : WM_E_OPENFAILED;
  }
  int GetWriteError() override { return FWriteError; }
  bool IsSeekable() override { return true; }
  HRESULT OnHeader(const uint8_t* Bytes, size_t Size, uint32_t) override {
    return OnData(0, Bytes, Size);
  }
  HRESULT OnData(uint64_t Offset, const uint8_t* Bytes, size_t Size) override {
    if (!FFile.Valid())
      return WM_E_INVALIDSTATE;
    if (FileSeek(FFile.Get(), static_cast<int64_t>(Offset), TSeekOrigin::Begin) < 0 ||
        FileWrite(FFile.Get(), Bytes, Size) != static_cast<int64_t>(Size)) {
      FWriteError = errno;
      return WM_E_WRITEFAILED;
    }
    return S_OK;
  }
  HRESULT OnEndWriting() override {
    FFile.Reset();
    return S_OK;
  }

private:
  TFileHandle FFile;
  int FWriteError = 0;
};

class TWriter : public TWMRefCounted<IWMWriter, IWMWriterAdvanced, IWMHeaderInfo> {
public:
  HRESULT SetProfile(IWMProfile* Profile) override {
    auto* Ours = dynamic_cast<TProfile*>(Profile);
    if (!Ours || !Ours->Stream())
      return WM_E_INVALIDFORMAT;
    if (FWriting)
      return WM_E_INVALIDSTATE;
    FStream = std::make_unique<TWmaFormat>(*Ours->Stream());
    FInput = TMediaType(WMMEDIASUBTYPE_PCM, PcmFormat(FStream->Channels, FStream->SampleRate));
    FInputValid = true;
    return S_OK;
  }
  HRESULT GetInputCount(uint32_t* Count) override {
    if (!Count)
      return WM_E_INVALIDARG;
    *Count = FStream ? 1 : 0;
    return S_OK;
  }
  HRESULT GetInputProps(uint32_t Input, IWMInputMediaProps** Props) override {
    if (!Props || !FStream || Input != 0)
      return WM_E_INVALIDARG;
    *Props = new TInputProps(FInput);
    return S_OK;
  }
  HRESULT SetInputProps(uint32_t Input, IWMInputMediaProps* Props) override {
    auto* Ours = dynamic_cast<TInputProps*>(Props);
    if (!Ours || !FStream || Input != 0)
      return WM_E_INVALIDARG;
    if (FWriting)
      return WM_E_INVALIDSTATE;
    const TWaveFormatEx& Wave = Ours->Type().Format();
    const TWaveFormatEx Wanted = PcmFormat(FStream->Channels, FStream->SampleRate);
    FInputValid =
        Ours->Type().Subtype() == WMMEDIASUBTYPE_PCM && Wave.FormatTag == WAVE_FORMAT_PCM &&
        Wave.Channels == Wanted.Channels && Wave.SamplesPerSec == Wanted.SamplesPerSec &&
        Wave.BitsPerSample == Wanted.BitsPerSample && Wave.BlockAlign == Wanted.BlockAlign;
    if (!FInputValid)
      return WM_E_INVALIDFORMAT;
    FInput = Ours->Type();
    return S_OK;
  }

  HRESULT BeginWriting() override;
  HRESULT AllocateSample(uint32_t Size, INSSBuffer** Sample) override {
    if (!Sample)
      return WM_E_INVALIDARG;
    *Sample = new TSample(Size);
    return S_OK;
  }
  HRESULT WriteSample(uint32_t Input, uint64_t SampleTime, uint32_t Flags,
                      INSSBuffer* Sample) override;
  HRESULT EndWriting() override;

  HRESULT QueryWriterAdvanced(IWMWriterAdvanced** Advanced) override {
    if (!Advanced)
      return WM_E_INVALIDARG;
    AddRef();
    *Advanced = this;
    return S_OK;
  }
  HRESULT QueryHeaderInfo(IWMHeaderInfo** HeaderInfo) override {
    if (!HeaderInfo)
      return WM_E_INVALIDARG;
    AddRef();
    *HeaderInfo = this;
    return S_OK;
  }

  HRESULT AddSink(IWMWriterSink* Sink) override {
    if (!Sink)
      return WM_E_INVALIDARG;
    if (FWriting)
      return WM_E_INVALIDSTATE;
    Sink->AddRef();
    FSinks.emplace_back(Sink);
    return S_OK;
  }
  HRESULT RemoveSink(IWMWriterSink* Sink) override {
    if (FWriting)
      return WM_E_INVALIDSTATE;
    for (auto It = FSinks.begin(); It != FSinks.end(); ++It)
      if (It->Get() == Sink) {
        FSinks.erase(It);
        return S_OK;
      }
    return WM_E_INVALIDARG;
  }

  HRESULT SetAttribute(uint16_t Stream, const char16_t* Name, WMT_ATTR_DATATYPE Type,
                       const uint8_t* Value, uint16_t Length) override;

private:
  struct TAttribute {
    std::string Key;
    std::string Value;
  };

  HRESULT OpenEncoder();
  HRESULT OpenMuxer();
  HRESULT EncodeFrame(const AVFrame* Frame);
  HRESULT EncodePadded();
  void AddPcm(const uint8_t* Bytes, size_t Frames);
  void Finish();

  static int WritePacket(void* Opaque, uint8_t* Bytes, int Size);
  static int64_t Seek(void* Opaque, int64_t Offset, int Whence);
  HRESULT Deliver(const uint8_t* Bytes, size_t Size);

  std::vector<TWMPtr<IWMWriterSink>> FSinks;
  std::unique_ptr<TWmaFormat> FStream;
  TMediaType FInput;
  bool FInputValid = false;
  std::vector<TAttribute> FAttributes;

  // One writing, from BeginWriting to EndWriting.
  bool FWriting = false;
  TCodecContextPtr FEncoder;
  TIOContextPtr FIO;
  TFormatContextPtr FMuxer;
  TFramePtr FFrame;
  TPacketPtr FPacket;
  int FFrameFill = 0;
  int64_t FNextPts = 0;
  std::vector<uint8_t> FPartial;
  // Bytes of the muxer's header until it is complete, then the file offset of the next write.
  bool FInHeader = false;
  std::vector<uint8_t> FHeader;
  int64_t FPosition = 0;
  int64_t FEnd = 0;
  HRESULT FSinkError = S_OK;
};

HRESULT TWriter::SetAttribute(uint16_t Stream, const char16_t* Name, WMT_ATTR_DATATYPE Type,
                              const uint8_t* Value, uint16_t Length) {
  if (Stream != 0 || !Name || Type != WMT_TYPE_STRING || (!Value && Length) || Length % 2)
    return WM_E_INVALIDARG;
  if (FWriting)
    return WM_E_INVALIDSTATE;
  std::u16string Text(Length / 2, u'\0');
  if (Length)
    std::memcpy(Text.data(), Value, Length);
  // The length may or may not count the terminating zero.
  while (!Text.empty() && Text.back() == u'\0')
    Text.pop_back();
  // The muxer writes its own names for these into the content description object.
  static constexpr struct {
    std::u16string_view Name;
    const char* Key;
  } Described[] = {{u"Title", "title"}, {u"Author", "author"}, {u"Copyright", "copyright"}};
  std::string Key = Utf16ToUtf8(Name);
  for (const auto& Entry : Described)
    if (Entry.Name == Name)
      Key = Entry.Key;
  for (auto& Attribute : FAttributes)
    if (Attribute.Key == Key) {
      Attribute.Value = Utf16ToUtf8(Text);
      return S_OK;
    }
  FAttributes.push_back({Key, Utf16ToUtf8(Text)});
  return S_OK;
}

HRESULT TWriter::OpenEncoder() {
  const AVCodec* Encoder = avcodec_find_encoder(WmaCodecs[FStream->Codec].Id);
  if (!Encoder)
    return WM_E_CODECFAILED;
  FEncoder.reset(avcodec_alloc_context3(Encoder));
  FFrame.reset(av_frame_alloc());
  FPacket.reset(av_packet_alloc());
  if (!FEncoder || !FFrame || !FPacket)
    return WM_E_CODECFAILED;
  FEncoder->sample_rate = FStream->SampleRate;
  FEncoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
  FEncoder->bit_rate = FStream->NominalBitrate;
  FEncoder->time_base = AVRational{1, FStream->SampleRate};
  av_channel_layout_default(&FEncoder->ch_layout, FStream->Channels);
  if (avcodec_open2(FEncoder.get(), Encoder, nullptr) < 0)
    return WM_E_CODECFAILED;
  FFrame->format = AV_SAMPLE_FMT_FLTP;
  FFrame->sample_rate = FStream->SampleRate;
  FFrame->nb_samples = FEncoder->frame_size;
  if (av_channel_layout_copy(&FFrame->ch_layout, &FEncoder->ch_layout) < 0 ||
      av_frame_get_buffer(FFrame.get(), 0) < 0)
    return WM_E_CODECFAILED;
  return S_OK;
}

HRESULT TWriter::OpenMuxer() {
  AVFormatContext* Muxer = nullptr;
  if (avformat_alloc_output_context2(&Muxer, nullptr, "asf", nullptr) < 0)
    return WM_E_CODECFAILED;
  FMuxer.reset(Muxer);
  bool Seekable = true;
  for (const auto& Sink : FSinks)
    Seekable = Seekable && Sink->IsSeekable();
  constexpr int BufferSize = 32768;
  auto* Buffer = static_cast<uint8_t*>(av_malloc(BufferSize));
  if (!Buffer)
    return WM_E_CODECFAILED;
  FIO.reset(avio_alloc_context(Buffer, BufferSize, 1, this, nullptr, WritePacket,
                               Seekable ? Seek : nullptr));
  if (!FIO) {
    av_free(Buffer);
    return WM_E_CODECFAILED;
  }
  FMuxer->pb = FIO.get();
  // Bit-exact output keeps libavformat from adding an "encoder" attribute of its own: the
  // file's metadata is what SetAttribute was given.
  FMuxer->flags |= AVFMT_FLAG_CUSTOM_IO | AVFMT_FLAG_BITEXACT;
  av_opt_set_int(FMuxer->priv_data, "packet_size", PacketSize, 0);
  AVStream* Stream = avformat_new_stream(FMuxer.get(), nullptr);
  if (!Stream || avcodec_parameters_from_context(Stream->codecpar, FEncoder.get()) < 0)
    return WM_E_CODECFAILED;
  Stream->time_base = FEncoder->time_base;
  for (const auto& Attribute : FAttributes)
    av_dict_set(&FMuxer->metadata, Attribute.Key.c_str(), Attribute.Value.c_str(), 0);
  FInHeader = true;
  FHeader.clear();
  FPosition = FEnd = 0;
  FSinkError = S_OK;
  if (avformat_write_header(FMuxer.get(), nullptr) < 0)
    return WM_E_CODECFAILED;
  avio_flush(FIO.get());
  FInHeader = false;
  for (const auto& Sink : FSinks)
    if (HRESULT Result = Sink->OnHeader(FHeader.data(), FHeader.size(), PacketSize))
      return Result;
  FPosition = FEnd = static_cast<int64_t>(FHeader.size());
  return S_OK;
}

HRESULT TWriter::BeginWriting() {
  if (FWriting || !FStream || FSinks.empty())
    return WM_E_INVALIDSTATE;
  if (!FInputValid)
    return WM_E_INVALIDFORMAT;
  FFrameFill = 0;
  FNextPts = 0;
  FPartial.clear();
  HRESULT Result = OpenEncoder();
  if (!Result)
    Result = OpenMuxer();
  // The decoder gives nothing for a stream's first frame, only the overlap it starts from: a
  // frame of silence leads, so that the first sample is heard.
  if (!Result)
    Result = EncodePadded();
  if (Result) {
    Finish();
    return Result;
  }
  FWriting = true;
  return S_OK;
}

// Called by FFmpeg: no exception may leave it.
int TWriter::WritePacket(void* Opaque, uint8_t* Bytes, int Size) {
  auto* Writer = static_cast<TWriter*>(Opaque);
  try {
    if (Writer->FInHeader) {
      Writer->FHeader.insert(Writer->FHeader.end(), Bytes, Bytes + Size);
      return Size;
    }
    const HRESULT Result = Writer->Deliver(Bytes, static_cast<size_t>(Size));
    if (Result) {
      Writer->FSinkError = Result;
      return AVERROR(EIO);
    }
    return Size;
  } catch (...) {
    Writer->FSinkError = WM_E_WRITEFAILED;
    return AVERROR(ENOMEM);
  }
}

HRESULT TWriter::Deliver(const uint8_t* Bytes, size_t Size) {
  for (const auto& Sink : FSinks)
    if (HRESULT Result = Sink->OnData(static_cast<uint64_t>(FPosition), Bytes, Size))
      return Result;
  FPosition += static_cast<int64_t>(Size);
  FEnd = std::max(FEnd, FPosition);
  return S_OK;
}

int64_t TWriter::Seek(void* Opaque, int64_t Offset, int Whence) {
  auto* Writer = static_cast<TWriter*>(Opaque);
  switch (Whence & ~AVSEEK_FORCE) {
  case AVSEEK_SIZE:
    return Writer->FEnd;
  case SEEK_SET:
    break;
  case SEEK_CUR:
    Offset += Writer->FPosition;
    break;
  case SEEK_END:
    Offset += Writer->FEnd;
    break;
  default:
    return AVERROR(EINVAL);
  }
  // Only the finished header is ever rewritten; it lies before everything the sinks have.
  if (Offset < 0 || Writer->FInHeader)
    return AVERROR(EINVAL);
  Writer->FPosition = Offset;
  return Offset;
}

HRESULT TWriter::EncodeFrame(const AVFrame* Frame) {
  if (avcodec_send_frame(FEncoder.get(), Frame) < 0)
    return WM_E_CODECFAILED;
  for (;;) {
    const int Received = avcodec_receive_packet(FEncoder.get(), FPacket.get());
    if (Received == AVERROR(EAGAIN) || Received == AVERROR_EOF)
      return S_OK;
    if (Received < 0)
      return WM_E_CODECFAILED;
    FPacket->stream_index = 0;
    av_packet_rescale_ts(FPacket.get(), FEncoder->time_base, FMuxer->streams[0]->time_base);
    if (av_write_frame(FMuxer.get(), FPacket.get()) < 0)
      return FSinkError ? FSinkError : WM_E_CODECFAILED;
    av_packet_unref(FPacket.get());
  }
}

// Whole interleaved 16-bit frames into the codec frame, encoding each one that fills.
HRESULT TWriter::WriteSample(uint32_t Input, uint64_t, uint32_t, INSSBuffer* Sample) {
  uint8_t* Bytes = nullptr;
  uint32_t Length = 0;
  if (Input != 0 || !Sample || Sample->GetBuffer(&Bytes) || Sample->GetLength(&Length))
    return WM_E_INVALIDARG;
  if (!FWriting)
    return WM_E_INVALIDSTATE;
  const size_t Align = FInput.Format().BlockAlign;
  FPartial.insert(FPartial.end(), Bytes, Bytes + Length);
  const size_t Frames = FPartial.size() / Align;
  size_t Done = 0;
  while (Done < Frames) {
    if (av_frame_make_writable(FFrame.get()) < 0)
      return WM_E_CODECFAILED;
    const size_t Take =
        std::min(Frames - Done, static_cast<size_t>(FFrame->nb_samples - FFrameFill));
    AddPcm(FPartial.data() + Done * Align, Take);
    Done += Take;
    if (FFrameFill < FFrame->nb_samples)
      break;
    FFrame->pts = FNextPts;
    FNextPts += FFrame->nb_samples;
    FFrameFill = 0;
    if (HRESULT Result = EncodeFrame(FFrame.get()))
      return Result;
  }
  FPartial.erase(FPartial.begin(), FPartial.begin() + static_cast<ptrdiff_t>(Done * Align));
  return S_OK;
}

void TWriter::AddPcm(const uint8_t* Bytes, size_t Frames) {
  const int Channels = FStream->Channels;
  for (size_t I = 0; I < Frames; ++I)
    for (int C = 0; C < Channels; ++C) {
      int16_t Value;
      std::memcpy(&Value, Bytes + (I * Channels + C) * 2, 2);
      reinterpret_cast<float*>(FFrame->extended_data[C])[FFrameFill + I] = Value / 32768.0f;
    }
  FFrameFill += static_cast<int>(Frames);
}

// Pads the codec frame with silence from what it holds, and encodes it.
HRESULT TWriter::EncodePadded() {
  if (av_frame_make_writable(FFrame.get()) < 0)
    return WM_E_CODECFAILED;
  for (int C = 0; C < FStream->Channels; ++C) {
    auto* Samples = reinterpret_cast<float*>(FFrame->extended_data[C]);
    std::fill(Samples + FFrameFill, Samples + FFrame->nb_samples, 0.0f);
  }
  FFrameFill = 0;
  FFrame->pts = FNextPts;
  FNextPts += FFrame->nb_samples;
  return EncodeFrame(FFrame.get());
}

// The last, partial frame is padded with silence; then comes a frame of silence, whose overlap
// completes the last real frame in the decoder. So every sample written is heard in full. The
// tail cannot be shorter: the decoder gives whole frames, and what it gives of the last one is
// folded about its middle.
HRESULT TWriter::EndWriting() {
  if (!FWriting)
    return WM_E_INVALIDSTATE;
  HRESULT Result = FFrameFill ? EncodePadded() : S_OK;
  if (!Result)
    Result = EncodePadded();
  if (!Result)
    Result = EncodeFrame(nullptr);
  if (!Result && av_write_trailer(FMuxer.get()) < 0)
    Result = FSinkError ? FSinkError : WM_E_CODECFAILED;
  if (!Result)
    avio_flush(FIO.get());
  if (!Result && FSinkError)
    Result = FSinkError;
  for (const auto& Sink : FSinks)
    if (HRESULT Ended = Sink->OnEndWriting(); !Result)
      Result = Ended;
  Finish();
  return Result;
}

void TWriter::Finish() {
  FMuxer.reset();
  FIO.reset();
  FEncoder.reset();
  FFrame.reset();
  FPacket.reset();
  FWriting = false;
}

} // namespace

HRESULT WMCreateWriter(void*, IWMWriter** Writer) {
  if (!Writer)
    return WM_E_INVALIDARG;
  *Writer = new TWriter;
  return S_OK;
}

HRESULT WMCreateWriterFileSink(IWMWriterFileSink** Sink) {
  if (!Sink)
    return WM_E_INVALIDARG;
  *Sink = new TFileSink;
  return S_OK;
}

HRESULT WMCreateProfileManager(IWMProfileManager** Manager) {
  if (!Manager)
    return WM_E_INVALIDARG;
  *Manager = new TProfileManager;
  return S_OK;
}

} // namespace platform
