// The window's sound output: made with the window, stopped when the window closes.
#include "app/mainform.h"

#include "audio/output/ACS_DXAudio.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestComponents.h"

#include <gtest/gtest.h>

namespace {

// A machine without CD drives, with SDL's dummy sound driver.
class WindowSoundTest : public ::testing::Test {
protected:
  TTempDir Folder;
  TScopedEnv Config{"XDG_CONFIG_HOME", Folder.Path().c_str()};
  TScopedEnv Demo{"TAVRUNE_DEMO_DISC", Folder.File("no-demo.cue").c_str()};
  TScopedEnv Driver{"SDL_AUDIODRIVER", "dummy"};
  TComponentPtr<TComponent> Root{new TComponent(nullptr)};
  std::unique_ptr<TForm1> Form1 = std::make_unique<TForm1>();
};

TEST_F(WindowSoundTest, OwnsTheSoundOutputWithItsSettings) {
  TDXAudioOut* Out = Form1->DXAudioOutPY;
  ASSERT_NE(Out, nullptr);
  EXPECT_EQ(Out->Name(), "DXAudioOutPY");
  EXPECT_EQ(Out->DeviceNumber(), 0);
  EXPECT_EQ(Out->FramesInBuffer(), 65536u);
  EXPECT_EQ(Out->PollingInterval(), 200u);
  EXPECT_GE(Out->DeviceTable().Count, 1u);
  EXPECT_FALSE(Out->Running());
}

TEST_F(WindowSoundTest, ClosingTheWindowStopsThePlay) {
  TDXAudioOut* Out = Form1->DXAudioOutPY;
  auto* Input = new TMemoryInput(Root.get(), PatternBytes(44100 * 4 * 30, 1));
  bool Done = false;
  Out->SetOnDone([&](TComponent*) { Done = true; });
  Out->SetInput(Input);
  Form1->show();
  Out->Run();
  ASSERT_TRUE(PumpUntil([&] { return Input->Position() > 0; }));
  Form1->close();
  EXPECT_FALSE(Out->Running());
  EXPECT_EQ(Input->FlushCount, 1);
  EXPECT_LT(Input->Position(), 44100 * 4 * 30);
  PumpFor(100);
  EXPECT_FALSE(Done);
}

} // namespace
