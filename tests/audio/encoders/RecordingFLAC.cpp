// A stand-in of libFLAC's stream encoder that records the calls made to it. init_stream writes
// the stream marker, a STREAMINFO block and a comment block of its own through the write
// callback; each process_interleaved writes one small frame.
#include "tests/audio/encoders/RecordingXiph.h"

#include <FLAC/stream_encoder.h>

#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

struct TEncoder {
  FLAC__StreamEncoderWriteCallback Write = nullptr;
  FLAC__StreamEncoderSeekCallback Seek = nullptr;
  FLAC__StreamEncoderTellCallback Tell = nullptr;
  void* Client = nullptr;
};

std::mutex Lock;
std::string Log;
std::string LogCopy;
int32_t CommentLast = 1;
int32_t NewFails = 0;
int32_t InitStatus = 0;
int32_t ProcessFails = 0;
int32_t FinishFails = 0;
// A write the writer's callback refused, since init_stream.
bool WriteFailed = false;
uint32_t Channels = 2;
TEncoder Encoder;

void Record(const std::string& Line) {
  std::lock_guard Guard(Lock);
  Log += Line;
  Log += '\n';
}

FLAC__StreamEncoder* Handle() {
  return reinterpret_cast<FLAC__StreamEncoder*>(&Encoder);
}

// Writes through the writer's callback and records its status.
void Write(const std::vector<FLAC__byte>& Bytes, uint32_t Samples) {
  const int Status =
      Encoder.Write(Handle(), Bytes.data(), Bytes.size(), Samples, 0, Encoder.Client);
  Record("write(" + std::to_string(Bytes.size()) + ")=" + std::to_string(Status));
  WriteFailed = WriteFailed || Status != FLAC__STREAM_ENCODER_WRITE_STATUS_OK;
}

FLAC__bool Set(const char* Name, long long Value) {
  Record(std::string(Name) + "(" + std::to_string(Value) + ")");
  return true;
}

} // namespace

