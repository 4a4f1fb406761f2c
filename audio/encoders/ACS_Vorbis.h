#pragma once

#include "audio/core/ACS_Classes.h"
#include "audio/tags/ACS_Tags.h"

#include <ogg/ogg.h>
#include <vorbis/codec.h>

#include <cstdint>
#include <memory>
#include <vector>

// Bit rates by ordinal; brAutoSelect is the lowest.
enum TVorbisBitRate : uint8_t {
  brAutoSelect = 0,
  bitrate24,
  bitrate32,
  bitrate45,
  bitrate48,
  bitrate56,
  bitrate64,
  bitrate80,
  bitrate96,
  bitrate112,
  bitrate128,
  bitrate144,
  bitrate160,
  bitrate192,
  bitrate224,
  bitrate256,
  bitrate320,
  bitrate499
};

// Bits per second of a bit rate, by the low 7 bits of its ordinal; -1 for brAutoSelect and
// for ordinals without a rate.
int32_t VorbisBitRateToBps(TVorbisBitRate Value);

// Deleters of the Xiph records, each clearing its record with the library's call.
struct TOggStreamClear {
  void operator()(ogg_stream_state* State) const;
};
struct TVorbisBlockClear {
  void operator()(vorbis_block* Block) const;
};
struct TVorbisDspClear {
  void operator()(vorbis_dsp_state* State) const;
};
struct TVorbisCommentClear {
  void operator()(vorbis_comment* Comment) const;
};
struct TVorbisInfoClear {
  void operator()(vorbis_info* Info) const;
};

// Encodes the PCM of its input into an Ogg Vorbis file: quality-driven while the nominal bit
// rate is brAutoSelect, bit-rate-managed otherwise. Each page is written as soon as the framing
// layer releases it. Comments apply to one file: they are emptied when a run ends.
class TVorbisOut : public TAuFileOut {
public:
  explicit TVorbisOut(TComponent* AOwner);

  float Compression() const { return FCompression; }
  void SetCompression(float Value) { FCompression = Value; }
  TVorbisBitRate DesiredNominalBitrate() const { return FDesiredNominalBitrate; }
  void SetDesiredNominalBitrate(TVorbisBitRate Value);
  TVorbisBitRate DesiredMaximumBitrate() const { return FDesiredMaximumBitrate; }
  void SetDesiredMaximumBitrate(TVorbisBitRate Value);
  TVorbisBitRate MinimumBitrate() const { return FMinimumBitrate; }
  void SetMinimumBitrate(TVorbisBitRate Value);
  // The serial number of the stream; an appended stream takes the next one that the file does
  // not use yet.
  int32_t Serial() const { return FSerial; }
  void SetSerial(int32_t Value) { FSerial = Value; }
  void SetFileMode(TFileOutputMode Value) override { FFileMode = Value; }
  TVorbisTags* Comments() { return &FComments; }
  void SetComments(const TVorbisTags& Value) { FComments.CopyFrom(&Value); }

protected:
  void Prepare() override;
  bool DoOutput(bool Abort) override;
  void Done() override;

private:
  void OpenFile();
  int32_t UnusedSerial();
  void SetUpEncoder();
  void AddComments();
  void WriteHeaders();
  // Marks the end of the input and writes every page left, the last marked as such.
  void EndStream();
  void WritePage(const ogg_page& Page);
  // Converts Frames frames of the input's bytes into the analysis buffer.
  void ConvertFrames(const uint8_t* Data, uint32_t Frames);
  // Moves every finished block's packets into pages, writing them until the last page.
  void DrainBlocks();

  // Set on the user-interface thread between runs.
  float FCompression = 0.2f;
  TVorbisBitRate FDesiredNominalBitrate = brAutoSelect;
  TVorbisBitRate FDesiredMaximumBitrate = brAutoSelect;
  TVorbisBitRate FMinimumBitrate = brAutoSelect;
  int32_t FSerial = 0;
  TVorbisTags FComments;

  // Worker only, from Prepare to Done; each record is cleared only if it was initialised.
  std::unique_ptr<vorbis_info, TVorbisInfoClear> FInfo;
  std::unique_ptr<vorbis_comment, TVorbisCommentClear> FComment;
  std::unique_ptr<vorbis_dsp_state, TVorbisDspClear> FDsp;
  std::unique_ptr<vorbis_block, TVorbisBlockClear> FBlock;
  std::unique_ptr<ogg_stream_state, TOggStreamClear> FStreamState;
  // A whole number of frames of the input.
  std::vector<uint8_t> FBuffer;
  int32_t FChannels = 0;
  int32_t FBitsPerSample = 0;
  bool FEndOfStream = false;
  bool FEndOfInputMarked = false;
  bool FAudioPageWritten = false;
};
