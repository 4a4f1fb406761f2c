#include "audio/encoders/wmfintf.h"

#include "audio/core/ACS_Classes.h"
#include "platform/File.h"
#include "runtime/Rounding.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

using namespace platform;

namespace {

TWMFEntries Entries;

std::string Hex(HRESULT Result) {
  char Text[9];
  std::snprintf(Text, sizeof Text, "%08X", static_cast<uint32_t>(Result));
  return Text;
}

// The layer's code, with the system's reason when the file could not be written:
// "80520007 (File too large)".
std::string ErrorText(const TWMWriterContext& Context, HRESULT Result) {
  std::string Text = Hex(Result);
  if (Result == WM_E_WRITEFAILED && Context.FileSink)
    if (const int Error = Context.FileSink->GetWriteError())
      Text += " (" + SysErrorMessage(Error) + ")";
  return Text;
}

// Distances between bit rates, qualities and sample rates, without overflow.
int64_t Distance(int64_t A, int64_t B) {
  return std::llabs(A - B);
}

// A media type as the layer hands it out: the record and its format block, in one buffer.
class TMediaTypeBlock {
public:
  // False when the props give no type or one without a wave format block.
  bool Read(IWMMediaProps* Props) {
    uint32_t Size = 0;
    if (!Props || Props->GetMediaType(nullptr, &Size) != S_OK || Size < sizeof(WM_MEDIA_TYPE))
      return false;
    FStorage.assign((Size + 7) / 8, 0);
    if (Props->GetMediaType(Type(), &Size) != S_OK)
      return false;
    return Type()->pbFormat && Type()->cbFormat >= sizeof(TWaveFormatEx);
  }
  WM_MEDIA_TYPE* Type() { return reinterpret_cast<WM_MEDIA_TYPE*>(FStorage.data()); }
  TWaveFormatEx Wave() {
    TWaveFormatEx Format;
    std::memcpy(&Format, Type()->pbFormat, sizeof Format);
    return Format;
  }
  void SetWave(const TWaveFormatEx& Format) {
    std::memcpy(Type()->pbFormat, &Format, sizeof Format);
  }

private:
  std::vector<uint64_t> FStorage;
};

} // namespace

const TWMFEntries& WMF() {
  return Entries;
}

void SetWMF(const TWMFEntries& Value) {
  Entries = Value;
}

HRESULT TWMStatusCallback::OnStatus(WMT_STATUS Status, HRESULT, WMT_ATTR_DATATYPE, const uint8_t*,
                                    void*) {
  try {
    if (Status == WMT_CLIENT_CONNECTED && FContext->OnConnect)
      FContext->OnConnect(FContext->Owner);
    else if (Status == WMT_CLIENT_DISCONNECTED && FContext->OnDisconnect)
      FContext->OnDisconnect(FContext->Owner);
  } catch (...) {
    // The sink's thread goes on serving whatever a report costs.
  }
  return S_OK;
}

void OpenFileWriter(TWMWriterContext& Context, const std::u16string& FileName) {
  Context = TWMWriterContext{};
  if (WMF().WMCreateWriterFileSink(Context.FileSink.Put()) != S_OK || !Context.FileSink) {
    Context.FileSink.Reset();
    return;
  }
  if (WMF().WMCreateWriter(nullptr, Context.Writer.Put()) != S_OK || !Context.Writer) {
    Context = TWMWriterContext{};
    return;
  }
  TWMPtr<IWMWriterAdvanced> Advanced;
  if (Context.Writer->QueryWriterAdvanced(Advanced.Put()) == S_OK && Advanced)
    Advanced->AddSink(Context.FileSink.Get());
  if (Context.FileSink->Open(FileName.c_str()) != S_OK) {
    Context = TWMWriterContext{};
    return;
  }
  Context.Ready = true;
}

void OpenNetworkWriter(TWMWriterContext& Context, uint32_t Port, uint32_t MaxClients,
                       TAuOutput* Owner, TWMClientCallback OnConnect,
                       TWMClientCallback OnDisconnect) {
  Context = TWMWriterContext{};
  Context.Owner = Owner;
  Context.OnConnect = OnConnect;
  Context.OnDisconnect = OnDisconnect;
  if (WMF().WMCreateWriterNetworkSink(Context.NetworkSink.Put()) != S_OK || !Context.NetworkSink) {
    Context.NetworkSink.Reset();
    return;
  }
  if (WMF().WMCreateWriter(nullptr, Context.Writer.Put()) != S_OK || !Context.Writer) {
    Context.Writer.Reset();
    Context.NetworkSink.Reset();
    return;
  }
  Context.NetworkSink->SetNetworkProtocol(WMT_PROTOCOL_HTTP);
  uint32_t OpenedPort = Port;
  if (Context.NetworkSink->Open(&OpenedPort) != S_OK) {
    Context.Writer.Reset();
    Context.NetworkSink.Reset();
    return;
  }
  if (MaxClients > 0)
    Context.NetworkSink->SetMaximumClients(MaxClients);
  TWMPtr<IWMWriterAdvanced> Advanced;
  if (Context.Writer->QueryWriterAdvanced(Advanced.Put()) != S_OK || !Advanced ||
      Advanced->AddSink(Context.NetworkSink.Get()) != S_OK) {
    Context.Writer.Reset();
    Context.NetworkSink.Reset();
    return;
  }
  Context.StatusCallback = TWMPtr<IWMStatusCallback>(new TWMStatusCallback(&Context));
  TWMPtr<IWMRegisterCallback> Register;
  if (Context.NetworkSink->QueryRegisterCallback(Register.Put()) == S_OK && Register)
    Register->Advise(Context.StatusCallback.Get(), nullptr);
  Context.Ready = true;
}

