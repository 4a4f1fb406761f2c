#pragma once

#include "audio/core/ACS_Classes.h"
#include "libs/MACDll/MACDll.h"
#include "runtime/Exception.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

// The text of a Monkey's Audio library result code; "undefined (<code>)" for a code it does
// not know.
std::string MACErrorText(int32_t Code);

// The library could not make a compressor: "MACDll error: " and the code's text.
class EAPEException : public Exception {
public:
  explicit EAPEException(int32_t Code);
};

// Destroys a compressor handle of the library.
struct TAPECompressDestroy {
  void operator()(void* Handle) const;
};

// One compressor of the library; every call passes its handle first.
class TAPECompress {
public:
  // Raises EAPEException when the library reports an error; a handle it still returned is
  // released.
  TAPECompress();
  TAPECompress(const TAPECompress&) = delete;
  TAPECompress& operator=(const TAPECompress&) = delete;

  int32_t Start(const char* OutputFile, const WAVEFORMATEX* Format, int32_t MaxAudioBytes,
                int32_t CompressionLevel, const void* HeaderData, int32_t HeaderBytes);
  int32_t Finish(const void* TerminatingData, int32_t TerminatingBytes,
                 int32_t WavTerminatingBytes);
  uint8_t* LockBuffer(int32_t& BytesAvailable);
  // Always asks the library to compress what was added.
  int32_t UnlockBuffer(int32_t BytesAdded);

private:
  intptr_t Handle() const { return reinterpret_cast<intptr_t>(FHandle.get()); }

  std::unique_ptr<void, TAPECompressDestroy> FHandle;
};

// Compresses 16-bit PCM from its input into a Monkey's Audio file, written by the library
// itself; tags the file when its APEv2 tags hold any value.
class TMACOut : public TAuTaggedFileOut {
public:
  explicit TMACOut(TComponent* AOwner);

  int32_t CompressionLevel() const { return FCompressionLevel; }
  // Takes 1000, 2000, 3000, 4000 or 5000; any other value stores 2000.
  void SetCompressionLevel(int32_t Value);
  int32_t MaxAudioBytes() const { return FMaxAudioBytes; }
  void SetMaxAudioBytes(int32_t Value) { FMaxAudioBytes = Value; }
  using TAuTaggedFileOut::APEv2Tags;
  using TAuTaggedFileOut::SetAPEv2Tags;

protected:
  void Prepare() override;
  bool DoOutput(bool Abort) override;
  void Done() override;

private:
  void FeedLibrary(uint32_t Bytes);
  void TagFile();

  // Set on the user-interface thread between runs.
  int32_t FCompressionLevel = 2000;
  int32_t FMaxAudioBytes = -1;

  // Worker only, from Prepare to Done.
  std::unique_ptr<TAPECompress> FCompressor;
  // Set once the library has created the file; Done finishes and tags only then.
  bool FStarted = false;
  bool FEndOfInput = false;
  uint32_t FChunk = 0;
  WAVEFORMATEX FFormat{};
  std::array<uint8_t, 65536> FBuffer{};
};
