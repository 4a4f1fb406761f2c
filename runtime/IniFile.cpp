#include "runtime/IniFile.h"

#include <algorithm>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";

struct TLine {
  std::string Text;
  std::string End; // "\n" or "\r\n"; empty on a last line that has none
};

std::string_view Trim(std::string_view Text) {
  const size_t First = Text.find_first_not_of(" \t");
  if (First == std::string_view::npos)
    return {};
  return Text.substr(First, Text.find_last_not_of(" \t") - First + 1);
}

// Only ASCII letters fold, so the outcome does not depend on the locale.
bool SameText(std::string_view A, std::string_view B) {
  const auto Fold = [](char C) {
    return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C;
  };
  return std::ranges::equal(A, B, [&](char X, char Y) { return Fold(X) == Fold(Y); });
}

std::optional<std::string_view> SectionName(std::string_view Line) {
  Line = Trim(Line);
  const size_t Close = Line.find(']');
  if (!Line.starts_with('[') || Close == std::string_view::npos)
    return std::nullopt;
  return Trim(Line.substr(1, Close - 1));
}

std::optional<std::string_view> KeyName(std::string_view Line) {
  Line = Trim(Line);
  const size_t Equals = Line.find('=');
  if (Line.starts_with(';') || Line.starts_with('#') || Equals == std::string_view::npos)
    return std::nullopt;
  return Trim(Line.substr(0, Equals));
}

std::vector<TLine> SplitLines(std::string_view Text) {
  std::vector<TLine> Lines;
  while (!Text.empty()) {
    const size_t Break = Text.find('\n');
    if (Break == std::string_view::npos) {
      Lines.push_back({std::string(Text), ""});
      break;
    }
    std::string_view Line = Text.substr(0, Break);
    const bool Crlf = Line.ends_with('\r');
    if (Crlf)
      Line.remove_suffix(1);
    Lines.push_back({std::string(Line), Crlf ? "\r\n" : "\n"});
    Text.remove_prefix(Break + 1);
  }
  return Lines;
}

void SetValue(std::vector<TLine>& Lines, const std::string& Section, const std::string& Ident,
              const std::string& Value) {
  const std::string NewLine = !Lines.empty() && Lines.front().End == "\r\n" ? "\r\n" : "\n";
  const auto IsSection = [](const TLine& Line) { return SectionName(Line.Text).has_value(); };
  const auto Header = std::ranges::find_if(Lines, [&](const TLine& Line) {
    const auto Name = SectionName(Line.Text);
    return Name && SameText(*Name, Section);
  });

  if (Header == Lines.end()) {
    if (!Lines.empty()) {
      if (Lines.back().End.empty())
        Lines.back().End = NewLine;
      if (!Trim(Lines.back().Text).empty())
        Lines.push_back({"", NewLine});
    }
    Lines.push_back({"[" + Section + "]", NewLine});
    Lines.push_back({Ident + "=" + Value, NewLine});
    return;
  }

  const auto SectionEnd = std::find_if(std::next(Header), Lines.end(), IsSection);
  auto LastKey = Header;
  for (auto Line = std::next(Header); Line != SectionEnd; ++Line) {
    const auto Key = KeyName(Line->Text);
    if (!Key)
      continue;
    if (SameText(*Key, Ident)) {
      Line->Text = std::string(*Key) + "=" + Value;
      return;
    }
    LastKey = Line;
  }
  // A last line without a line end keeps that: the new line takes the missing end instead.
  TLine Added{Ident + "=" + Value, NewLine};
  if (LastKey->End.empty())
    std::swap(LastKey->End, Added.End);
  Lines.insert(std::next(LastKey), std::move(Added));
}

std::string WithValue(std::string_view Content, const std::string& Section,
                      const std::string& Ident, const std::string& Value) {
  const bool HasByteOrderMark = Content.starts_with(ByteOrderMark);
  if (HasByteOrderMark)
    Content.remove_prefix(ByteOrderMark.size());
  auto Lines = SplitLines(Content);
  SetValue(Lines, Section, Ident, Value);
  std::string Result(HasByteOrderMark ? ByteOrderMark : "");
  for (const TLine& Line : Lines)
    Result += Line.Text + Line.End;
  return Result;
}

std::optional<std::string> ReadFile(const fs::path& Path) {
  std::ifstream In(Path, std::ios::binary);
  if (!In)
    return std::nullopt;
  std::string Content;
  char Buffer[4096];
  while (In.read(Buffer, sizeof Buffer) || In.gcount() > 0)
    Content.append(Buffer, static_cast<size_t>(In.gcount()));
  if (!In.eof())
    return std::nullopt;
  return Content;
}

bool WriteFile(const fs::path& Path, std::string_view Content) {
  std::ofstream Out(Path, std::ios::binary | std::ios::trunc);
  Out.write(Content.data(), static_cast<std::streamsize>(Content.size()));
  Out.close();
  return !Out.fail();
}

// A file beside the target, removed unless it has been renamed into the target's place.
class TTempFile {
public:
  explicit TTempFile(const fs::path& Target) : FPath(Target) {
    char Suffix[17];
    const auto Result = std::to_chars(Suffix, Suffix + 16, std::random_device{}(), 16);
    FPath += "." + std::string(Suffix, Result.ptr) + ".tmp";
  }
  TTempFile(const TTempFile&) = delete;
  TTempFile& operator=(const TTempFile&) = delete;
  ~TTempFile() {
    std::error_code Ignored;
    if (!FPath.empty())
      fs::remove(FPath, Ignored);
  }

  const fs::path& Path() const { return FPath; }
  void Release() { FPath.clear(); }

private:
  fs::path FPath;
};

bool HasLineBreak(std::string_view Text) {
  return Text.find_first_of("\r\n") != Text.npos;
}

} // namespace

void TIniFile::WriteString(const std::string& Section, const std::string& Ident,
                           const std::string& Value) {
  const auto Failure = [this] {
    return EIniFileException(FormatMessage("Unable to write to %s", {FFileName}));
  };
  if (HasLineBreak(Section) || HasLineBreak(Ident) || HasLineBreak(Value))
    throw Failure();

  const fs::path Path(FFileName);
  std::error_code StatusError;
  const fs::file_status Status = fs::status(Path, StatusError);
  const bool Exists = Status.type() != fs::file_type::not_found;
  if (Exists && (StatusError || !fs::is_regular_file(Status)))
    throw Failure();
  const std::optional<std::string> Content = Exists ? ReadFile(Path) : std::string();
  if (!Content)
    throw Failure();

  TTempFile Temp(Path);
  if (!WriteFile(Temp.Path(), WithValue(*Content, Section, Ident, Value)))
    throw Failure();
  // The replacement must not be readable by more people than the file it replaces.
  std::error_code Error;
  if (Exists)
    fs::permissions(Temp.Path(), Status.permissions(), Error);
  if (!Error)
    fs::rename(Temp.Path(), Path, Error);
  if (Error)
    throw Failure();
  Temp.Release();
}
