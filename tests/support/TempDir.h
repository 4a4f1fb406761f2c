#pragma once

#include <string>
#include <string_view>

// A new, empty folder under $TMPDIR (or /tmp), removed with everything in it when the owner goes.
class TTempDir {
public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  // The folder, ending in '/'.
  const std::string& Path() const { return FPath; }
  std::string File(std::string_view Name) const { return FPath + std::string(Name); }

private:
  std::string FPath;
};
