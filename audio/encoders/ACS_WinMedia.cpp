#include "audio/encoders/ACS_WinMedia.h"

#include "runtime/Text.h"

namespace {

// On the network sink's thread: the handlers run later on the user-interface thread.
void ClientConnected(TAuOutput* Owner) {
  auto* Output = static_cast<TWMStreamedOut*>(Owner);
  if (Output->OnClientConnected())
    EventHandler()->QueueThreadException(Output, Output->OnClientConnected());
}

void ClientDisconnected(TAuOutput* Owner) {
  auto* Output = static_cast<TWMStreamedOut*>(Owner);
  if (Output->OnClientDisconnected())
    EventHandler()->QueueThreadException(Output, Output->OnClientDisconnected());
}

} // namespace

TWMAOut::TWMAOut(TComponent* AOwner) : TAuTaggedFileOut(AOwner) {}

TWMStreamedOut::TWMStreamedOut(TComponent* AOwner) : TWMAOut(AOwner) {
  FStreamed = true;
}

void TWMAOut::Prepare() {
  if (!FStreamed && FWideFileName.empty())
    throw EAuException("File name is not assigned.");
  Input()->Init();
  if (FStreamed)
    OpenNetworkWriter(FContext, FPort, FMaxClients, this, ClientConnected, ClientDisconnected);
  else
    OpenFileWriter(FContext, FWideFileName);
  if (!FContext.Ready)
    throw Exception("Cannot create file");
  const int32_t Channels = Input()->GetCh();
  const int32_t BitsPerSample = Input()->GetBPS();
  const int32_t SampleRate = Input()->GetSR();
  uint32_t Target = FDesiredBitrate;
  if (FVBR)
    Target = FVBRQuality;
  else if (Target < 1000)
    Target *= 1000;
  SetupProfile(FContext, Channels, BitsPerSample, SampleRate, static_cast<int32_t>(Target),
               FLossless, FVBR);
  FBufferSize = static_cast<uint32_t>(Channels) * static_cast<uint32_t>(BitsPerSample) *
                static_cast<uint32_t>(SampleRate) / 100;
  FBuffer.assign(FBufferSize, 0);
  SetAttributes();
  StartWriting(FContext);
  FEndOfInput = false;
}

void TWMAOut::SetAttributes() {
  TId3v2Tags& Tags = *Id3v2Tags();
  const std::pair<const char16_t*, std::u16string> Attributes[] = {
      {u"Author", Tags.Artist()},
      {u"WM/AlbumTitle", Tags.Album()},
      {u"WM/Genre", Tags.Genre()},
      {u"WM/Year", Utf8ToUtf16(Tags.Year())},
      {u"WM/Track", Utf8ToUtf16(Tags.Track())},
      {u"Title", Tags.Title()},
      {u"Copyright", Tags.Comment()},
  };
  for (const auto& [Name, Text] : Attributes)
    if (!Text.empty())
      SetAttributeText(FContext, Name, Text);
}

bool TWMAOut::DoOutput(bool Abort) {
  if (!Prepared())
    return true;
  if (Abort)
    return false;
  if (FEndOfInput) {
    // Ending here, not in Done, lets a file that could not be completed fail the run.
    EndWriting(FContext);
    return false;
  }
  const uint32_t Count = Input()->FillBuffer(FBuffer.data(), FBufferSize, FEndOfInput);
  WriteChunk(FContext, FBuffer.data(), Count);
  return true;
}

void TWMAOut::Done() {
  if (TAuInput* Source = Input())
    Source->Flush();
  CloseWriter(FContext);
  FBuffer = {};
}
