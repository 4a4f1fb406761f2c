// Where the rip batch goes when the program's folder cannot be written, as for an installed
// program: into "Tavrune/" in the user's music folder.
#include "tests/app/RipWindow.h"

#include "platform/System.h"
#include "tests/support/Command.h"
#include "tests/support/ScopedEnv.h"

#include <regex>

namespace {

[[maybe_unused]] const TRipEnvironment* const Registered =
    AddRipEnvironment({{false, 75, 0, "chord 1"}});

class MusicFolderRipTest : public TRipWindowTest {
protected:
  MusicFolderRipTest() : TRipWindowTest("wav") {}

  // Rips the track and gives the batch folder's path below Base, which it must lie in.
  std::string RipBelow(const std::string& Base) {
    TickOnly({1});
    RipAndWait();
    EXPECT_EQ(Grid().Cells(5, 1), "completed");
    EXPECT_TRUE(std::filesystem::is_regular_file(TrackFile(1, ".wav")));
    const std::string Folder = Form1->OutputFolder;
    EXPECT_EQ(Folder.compare(0, Base.size(), Base), 0) << Folder;
    return Folder.substr(std::min(Base.size(), Folder.size()));
  }
};

// Runs only in the child process that the test below starts as another user, for whom the
// program's folder cannot be written. Its home folder and configuration are its own.
TEST_F(MusicFolderRipTest, DISABLED_AsAnotherUserRipsIntoTheMusicFolder) {
  ASSERT_FALSE(platform::FolderWritable(platform::ProgramFolder()));
  const TTempDir Home;
  // As the password database gives it: no trailing '/'.
  const std::string HomeFolder = Home.Path().substr(0, Home.Path().size() - 1);
  const TScopedEnv HomeEnv("HOME", HomeFolder.c_str());
  const std::regex Batch(R"([^/]+ \d\d-\d\d-\d\d/)");

  // No music folder set (xdg-user-dir, when there is one, answers the home folder): ~/Music,
  // made with its Tavrune folder.
  EXPECT_TRUE(std::regex_match(RipBelow(Home.File("Music/Tavrune/")), Batch));
  // The desktop's music folder, made when it is missing.
  const std::string Tool = Home.File("bin/xdg-user-dir");
  {
    std::filesystem::create_directories(Home.File("bin"));
    std::ofstream Script(Tool);
    Script << "#!/bin/sh\necho \"$HOME/Musik\"\n";
  }
  std::filesystem::permissions(Tool, std::filesystem::perms::owner_all);
  const std::string Path = Home.Path() + "bin:" + getenv("PATH");
  const TScopedEnv PathEnv("PATH", Path.c_str());
  EXPECT_TRUE(std::regex_match(RipBelow(Home.File("Musik/Tavrune/")), Batch));
}

// The tests run as root in CI, where every folder is writable. The program's folder is really
// unwritable only to another user, so this program runs its disabled test again as nobody
// (setpriv needs root). A read-only bind mount in a mount namespace would need root as well,
// and would leave the home folder and the temporary folders writable by root, not by a user.
TEST(MusicFolderTest, AProgramWhoseFolderCannotBeWrittenRipsIntoTheUsersMusicFolder) {
  const auto Child =
      RunSelfAsNobody("MusicFolderRipTest.DISABLED_AsAnotherUserRipsIntoTheMusicFolder");
  if (!Child)
    GTEST_SKIP() << "running this program as another user needs root, setpriv and a build tree "
                    "that nobody may read";
  EXPECT_EQ(Child->Status, 0) << Child->Output;
  EXPECT_NE(Child->Output.find("[  PASSED  ] 1 test."), std::string::npos) << Child->Output;
}

} // namespace
