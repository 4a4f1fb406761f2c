#include "platform/Shell.h"

#include <cerrno>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace platform {

bool ShellExecuteOpen(const std::string& File) {
  // A shell puts the opener in the background and ends at once, so nothing is left for us to
  // reap and the window does not wait for the opener.
  const char* Script = "xdg-open \"$1\" </dev/null >/dev/null 2>&1 &";
  char* const Argv[] = {const_cast<char*>("sh"),         const_cast<char*>("-c"),
                        const_cast<char*>(Script),       const_cast<char*>("sh"),
                        const_cast<char*>(File.c_str()), nullptr};
  pid_t Shell = 0;
  if (posix_spawn(&Shell, "/bin/sh", nullptr, nullptr, Argv, environ) != 0)
    return false;
  int Status = 0;
  while (waitpid(Shell, &Status, 0) < 0)
    if (errno != EINTR)
      return false;
  return WIFEXITED(Status) && WEXITSTATUS(Status) == 0;
}

} // namespace platform
