#pragma once

// The control side of the recording stand-ins of the Vorbis libraries (libvorbis.so.0,
// libvorbisenc.so.2, libvorbisfile.so.3) and of libFLAC.so.12: tests set what the stand-ins
// answer and read back every call made to them, one per line.

#include <cstdint>

extern "C" {

// Vorbis family: the log is kept by the vorbis stand-in, the encoder set-up one writes to it.
void VorbisRecording_Reset(void);
void VorbisRecording_Record(const char* Line);
const char* VorbisRecording_Log(void);
// What vorbis_encode_init and vorbis_encode_setup_vbr return.
void VorbisRecording_SetEncodeResult(int32_t Result);
int32_t VorbisRecording_EncodeResult(void);

// FLAC: every call, e.g. "set_channels(2)", "process_interleaved(4608;1,-2,3,-4)".
void FLACRecording_Reset(void);
const char* FLACRecording_Log(void);
// Whether the comment block that init_stream writes has its last-block bit set.
void FLACRecording_SetCommentLast(int32_t Last);
// Make FLAC__stream_encoder_new return null, init_stream return Status, or
// process_interleaved or finish return false. As libFLAC, a write the writer's callback fails
// fails the call that made it (init_stream with ENCODER_ERROR) and every later one.
void FLACRecording_SetNewFails(int32_t Fails);
void FLACRecording_SetInitStatus(int32_t Status);
void FLACRecording_SetProcessFails(int32_t Fails);
void FLACRecording_SetFinishFails(int32_t Fails);
}
