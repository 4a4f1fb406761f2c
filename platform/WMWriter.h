#pragma once

#include "platform/Sound.h"

#include <cstddef>
#include <cstdint>
#include <utility>

// A Windows Media Format writer over FFmpeg: WMA (libavcodec's wmav2 and wmav1) in ASF
// (libavformat's muxer), written to a file sink or served over HTTP by a network sink.
//
// Objects are reference-counted: a creating call hands out a reference that the caller releases
// (TWMPtr does it). A call taking an object keeps its own reference when it stores it. One
// object is used from one thread at a time; the network sink serves its clients on a thread of
// its own.
namespace platform {

inline constexpr HRESULT S_OK = 0;
// A null pointer, an index out of range, a size too small, a name or type not known.
inline constexpr HRESULT WM_E_INVALIDARG = static_cast<HRESULT>(0x80520001);
// A setting or property FFmpeg cannot provide, such as "_VBRENABLED" (no VBR or lossless WMA).
inline constexpr HRESULT WM_E_UNSUPPORTED = static_cast<HRESULT>(0x80520002);
// The call comes out of order: writing without a profile, input or sink, or after the end.
inline constexpr HRESULT WM_E_INVALIDSTATE = static_cast<HRESULT>(0x80520003);
// A stream or input type this writer does not take: a profile needs one stream from the codec
// info, an input 16-bit PCM with the stream's channels and sample rate.
inline constexpr HRESULT WM_E_INVALIDFORMAT = static_cast<HRESULT>(0x80520004);
// The file could not be created, or the port could not be opened.
inline constexpr HRESULT WM_E_OPENFAILED = static_cast<HRESULT>(0x80520005);
// FFmpeg's encoder or muxer failed.
inline constexpr HRESULT WM_E_CODECFAILED = static_cast<HRESULT>(0x80520006);
// A sink could not write (disk full).
inline constexpr HRESULT WM_E_WRITEFAILED = static_cast<HRESULT>(0x80520007);

enum WMT_ATTR_DATATYPE : uint32_t {
  WMT_TYPE_DWORD = 0,
  WMT_TYPE_STRING = 1,
  WMT_TYPE_BINARY = 2,
  WMT_TYPE_BOOL = 3,
};

enum WMT_STATUS : uint32_t {
  WMT_CLIENT_CONNECTED = 37,
  WMT_CLIENT_DISCONNECTED = 38,
};

enum WMT_NET_PROTOCOL : uint32_t { WMT_PROTOCOL_HTTP = 0 };

inline constexpr uint32_t WMT_VER_9_0 = 0x90000;

// The value of a client status: the client's IPv4 address and port, in host order.
struct WM_CLIENT_PROPERTIES {
  uint32_t dwIPAddress = 0;
  uint32_t dwPort = 0;
};

inline constexpr TGuid WMMEDIATYPE_Audio = {
    0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr TGuid WMMEDIASUBTYPE_PCM = KSDATAFORMAT_SUBTYPE_PCM;
inline constexpr TGuid WMMEDIASUBTYPE_WMAudioV1 = {
    0x00000160, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr TGuid WMMEDIASUBTYPE_WMAudioV8 = {
    0x00000161, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr TGuid WMMEDIASUBTYPE_WMAudio_Lossless = {
    0x00000163, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr TGuid WMFORMAT_WaveFormatEx = {
    0x05589F81, 0xC356, 0x11CE, {0xBF, 0x01, 0x00, 0xAA, 0x00, 0x55, 0x59, 0x5A}};

inline constexpr uint16_t WAVE_FORMAT_WMAUDIO1 = 0x0160;
inline constexpr uint16_t WAVE_FORMAT_WMAUDIO2 = 0x0161;

// GetMediaType fills one block: this record, then cbFormat bytes of format (a TWaveFormatEx)
// that pbFormat points to.
struct WM_MEDIA_TYPE {
  TGuid majortype;
  TGuid subtype;
  int32_t bFixedSizeSamples = 0;
  int32_t bTemporalCompression = 0;
  uint32_t lSampleSize = 0;
  TGuid formattype;
  void* pUnk = nullptr;
  uint32_t cbFormat = 0;
  uint8_t* pbFormat = nullptr;
};

class IWMUnknown {
public:
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;

protected:
  ~IWMUnknown() = default;
};

// Holds one reference and releases it.
template <class T> class TWMPtr {
public:
  TWMPtr() = default;
  // Takes over a reference the caller holds.
  explicit TWMPtr(T* Object) : FObject(Object) {}
  ~TWMPtr() { Reset(); }
  TWMPtr(const TWMPtr& Other) : FObject(Other.FObject) {
    if (FObject)
      FObject->AddRef();
  }
  TWMPtr& operator=(TWMPtr Other) {
    std::swap(FObject, Other.FObject);
    return *this;
  }
  T* Get() const { return FObject; }
  T* operator->() const { return FObject; }
  explicit operator bool() const { return FObject != nullptr; }
  // Releases what it holds and gives the place for a creating call's reference.
  T** Put() {
    Reset();
    return &FObject;
  }
  void Reset() {
    if (FObject)
      FObject->Release();
    FObject = nullptr;
  }

private:
  T* FObject = nullptr;
};

class INSSBuffer : public IWMUnknown {
public:
  // The bytes, as many as the size the sample was allocated with.
  virtual HRESULT GetBuffer(uint8_t** Buffer) = 0;
  virtual HRESULT GetLength(uint32_t* Length) = 0;
  // The bytes that count, at most the allocated size.
  virtual HRESULT SetLength(uint32_t Length) = 0;
};

class IWMMediaProps : public IWMUnknown {
public:
  // With a null Type, gives the size of the block in Size; otherwise fills the block, which must
  // be at least Size bytes.
  virtual HRESULT GetMediaType(WM_MEDIA_TYPE* Type, uint32_t* Size) = 0;
  virtual HRESULT SetMediaType(const WM_MEDIA_TYPE* Type) = 0;
};

class IWMInputMediaProps : public IWMMediaProps {};

// One format of the codec info. Its media type is fixed (SetMediaType gives WM_E_UNSUPPORTED).
class IWMStreamConfig : public IWMUnknown {
public:
  // The stream's real bit rate: block size x 8 x sample rate / frame length, rounded.
  virtual HRESULT GetBitrate(uint32_t* Bitrate) = 0;
  // 1 to 63. The file's one stream is number 1 whatever is set, and the ASF muxer has no place
  // for the names.
  virtual HRESULT SetStreamNumber(uint16_t Number) = 0;
  virtual HRESULT SetStreamName(const char16_t* Name) = 0;
  virtual HRESULT SetConnectionName(const char16_t* Name) = 0;
  virtual HRESULT QueryMediaProps(IWMMediaProps** Props) = 0;
};

// Holds at most one stream, a copy of the configuration added.
class IWMProfile : public IWMUnknown {
public:
  virtual HRESULT AddStream(IWMStreamConfig* Config) = 0;
};

// The codecs are listed wmav2 first, then wmav1; each lists its formats by sample rate, then
// channel count, then bit rate, all at 16 bits per sample.
class IWMCodecInfo3 : public IWMUnknown {
public:
  // Only WMMEDIATYPE_Audio has codecs; another type counts none.
  virtual HRESULT GetCodecInfoCount(const TGuid& MajorType, uint32_t* Count) = 0;
  virtual HRESULT GetCodecFormatCount(const TGuid& MajorType, uint32_t Codec, uint32_t* Count) = 0;
  virtual HRESULT GetCodecFormat(const TGuid& MajorType, uint32_t Codec, uint32_t Format,
                                 IWMStreamConfig** Config) = 0;
  // Takes "_VBRENABLED" false; true gives WM_E_UNSUPPORTED.
  virtual HRESULT SetCodecEnumerationSetting(const TGuid& MajorType, uint32_t Codec,
                                             const char16_t* Name, WMT_ATTR_DATATYPE Type,
                                             const uint8_t* Value, uint32_t Size) = 0;
  // Knows "_VBR" (WMT_TYPE_BOOL, always false); "_VBRQUALITY" gives WM_E_UNSUPPORTED. With a
  // null Value, gives the size in Size.
  virtual HRESULT GetCodecFormatProp(const TGuid& MajorType, uint32_t Codec, uint32_t Format,
                                     const char16_t* Name, WMT_ATTR_DATATYPE* Type, uint8_t* Value,
                                     uint32_t* Size) = 0;
};

class IWMProfileManager : public IWMUnknown {
public:
  // Version WMT_VER_9_0 only.
  virtual HRESULT CreateEmptyProfile(uint32_t Version, IWMProfile** Profile) = 0;
  virtual HRESULT QueryCodecInfo3(IWMCodecInfo3** Info) = 0;
};

// Where a writer's ASF bytes go. The writer calls OnHeader once per writing, with the header
// and the size of every data packet after it, then OnData with the bytes that follow at their
// file offsets (a seekable sink gets the header again at offset 0 at the end, with its sizes
// filled in), then OnEndWriting.
class IWMWriterSink : public IWMUnknown {
public:
  virtual bool IsSeekable() = 0;
  virtual HRESULT OnHeader(const uint8_t* Bytes, size_t Size, uint32_t PacketSize) = 0;
  virtual HRESULT OnData(uint64_t Offset, const uint8_t* Bytes, size_t Size) = 0;
  virtual HRESULT OnEndWriting() = 0;
};

class IWMWriterFileSink : public IWMWriterSink {
public:
  // Creates the file, or empties an existing one.
  virtual HRESULT Open(const char16_t* FileName) = 0;
  // The system's error number (EFBIG, ENOSPC) of the write that gave WM_E_WRITEFAILED since
  // the file was opened, or 0.
  virtual int GetWriteError() = 0;
};

class IWMStatusCallback : public IWMUnknown {
public:
  // Context is what Advise was given.
  virtual HRESULT OnStatus(WMT_STATUS Status, HRESULT Result, WMT_ATTR_DATATYPE Type,
                           const uint8_t* Value, void* Context) = 0;
};

class IWMRegisterCallback : public IWMUnknown {
public:
  // Keeps a reference to the callback until the sink goes.
  virtual HRESULT Advise(IWMStatusCallback* Callback, void* Context) = 0;
};

// Serves the stream over HTTP/1.0 on all interfaces. Each client that asks gets the header and
// the packets from then on; a client is reported with WMT_CLIENT_CONNECTED once its request is
// taken and with WMT_CLIENT_DISCONNECTED when it leaves, falls too far behind, or the sink
// stops serving (the stream's end, Close). The callbacks run on the sink's thread; they must
// not call the sink.
class IWMWriterNetworkSink : public IWMWriterSink {
public:
  virtual HRESULT SetNetworkProtocol(WMT_NET_PROTOCOL Protocol) = 0;
  // Listens on the port, or on a free one when Port is 0, and gives the port in Port.
  virtual HRESULT Open(uint32_t* Port) = 0;
  // Clients beyond the limit (5 until set) get "503 Service Unavailable".
  virtual HRESULT SetMaximumClients(uint32_t MaxClients) = 0;
  // Stops listening and lets every client go.
  virtual HRESULT Close() = 0;
  virtual HRESULT QueryRegisterCallback(IWMRegisterCallback** Register) = 0;
};

class IWMWriterAdvanced : public IWMUnknown {
public:
  // Not while writing.
  virtual HRESULT AddSink(IWMWriterSink* Sink) = 0;
  virtual HRESULT RemoveSink(IWMWriterSink* Sink) = 0;
};

class IWMHeaderInfo : public IWMUnknown {
public:
  // File attributes (stream 0) of WMT_TYPE_STRING: Value is UTF-16 text of Length bytes.
  // "Title", "Author" and "Copyright" go to the ASF content description, others ("WM/Genre")
  // to the extended content description. Before BeginWriting.
  virtual HRESULT SetAttribute(uint16_t Stream, const char16_t* Name, WMT_ATTR_DATATYPE Type,
                               const uint8_t* Value, uint16_t Length) = 0;
};

// The audio's place in the stream follows from the samples' sizes: time stamps (100-ns units)
// are taken as given, and the stream has no gaps. The last, partial codec frame is padded with
// silence at EndWriting, so that every sample written is in the file.
class IWMWriter : public IWMUnknown {
public:
  // Gives the writer one input, 16-bit PCM in the stream's channels and sample rate.
  virtual HRESULT SetProfile(IWMProfile* Profile) = 0;
  virtual HRESULT GetInputCount(uint32_t* Count) = 0;
  virtual HRESULT GetInputProps(uint32_t Input, IWMInputMediaProps** Props) = 0;
  // A type the writer does not take is refused, and BeginWriting then fails with
  // WM_E_INVALIDFORMAT rather than encode the input as something it is not.
  virtual HRESULT SetInputProps(uint32_t Input, IWMInputMediaProps* Props) = 0;
  virtual HRESULT BeginWriting() = 0;
  virtual HRESULT AllocateSample(uint32_t Size, INSSBuffer** Sample) = 0;
  // Whole frames of PCM; bytes of a partial frame wait for the next sample.
  virtual HRESULT WriteSample(uint32_t Input, uint64_t SampleTime, uint32_t Flags,
                              INSSBuffer* Sample) = 0;
  virtual HRESULT EndWriting() = 0;
  virtual HRESULT QueryWriterAdvanced(IWMWriterAdvanced** Advanced) = 0;
  virtual HRESULT QueryHeaderInfo(IWMHeaderInfo** HeaderInfo) = 0;
};

HRESULT WMCreateWriter(void* Reserved, IWMWriter** Writer);
HRESULT WMCreateWriterFileSink(IWMWriterFileSink** Sink);
HRESULT WMCreateWriterNetworkSink(IWMWriterNetworkSink** Sink);
HRESULT WMCreateProfileManager(IWMProfileManager** Manager);

} // namespace platform