extern "C" {

void FLACRecording_Reset(void) {
  std::lock_guard Guard(Lock);
  Log.clear();
  CommentLast = 1;
  NewFails = 0;
  InitStatus = 0;
  ProcessFails = 0;
  FinishFails = 0;
}

const char* FLACRecording_Log(void) {
  std::lock_guard Guard(Lock);
  LogCopy = Log;
  return LogCopy.c_str();
}

void FLACRecording_SetCommentLast(int32_t Last) {
  CommentLast = Last;
}

void FLACRecording_SetNewFails(int32_t Fails) {
  NewFails = Fails;
}

void FLACRecording_SetInitStatus(int32_t Status) {
  InitStatus = Status;
}

void FLACRecording_SetProcessFails(int32_t Fails) {
  ProcessFails = Fails;
}

void FLACRecording_SetFinishFails(int32_t Fails) {
  FinishFails = Fails;
}

FLAC__StreamEncoder* FLAC__stream_encoder_new(void) {
  Record("new");
  return NewFails ? nullptr : Handle();
}

void FLAC__stream_encoder_delete(FLAC__StreamEncoder*) {
  Record("delete");
}

FLAC__bool FLAC__stream_encoder_set_verify(FLAC__StreamEncoder*, FLAC__bool value) {
  return Set("set_verify", value);
}
FLAC__bool FLAC__stream_encoder_set_channels(FLAC__StreamEncoder*, uint32_t value) {
  Channels = value;
  return Set("set_channels", value);
}
FLAC__bool FLAC__stream_encoder_set_bits_per_sample(FLAC__StreamEncoder*, uint32_t value) {
  return Set("set_bits_per_sample", value);
}
FLAC__bool FLAC__stream_encoder_set_sample_rate(FLAC__StreamEncoder*, uint32_t value) {
  return Set("set_sample_rate", value);
}
FLAC__bool FLAC__stream_encoder_set_do_mid_side_stereo(FLAC__StreamEncoder*, FLAC__bool value) {
  return Set("set_do_mid_side_stereo", value);
}
FLAC__bool FLAC__stream_encoder_set_loose_mid_side_stereo(FLAC__StreamEncoder*, FLAC__bool value) {
  return Set("set_loose_mid_side_stereo", value);
}
FLAC__bool FLAC__stream_encoder_set_blocksize(FLAC__StreamEncoder*, uint32_t value) {
  return Set("set_blocksize", value);
}
FLAC__bool FLAC__stream_encoder_set_compression_level(FLAC__StreamEncoder*, uint32_t value) {
  return Set("set_compression_level", value);
}
FLAC__bool FLAC__stream_encoder_set_max_lpc_order(FLAC__StreamEncoder*, uint32_t value) {
  return Set("set_max_lpc_order", value);
}
FLAC__bool FLAC__stream_encoder_set_qlp_coeff_precision(FLAC__StreamEncoder*, uint32_t value) {
  return Set("set_qlp_coeff_precision", value);
}
FLAC__bool FLAC__stream_encoder_set_do_qlp_coeff_prec_search(FLAC__StreamEncoder*,
                                                             FLAC__bool value) {
  return Set("set_do_qlp_coeff_prec_search", value);
}
FLAC__bool FLAC__stream_encoder_set_min_residual_partition_order(FLAC__StreamEncoder*,
                                                                 uint32_t value) {
  return Set("set_min_residual_partition_order", value);
}
FLAC__bool FLAC__stream_encoder_set_max_residual_partition_order(FLAC__StreamEncoder*,
                                                                 uint32_t value) {
  return Set("set_max_residual_partition_order", value);
}
FLAC__bool FLAC__stream_encoder_set_do_exhaustive_model_search(FLAC__StreamEncoder*,
                                                               FLAC__bool value) {
  return Set("set_do_exhaustive_model_search", value);
}
FLAC__bool FLAC__stream_encoder_set_total_samples_estimate(FLAC__StreamEncoder*,
                                                           FLAC__uint64 value) {
  return Set("set_total_samples_estimate", static_cast<long long>(value));
}

FLAC__StreamEncoderInitStatus
FLAC__stream_encoder_init_stream(FLAC__StreamEncoder*, FLAC__StreamEncoderWriteCallback write,
                                 FLAC__StreamEncoderSeekCallback seek,
                                 FLAC__StreamEncoderTellCallback tell,
                                 FLAC__StreamEncoderMetadataCallback, void* client) {
  Encoder = {write, seek, tell, client};
  WriteFailed = false;
  Record("init_stream");
  Write({'f', 'L', 'a', 'C'}, 0);
  std::vector<FLAC__byte> StreamInfo(4 + 34, 0);
  StreamInfo[3] = 34;
  Write(StreamInfo, 0);
  const char Vendor[] = "stand-in";
  std::vector<FLAC__byte> Comment = {static_cast<FLAC__byte>(CommentLast ? 0x84 : 0x04),
                                     0,
                                     0,
                                     sizeof Vendor - 1 + 8,
                                     sizeof Vendor - 1,
                                     0,
                                     0,
                                     0};
  Comment.insert(Comment.end(), Vendor, Vendor + sizeof Vendor - 1);
  Comment.insert(Comment.end(), {0, 0, 0, 0});
  Write(Comment, 0);
  if (!CommentLast)
    Write({0x81, 0, 0, 0}, 0);
  if (InitStatus == 0 && WriteFailed)
    return FLAC__STREAM_ENCODER_INIT_STATUS_ENCODER_ERROR;
  return static_cast<FLAC__StreamEncoderInitStatus>(InitStatus);
}

FLAC__bool FLAC__stream_encoder_process_interleaved(FLAC__StreamEncoder*,
                                                    const FLAC__int32 buffer[], uint32_t samples) {
  std::string Line = "process_interleaved(" + std::to_string(samples) + ";";
  for (uint32_t I = 0; I < 4 && I < samples * Channels; ++I)
    Line += (I ? "," : "") + std::to_string(buffer[I]);
  Record(Line + ")");
  // A frame's first byte is a sync code, never a metadata block type.
  Write({0xFF, 0xF8, 0x04, 0x00}, samples);
  return !ProcessFails && !WriteFailed;
}

FLAC__bool FLAC__stream_encoder_finish(FLAC__StreamEncoder*) {
  if (!Encoder.Write) {
    Record("finish");
    return true;
  }
  FLAC__uint64 End = 0;
  const int TellStatus = Encoder.Tell(Handle(), &End, Encoder.Client);
  // Rewrites STREAMINFO's first bytes in place, as the encoder does at the end.
  const int SeekStatus = Encoder.Seek(Handle(), 8, Encoder.Client);
  Record("finish tell=" + std::to_string(TellStatus) + ":" + std::to_string(End) +
         " seek=" + std::to_string(SeekStatus));
  Write({0, 0x10}, 0);
  Encoder = {};
  return !FinishFails && !WriteFailed;
}
}
