#pragma once

#include "platform/WMRefCounted.h"
#include "platform/WMWriter.h"

#include <cstdint>
#include <string>

class TAuOutput;

// The writer layer's creating calls. Tests put recording ones in their place, between runs.
struct TWMFEntries {
  decltype(&platform::WMCreateWriter) WMCreateWriter = platform::WMCreateWriter;
  decltype(&platform::WMCreateWriterFileSink) WMCreateWriterFileSink =
      platform::WMCreateWriterFileSink;
  decltype(&platform::WMCreateWriterNetworkSink) WMCreateWriterNetworkSink =
      platform::WMCreateWriterNetworkSink;
  decltype(&platform::WMCreateProfileManager) WMCreateProfileManager =
      platform::WMCreateProfileManager;
};
const TWMFEntries& WMF();
void SetWMF(const TWMFEntries& Entries);

// Called on the network sink's thread with the context's owner.
using TWMClientCallback = void (*)(TAuOutput* Owner);

// The layer's objects of one run, made afresh at every opening. Worker thread only, except that
// the network sink's thread reads Owner and the callbacks, which are set before it may call.
struct TWMWriterContext {
  TAuOutput* Owner = nullptr;
  platform::TWMPtr<platform::IWMWriter> Writer;
  platform::TWMPtr<platform::INSSBuffer> Sample;
  uint32_t InputNumber = 0;
  uint32_t BytesPerSecond = 0;
  // The end of the last sample written, in 100-ns units.
  uint64_t SampleTime = 0;
  bool Ready = false;
  // Between a successful BeginWriting and EndWriting.
  bool Writing = false;
  platform::TWMPtr<platform::IWMWriterFileSink> FileSink;
  platform::TWMPtr<platform::IWMWriterNetworkSink> NetworkSink;
  platform::TWMPtr<platform::IWMStatusCallback> StatusCallback;
  TWMClientCallback OnConnect = nullptr;
  TWMClientCallback OnDisconnect = nullptr;
};

// Hands the network sink's client statuses to the context's callbacks.
class TWMStatusCallback : public platform::TWMRefCounted<platform::IWMStatusCallback> {
public:
  explicit TWMStatusCallback(TWMWriterContext* Context) : FContext(Context) {}
  // Always 0: nothing the callbacks do reaches the sink.
  platform::HRESULT OnStatus(platform::WMT_STATUS Status, platform::HRESULT Result,
                             platform::WMT_ATTR_DATATYPE Type, const uint8_t* Value,
                             void* Context) override;

private:
  TWMWriterContext* FContext;
};

// Each opening starts from an empty context and sets Ready only when everything was made.
void OpenFileWriter(TWMWriterContext& Context, const std::u16string& FileName);
void OpenNetworkWriter(TWMWriterContext& Context, uint32_t Port, uint32_t MaxClients,
                       TAuOutput* Owner, TWMClientCallback OnConnect,
                       TWMClientCallback OnDisconnect);

// The codec format for the input: by Target as bit rate, or as quality when VBR, or lossless.
// None when no format qualifies.
platform::TWMPtr<platform::IWMStreamConfig> ChooseCodecFormat(int32_t Channels,
                                                              int32_t BitsPerSample,
                                                              int32_t SampleRate, int32_t Target,
                                                              bool Lossless, bool VBR);
// A one-stream profile on the chosen format, and the writer's PCM input. Raises
// "Failed to init codec" when no format qualifies or no input takes PCM, "fff" when the profile
// refuses the stream.
void SetupProfile(TWMWriterContext& Context, int32_t Channels, int32_t BitsPerSample,
                  int32_t SampleRate, int32_t Target, bool Lossless, bool VBR);
// A text attribute of the file.
void SetAttributeText(TWMWriterContext& Context, const char16_t* Name, const std::u16string& Text);
// Begins writing at time 0; raises EAuException on failure.
void StartWriting(TWMWriterContext& Context);
// One sample of Count bytes (0 too), stamped with the time at its end; raises EAuException on
// failure.
void WriteChunk(TWMWriterContext& Context, const uint8_t* Bytes, uint32_t Count);
// Ends writing, which completes the file; raises EAuException when it could not be completed.
void EndWriting(TWMWriterContext& Context);
// Ends writing if it was not ended (a stopped or failed run), then releases every object of the
// run, the network sink closed first, and clears Ready.
void CloseWriter(TWMWriterContext& Context);
