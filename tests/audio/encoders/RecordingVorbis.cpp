// A stand-in of libvorbis that records the calls made to it and encodes nothing: three
// one-byte header packets, no audio blocks.
#include "tests/audio/encoders/RecordingXiph.h"

#include <vorbis/codec.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace {

std::mutex Lock;
std::string Log;
std::string LogCopy;
int32_t EncodeResult = 0;
std::vector<std::vector<float>> Channels;
std::vector<float*> ChannelPointers;
unsigned char HeaderBytes[3] = {1, 3, 5};

void Record(const std::string& Line) {
  std::lock_guard Guard(Lock);
  Log += Line;
  Log += '\n';
}

std::string Number(double Value) {
  char Text[32];
  std::snprintf(Text, sizeof Text, "%.9g", Value);
  return Text;
}

} // namespace

extern "C" {

void VorbisRecording_Reset(void) {
  std::lock_guard Guard(Lock);
  Log.clear();
  EncodeResult = 0;
}

void VorbisRecording_Record(const char* Line) {
  Record(Line);
}

const char* VorbisRecording_Log(void) {
  std::lock_guard Guard(Lock);
  LogCopy = Log;
  return LogCopy.c_str();
}

void VorbisRecording_SetEncodeResult(int32_t Result) {
  EncodeResult = Result;
}

int32_t VorbisRecording_EncodeResult(void) {
  return EncodeResult;
}

void vorbis_info_init(vorbis_info* vi) {
  std::memset(vi, 0, sizeof *vi);
  Record("vorbis_info_init");
}

void vorbis_info_clear(vorbis_info*) {
  Record("vorbis_info_clear");
}

void vorbis_comment_init(vorbis_comment* vc) {
  std::memset(vc, 0, sizeof *vc);
  Record("vorbis_comment_init");
}

void vorbis_comment_add_tag(vorbis_comment*, const char* tag, const char* contents) {
  Record(std::string("vorbis_comment_add_tag(") + tag + "," + contents + ")");
}

void vorbis_comment_clear(vorbis_comment*) {
  Record("vorbis_comment_clear");
}

int vorbis_analysis_init(vorbis_dsp_state* v, vorbis_info* vi) {
  std::memset(v, 0, sizeof *v);
  v->vi = vi;
  Record("vorbis_analysis_init(" + std::to_string(vi->channels) + ")");
  return 0;
}

int vorbis_block_init(vorbis_dsp_state*, vorbis_block* vb) {
  std::memset(vb, 0, sizeof *vb);
  Record("vorbis_block_init");
  return 0;
}

int vorbis_analysis_headerout(vorbis_dsp_state*, vorbis_comment*, ogg_packet* op,
                              ogg_packet* op_comm, ogg_packet* op_code) {
  ogg_packet* Packets[] = {op, op_comm, op_code};
  for (int I = 0; I < 3; ++I) {
    std::memset(Packets[I], 0, sizeof(ogg_packet));
    Packets[I]->packet = &HeaderBytes[I];
    Packets[I]->bytes = 1;
    Packets[I]->b_o_s = I == 0;
    Packets[I]->packetno = I;
  }
  Record("vorbis_analysis_headerout");
  return 0;
}

float** vorbis_analysis_buffer(vorbis_dsp_state* v, int vals) {
  Channels.assign(static_cast<size_t>(v->vi->channels), std::vector<float>(vals, 99.0f));
  ChannelPointers.clear();
  for (auto& Channel : Channels)
    ChannelPointers.push_back(Channel.data());
  Record("vorbis_analysis_buffer(" + std::to_string(vals) + ")");
  return ChannelPointers.data();
}

// Records the first two frames converted into the buffer.
int vorbis_analysis_wrote(vorbis_dsp_state*, int vals) {
  std::string Line = "vorbis_analysis_wrote(" + std::to_string(vals) + ")";
  for (int I = 0; I < vals && I < 2; ++I)
    for (const auto& Channel : Channels)
      Line += " " + Number(Channel[static_cast<size_t>(I)]);
  Record(Line);
  return 0;
}

int vorbis_analysis_blockout(vorbis_dsp_state*, vorbis_block*) {
  return 0;
}

int vorbis_analysis(vorbis_block*, ogg_packet*) {
  return 0;
}

int vorbis_bitrate_addblock(vorbis_block*) {
  return 0;
}

int vorbis_bitrate_flushpacket(vorbis_dsp_state*, ogg_packet*) {
  return 0;
}

int vorbis_block_clear(vorbis_block*) {
  Record("vorbis_block_clear");
  return 0;
}

void vorbis_dsp_clear(vorbis_dsp_state*) {
  Record("vorbis_dsp_clear");
}
}
