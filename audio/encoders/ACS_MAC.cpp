#include "audio/encoders/ACS_MAC.h"

#include "audio/encoders/MACDll.h"
#include "runtime/Text.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace {

constexpr std::pair<int32_t, const char*> ErrorTexts[] = {
    {0, "OK"},
    {1000, "I/O read error"},
    {1001, "I/O write error"},
    {1002, "invalid input file"},
    {1003, "invalid output file"},
    {1004, "input file file too large"},
    {1005, "input file unsupported bit depth"},
    {1006, "input file unsupported sample rate"},
    {1007, "input file unsupported channel count"},
    {1008, "input file too small"},
    {1009, "invalid checksum"},
    {1010, "decompressing frame"},
    {1011, "initializing unmac"},
    {1012, "invalid function parameter"},
    {1013, "unsupported file type"},
    {2000, "insufficient memory"},
    {3000, "loading MAC.dll"},
    {3001, "loading MACinfo.dll"},
    {3002, "loading UnMAC.dll"},
    {4000, "user stopped processing"},
    {4001, "skipped..."},
    {5000, "bad parameter"},
    {6000, "APE compress too much data"},
};

} // namespace

std::string MACErrorText(int32_t Code) {
  for (const auto& [Known, Text] : ErrorTexts)
    if (Known == Code)
      return Text;
  return "undefined (" + std::to_string(Code) + ")";
}

EAPEException::EAPEException(int32_t Code) : Exception("MACDll error: " + MACErrorText(Code)) {}

void TAPECompressDestroy::operator()(void* Handle) const {
  MACDll().c_APECompress_Destroy(reinterpret_cast<intptr_t>(Handle));
}

TAPECompress::TAPECompress() {
  int32_t Error = 0;
  FHandle.reset(reinterpret_cast<void*>(MACDll().c_APECompress_Create(&Error)));
  if (Error != 0)
    throw EAPEException(Error);
}

int32_t TAPECompress::Start(const char* OutputFile, const WAVEFORMATEX* Format,
                            int32_t MaxAudioBytes, int32_t CompressionLevel, const void* HeaderData,
                            int32_t HeaderBytes) {
  return MACDll().c_APECompress_Start(Handle(), OutputFile, Format, MaxAudioBytes, CompressionLevel,
                                      HeaderData, HeaderBytes);
}

int32_t TAPECompress::Finish(const void* TerminatingData, int32_t TerminatingBytes,
                             int32_t WavTerminatingBytes) {
  return MACDll().c_APECompress_Finish(Handle(), TerminatingData, TerminatingBytes,
                                       WavTerminatingBytes);
}

uint8_t* TAPECompress::LockBuffer(int32_t& BytesAvailable) {
  return MACDll().c_APECompress_LockBuffer(Handle(), &BytesAvailable);
}

int32_t TAPECompress::UnlockBuffer(int32_t BytesAdded) {
  return MACDll().c_APECompress_UnlockBuffer(Handle(), BytesAdded, 1);
}

TMACOut::TMACOut(TComponent* AOwner) : TAuTaggedFileOut(AOwner) {}

void TMACOut::SetCompressionLevel(int32_t Value) {
  const bool Known = Value >= 1000 && Value <= 5000 && Value % 1000 == 0;
  FCompressionLevel = Known ? Value : 2000;
}

void TMACOut::Prepare() {
  LoadMACLibrary();
  RequireMACLibrary();
  if (FWideFileName.empty())
    throw EAuException("File name is not assigned.");
  Input()->Init();
  FEndOfInput = false;
  const int32_t FrameSize = Input()->GetCh() * (Input()->GetBPS() / 8);
  // A chunk holds whole frames only; a frame that does not fit the buffer cannot be fed.
  if (FrameSize <= 0 || FrameSize > static_cast<int32_t>(FBuffer.size()))
    throw EAuException("The input's sample format cannot be encoded.");
  FChunk = static_cast<uint32_t>(FBuffer.size() - FBuffer.size() % FrameSize);
  FCompressor = std::make_unique<TAPECompress>();
  MACDll().FillWaveFormatEx(&FFormat, Input()->GetSR(), Input()->GetBPS(), Input()->GetCh());
  const int32_t Result = FCompressor->Start(Utf16ToUtf8(FWideFileName).c_str(), &FFormat,
                                            FMaxAudioBytes, FCompressionLevel, nullptr, 0);
  if (Result != 0)
    throw EAuException("Error starting APECompress.\r\n" + MACErrorText(Result));
  FStarted = true;
}

bool TMACOut::DoOutput(bool Abort) {
  if (!Prepared())
    return true;
  if (Abort || FEndOfInput)
    return false;
  const uint32_t Bytes = Input()->FillBuffer(FBuffer.data(), FChunk, FEndOfInput);
  if (Bytes == 0)
    return true;
  FeedLibrary(Bytes);
  return true;
}

void TMACOut::FeedLibrary(uint32_t Bytes) {
  for (uint32_t Fed = 0; Fed < Bytes;) {
    int32_t Available = 0;
    uint8_t* Buffer = FCompressor->LockBuffer(Available);
    // A library that lends no room would keep this loop going for ever; the lock is given
    // back so that Done can still finish the file.
    if (Buffer == nullptr || Available <= 0) {
      if (Buffer != nullptr)
        FCompressor->UnlockBuffer(0);
      throw EAuException("APECompress.LockBuffer Error: no room in the buffer");
    }
    const uint32_t Count = std::min(static_cast<uint32_t>(Available), Bytes - Fed);
    std::memcpy(Buffer, FBuffer.data() + Fed, Count);
    Fed += Count;
    if (const int32_t Result = FCompressor->UnlockBuffer(static_cast<int32_t>(Count)))
      throw EAuException("APECompress.UnlockBuffer Error: " + MACErrorText(Result));
  }
}

void TMACOut::Done() {
  const bool Written = FStarted;
  FStarted = false;
  // Finishing writes the last frame and the header; a full disk refuses that.
  const int32_t Finished = Written ? FCompressor->Finish(nullptr, 0, 0) : 0;
  FCompressor.reset();
  if (TAuInput* Source = Input())
    Source->Flush();
  if (Finished != 0)
    throw EAuException("APECompress.Finish Error: " + MACErrorText(Finished));
  if (Written && !APEv2Tags()->IsBlank())
    TagFile();
}

void TMACOut::TagFile() {
  const TAPEv2Tags& Tags = *APEv2Tags();
  // 8-bit text is UTF-8 already, so Year and Track pass as they are.
  const int32_t Result = MACDll().TagFileSimple(
      Utf16ToUtf8(FWideFileName).c_str(), Utf16ToUtf8(Tags.Artist()).c_str(),
      Utf16ToUtf8(Tags.Album()).c_str(), Utf16ToUtf8(Tags.Title()).c_str(),
      Utf16ToUtf8(Tags.Comment()).c_str(), Utf16ToUtf8(Tags.Genre()).c_str(),
      Tags.Year().c_str(), Tags.Track().c_str(), 1, 0);
  if (Result != 0)
    throw EAuException("TagFileSimple Error: " + MACErrorText(Result));
}
