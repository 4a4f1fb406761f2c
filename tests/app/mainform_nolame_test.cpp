// The window's start-up on a machine without the MP3 encoder library: this program refuses
// liblame_enc.so at dlopen.
#include "app/mainform.h"

#include "audio/encoders/ACS_LAME.h"
#include "platform/Module.h"
#include "runtime/Application.h"
#include "tests/support/RefusedLibraries.h"
#include "tests/support/TempDir.h"
#include "tests/ui/RecordedErrors.h"

#include <gtest/gtest.h>

#include <exception>
#include <memory>

namespace {

class NoLameTest : public ::testing::Test {
protected:
  void SetUp() override {
    setenv("XDG_CONFIG_HOME", Folder.Path().c_str(), 1);
    setenv("TAVRUNE_DEMO_DISC", Folder.File("no-demo.cue").c_str(), 1);
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    unsetenv("TAVRUNE_LIBRARY_PATH");
    RefuseLibraries({"liblame_enc.so"});
  }
  void TearDown() override { RefuseLibraries({}); }

  TTempDir Folder;
};

TEST_F(NoLameTest, TheLibraryIsNowhereToBeFound) {
  EXPECT_FALSE(platform::LoadModule("lame_enc.dll").Loaded());
  EXPECT_TRUE(platform::LoadModule("cdrip.dll").Loaded());
}

TEST_F(NoLameTest, TheWindowRefusesToStartAndTheUserIsTold) {
  TRecordedErrors Errors;
  std::unique_ptr<TForm1> Form1;
  try {
    Form1 = std::make_unique<TForm1>();
    FAIL() << "the window started";
  } catch (...) {
    HandleException(std::current_exception());
  }
  EXPECT_EQ(Errors.Texts(), std::vector<std::string>{"lame_enc.dll library could not be loaded."});
}

TEST_F(NoLameTest, AWriterCannotComeIntoBeing) {
  TComponentPtr<TComponent> Root(new TComponent(nullptr));
  try {
    new TMP3Out(Root.get());
    FAIL() << "the writer came into being";
  } catch (const EAuException& Error) {
    EXPECT_STREQ(Error.what(), "lame_enc.dll library could not be loaded.");
  }
  EXPECT_EQ(Root->ComponentCount(), 0);
}

} // namespace
