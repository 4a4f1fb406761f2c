#include "tests/support/Command.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <memory>

namespace {

struct TPipeCloser {
  void operator()(FILE* Pipe) const { pclose(Pipe); }
};

} // namespace

TCommandResult RunCommand(const std::string& Command) {
  TCommandResult Result;
  std::unique_ptr<FILE, TPipeCloser> Pipe(popen(Command.c_str(), "r"));
  if (!Pipe)
    return Result;
  char Buffer[65536];
  while (const size_t Count = std::fread(Buffer, 1, sizeof Buffer, Pipe.get()))
    Result.Output.append(Buffer, Count);
  Result.Status = pclose(Pipe.release());
  return Result;
}

std::string CheckedOutput(const std::string& Command) {
  const TCommandResult Result = RunCommand(Command);
  EXPECT_EQ(Result.Status, 0) << Command << "\n" << Result.Output;
  return Result.Output;
}

std::string ShellQuoted(const std::string& Text) {
  std::string Quoted = "'";
  for (const char C : Text)
    Quoted += C == '\'' ? std::string("'\\''") : std::string(1, C);
  return Quoted + "'";
}

std::string FlacToRawCommand(const std::string& File) {
  return "flac -s -d -c --force-raw-format --endian=little --sign=signed " + ShellQuoted(File);
}

std::optional<TCommandResult> RunSelfAsNobody(const std::string& Filter) {
  const std::string AsNobody = "setpriv --reuid=65534 --regid=65534 --clear-groups ";
  const std::string Program = std::filesystem::read_symlink("/proc/self/exe");
  if (geteuid() != 0 || RunCommand(AsNobody + "test -x " + ShellQuoted(Program)).Status != 0)
    return std::nullopt;
  return RunCommand(AsNobody + ShellQuoted(Program) +
                    " --gtest_also_run_disabled_tests --gtest_filter=" + ShellQuoted(Filter) +
                    " 2>&1");
}
