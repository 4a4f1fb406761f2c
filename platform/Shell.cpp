#include "platform/Shell.h"

#include <cerrno>
#include <cstdlib>
#include <spawn.h>
#include <string_view>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace platform {
namespace {

// Runs a shell script with arguments and waits for the shell only; the script puts what it
// starts in the background, so nothing is left for us to reap and the window does not wait.
bool RunInBackground(const char* Script, const std::vector<std::string>& Arguments) {
  std::vector<char*> Argv = {const_cast<char*>("sh"), const_cast<char*>("-c"),
                             const_cast<char*>(Script), const_cast<char*>("sh")};
  for (const std::string& Argument : Arguments)
    Argv.push_back(const_cast<char*>(Argument.c_str()));
  Argv.push_back(nullptr);
  pid_t Shell = 0;
  if (posix_spawn(&Shell, "/bin/sh", nullptr, nullptr, Argv.data(), environ) != 0)
    return false;
  int Status = 0;
  while (waitpid(Shell, &Status, 0) < 0)
    if (errno != EINTR)
      return false;
  return WIFEXITED(Status) && WEXITSTATUS(Status) == 0;
}

std::string FolderOf(const std::string& File) {
  const size_t Slash = File.rfind('/');
  return Slash == std::string::npos ? "." : File.substr(0, Slash + 1);
}

} // namespace

bool ShellExecuteOpen(const std::string& File) {
  return RunInBackground("xdg-open \"$1\" </dev/null >/dev/null 2>&1 &", {File});
}

std::string FileUri(const std::string& Path) {
  static constexpr char Hex[] = "0123456789ABCDEF";
  std::string Uri = "file://";
  for (const unsigned char C : Path) {
    const bool Plain = (C >= 'a' && C <= 'z') || (C >= 'A' && C <= 'Z') || (C >= '0' && C <= '9') ||
                       std::string_view("-._~/").find(C) != std::string_view::npos;
    if (Plain) {
      Uri += static_cast<char>(C);
      continue;
    }
    Uri += '%';
    Uri += Hex[C >> 4];
    Uri += Hex[C & 15];
  }
  return Uri;
}

bool WinExec(const std::string& CommandLine, int /*ShowCommand*/) {
  constexpr std::string_view Reveal = "Explorer /select, ";
  if (CommandLine.compare(0, Reveal.size(), Reveal) != 0)
    return false;
  const std::string File = CommandLine.substr(Reveal.size());
  // Without a session bus there is no file manager to ask, and a file that is not there (the
  // batch's last track failed) cannot be selected; its folder is the next best thing.
  const char* Bus = std::getenv("DBUS_SESSION_BUS_ADDRESS");
  if (!Bus || !*Bus || access(File.c_str(), F_OK) != 0)
    return ShellExecuteOpen(FolderOf(File));
  return RunInBackground(
      "{ dbus-send --session --reply-timeout=5000 --print-reply"
      " --dest=org.freedesktop.FileManager1 --type=method_call /org/freedesktop/FileManager1"
      " org.freedesktop.FileManager1.ShowItems array:string:\"$1\" string:\"\" ||"
      " xdg-open \"$2\"; } </dev/null >/dev/null 2>&1 &",
      {FileUri(File), FolderOf(File)});
}

} // namespace platform
