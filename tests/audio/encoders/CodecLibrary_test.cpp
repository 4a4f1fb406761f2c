// The codec binding units: each library is opened once, under the shared lock, and its table
// holds what the library exports; a missing library is each writer's error, tried again at the
// next run.
#include "audio/encoders/CodecLibrary.h"

#include "audio/encoders/ACS_FLAC.h"
#include "audio/encoders/ACS_Vorbis.h"
#include "audio/encoders/Codec.h"
#include "audio/encoders/FLAC.h"
#include "audio/encoders/VorbisEnc.h"
#include "audio/encoders/VorbisFile.h"
#include "audio/encoders/ogg.h"
#include "tests/audio/encoders/EncoderTestSupport.h"
#include "tests/support/RefusedLibraries.h"
#include "tests/support/TempDir.h"

#include <dlfcn.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <thread>

namespace {

class CodecLibraryTest : public ::testing::Test {
protected:
  void TearDown() override { RefuseLibraries({}); }

  TTempDir Dir;
  TComponentPtr<TComponent> Root{new TComponent(nullptr)};
};

// Kept in one test: a library, once loaded, stays loaded for the process.
TEST_F(CodecLibraryTest, AMissingLibraryIsTheWritersErrorUntilItLoads) {
  auto* Vorbis = new TVorbisOut(Root.get());
  Vorbis->SetInput(new TMemoryInput(Root.get(), SineBytes(1000)));
  const std::string File = Dir.File("out.ogg");
  Vorbis->SetFileName(File);
  const std::pair<std::set<std::string>, const char*> Steps[] = {
      {{"libogg.so.0", "libvorbis.so.0", "libvorbisfile.so.3", "libvorbisenc.so.2"},
       "ogg.dll library could not be loaded."},
      {{"libvorbis.so.0", "libvorbisfile.so.3", "libvorbisenc.so.2"},
       "vorbis.dll library could not be loaded."},
      {{"libvorbisfile.so.3", "libvorbisenc.so.2"}, "vorbisfile.dll library could not be loaded."},
      {{"libvorbisenc.so.2"}, "vorbisenc.dll library could not be loaded."},
  };
  for (const auto& [Files, Message] : Steps) {
    SCOPED_TRACE(Message);
    RefuseLibraries(Files);
    EXPECT_EQ(RunToEnd(*Vorbis), Message);
    EXPECT_FALSE(std::filesystem::exists(File));
  }
  RefuseLibraries({});
  EXPECT_EQ(RunToEnd(*Vorbis), "");
  EXPECT_TRUE(std::filesystem::exists(File));

  auto* Flac = new TFLACOut(Root.get());
  Flac->SetInput(new TMemoryInput(Root.get(), SineBytes(1000)));
  Flac->SetFileName(Dir.File("out.flac"));
  RefuseLibraries({"libFLAC.so.12", "libFLAC.so.8"});
  EXPECT_EQ(RunToEnd(*Flac), "libFLAC.dll library could not be loaded.");
  EXPECT_FALSE(std::filesystem::exists(Dir.File("out.flac")));
  RefuseLibraries({});
  EXPECT_EQ(RunToEnd(*Flac), "");

  // Later runs open nothing again.
  EXPECT_EQ(RunToEnd(*Vorbis), "");
  EXPECT_EQ(RunToEnd(*Flac), "");
  for (const char* Name : {"libogg.so.0", "libvorbis.so.0", "libvorbisfile.so.3",
                           "libvorbisenc.so.2", "libFLAC.so.12"})
    EXPECT_EQ(LibraryOpenCount(Name), 1) << Name;
}

TEST_F(CodecLibraryTest, LoadersRacingOpenTheLibraryOnce) {
  std::vector<std::thread> Threads;
  for (int I = 0; I < 4; ++I)
    Threads.emplace_back([] {
      LoadOggLibrary();
      LoadVorbisLibrary();
      LoadVorbisEncLibrary();
      LoadVorbisFileLibrary();
      LoadFLACLibrary();
    });
  for (std::thread& Thread : Threads)
    Thread.join();
  for (const char* Name : {"libogg.so.0", "libvorbis.so.0", "libvorbisfile.so.3",
                           "libvorbisenc.so.2", "libFLAC.so.12"})
    EXPECT_LE(LibraryOpenCount(Name), 1) << Name;
  EXPECT_TRUE(OggLoaded() && VorbisLoaded() && VorbisEncLoaded() && VorbisFileLoaded() &&
              FLACLoaded());
}

TEST_F(CodecLibraryTest, TablesHoldTheExportsAndNullForNamesTheLibrariesLack) {
  LoadOggLibrary();
  LoadVorbisLibrary();
  LoadVorbisEncLibrary();
  LoadVorbisFileLibrary();
  LoadFLACLibrary();
  EXPECT_NE(Ogg().ogg_stream_packetpeek, nullptr);
  EXPECT_EQ(Ogg().oggpack_look_huff, nullptr);
  EXPECT_EQ(Ogg().oggpack_adv_huff, nullptr);
  EXPECT_NE(Vorbis().vorbis_packet_blocksize, nullptr);
  EXPECT_NE(VorbisEnc().vorbis_encode_ctl, nullptr);
  EXPECT_NE(VorbisFile().ov_read, nullptr);
  EXPECT_NE(FLAC().FLAC__stream_decoder_new, nullptr);
  EXPECT_NE(FLAC().FLAC__metadata_simple_iterator_insert_block_after, nullptr);
  EXPECT_EQ(FLAC().FLAC__Metadata_simple_iterator_status, nullptr);
  // The table holds the very functions the library exports.
  void* Handle = dlopen("libFLAC.so.12", RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(Handle, nullptr);
  EXPECT_EQ(reinterpret_cast<void*>(FLAC().FLAC__stream_encoder_new),
            dlsym(Handle, "FLAC__stream_encoder_new"));
  dlclose(Handle);
}

} // namespace
