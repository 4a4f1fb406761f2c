#pragma once

#include <sys/resource.h>

#include <algorithm>
#include <csignal>

// Files of this process cannot grow past Bytes while it exists, as on a full disk: a write
// beyond fails with EFBIG instead of raising SIGXFSZ, which is ignored meanwhile. The limit
// is the whole process's, so child processes started meanwhile inherit it.
class TFileSizeLimit {
public:
  explicit TFileSizeLimit(rlim_t Bytes) {
    getrlimit(RLIMIT_FSIZE, &FOld);
    FOldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit Limit = FOld;
    Limit.rlim_cur = std::min(Bytes, FOld.rlim_max);
    setrlimit(RLIMIT_FSIZE, &Limit);
  }
  ~TFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &FOld);
    std::signal(SIGXFSZ, FOldHandler);
  }
  TFileSizeLimit(const TFileSizeLimit&) = delete;
  TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

private:
  rlimit FOld{};
  void (*FOldHandler)(int) = nullptr;
};
