// The WMA writer and its streamed variant over the writer layer: the format chosen, the
// samples and their time stamps, the attributes, the errors, and the live HTTP stream.
#include "audio/encoders/ACS_WinMedia.h"

#include "tests/audio/encoders/WmaTestSupport.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TempDir.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace platform;

namespace {

// 80 ms of CD audio: one sample of the writer.
constexpr uint32_t ChunkBytes = 2 * 16 * 44100 / 100;

// What the recording writer saw, and how it misbehaves. Written on the worker, read after the
// run.
struct TRecording {
  struct TSampleCall {
    uint32_t Input;
    uint64_t Time;
    uint32_t Flags;
    uint32_t Length;
    bool operator==(const TSampleCall&) const = default;
  };
  std::vector<TSampleCall> Samples;
  bool NoPcmInput = false;
  HRESULT EndResult = S_OK;
};
TRecording Recording;

// The media type of an input that takes video, not audio.
class TVideoInputProps : public TWMRefCounted<IWMInputMediaProps> {
public:
  HRESULT GetMediaType(WM_MEDIA_TYPE* Type, uint32_t* Size) override {
    constexpr uint32_t Needed = sizeof(WM_MEDIA_TYPE) + sizeof(TWaveFormatEx);
    if (Type && *Size >= Needed) {
      *Type = WM_MEDIA_TYPE{};
      Type->majortype = {0x73646976, 0x0000, 0x0010, {0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71}};
      Type->formattype = WMFORMAT_WaveFormatEx;
      Type->cbFormat = sizeof(TWaveFormatEx);
      Type->pbFormat = reinterpret_cast<uint8_t*>(Type + 1);
      *reinterpret_cast<TWaveFormatEx*>(Type->pbFormat) = TWaveFormatEx{};
    }
    *Size = Needed;
    return S_OK;
  }
  HRESULT SetMediaType(const WM_MEDIA_TYPE*) override { return S_OK; }
};

// Passes every call to a real writer, recording the samples.
class TRecordingWriter : public TWMRefCounted<IWMWriter> {
public:
  TRecordingWriter() { WMCreateWriter(nullptr, FReal.Put()); }
  HRESULT SetProfile(IWMProfile* Profile) override { return FReal->SetProfile(Profile); }
  HRESULT GetInputCount(uint32_t* Count) override { return FReal->GetInputCount(Count); }
  HRESULT GetInputProps(uint32_t Input, IWMInputMediaProps** Props) override {
    if (!Recording.NoPcmInput)
      return FReal->GetInputProps(Input, Props);
    *Props = new TVideoInputProps;
    return S_OK;
  }
  HRESULT SetInputProps(uint32_t Input, IWMInputMediaProps* Props) override {
    return FReal->SetInputProps(Input, Props);
  }
  HRESULT BeginWriting() override { return FReal->BeginWriting(); }
  HRESULT AllocateSample(uint32_t Size, INSSBuffer** Sample) override {
    return FReal->AllocateSample(Size, Sample);
  }
  HRESULT WriteSample(uint32_t Input, uint64_t Time, uint32_t Flags, INSSBuffer* Sample) override {
    uint32_t Length = 0;
    Sample->GetLength(&Length);
    Recording.Samples.push_back({Input, Time, Flags, Length});
    return FReal->WriteSample(Input, Time, Flags, Sample);
  }
  HRESULT EndWriting() override {
    const HRESULT Result = FReal->EndWriting();
    return Recording.EndResult ? Recording.EndResult : Result;
  }
  HRESULT QueryWriterAdvanced(IWMWriterAdvanced** Advanced) override {
    return FReal->QueryWriterAdvanced(Advanced);
  }
  HRESULT QueryHeaderInfo(IWMHeaderInfo** Info) override { return FReal->QueryHeaderInfo(Info); }

private:
  TWMPtr<IWMWriter> FReal;
};

HRESULT CreateRecordingWriter(void*, IWMWriter** Writer) {
  *Writer = new TRecordingWriter;
  return S_OK;
}

class WMAOutTest : public ::testing::Test {
protected:
  void SetUp() override {
    Recording = TRecording{};
    TWMFEntries Entries;
    Entries.WMCreateWriter = CreateRecordingWriter;
    SetWMF(Entries);
    Out->SetFileName(File);
  }
  void TearDown() override { SetWMF(TWMFEntries{}); }

