#pragma once

#include "audio/core/ACS_Classes.h"
#include "audio/encoders/wmfintf.h"

#include <cstdint>
#include <functional>
#include <vector>

// Encodes the PCM of its input into a Windows Media Audio file through the writer layer, which
// creates and writes the file itself. The codec format is the one closest to DesiredBitrate (or
// to VBRQuality, or a lossless one) for the input's channels, sample width and rate; seven
// values of Id3v2Tags become the file's text attributes.
class TWMAOut : public TAuTaggedFileOut {
public:
  explicit TWMAOut(TComponent* AOwner);

  using TAuTaggedFileOut::Id3v2Tags;
  using TAuTaggedFileOut::SetId3v2Tags;
  // Bits per second; below 1000 it counts as kilobits per second, unless VBR.
  uint32_t DesiredBitrate() const { return FDesiredBitrate; }
  void SetDesiredBitrate(uint32_t Value) { FDesiredBitrate = Value; }
  bool Lossless() const { return FLossless; }
  void SetLossless(bool Value) { FLossless = Value; }
  bool VBR() const { return FVBR; }
  void SetVBR(bool Value) { FVBR = Value; }
  uint8_t VBRQuality() const { return FVBRQuality; }
  void SetVBRQuality(uint8_t Value) { FVBRQuality = Value; }

protected:
  void Prepare() override;
  bool DoOutput(bool Abort) override;
  void Done() override;

  // Set on the user-interface thread between runs; the streamed output's.
  uint32_t FPort = 0;
  uint32_t FMaxClients = 0;
  bool FStreamed = false;

private:
  void SetAttributes();

  // Set on the user-interface thread between runs.
  uint32_t FDesiredBitrate = 0;
  bool FLossless = false;
  bool FVBR = false;
  uint8_t FVBRQuality = 0;

  // Worker only, from Prepare to Done.
  bool FEndOfInput = false;
  std::vector<uint8_t> FBuffer;
  uint32_t FBufferSize = 0;
  TWMWriterContext FContext;
};

using TStreamedAudioEvent = std::function<void(TComponent* Sender)>;

// The same writer serving its stream over HTTP on Port instead of writing a file. Clients
// connecting and leaving are reported on the user-interface thread, with the output as Sender.
class TWMStreamedOut : public TWMAOut {
public:
  explicit TWMStreamedOut(TComponent* AOwner);

  uint32_t Port() const { return FPort; }
  void SetPort(uint32_t Value) { FPort = Value; }
  // 0 keeps the network sink's own limit.
  uint32_t MaxClients() const { return FMaxClients; }
  void SetMaxClients(uint32_t Value) { FMaxClients = Value; }
  const TStreamedAudioEvent& OnClientConnected() const { return FOnClientConnected; }
  void SetOnClientConnected(TStreamedAudioEvent Value) { FOnClientConnected = std::move(Value); }
  const TStreamedAudioEvent& OnClientDisconnected() const { return FOnClientDisconnected; }
  void SetOnClientDisconnected(TStreamedAudioEvent Value) {
    FOnClientDisconnected = std::move(Value);
  }

private:
  // Set on the user-interface thread between runs, read by the network sink's thread.
  TStreamedAudioEvent FOnClientConnected;
  TStreamedAudioEvent FOnClientDisconnected;
};
