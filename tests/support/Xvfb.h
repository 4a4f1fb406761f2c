#pragma once

// A virtual X server for one test: Xvfb on the first free display number, gone with the
// object. Display() is empty when Xvfb could not start.
#include <csignal>
#include <string>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

class TXvfb {
public:
  TXvfb() {
    int Pipe[2];
    if (pipe(Pipe) != 0)
      return;
    posix_spawn_file_actions_t Actions;
    posix_spawn_file_actions_init(&Actions);
    posix_spawn_file_actions_adddup2(&Actions, Pipe[1], 3);
    posix_spawn_file_actions_addopen(&Actions, 2, "/dev/null", O_WRONLY, 0);
    char Program[] = "Xvfb";
    char DisplayFd[] = "-displayfd";
    char Three[] = "3";
    char NoListen[] = "-nolisten";
    char Tcp[] = "tcp";
    char* Argv[] = {Program, DisplayFd, Three, NoListen, Tcp, nullptr};
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
    if (!Started)
      FPid = -1;
    else if (!Number.empty())
      FDisplay = ":" + Number;
  }
  ~TXvfb() {
    if (FPid > 0) {
      kill(FPid, SIGTERM);
      waitpid(FPid, nullptr, 0);
    }
  }
  TXvfb(const TXvfb&) = delete;
  TXvfb& operator=(const TXvfb&) = delete;

  const std::string& Display() const { return FDisplay; }

private:
  pid_t FPid = -1;
  std::string FDisplay;
};
