// The program itself, started as a user would start it.
#include "tests/support/Command.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sys/wait.h>

namespace {

using ::testing::HasSubstr;

// Qt would abort with a core dump; the program says why and ends.
TEST(ProgramTest, WithoutADisplayItSaysSoAndExitsWithStatus1) {
  const struct {
    const char* Environment;
    const char* Reason;
  } Cases[] = {
      {"-u DISPLAY -u WAYLAND_DISPLAY", "no display: DISPLAY and WAYLAND_DISPLAY are not set"},
      {"-u WAYLAND_DISPLAY DISPLAY=:97", "cannot connect to the X display \":97\""},
  };
  for (const auto& Case : Cases) {
    SCOPED_TRACE(Case.Environment);
    const TCommandResult Result =
        RunCommand("env -u QT_QPA_PLATFORM " + std::string(Case.Environment) + " " +
                   ShellQuoted(TAVRUNE_PROGRAM) + " 2>&1");
    ASSERT_TRUE(WIFEXITED(Result.Status)) << Result.Output;
    EXPECT_EQ(WEXITSTATUS(Result.Status), 1);
    EXPECT_EQ(Result.Output, "Tavrune cannot open its window: " + std::string(Case.Reason) + ".\n");
  }
}

} // namespace