TWMPtr<IWMStreamConfig> ChooseCodecFormat(int32_t Channels, int32_t BitsPerSample,
                                          int32_t SampleRate, int32_t Target, bool Lossless,
                                          bool VBR) {
  TWMPtr<IWMProfileManager> Manager;
  TWMPtr<IWMCodecInfo3> Info;
  WMF().WMCreateProfileManager(Manager.Put());
  if (!Manager || Manager->QueryCodecInfo3(Info.Put()) != S_OK || !Info)
    return {};
  TWMPtr<IWMStreamConfig> Best;
  int32_t BestBitrate = 0, BestRate = 0, BestQuality = 0, Current = 0;
  uint32_t Codecs = 0;
  Info->GetCodecInfoCount(WMMEDIATYPE_Audio, &Codecs);
  for (uint32_t Codec = 0; Codec < Codecs; ++Codec) {
    if (Lossless || VBR) {
      const uint32_t True = 0xFFFFFFFF;
      if (Info->SetCodecEnumerationSetting(WMMEDIATYPE_Audio, Codec, u"_VBRENABLED", WMT_TYPE_BOOL,
                                           reinterpret_cast<const uint8_t*>(&True),
                                           sizeof True) != S_OK)
        continue;
    }
    uint32_t Formats = 0;
    Info->GetCodecFormatCount(WMMEDIATYPE_Audio, Codec, &Formats);
    for (uint32_t Format = 0; Format < Formats; ++Format) {
      TWMPtr<IWMStreamConfig> Config;
      if (Info->GetCodecFormat(WMMEDIATYPE_Audio, Codec, Format, Config.Put()) != S_OK || !Config)
        break;
      TWMPtr<IWMMediaProps> Props;
      TMediaTypeBlock Type;
      if (Config->QueryMediaProps(Props.Put()) != S_OK || !Type.Read(Props.Get()))
        continue;
      const TWaveFormatEx Wave = Type.Wave();
      bool Candidate;
      if (Lossless) {
        Candidate = Type.Type()->subtype == WMMEDIASUBTYPE_WMAudio_Lossless;
      } else if (VBR) {
        uint32_t Quality = 0, Size = sizeof Quality;
        WMT_ATTR_DATATYPE AttrType;
        Info->GetCodecFormatProp(WMMEDIATYPE_Audio, Codec, Format, u"_VBRQUALITY", &AttrType,
                                 reinterpret_cast<uint8_t*>(&Quality), &Size);
        Candidate = Distance(Target, static_cast<int32_t>(Quality)) < Distance(Target, BestQuality);
        if (Candidate)
          BestQuality = static_cast<int32_t>(Quality);
      } else {
        uint32_t Bitrate = 0;
        Config->GetBitrate(&Bitrate);
        Current = static_cast<int32_t>(Bitrate);
        Candidate = Distance(Current, Target) < Distance(BestBitrate, Target);
      }
      if (!Candidate)
        continue;
      if ((Lossless || VBR) && !Best)
        Best = Config;
      const auto Rate = static_cast<int32_t>(Wave.SamplesPerSec);
      if (Wave.Channels == Channels && Wave.BitsPerSample == BitsPerSample &&
          Distance(Rate, SampleRate) <= Distance(BestRate, SampleRate)) {
        BestBitrate = Current;
        BestRate = Rate;
        Best = Config;
      }
    }
  }
  return Best;
}

