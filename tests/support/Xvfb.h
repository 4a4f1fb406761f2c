#pragma once

// A virtual X server for one test: Xvfb on the first free display number, gone with the
// object. Display() is empty when Xvfb could not start.
#include <csignal>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

class TXvfb {
public:
  TXvfb() {
    // A server that has said it is ready has once been gone before a client could connect,
    // on a loaded machine; another one is started then.
    for (int Attempt = 0; Attempt < 3 && FDisplay.empty(); ++Attempt)
      if (!Start())
        Stop();
  }
  ~TXvfb() { Stop(); }
  TXvfb(const TXvfb&) = delete;
  TXvfb& operator=(const TXvfb&) = delete;

  const std::string& Display() const { return FDisplay; }

private:
  bool Start() {
    int Pipe[2];
    if (pipe(Pipe) != 0)
      return false;
    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    posix_spawn_file_actions_adddup2(&Actions, Pipe[1], 3);
    posix_spawn_file_actions_addopen(&Actions, 2, "/dev/null", O_WRONLY, 0);
    char Program[] = "Xvfb";
    char DisplayFd[] = "-displayfd";
    char Three[] = "3";
    char NoListen[] = "-nolisten";
    char Tcp[] = "tcp";
    // No reset when the last client leaves, such as the probe below.
    char NoReset[] = "-noreset";
    char* Argv[] = {Program, DisplayFd, Three, NoListen, Tcp, NoReset, nullptr};
    extern char** environ;
    const bool Started = posix_spawnp(&FPid, Program, &Actions, nullptr, Argv, environ) == 0;
    posix_spawn_file_actions_destroy(&Actions);
    close(Pipe[1]);
    // Xvfb writes its display number once it accepts connections.
    std::string Number;
    pollfd Ready{Pipe[0], POLLIN, 0};
    char C;
    while (Started && poll(&Ready, 1, 10000) == 1 && read(Pipe[0], &C, 1) == 1 && C != '\n')
      Number += C;
    close(Pipe[0]);
    if (!Started) {
      FPid = -1;
      return false;
    }
    if (Number.empty() || !Accepts(Number))
      return false;
    FDisplay = ":" + Number;
    return true;
  }

  void Stop() {
    if (FPid > 0) {
      kill(FPid, SIGTERM);
      waitpid(FPid, nullptr, 0);
    }
    FPid = -1;
  }

  // Whether a client can connect to the display's local socket, as libxcb does: the abstract
  // one first, then the file.
  static bool Accepts(const std::string& Number) {
    const std::string Path = "/tmp/.X11-unix/X" + Number;
    for (const bool Abstract : {true, false}) {
      sockaddr_un Address{};
      Address.sun_family = AF_UNIX;
      std::memcpy(Address.sun_path + (Abstract ? 1 : 0), Path.data(), Path.size());
      const socklen_t Length =
          static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + Path.size() + 1);
      const int Socket = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      if (Socket < 0)
        return false;
      const bool Connected =
          connect(Socket, reinterpret_cast<const sockaddr*>(&Address), Length) == 0;
      close(Socket);
      if (Connected)
        return true;
    }
    return false;
  }

  pid_t FPid = -1;
  std::string FDisplay;
};
