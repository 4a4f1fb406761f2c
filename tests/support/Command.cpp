#include "tests/support/Command.h"

#include <gtest/gtest.h>

#include <cstdio>
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
