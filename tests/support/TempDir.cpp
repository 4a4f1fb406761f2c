#include "tests/support/TempDir.h"

#include <stdlib.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

TTempDir::TTempDir() {
  const char* Root = std::getenv("TMPDIR");
  std::string Template = std::string(Root && *Root ? Root : "/tmp") + "/tavrune-XXXXXX";
  if (!mkdtemp(Template.data()))
    throw std::system_error(errno, std::generic_category(), "mkdtemp " + Template);
  FPath = Template + '/';
}

TTempDir::~TTempDir() {
  std::error_code Ignored;
  std::filesystem::remove_all(FPath, Ignored);
}