  // Runs the writer on Bytes to its end; its exception text.
  std::string Rip(const std::vector<uint8_t>& Bytes) {
    TComponentPtr<TMemoryInput> Input(new TMemoryInput(nullptr, Bytes));
    Out->SetInput(Input.get());
    const std::string Error = RunToEnd(*Out);
    LastInitCount = Input->InitCount;
    Out->SetInput(nullptr);
    return Error;
  }

  TTempDir Dir;
  const std::string File = Dir.File("out.wma");
  TComponentPtr<TWMAOut> Out{new TWMAOut(nullptr)};
  int LastInitCount = 0;
};

// The target counts as kilobits below 1000; no VBR or lossless format exists to be chosen.
TEST_F(WMAOutTest, ChoosesTheFormatClosestToTheTarget) {
  const struct {
    const char* Name;
    uint32_t DesiredBitrate;
    bool VBR;
    uint8_t VBRQuality;
    bool Lossless;
    const char* Error;
    double Bitrate;
  } Cases[] = {
      {"no target", 0, false, 0, false, "Failed to init codec", 0},
      {"kilobits", 256, false, 0, false, "", 256000},
      {"bits per second", 64000, false, 0, false, "", 64000},
      {"kilobits, low", 128, false, 0, false, "", 128000},
      {"quality 90, not multiplied", 0, true, 90, false, "Failed to init codec", 0},
      {"lossless", 256, false, 0, true, "Failed to init codec", 0},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    Out->SetDesiredBitrate(Case.DesiredBitrate);
    Out->SetVBR(Case.VBR);
    Out->SetVBRQuality(Case.VBRQuality);
    Out->SetLossless(Case.Lossless);
    ASSERT_EQ(Rip(SineBytes(44100)), Case.Error);
    if (*Case.Error)
      continue;
    auto Stream = ProbeEntries(File, "stream=codec_name,sample_rate,channels,bit_rate");
    EXPECT_EQ(Stream["codec_name"], "wmav2");
    EXPECT_EQ(Stream["sample_rate"], "44100");
    EXPECT_EQ(Stream["channels"], "2");
    EXPECT_NEAR(std::stod(Stream["bit_rate"]), Case.Bitrate, 1000);
  }
}

// Each sample is stamped with the time at its end in 100-ns units; a track of whole samples
// ends with an empty one at the same time.
TEST_F(WMAOutTest, StampsEverySampleWithTheEndOfItsSound) {
  using TCall = TRecording::TSampleCall;
  const struct {
    const char* Name;
    uint32_t Bytes;
    std::vector<TCall> Samples;
  } Cases[] = {
      {"two and a half samples",
       ChunkBytes * 5 / 2,
       {{0, 800000, 0, ChunkBytes}, {0, 1600000, 0, ChunkBytes}, {0, 2000000, 0, ChunkBytes / 2}}},
      {"three whole samples",
       ChunkBytes * 3,
       {{0, 800000, 0, ChunkBytes},
        {0, 1600000, 0, ChunkBytes},
        {0, 2400000, 0, ChunkBytes},
        {0, 2400000, 0, 0}}},
  };
  Out->SetDesiredBitrate(256);
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    Recording.Samples.clear();
    ASSERT_EQ(Rip(SineBytes(Case.Bytes / 4)), "");
    EXPECT_EQ(Recording.Samples, Case.Samples);
    const TDecodedSound Sound = CompareDecoded(File, SineBytes(Case.Bytes / 4));
    EXPECT_GE(Sound.Extra, 0);
    EXPECT_GT(Sound.SnrDb, 30);
  }
}

TEST_F(WMAOutTest, AWriterWithoutAPcmInputFailsInsteadOfDividingByZero) {
  Recording.NoPcmInput = true;
  Out->SetDesiredBitrate(256);
  EXPECT_EQ(Rip(SineBytes(44100)), "Failed to init codec");
  EXPECT_TRUE(Recording.Samples.empty());
}

// A file that could not be completed fails the run instead of passing for a finished one. The
// writer gives only its code here: the file itself took every write.
TEST_F(WMAOutTest, AFailureToCompleteTheFileEndsTheRunWithAnError) {
  Recording.EndResult = WM_E_WRITEFAILED;
  Out->SetDesiredBitrate(256);
  EXPECT_EQ(Rip(SineBytes(44100)), "Failed to write data: 80520007");
}

