#include "platform/IniReader.h"

#include <algorithm>
#include <charconv>
#include <fstream>

namespace platform {
namespace {

std::string_view Trim(std::string_view Text) {
  const size_t First = Text.find_first_not_of(" \t\r");
  if (First == std::string_view::npos)
    return {};
  return Text.substr(First, Text.find_last_not_of(" \t\r") - First + 1);
}

// Only ASCII letters fold, so the outcome does not depend on the locale.
bool SameText(std::string_view A, std::string_view B) {
  const auto Fold = [](char C) {
    return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C;
  };
  return std::ranges::equal(A, B, [&](char X, char Y) { return Fold(X) == Fold(Y); });
}

std::string_view Unquoted(std::string_view Value) {
  if (Value.size() >= 2 && Value.front() == '"' && Value.back() == '"')
    return Value.substr(1, Value.size() - 2);
  return Value;
}

} // namespace

TIniReader::TIniReader(const std::string& FileName) {
  std::ifstream In(FileName, std::ios::binary);
  std::string Line;
  bool First = true;
  while (std::getline(In, Line)) {
    std::string_view Text = Line;
    if (First && Text.starts_with("\xEF\xBB\xBF"))
      Text.remove_prefix(3);
    First = false;
    Text = Trim(Text);
    if (Text.empty() || Text.starts_with(';') || Text.starts_with('#'))
      continue;
    if (Text.starts_with('[')) {
      const size_t Close = Text.find(']');
      if (Close != std::string_view::npos)
        FSections.push_back({std::string(Trim(Text.substr(1, Close - 1))), {}});
      continue;
    }
    const size_t Equals = Text.find('=');
    if (Equals == std::string_view::npos || FSections.empty())
      continue;
    FSections.back().Values.emplace_back(Trim(Text.substr(0, Equals)),
                                         Unquoted(Trim(Text.substr(Equals + 1))));
  }
}

std::string TIniReader::ReadString(std::string_view Section, std::string_view Ident,
                                   std::string_view Default) const {
  for (const TSection& Each : FSections) {
    if (!SameText(Each.Name, Section))
      continue;
    for (const auto& [Key, Value] : Each.Values)
      if (SameText(Key, Ident))
        return Value;
  }
  return std::string(Default);
}

int64_t TIniReader::ReadInteger(std::string_view Section, std::string_view Ident,
                                int64_t Default) const {
  const std::string Text = ReadString(Section, Ident, "");
  const char* End = Text.data() + Text.size();
  int64_t Value = 0;
  const auto [Stop, Error] = std::from_chars(Text.data(), End, Value);
  if (Text.empty() || Error != std::errc() || Stop != End)
    return Default;
  return Value;
}

TIniReader::TValues TIniReader::ReadSection(std::string_view Section) const {
  TValues Values;
  for (const TSection& Each : FSections)
    if (SameText(Each.Name, Section))
      Values.insert(Values.end(), Each.Values.begin(), Each.Values.end());
  return Values;
}

} // namespace platform