void SetupProfile(TWMWriterContext& Context, int32_t Channels, int32_t BitsPerSample,
                  int32_t SampleRate, int32_t Target, bool Lossless, bool VBR) {
  TWMPtr<IWMStreamConfig> Config =
      ChooseCodecFormat(Channels, BitsPerSample, SampleRate, Target, Lossless, VBR);
  if (!Config)
    throw Exception("Failed to init codec");
  TWMPtr<IWMProfileManager> Manager;
  TWMPtr<IWMProfile> Profile;
  WMF().WMCreateProfileManager(Manager.Put());
  if (Manager)
    Manager->CreateEmptyProfile(WMT_VER_9_0, Profile.Put());
  Config->SetStreamNumber(1);
  Config->SetStreamName(u"NAAudioStream");
  Config->SetConnectionName(u"NAAudioConnection");
  if (!Profile || Profile->AddStream(Config.Get()) != S_OK)
    throw Exception("fff");
  Context.Writer->SetProfile(Profile.Get());
  uint32_t Inputs = 0;
  Context.Writer->GetInputCount(&Inputs);
  for (uint32_t Input = 0; Input < Inputs; ++Input) {
    TWMPtr<IWMInputMediaProps> Props;
    TMediaTypeBlock Type;
    if (Context.Writer->GetInputProps(Input, Props.Put()) != S_OK || !Type.Read(Props.Get()))
      continue;
    if (!(Type.Type()->majortype == WMMEDIATYPE_Audio) ||
        !(Type.Type()->formattype == WMFORMAT_WaveFormatEx))
      continue;
    Context.InputNumber = Input;
    TWaveFormatEx Wave = Type.Wave();
    Wave.FormatTag = WAVE_FORMAT_PCM;
    Wave.Channels = static_cast<uint16_t>(Channels);
    Wave.SamplesPerSec = static_cast<uint32_t>(SampleRate);
    Wave.BlockAlign = static_cast<uint16_t>(BitsPerSample * Channels / 8);
    Wave.AvgBytesPerSec = Wave.BlockAlign * Wave.SamplesPerSec;
    Wave.BitsPerSample = static_cast<uint16_t>(BitsPerSample);
    Type.SetWave(Wave);
    Context.BytesPerSecond = Wave.AvgBytesPerSec;
    Props->SetMediaType(Type.Type());
    Context.Writer->SetInputProps(Input, Props.Get());
    break;
  }
  // Without a PCM input no sample could be stamped: its duration would divide by zero.
  if (Context.BytesPerSecond == 0)
    throw Exception("Failed to init codec");
}

void SetAttributeText(TWMWriterContext& Context, const char16_t* Name, const std::u16string& Text) {
  TWMPtr<IWMHeaderInfo> Header;
  if (Context.Writer->QueryHeaderInfo(Header.Put()) != S_OK || !Header)
    return;
  Header->SetAttribute(0, Name, WMT_TYPE_STRING, reinterpret_cast<const uint8_t*>(Text.data()),
                       static_cast<uint16_t>(Text.size() * 2));
}

void StartWriting(TWMWriterContext& Context) {
  if (const HRESULT Result = Context.Writer->BeginWriting(); Result != S_OK)
    throw EAuException("Filed to set data writer: " + ErrorText(Context, Result));
  Context.Writing = true;
  Context.SampleTime = 0;
}

void WriteChunk(TWMWriterContext& Context, const uint8_t* Bytes, uint32_t Count) {
  HRESULT Result = Context.Writer->AllocateSample(Count, Context.Sample.Put());
  if (!Context.Sample)
    throw EAuException("Failed to write data: " + Hex(Result));
  uint8_t* Buffer = nullptr;
  Context.Sample->GetBuffer(&Buffer);
  if (Buffer && Count)
    std::memcpy(Buffer, Bytes, Count);
  Context.Sample->SetLength(Count);
  const long double Duration =
      static_cast<long double>(Count) / Context.BytesPerSecond / 0.0000001L;
  Context.SampleTime += static_cast<uint64_t>(RoundHalfEven(Duration));
  Result =
      Context.Writer->WriteSample(Context.InputNumber, Context.SampleTime, 0, Context.Sample.Get());
  Context.Sample.Reset();
  if (Result != S_OK)
    throw EAuException("Failed to write data: " + ErrorText(Context, Result));
}

void EndWriting(TWMWriterContext& Context) {
  Context.Writing = false;
  if (const HRESULT Result = Context.Writer->EndWriting(); Result != S_OK)
    throw EAuException("Failed to write data: " + ErrorText(Context, Result));
}

void CloseWriter(TWMWriterContext& Context) {
  if (Context.Writing) {
    Context.Writing = false;
    Context.Writer->EndWriting();
  }
  if (Context.NetworkSink) {
    Context.NetworkSink->Close();
    TWMPtr<IWMWriterAdvanced> Advanced;
    if (Context.Writer && Context.Writer->QueryWriterAdvanced(Advanced.Put()) == S_OK && Advanced)
      Advanced->RemoveSink(Context.NetworkSink.Get());
  }
  Context.Sample.Reset();
  Context.FileSink.Reset();
  Context.NetworkSink.Reset();
  Context.Writer.Reset();
  Context.StatusCallback.Reset();
  Context.Ready = false;
}