// A file that cannot grow, as on a full disk, ends the run with the code and the system's reason.
TEST_F(WMAOutTest, AFullDiskEndsTheRunWithTheSystemsReason) {
  Out->SetDesiredBitrate(256);
  const std::vector<uint8_t> Bytes = SineBytes(10 * 44100);
  std::string Error;
  {
    const TFileSizeLimit Limit(64 * 1024);
    Error = Rip(Bytes);
  }
  EXPECT_EQ(Error, "Failed to write data: 80520007 (File too large)");
}

TEST_F(WMAOutTest, FilesThatCannotBeMadeAreReported) {
  Out->SetDesiredBitrate(256);
  Out->SetFileName("");
  EXPECT_EQ(Rip(SineBytes(4410)), "File name is not assigned.");
  EXPECT_EQ(LastInitCount, 0);
  Out->SetFileName(Dir.File("no-such-folder/out.wma"));
  EXPECT_EQ(Rip(SineBytes(4410)), "Cannot create file");
}

// Seven values become the file's attributes, the comment as its copyright; the container's own
// copyright and composer are not written.
TEST_F(WMAOutTest, TagValuesBecomeTheFilesAttributes) {
  const struct {
    const char* Name;
    std::function<void(TId3v2Tags&)> Set;
    std::map<std::string, std::string> Expected;
  } Cases[] = {
      {"all values",
       [](TId3v2Tags& Tags) {
         Tags.SetArtist(u"The Art\u00EFst");
         Tags.SetAlbum(u"An Album");
         Tags.SetGenre(u"Jazz");
         Tags.SetYear("1999");
         Tags.SetTrack("7");
         Tags.SetTitle(u"A Title");
         Tags.SetComment(u"A comment");
         Tags.SetCopyright(u"Not this");
         Tags.SetComposer(u"Nor this");
       },
       {{"TAG:artist", "The Art\xC3\xAFst"},
        {"TAG:album", "An Album"},
        {"TAG:genre", "Jazz"},
        {"TAG:WM/Year", "1999"},
        {"TAG:WM/Track", "7"},
        {"TAG:title", "A Title"},
        {"TAG:copyright", "A comment"}}},
      {"no values", [](TId3v2Tags&) {}, {}},
      {"only the comment",
       [](TId3v2Tags& Tags) { Tags.SetComment(u"Just this"); },
       {{"TAG:copyright", "Just this"}}},
  };
  Out->SetDesiredBitrate(128);
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    Out->Id3v2Tags()->ResetValues();
    Case.Set(*Out->Id3v2Tags());
    ASSERT_EQ(Rip(SineBytes(4410)), "");
    EXPECT_EQ(ProbeEntries(File, "format_tags"), Case.Expected);
  }
}

TEST_F(WMAOutTest, StoppingDuringARipLeavesAFileThatPlays) {
  Out->SetDesiredBitrate(256);
  TComponentPtr<TMemoryInput> Input(new TMemoryInput(nullptr, SineBytes(44100 * 30)));
  std::atomic<bool> Reached{false}, Release{false};
  Input->SetOnRead([&] {
    if (Input->ReadCount != 200)
      return;
    Reached = true;
    for (int Waited = 0; !Release && Waited < 60000; ++Waited)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
  });
  Out->SetInput(Input.get());
  Out->Run();
  ASSERT_TRUE(PumpUntil([&] { return Reached.load(); }));
  Out->Stop(true);
  Release = true;
  ASSERT_TRUE(PumpUntil([&] { return !Out->Running(); }));
  EXPECT_EQ(Out->ExceptionText(), "");
  Out->SetInput(nullptr);
  auto Probed = ProbeEntries(File, "stream=codec_name:format=duration");
  EXPECT_EQ(Probed["codec_name"], "wmav2");
  // About 200 reads of 4096 bytes: some 4.6 s of the 30.
  EXPECT_GT(std::stod(Probed["duration"]), 2.0);
  EXPECT_LT(std::stod(Probed["duration"]), 10.0);
}

// A loopback port nobody listens on: the one the system gives a socket bound to port 0.
uint32_t FreePort() {
  const int Socket = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in Address{};
  Address.sin_family = AF_INET;
  Address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t Length = sizeof Address;
  bind(Socket, reinterpret_cast<sockaddr*>(&Address), sizeof Address);
  getsockname(Socket, reinterpret_cast<sockaddr*>(&Address), &Length);
  close(Socket);
  return ntohs(Address.sin_port);
}

