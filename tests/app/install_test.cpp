// `cmake --install` of the build tree into a folder of the test's, and the installed program,
// started as a user starts it from the desktop's menu.
#include "tests/support/Command.h"
#include "tests/support/FakeDesktop.h"
#include "tests/support/ScopedEnv.h"
#include "tests/support/TempDir.h"
#include "tests/support/Xvfb.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;

// The libraries that the program links or loads, all from the program's ../lib/.
const char* const OurLibraries[] = {"libtavrune_platform.so", "libcdrip.so", "liblame_enc.so",
                                    "libMACDll.so"};

std::string FileText(const std::string& File) {
  std::ifstream In(File, std::ios::binary);
  std::ostringstream Text;
  Text << In.rdbuf();
  return Text.str();
}

// The program's own messages in its standard error, without the dynamic loader's report
// ("  1234:\tfile=..."), which would bury them.
std::string ProgramMessages(const std::string& Errors) {
  std::istringstream Lines(Errors);
  std::string Messages;
  for (std::string Line; std::getline(Lines, Line);) {
    const size_t Digits = Line.find_first_not_of(' ');
    const size_t Colon = Line.find(':');
    const bool Loader = Digits != std::string::npos && Colon != std::string::npos &&
                        Colon > Digits && Line.find_first_not_of("0123456789", Digits) == Colon;
    if (!Loader)
      Messages += Line + "\n";
  }
  return Messages;
}

class InstallTest : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    Prefix = std::make_unique<TTempDir>();
    CheckedOutput(ShellQuoted(TAVRUNE_CMAKE) + " --install " + ShellQuoted(TAVRUNE_BUILD_DIR) +
                  " --prefix " + ShellQuoted(Prefix->Path()) + " 2>&1");
  }
  static void TearDownTestSuite() { Prefix.reset(); }

  static std::string Installed(const std::string& File) { return Prefix->File(File); }

  // The keys of the desktop entry's group.
  static std::map<std::string, std::string> DesktopEntry() {
    std::map<std::string, std::string> Keys;
    std::istringstream Lines(FileText(Installed("share/applications/tavrune.desktop")));
    for (std::string Line; std::getline(Lines, Line);)
      if (const size_t Equals = Line.find('='); Equals != std::string::npos)
        Keys[Line.substr(0, Equals)] = Line.substr(Equals + 1);
    return Keys;
  }

  static inline std::unique_ptr<TTempDir> Prefix;
};

TEST_F(InstallTest, PutsTheProgramItsLibrariesAndItsFilesUnderThePrefix) {
  EXPECT_EQ(access(Installed("bin/tavrune").c_str(), X_OK), 0);
  for (const char* Library : OurLibraries)
    EXPECT_TRUE(fs::is_regular_file(Installed("lib/") + Library)) << Library;
  for (const char* File : {"share/tavrune/help/index.html", "share/tavrune/demo.cue",
                           "share/tavrune/demo.bin", "share/applications/tavrune.desktop"})
    EXPECT_TRUE(fs::is_regular_file(Installed(File))) << File;
  EXPECT_EQ(FileText(Installed("share/icons/hicolor/scalable/apps/tavrune.svg")),
            FileText(TAVRUNE_SOURCE_DIR "/ui/icons/tavrune.svg"));
}

TEST_F(InstallTest, TheDesktopEntryIsValidAndNamesTheInstalledProgramAndIcon) {
  const std::string Entry = Installed("share/applications/tavrune.desktop");
  const TCommandResult Validated =
      RunCommand("desktop-file-validate " + ShellQuoted(Entry) + " 2>&1");
  EXPECT_EQ(Validated.Status, 0) << Validated.Output;
  EXPECT_EQ(Validated.Output, "");
  std::map<std::string, std::string> Keys = DesktopEntry();
  EXPECT_EQ(Keys["Type"], "Application");
  EXPECT_EQ(Keys["Name"], "Tavrune");
  EXPECT_EQ(Keys["Categories"], "AudioVideo;Audio;");
  EXPECT_EQ(Keys["Terminal"], "false");
  // The menu finds the program on PATH and the icon in the icon theme, both by name.
  EXPECT_TRUE(fs::is_regular_file(Installed("bin/" + Keys["Exec"]))) << Keys["Exec"];
  EXPECT_TRUE(
      fs::is_regular_file(Installed("share/icons/hicolor/scalable/apps/" + Keys["Icon"] + ".svg")))
      << Keys["Icon"];
}

TEST_F(InstallTest, LddResolvesEveryLibraryAndOursFromThePrefix) {
  std::vector<std::string> Files = {Installed("bin/tavrune")};
  for (const char* Library : OurLibraries)
    Files.push_back(Installed("lib/") + Library);
  for (const std::string& File : Files) {
    SCOPED_TRACE(File);
    const std::string Output = CheckedOutput("ldd " + ShellQuoted(File));
    EXPECT_THAT(Output, Not(HasSubstr("not found"))) << Output;
    // Our platform library, where it is linked, is the installed one.
    std::istringstream Lines(Output);
    for (std::string Line; std::getline(Lines, Line);)
      if (const size_t At = Line.find("libtavrune_platform.so => "); At != std::string::npos) {
        const std::string Path = Line.substr(At + 26, Line.find(" (") - At - 26);
        EXPECT_EQ(fs::weakly_canonical(Path), fs::path(Installed("lib/libtavrune_platform.so")));
      }
  }
}

