#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform {

// Reads an INI file as profile-string reading does: sections and keys match without regard to
// ASCII letter case, the first of repeated keys counts, values are trimmed and lose one pair of
// surrounding double quotes. Lines starting with ';' or '#' are comments.
class TIniReader {
public:
  using TValues = std::vector<std::pair<std::string, std::string>>;

  // A missing or unreadable file reads as an empty one.
  explicit TIniReader(const std::string& FileName);

  std::string ReadString(std::string_view Section, std::string_view Ident,
                         std::string_view Default) const;
  // A value that is not a whole decimal number gives Default.
  int64_t ReadInteger(std::string_view Section, std::string_view Ident, int64_t Default) const;
  // The keys of a section with their values, in the order of the file.
  TValues ReadSection(std::string_view Section) const;

private:
  struct TSection {
    std::string Name;
    TValues Values;
  };
  std::vector<TSection> FSections;
};

} // namespace platform
