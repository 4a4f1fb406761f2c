#pragma once

#include "runtime/Exception.h"

#include <string>

class EIniFileException : public Exception {
public:
  using Exception::Exception;
};

// Writes profile strings into an INI file one key at a time, keeping every other section,
// key, comment and line as it was. Sections and keys match without regard to letter case.
class TIniFile {
public:
  explicit TIniFile(std::string FileName) : FFileName(std::move(FileName)) {}
  const std::string& FileName() const { return FFileName; }

  // Raises EIniFileException "Unable to write to <file name>" when the file cannot be written.
  void WriteString(const std::string& Section, const std::string& Ident, const std::string& Value);

private:
  std::string FFileName;
};