// Starts the program of a prefix on Display as a user starts it from the menu, with no drive,
// its standard error going to Log.
pid_t StartProgram(const std::string& Program, const std::string& Display, const TTempDir& Home,
                   const std::string& Log) {
  std::vector<std::string> Arguments = {
      "env", "-u", "QT_QPA_PLATFORM", "-u", "TAVRUNE_LIBRARY_PATH", "-u", "TAVRUNE_DEMO_DISC",
      "DISPLAY=" + Display, "HOME=" + Home.Path(), "XDG_CONFIG_HOME=" + Home.File("config"),
      "SDL_AUDIODRIVER=dummy",
      // The dynamic loader reports every library it loads, and from which file.
      "LD_DEBUG=files",
      // In a sanitised tree: libxkbcommon-x11 hands strndup a buffer without a terminator,
      // which is allowed but not under the strict string checks of our own tests.
      "ASAN_OPTIONS=" +
          std::string(std::getenv("ASAN_OPTIONS") ? std::getenv("ASAN_OPTIONS") : "") +
          ":strict_string_checks=0",
      // In a sanitised tree: libdbus, which Qt's platform layer loads, leaves a buffer behind
      // when the program ends without a session bus.
      "LSAN_OPTIONS=print_suppressions=0:suppressions=" + Home.File("lsan.supp"), Program};
  std::ofstream(Home.File("lsan.supp")) << "leak:libdbus-1.so\n";
  std::vector<char*> Argv;
  for (std::string& Argument : Arguments)
    Argv.push_back(Argument.data());
  Argv.push_back(nullptr);
  posix_spawn_file_actions_t Actions;
  posix_spawn_file_actions_init(&Actions);
  posix_spawn_file_actions_addopen(&Actions, 2, Log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  pid_t Pid = 0;
  const int Spawned = posix_spawnp(&Pid, "env", &Actions, nullptr, Argv.data(), environ);
  posix_spawn_file_actions_destroy(&Actions);
  return Spawned == 0 ? Pid : -1;
}

// The installed program on an X server of its own, with no drive: it must show the demo disc
// and keep running until it is told to end.
TEST_F(InstallTest, TheInstalledProgramStartsWithTheDemoDiscAndStaysUp) {
  const TXvfb Server;
  ASSERT_FALSE(Server.Display().empty()) << "Xvfb did not start";
  const TTempDir Home;
  const std::string Log = Home.File("stderr");
  const pid_t Program = StartProgram(Installed("bin/tavrune"), Server.Display(), Home, Log);
  ASSERT_GT(Program, 0);

  std::this_thread::sleep_for(std::chrono::seconds(3));
  int Status = 0;
  const bool StillRunning = waitpid(Program, &Status, WNOHANG) == 0;
  // The demo disc's image is open in the running program.
  std::vector<fs::path> Open;
  if (StillRunning)
    for (const auto& Fd : fs::directory_iterator("/proc/" + std::to_string(Program) + "/fd"))
      if (std::error_code Error; fs::is_symlink(Fd.path(), Error))
        Open.push_back(fs::read_symlink(Fd.path(), Error));
  if (StillRunning) {
    kill(Program, SIGTERM);
    waitpid(Program, &Status, 0);
  }
  const std::string Errors = FileText(Log);
  ASSERT_TRUE(StillRunning) << "status " << Status << "\n" << ProgramMessages(Errors);
  EXPECT_TRUE(WIFSIGNALED(Status) && WTERMSIG(Status) == SIGTERM) << Status;
  EXPECT_NE(std::find(Open.begin(), Open.end(), fs::path(Installed("share/tavrune/demo.bin"))),
            Open.end());
  // The libraries that the components load at start-up come from the prefix.
  for (const char* Library : {"libcdrip.so", "liblame_enc.so"})
    EXPECT_THAT(Errors, HasSubstr("file=" + Installed("bin/../lib/") + Library + " ")) << Library;
  EXPECT_THAT(Errors, Not(HasSubstr(TAVRUNE_BUILD_DIR "/lib/")));
}

// The installed program as a user drives it, with the mouse and the keyboard on its own X
// server: flac picked in the open format box, "Rip" clicked, and the file manager asked to show
// the batch folder. The prefix can be written here, so the batch goes to its bin/music/. The
// five files decode, one after another, to the demo disc's image exactly: the pregaps belong to
// the tracks before them.
TEST_F(InstallTest, TheInstalledProgramRipsTheDemoDiscToFlacAtTheUsersClicks) {
  const TXvfb Server;
  ASSERT_FALSE(Server.Display().empty()) << "Xvfb did not start";
  const TTempDir Home;
  // The stand-in of xdg-open is first on PATH for this test only.
  const TScopedEnv Path("PATH", std::getenv("PATH"));
  const TFakeDesktop Desktop(Home.Path());
  const pid_t Program =
      StartProgram(Installed("bin/tavrune"), Server.Display(), Home, Home.File("stderr"));
  ASSERT_GT(Program, 0);
  const std::string Xdotool = "DISPLAY=" + Server.Display() + " timeout 30 xdotool ";
  const TCommandResult Window =
      RunCommand(Xdotool + "search --sync --onlyvisible --name '^Tavrune v2.1$'");
  ASSERT_EQ(Window.Status, 0) << ProgramMessages(FileText(Home.File("stderr")));
  const std::string Id = Window.Output.substr(0, Window.Output.find('\n'));
  // The window has a fixed layout: the format box at (506, 19), "Rip" at (75, 184). The open
  // box finds an entry by the letters typed.
  const auto Click = [&](int X, int Y) {
    return RunCommand(Xdotool + "mousemove --sync --window " + Id + " " + std::to_string(X) + " " +
                      std::to_string(Y) + " click 1 2>&1");
  };
  EXPECT_EQ(Click(506, 19).Status, 0);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  EXPECT_EQ(RunCommand(Xdotool + "type --delay 50 flac 2>&1").Status, 0);
  EXPECT_EQ(RunCommand(Xdotool + "key Return 2>&1").Status, 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  EXPECT_EQ(Click(75, 184).Status, 0);

  for (int Tries = 0; Tries < 1200 && Desktop.Log().empty(); ++Tries)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const std::string Opened = Desktop.Log();
  kill(Program, SIGTERM);
  int Status = 0;
  waitpid(Program, &Status, 0);
  ASSERT_FALSE(Opened.empty()) << "no file manager call\n"
                               << ProgramMessages(FileText(Home.File("stderr")));

  const std::string Music = Installed("bin/music/");
  ASSERT_TRUE(fs::is_directory(Music));
  const std::vector<fs::path> Batches(fs::directory_iterator(Music), fs::directory_iterator{});
  ASSERT_EQ(Batches.size(), 1u);
  const std::string Batch = Batches[0].string() + "/";
  EXPECT_EQ(Opened, "xdg-open [" + Batch + "]\n");
  std::string Decoded;
  for (int Track = 1; Track <= 5; ++Track) {
    const std::string File = Batch + "Track0" + std::to_string(Track) + ".flac";
    ASSERT_TRUE(fs::is_regular_file(File)) << File;
    const TCommandResult Sound = RunCommand(FlacToRawCommand(File));
    EXPECT_EQ(Sound.Status, 0) << File;
    Decoded += Sound.Output;
  }
  const std::string Image = FileText(Installed("share/tavrune/demo.bin"));
  EXPECT_EQ(Decoded.size(), Image.size());
  EXPECT_TRUE(Decoded == Image) << "the decoded tracks differ from the image";
}

// An installation that lacks one of the libraries the window's components load at start-up:
// the user is shown why in a box captioned "Tavrune", and once it is closed the program ends
// with status 1 without ever showing its window.
TEST_F(InstallTest, AMissingLibraryIsShownAndTheProgramEndsWithStatus1) {
  for (const char* Library : {"libcdrip.so", "liblame_enc.so"}) {
    SCOPED_TRACE(Library);
    const TTempDir Broken;
    fs::copy(Prefix->Path(), Broken.Path(), fs::copy_options::recursive);
    fs::remove(Broken.File("lib/") + Library);
    const TXvfb Server;
    ASSERT_FALSE(Server.Display().empty()) << "Xvfb did not start";
    const TTempDir Home;
    const pid_t Program =
        StartProgram(Broken.File("bin/tavrune"), Server.Display(), Home, Home.File("stderr"));
    ASSERT_GT(Program, 0);
    const std::string Xdotool = "DISPLAY=" + Server.Display() + " timeout 30 xdotool ";
    const TCommandResult Box =
        RunCommand(Xdotool + "search --sync --onlyvisible --name '^Tavrune$' 2>&1");
    EXPECT_EQ(Box.Status, 0) << Box.Output;
    const TCommandResult Windows = RunCommand(Xdotool + "search --onlyvisible --name Tavrune");
    EXPECT_EQ(Windows.Output, Box.Output) << "more than the box is shown";
    RunCommand(Xdotool + "windowfocus --sync " + Box.Output.substr(0, Box.Output.find('\n')) +
               " key Return");
    int Status = 0;
    for (int Tries = 0; Tries < 300 && waitpid(Program, &Status, WNOHANG) == 0; ++Tries)
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (waitpid(Program, &Status, WNOHANG) == 0) {
      kill(Program, SIGKILL);
      waitpid(Program, &Status, 0);
      FAIL() << "the program did not end when the box was closed";
    }
    EXPECT_TRUE(WIFEXITED(Status) && WEXITSTATUS(Status) == 1) << Status;
  }
}

} // namespace
