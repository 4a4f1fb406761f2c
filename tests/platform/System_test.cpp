#include "platform/System.h"

#include "tests/support/TempDir.h"

#include "tests/support/ScopedEnv.h"

#include <gtest/gtest.h>

#include <pwd.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <thread>

using namespace platform;

namespace {

TEST(AppDataFolder, TakesAnAbsoluteXdgConfigHomeElseHomeConfig) {
  struct TCase {
    const char* ConfigHome;
    const char* Home;
    const char* Expected;
  };
  const TCase Cases[] = {
      {"/data/config", "/home/me", "/data/config"},
      {"/data/config/", "/home/me", "/data/config"},
      {"relative/config", "/home/me", "/home/me/.config"},
      {"", "/home/me", "/home/me/.config"},
      {nullptr, "/home/me", "/home/me/.config"},
      {nullptr, "/home/me/", "/home/me/.config"},
      {nullptr, "/", "/.config"},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(std::string(Case.ConfigHome ? Case.ConfigHome : "(unset)") + " " + Case.Home);
    const TScopedEnv ConfigHome("XDG_CONFIG_HOME", Case.ConfigHome);
    const TScopedEnv Home("HOME", Case.Home);
    EXPECT_EQ(AppDataFolder(), Case.Expected);
  }
}

TEST(AppDataFolder, WithoutHomeAsksThePasswordDatabase) {
  const passwd* Entry = getpwuid(getuid());
  ASSERT_NE(Entry, nullptr);
  const std::string Expected = std::string(Entry->pw_dir) + "/.config";
  for (const char* Home : {static_cast<const char*>(nullptr), ""}) {
    const TScopedEnv ConfigHome("XDG_CONFIG_HOME", nullptr);
    const TScopedEnv HomeEnv("HOME", Home);
    EXPECT_EQ(AppDataFolder(), Expected);
  }
}

TEST(ProgramFolder, IsTheFolderOfTheTestProgram) {
  const std::string Folder = ProgramFolder();
  ASSERT_FALSE(Folder.empty());
  EXPECT_EQ(Folder.front(), '/');
  EXPECT_TRUE(Folder.ends_with("/tests/")) << Folder;
  EXPECT_TRUE(std::filesystem::is_regular_file(Folder + "System_test")) << Folder;
}

TEST(Directories, CreateOneLevelAndTellFoldersFromFiles) {
  const TTempDir Dir;
  const std::string Folder = Dir.File("made");
  EXPECT_FALSE(DirectoryExists(Folder));
  ASSERT_TRUE(CreateDir(Folder)) << std::strerror(errno);
  EXPECT_TRUE(DirectoryExists(Folder));
  EXPECT_TRUE(DirectoryExists(Folder + "/"));

  errno = 0;
  EXPECT_FALSE(CreateDir(Folder));
  EXPECT_EQ(errno, EEXIST);
  errno = 0;
  EXPECT_FALSE(CreateDir(Dir.File("missing/child")));
  EXPECT_EQ(errno, ENOENT);

  const std::string File = Dir.File("file");
  std::FILE* Stream = std::fopen(File.c_str(), "w");
  ASSERT_NE(Stream, nullptr);
  std::fclose(Stream);
  EXPECT_FALSE(DirectoryExists(File));
  EXPECT_FALSE(DirectoryExists(""));
}

// A stand-in xdg-user-dir, alone on PATH, answers as the script says; HOME is a folder of the
// test's.
TEST(UserMusicFolder, TakesTheDesktopsMusicFolderElseMusicInTheHomeFolder) {
  struct TCase {
    const char* Script;   // the stand-in's body; null for no xdg-user-dir at all
    const char* Expected; // after the home folder's path when it starts with '~'
  };
  const TCase Cases[] = {
      {"echo /data/Musik", "/data/Musik"},
      {"echo /data/Musik/", "/data/Musik"},
      {"printf '/data/My Music\\nsecond line\\n'", "/data/My Music"},
      // No music folder set: the tool prints the home folder.
      {"echo \"$HOME\"", "~/Music"},
      {"echo \"$HOME/\"", "~/Music"},
      {"echo Music", "~/Music"},
      {"echo /", "~/Music"},
      {"echo", "~/Music"},
      {"echo /data/Musik; exit 1", "~/Music"},
      {nullptr, "~/Music"},
  };
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Script ? Case.Script : "(no xdg-user-dir)");
    const TTempDir Dir;
    const std::string Home = Dir.File("home");
    std::filesystem::create_directory(Home);
    if (Case.Script) {
      const std::string Tool = Dir.File("xdg-user-dir");
      std::FILE* Stream = std::fopen(Tool.c_str(), "w");
      ASSERT_NE(Stream, nullptr);
      std::fprintf(Stream, "#!/bin/sh\n[ \"$1\" = MUSIC ] || exit 2\n%s\n", Case.Script);
      std::fclose(Stream);
      std::filesystem::permissions(Tool, std::filesystem::perms::owner_all);
    }
    const TScopedEnv Path("PATH", Dir.Path().c_str());
    const TScopedEnv HomeEnv("HOME", Home.c_str());
    const std::string Expected(Case.Expected);
    EXPECT_EQ(UserMusicFolder(), Expected[0] == '~' ? Home + Expected.substr(1) : Expected);
  }
}

TEST(FolderWritable, GoesByTheEffectiveIds) {
  const TTempDir Dir;
  EXPECT_TRUE(FolderWritable(Dir.Path()));
  EXPECT_FALSE(FolderWritable(Dir.File("missing")));
  const std::string Locked = Dir.File("locked");
  ASSERT_TRUE(CreateDir(Locked));
  std::filesystem::permissions(Locked, std::filesystem::perms::owner_read |
                                           std::filesystem::perms::owner_exec);
  // Root may write into any folder of a writable file system.
  EXPECT_EQ(FolderWritable(Locked), geteuid() == 0);
}

TEST(GetVersionEx, GivesTheKernelsReleaseNumbers) {
  utsname Name;
  ASSERT_EQ(uname(&Name), 0);
  unsigned Numbers[3] = {};
  ASSERT_GE(std::sscanf(Name.release, "%u.%u.%u", &Numbers[0], &Numbers[1], &Numbers[2]), 2)
      << Name.release;

  const TOSVersionInfo Version = GetVersionEx();
  EXPECT_EQ(Version.MajorVersion, Numbers[0]) << Name.release;
  EXPECT_EQ(Version.MinorVersion, Numbers[1]) << Name.release;
  EXPECT_EQ(Version.BuildNumber, Numbers[2]) << Name.release;
  EXPECT_EQ(Version.PlatformId, VER_PLATFORM_WIN32_NT);
}

TEST(PerformanceCounter, CountsNanosecondsOfTheMonotonicClock) {
  ASSERT_EQ(QueryPerformanceFrequency(), 1'000'000'000);
  const auto Nanoseconds = [] {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  };
  const int64_t Before = Nanoseconds();
  const int64_t Count = QueryPerformanceCounter();
  const int64_t After = Nanoseconds();
  EXPECT_LE(Before, Count);
  EXPECT_LE(Count, After);

  const int64_t Start = QueryPerformanceCounter();
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  int64_t Last = QueryPerformanceCounter();
  EXPECT_GE(Last - Start, 20'000'000);
  for (int I = 0; I < 1000; ++I) {
    const int64_t Next = QueryPerformanceCounter();
    ASSERT_GE(Next, Last);
    Last = Next;
  }
}

} // namespace