// The streamed writer on a free loopback port, reading a minute of sound that it is made to
// wait for while Hold is set.
class WMStreamedOutTest : public ::testing::Test {
protected:
  struct TEvent {
    std::string Kind;
    TComponent* Sender;
    bool OnMainThread;
    bool operator==(const TEvent&) const = default;
  };

  void SetUp() override {
    Out->SetPort(Port);
    Out->SetDesiredBitrate(128);
    const auto Record = [this](const char* Kind) {
      return [this, Kind](TComponent* Sender) {
        Events.push_back({Kind, Sender, std::this_thread::get_id() == MainThread});
      };
    };
    Out->SetOnClientConnected(Record("connected"));
    Out->SetOnClientDisconnected(Record("disconnected"));
    Out->SetOnDone([this](TComponent*) { Finished = true; });
    Input->SetOnRead([this] {
      for (int Waited = 0; Hold && Waited < 60000; ++Waited)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    });
    Out->SetInput(Input.get());
  }
  void TearDown() override { Out->SetInput(nullptr); }

  // Runs the writer until it serves: it reads once it has opened its port.
  void Start() {
    Out->Run();
    ASSERT_TRUE(PumpUntil([&] { return Input->ReadCount > 0 || !Out->Running(); }));
    ASSERT_TRUE(Out->Running()) << Out->ExceptionText();
  }
  std::string Address() const { return "http://127.0.0.1:" + std::to_string(Port); }

  const std::thread::id MainThread = std::this_thread::get_id();
  const uint32_t Port = FreePort();
  TComponentPtr<TWMStreamedOut> Out{new TWMStreamedOut(nullptr)};
  TComponentPtr<TMemoryInput> Input{new TMemoryInput(nullptr, SineBytes(44100 * 60), ChunkBytes)};
  std::atomic<bool> Hold{true};
  std::vector<TEvent> Events;
  bool Finished = false;
};

TEST_F(WMStreamedOutTest, FfprobeReadsTheStreamWhileItIsWritten) {
  Start();
  std::map<std::string, std::string> Stream;
  std::atomic<bool> Probed{false};
  std::thread Prober([&] {
    Stream = ProbeEntries(Address(), "stream=codec_name,sample_rate,channels");
    Probed = true;
  });
  // Samples go out one every few milliseconds until ffprobe has its answer.
  while (!Probed && !Finished) {
    Hold = false;
    PumpFor(5);
    Hold = true;
    PumpFor(20);
  }
  Hold = false;
  Prober.join();
  EXPECT_FALSE(Finished) << "the stream ended before ffprobe had read it";
  ASSERT_TRUE(PumpUntil([&] { return Finished && Events.size() >= 2; }, 60000));
  EXPECT_EQ(Out->ExceptionText(), "");
  EXPECT_EQ(Stream["codec_name"], "wmav2");
  EXPECT_EQ(Stream["sample_rate"], "44100");
  EXPECT_EQ(Stream["channels"], "2");
  EXPECT_EQ(Events, (std::vector<TEvent>{{"connected", Out.get(), true},
                                         {"disconnected", Out.get(), true}}));
}

// A second client is refused while the first is served, and is not reported.
TEST_F(WMStreamedOutTest, MaxClientsOneRefusesASecondClient) {
  Out->SetMaxClients(1);
  Start();
  TCommandResult First;
  std::thread Listener(
      [&] { First = RunCommand("ffmpeg -v fatal -i " + Address() + " -f null -"); });
  ASSERT_TRUE(PumpUntil([&] { return !Events.empty(); }));
  const TCommandResult Second = RunCommand("curl -s -i --max-time 30 " + Address() + "/");
  EXPECT_EQ(Second.Output.rfind("HTTP/1.0 503", 0), 0u) << Second.Output;
  Hold = false;
  ASSERT_TRUE(PumpUntil([&] { return Finished && Events.size() >= 2; }, 60000));
  Listener.join();
  EXPECT_EQ(First.Status, 0) << First.Output;
  EXPECT_EQ(Events, (std::vector<TEvent>{{"connected", Out.get(), true},
                                         {"disconnected", Out.get(), true}}));
}

} // namespace
