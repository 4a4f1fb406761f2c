// The steps of a WMA writer's run that stand alone: the format choice and the client statuses.
#include "audio/encoders/wmfintf.h"

#include "audio/core/ACS_Classes.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace platform;

namespace {

TWaveFormatEx WaveOf(IWMStreamConfig* Config) {
  TWMPtr<IWMMediaProps> Props;
  Config->QueryMediaProps(Props.Put());
  uint32_t Size = 0;
  Props->GetMediaType(nullptr, &Size);
  std::vector<uint64_t> Block((Size + 7) / 8);
  auto* Type = reinterpret_cast<WM_MEDIA_TYPE*>(Block.data());
  Props->GetMediaType(Type, &Size);
  TWaveFormatEx Wave;
  std::memcpy(&Wave, Type->pbFormat, sizeof Wave);
  return Wave;
}

// Only formats of the input's channels and width; among them the closest bit rate, then the
// closest sample rate.
TEST(ChooseCodecFormatTest, TakesTheClosestBitrateForTheInput) {
  const struct {
    const char* Name;
    int32_t Channels, Bits, Rate, Target;
    bool Lossless, VBR;
    uint32_t Bitrate; // 0: no format
    uint32_t ChosenRate;
  } Cases[] = {
      {"CD audio at 256 kb/s", 2, 16, 44100, 256000, false, false, 255987, 44100},
      {"CD audio at 64 kb/s", 2, 16, 44100, 64000, false, false, 63911, 44100},
      {"between two rates", 2, 16, 44100, 250000, false, false, 255987, 44100},
      {"mono", 1, 16, 44100, 48000, false, false, 47890, 44100},
      {"no target", 2, 16, 44100, 0, false, false, 0, 0},
      {"24-bit input", 2, 24, 44100, 256000, false, false, 0, 0},
      {"variable bit rate", 2, 16, 44100, 90, false, true, 0, 0},
      {"lossless", 2, 16, 44100, 0, true, false, 0, 0},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    TWMPtr<IWMStreamConfig> Config = ChooseCodecFormat(Case.Channels, Case.Bits, Case.Rate,
                                                       Case.Target, Case.Lossless, Case.VBR);
    ASSERT_EQ(bool(Config), Case.Bitrate != 0);
    if (!Config)
      continue;
    uint32_t Bitrate = 0;
    Config->GetBitrate(&Bitrate);
    const TWaveFormatEx Wave = WaveOf(Config.Get());
    EXPECT_EQ(Bitrate, Case.Bitrate);
    EXPECT_EQ(Wave.SamplesPerSec, Case.ChosenRate);
    EXPECT_EQ(Wave.Channels, Case.Channels);
    EXPECT_EQ(Wave.FormatTag, WAVE_FORMAT_WMAUDIO2);
  }
}

std::vector<std::pair<std::string, TAuOutput*>> Calls;
void Connected(TAuOutput* Owner) {
  Calls.push_back({"connected", Owner});
}
void Disconnected(TAuOutput* Owner) {
  Calls.push_back({"disconnected", Owner});
}

TEST(TWMStatusCallbackTest, HandsClientStatusesToTheContextsCallbacks) {
  TWMWriterContext Context;
  auto* Owner = reinterpret_cast<TAuOutput*>(&Context);
  Context.Owner = Owner;
  Context.OnConnect = Connected;
  Context.OnDisconnect = Disconnected;
  TWMPtr<IWMStatusCallback> Callback(new TWMStatusCallback(&Context));
  for (uint32_t Status : {37u, 1u, 38u, 36u})
    EXPECT_EQ(Callback->OnStatus(static_cast<WMT_STATUS>(Status), S_OK, WMT_TYPE_BINARY, nullptr,
                                 nullptr),
              S_OK);
  EXPECT_EQ(Calls, (std::vector<std::pair<std::string, TAuOutput*>>{{"connected", Owner},
                                                                    {"disconnected", Owner}}));
  // Without callbacks a status is only ignored.
  Context.OnConnect = nullptr;
  EXPECT_EQ(Callback->OnStatus(WMT_CLIENT_CONNECTED, S_OK, WMT_TYPE_BINARY, nullptr, nullptr),
            S_OK);
  EXPECT_EQ(Calls.size(), 2u);
}

} // namespace
