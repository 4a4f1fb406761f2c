#include "audio/tags/ACS_Tags.h"

#include "runtime/Exception.h"
#include "runtime/Text.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <limits>
#include <optional>
#include <type_traits>
#include <vector>

using namespace platform;

namespace {

char LowerAscii(char C) {
  return C >= 'A' && C <= 'Z' ? static_cast<char>(C - 'A' + 'a') : C;
}

bool EqualIgnoringCase(std::string_view A, std::string_view B) {
  return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [](char X, char Y) {
           return LowerAscii(X) == LowerAscii(Y);
         });
}

bool IsNull(const TagValue& Value) {
  return std::holds_alternative<std::monostate>(Value);
}

std::optional<int64_t> IntegerValue(const TagValue& Value) {
  return std::visit(
      [](const auto& V) -> std::optional<int64_t> {
        if constexpr (std::is_integral_v<std::decay_t<decltype(V)>>)
          return static_cast<int64_t>(V);
        return std::nullopt;
      },
      Value);
}

// The 8-bit form of a text value.
std::optional<std::string> TextValue(const TagValue& Value) {
  if (const auto* Text = std::get_if<std::string>(&Value))
    return *Text;
  if (const auto* Wide = std::get_if<std::u16string>(&Value))
    return Utf16ToUtf8(*Wide);
  return std::nullopt;
}

bool IsSame(const TagValue& Stored, const TagValue& New) {
  if (IsNull(Stored) || IsNull(New))
    return IsNull(Stored) && IsNull(New);
  const auto StoredInteger = IntegerValue(Stored);
  const auto NewInteger = IntegerValue(New);
  if (StoredInteger || NewInteger)
    return StoredInteger == NewInteger;
  return TextValue(Stored) == TextValue(New);
}

int DigitValue(char C, int Base) {
  int Digit = -1;
  if (C >= '0' && C <= '9')
    Digit = C - '0';
  else if (LowerAscii(C) >= 'a' && LowerAscii(C) <= 'f')
    Digit = LowerAscii(C) - 'a' + 10;
  return Digit < Base ? Digit : -1;
}

bool ParseInteger(std::string_view Text, int32_t& Value) {
  size_t I = Text.find_first_not_of(' ');
  if (I == std::string_view::npos)
    return false;
  const bool Negative = Text[I] == '-';
  if (Text[I] == '+' || Text[I] == '-')
    ++I;
  int Base = 10;
  if (Text.substr(I, 2) == "0x" || Text.substr(I, 2) == "0X") {
    Base = 16;
    I += 2;
  } else if (I < Text.size() && (Text[I] == '$' || Text[I] == 'x' || Text[I] == 'X')) {
    Base = 16;
    ++I;
  }
  if (I == Text.size())
    return false;
  // One past the largest magnitude, so that overflow stops the loop early.
  constexpr int64_t Limit = int64_t{1} << 31;
  int64_t Magnitude = 0;
  for (; I < Text.size(); ++I) {
    const int Digit = DigitValue(Text[I], Base);
    if (Digit < 0)
      return false;
    Magnitude = Magnitude * Base + Digit;
    if (Magnitude > Limit)
      return false;
  }
  const int64_t Signed = Negative ? -Magnitude : Magnitude;
  if (Signed > std::numeric_limits<int32_t>::max())
    return false;
  Value = static_cast<int32_t>(Signed);
  return true;
}

// The ID3 formats keep their 8-bit texts in ISO-8859-1; ours are UTF-8.
std::string Latin1ToUtf8(std::string_view Bytes) {
  std::u16string Wide;
  for (const char C : Bytes)
    Wide += static_cast<char16_t>(static_cast<unsigned char>(C));
  return Utf16ToUtf8(Wide);
}

// Characters beyond ISO-8859-1 become '?'; bytes that were not UTF-8 pass unchanged.
std::string Utf8ToLatin1(std::string_view Text) {
  const std::u16string Wide = Utf8ToUtf16(Text);
  std::string Bytes;
  for (size_t I = 0; I < Wide.size(); ++I) {
    const char16_t Unit = Wide[I];
    if (Unit < 0x100) {
      Bytes += static_cast<char>(Unit);
    } else if (Unit >= 0xDC80 && Unit <= 0xDCFF) {
      Bytes += static_cast<char>(Unit - 0xDC00);
    } else {
      Bytes += '?';
      // A surrogate pair is one character.
      if (Unit >= 0xD800 && Unit <= 0xDBFF && I + 1 < Wide.size())
        ++I;
    }
  }
  return Bytes;
}

// Leading and trailing bytes 0x00..0x20 removed.
std::string_view Trim(std::string_view Text) {
  auto IsSpace = [](char C) { return static_cast<unsigned char>(C) <= 0x20; };
  while (!Text.empty() && IsSpace(Text.front()))
    Text.remove_prefix(1);
  while (!Text.empty() && IsSpace(Text.back()))
    Text.remove_suffix(1);
  return Text;
}

// Restores the file position when it goes.
class TPositionKeeper {
public:
  explicit TPositionKeeper(THandle Handle)
      : FHandle(Handle), FPosition(FileSeek(Handle, 0, TSeekOrigin::Current)) {}
  ~TPositionKeeper() {
    if (Valid())
      FileSeek(FHandle, FPosition, TSeekOrigin::Begin);
  }
  TPositionKeeper(const TPositionKeeper&) = delete;
  TPositionKeeper& operator=(const TPositionKeeper&) = delete;
  bool Valid() const { return FPosition >= 0; }

private:
  THandle FHandle;
  int64_t FPosition;
};

// ID3v1

constexpr size_t Id3v1Size = 128;
constexpr uint8_t Id3v1DefaultGenre = 12;
using TId3v1Record = std::array<uint8_t, Id3v1Size>;

bool ReadId3v1Record(THandle Handle, TId3v1Record& Record) {
  return FileSeek(Handle, -int64_t{Id3v1Size}, TSeekOrigin::End) >= 0 &&
         FileRead(Handle, Record.data(), Record.size()) == int64_t{Id3v1Size} &&
         std::memcmp(Record.data(), "TAG", 3) == 0;
}

std::string_view Id3v1Field(const TId3v1Record& Record, size_t Offset, size_t Length) {
  return Trim({reinterpret_cast<const char*>(Record.data()) + Offset, Length});
}

void PutId3v1Field(TId3v1Record& Record, size_t Offset, size_t Length, std::string_view Text) {
  std::memcpy(Record.data() + Offset, Text.data(), std::min(Length, Text.size()));
}

// ID3v2

struct TId3v2Frame {
  std::string_view FourCharId;
  std::string_view ThreeCharId;
};

constexpr TId3v2Frame Id3v2Frames[] = {
    {"TALB", "TAL"}, {"TPE1", "TP1"}, {"TCON", "TCO"}, {"TIT2", "TT2"},
    {"TRCK", "TRK"}, {"TYER", "TYE"}, {"COMM", "COM"}, {"TCOM", "TCM"},
    {"TENC", "TEN"}, {"TCOP", "TCR"}, {"TLAN", "TLA"}, {"WXXX", "WXX"},
};
constexpr int Id3v2CommentIndex = 6;

constexpr size_t Id3v2HeaderSize = 10;
constexpr size_t Id3v2FooterSize = 10;
constexpr uint8_t Id3v2FooterFlag = 0x10;
// Synchsafe numbers carry 28 bits.
constexpr uint32_t Id3v2MaxSize = (1u << 28) - 1;

enum : uint8_t { encLatin1 = 0, encUtf16 = 1, encUtf8 = 3 };

struct TId3v2Header {
  int Version = 0;
  uint8_t Flags = 0;
  uint32_t Size = 0;

  int64_t TagLength() const {
    return int64_t{Id3v2HeaderSize} + Size + (Flags & Id3v2FooterFlag ? Id3v2FooterSize : 0);
  }
};

// Four bytes of 7 bits each; false when a byte has its top bit set.
bool ReadSynchsafe(const uint8_t* Bytes, uint32_t& Value) {
  Value = 0;
  for (int I = 0; I < 4; ++I) {
    if (Bytes[I] & 0x80)
      return false;
    Value = Value << 7 | Bytes[I];
  }
  return true;
}

void PutSynchsafe(uint8_t* Bytes, uint32_t Value) {
  for (int I = 0; I < 4; ++I)
    Bytes[I] = static_cast<uint8_t>(Value >> (7 * (3 - I)) & 0x7F);
}

uint32_t ReadBigEndian(const uint8_t* Bytes, int Count) {
  uint32_t Value = 0;
  for (int I = 0; I < Count; ++I)
    Value = Value << 8 | Bytes[I];
  return Value;
}

// Reads 10 bytes at the current position and tells whether they are a tag header.
bool ReadId3v2Header(THandle Handle, TId3v2Header& Header) {
  uint8_t Bytes[Id3v2HeaderSize];
  if (FileRead(Handle, Bytes, sizeof Bytes) != int64_t{sizeof Bytes} ||
      std::memcmp(Bytes, "ID3", 3) != 0 || Bytes[4] == 0xFF)
    return false;
  // Only the flags each version defines may be set.
  uint8_t UndefinedFlags = 0;
  switch (Bytes[3]) {
  case 2:
    UndefinedFlags = 0x3F;
    break;
  case 3:
    UndefinedFlags = 0x1F;
    break;
  case 4:
    UndefinedFlags = 0x0F;
    break;
  default:
    return false;
  }
  Header.Version = Bytes[3];
  Header.Flags = Bytes[5];
  return (Header.Flags & UndefinedFlags) == 0 && ReadSynchsafe(Bytes + 6, Header.Size);
}

std::u16string DecodeUtf16(const uint8_t* Bytes, size_t Length, bool BigEndian) {
  std::u16string Text;
  for (size_t I = 0; I + 1 < Length; I += 2) {
    const auto Unit = static_cast<char16_t>(BigEndian ? Bytes[I] << 8 | Bytes[I + 1]
                                                      : Bytes[I + 1] << 8 | Bytes[I]);
    if (Unit == 0)
      break;
    Text += Unit;
  }
  return Text;
}

// The text of a frame's content by its encoding byte; null for an encoding we do not read.
TagValue DecodeTextFrame(const std::vector<uint8_t>& Content) {
  const uint8_t* Text = Content.data() + 1;
  const size_t Length = Content.size() - 1;
  auto Bytes = [&] {
    const auto* Chars = reinterpret_cast<const char*>(Text);
    return std::string_view(Chars, std::find(Chars, Chars + Length, '\0') - Chars);
  };
  switch (Content[0]) {
  case encLatin1:
    return Latin1ToUtf8(Bytes());
  case encUtf16:
    // The byte-order mark says which order follows; without one the units are little-endian.
    if (Length >= 2 && Text[0] == 0xFF && Text[1] == 0xFE)
      return DecodeUtf16(Text + 2, Length - 2, false);
    if (Length >= 2 && Text[0] == 0xFE && Text[1] == 0xFF)
      return DecodeUtf16(Text + 2, Length - 2, true);
    return DecodeUtf16(Text, Length, false);
  case encUtf8:
    return Utf8ToUtf16(Bytes());
  default:
    return {};
  }
}

void AppendFrame(std::vector<uint8_t>& Frames, std::string_view Id, uint8_t Encoding,
                 std::string_view Text) {
  const size_t Start = Frames.size();
  Frames.resize(Start + Id3v2HeaderSize);
  std::memcpy(Frames.data() + Start, Id.data(), 4);
  PutSynchsafe(Frames.data() + Start + 4, static_cast<uint32_t>(Text.size() + 1));
  Frames.push_back(Encoding);
  Frames.insert(Frames.end(), Text.begin(), Text.end());
}

} // namespace

bool TTagNameLess::operator()(std::string_view A, std::string_view B) const {
  return std::lexicographical_compare(A.begin(), A.end(), B.begin(), B.end(),
                                      [](char X, char Y) { return LowerAscii(X) < LowerAscii(Y); });
}

// TAuTags

void TAuTags::CopyFrom(const TPersistent* Source) {
  const auto* Tags = dynamic_cast<const TAuTags*>(Source);
  if (Tags == nullptr)
    return TPersistent::Assign(Source);
  // A copy first, so that a container copied onto itself keeps its values.
  const auto Values = Tags->FValues;
  ResetValues();
  for (const auto& [Name, Info] : Values)
    SetValueOf(Name, Info.Value);
}

void TAuTags::CopyTo(TPersistent* Dest) const {
  if (auto* Tags = dynamic_cast<TAuTags*>(Dest))
    return Tags->CopyFrom(this);
  if (Dest == nullptr)
    throw EConvertError(FormatMessage("Cannot assign a %s to a %s", {ClassName(), "nil"}));
  TPersistent::AssignTo(Dest);
}

std::string TAuTags::NameAt(int Index) const {
  if (Index < 0 || Index >= ValueCount())
    return {};
  return std::next(FValues.begin(), Index)->first;
}

TagValue TAuTags::ValueOf(std::string_view Name) const {
  const auto Found = FValues.find(Name);
  return Found == FValues.end() ? TagValue() : Found->second.Value;
}

void TAuTags::SetValueOf(std::string_view Name, const TagValue& Value) {
  const auto Found = FValues.find(Name);
  if (Found == FValues.end() || IsSame(Found->second.Value, Value))
    return;
  Found->second.Value = Value;
  FIsBlank = false;
  FIsModified = true;
}

std::string TAuTags::TextOf(std::string_view Name) const {
  const TagValue Value = ValueOf(Name);
  if (const auto Integer = IntegerValue(Value))
    return std::to_string(*Integer);
  return TextValue(Value).value_or(std::string());
}

std::u16string TAuTags::WideTextOf(std::string_view Name) const {
  const TagValue Value = ValueOf(Name);
  if (const auto* Wide = std::get_if<std::u16string>(&Value))
    return *Wide;
  return Utf8ToUtf16(TextOf(Name));
}

int32_t TAuTags::IntegerOf(std::string_view Name) const {
  const TagValue Value = ValueOf(Name);
  if (const auto Integer = IntegerValue(Value))
    return static_cast<int32_t>(*Integer);
  int32_t Parsed = 0;
  if (const auto Text = TextValue(Value); Text && ParseInteger(*Text, Parsed))
    return Parsed;
  return 0;
}

void TAuTags::ResetValues() {
  for (auto& [Name, Info] : FValues)
    Info.Value = TagValue();
  FIsBlank = true;
  FIsModified = true;
}

bool TAuTags::DeclareName(std::string_view Name, const TagValue& Initial) {
  if (Name.empty())
    return false;
  FValues.try_emplace(std::string(Name), TTagValueInfo{Initial});
  return true;
}

bool TAuTags::DetectTag(THandle FileHandle) {
  return FileHandle != InvalidHandle;
}

bool TAuTags::LoadTag(THandle FileHandle) {
  if (FileHandle == InvalidHandle)
    return false;
  ResetValues();
  return true;
}

bool TAuTags::SaveTag(THandle FileHandle, bool /*AllowUtf8*/) {
  return FileHandle != InvalidHandle;
}

// TId3v1Tags

// The names other copies of the list spell differently are 7, 14, 22, 40, 46, 47, 64, 78, 85,
// 104, 118, 123, 129, 134 and 146.
const std::array<std::string_view, 148> Id3v1GenreNames = {
    "Blues",
    "Classic Rock",
    "Country",
    "Dance",
    "Disco",
    "Funk",
    "Grunge",
    "Hip-Hop",
    "Jazz",
    "Metal",
    "New Age",
    "Oldies",
    "Other",
    "Pop",
    "R&B",
    "Rap",
    "Reggae",
    "Rock",
    "Techno",
    "Industrial",
    "Alternative",
    "Ska",
    "Death metal",
    "Pranks",
    "Soundtrack",
    "Euro-Techno",
    "Ambient",
    "Trip-Hop",
    "Vocal",
    "Jazz+Funk",
    "Fusion",
    "Trance",
    "Classical",
    "Instrumental",
    "Acid",
    "House",
    "Game",
    "Sound Clip",
    "Gospel",
    "Noise",
    "Alt. Rock",
    "Bass",
    "Soul",
    "Punk",
    "Space",
    "Meditative",
    "Instrumental pop",
    "Instrumental rock",
    "Ethnic",
    "Gothic",
    "Darkwave",
    "Techno-Industrial",
    "Electronic",
    "Pop-Folk",
    "Eurodance",
    "Dream",
    "Southern Rock",
    "Comedy",
    "Cult",
    "Gangsta",
    "Top 40",
    "Christian Rap",
    "Pop/Funk",
    "Jungle",
    "Native American",
    "Cabaret",
    "New Wave",
    "Psychedelic",
    "Rave",
    "Showtunes",
    "Trailer",
    "Lo-Fi",
    "Tribal",
    "Acid Punk",
    "Acid Jazz",
    "Polka",
    "Retro",
    "Musical",
    "Rock & Roll",
    "Hard Rock",
    "Folk",
    "Folk-Rock",
    "National Folk",
    "Swing",
    "Fast Fusion",
    "Bebob",
    "Latin",
    "Revival",
    "Celtic",
    "Bluegrass",
    "Avantgarde",
    "Gothic Rock",
    "Progressive Rock",
    "Psychedelic Rock",
    "Symphonic Rock",
    "Slow Rock",
    "Big Band",
    "Chorus",
    "Easy Listening",
    "Acoustic",
    "Humour",
    "Speech",
    "Chanson",
    "Opera",
    "Chamber music",
    "Sonata",
    "Symphony",
    "Booty Bass",
    "Primus",
    "Porn Groove",
    "Satire",
    "Slow Jam",
    "Club",
    "Tango",
    "Samba",
    "Folklore",
    "Ballad",
    "Power Ballad",
    "Rhythmic soul",
    "Freestyle",
    "Duet",
    "Punk Rock",
    "Drum Solo",
    "A Cappella",
    "Euro-House",
    "Dance Hall",
    "Goa",
    "Drum & Bass",
    "Club-House",
    "Hardcore",
    "Terror",
    "Indie",
    "BritPop",
    "Negerpunk",
    "Polsk Punk",
    "Beat",
    "Christian Gangsta Rap",
    "Heavy Metal",
    "Black Metal",
    "Crossover",
    "Contemporary Christian",
    "Christian Rock",
    "Merengue",
    "Salsa",
    "Thrash Metal",
    "Anime",
    "JPop",
    "Synthpop",
};

TId3v1Tags::TId3v1Tags() {
  DeclareName("artist", {});
  DeclareName("album", {});
  DeclareName("genre", Id3v1DefaultGenre);
  DeclareName("year", {});
  DeclareName("track", {});
  DeclareName("title", {});
  DeclareName("comment", {});
}

std::string TId3v1Tags::Artist() const {
  return TextValue(ValueOf("artist")).value_or(std::string());
}

TId3v1TagsGenreId TId3v1Tags::GenreId() const {
  const auto Id = static_cast<uint32_t>(IntegerOf("genre"));
  return Id < Id3v1GenreNames.size() ? static_cast<TId3v1TagsGenreId>(Id) : Id3v1DefaultGenre;
}

void TId3v1Tags::SetGenre(std::string_view Value) {
  const std::string_view Name = Trim(Value);
  const auto Found =
      std::find_if(Id3v1GenreNames.begin(), Id3v1GenreNames.end(),
                   [&](std::string_view Genre) { return EqualIgnoringCase(Genre, Name); });
  if (Found != Id3v1GenreNames.end())
    SetGenreId(static_cast<TId3v1TagsGenreId>(Found - Id3v1GenreNames.begin()));
}

bool TId3v1Tags::DetectTag(THandle FileHandle) {
  if (FileHandle == InvalidHandle)
    return false;
  const TPositionKeeper Position(FileHandle);
  TId3v1Record Record;
  return Position.Valid() && ReadId3v1Record(FileHandle, Record);
}

bool TId3v1Tags::LoadTag(THandle FileHandle) {
  TId3v1Record Record;
  if (!TAuTags::LoadTag(FileHandle) || !ReadId3v1Record(FileHandle, Record))
    return false;
  SetTitle(Latin1ToUtf8(Id3v1Field(Record, 3, 30)));
  SetArtist(Latin1ToUtf8(Id3v1Field(Record, 33, 30)));
  SetAlbum(Latin1ToUtf8(Id3v1Field(Record, 63, 30)));
  // A year that does not parse stays 0.
  int32_t Year = 0;
  ParseInteger(Id3v1Field(Record, 93, 4), Year);
  SetYear(static_cast<uint16_t>(Year));
  // ID3v1.1: a zero (or a blank) before a last byte that is not one is a track number.
  if ((Record[125] == 0x00 && Record[126] != 0x00) ||
      (Record[125] == 0x20 && Record[126] != 0x20)) {
    SetComment(Latin1ToUtf8(Id3v1Field(Record, 97, 28)));
    SetTrack(Record[126]);
  } else {
    SetComment(Latin1ToUtf8(Id3v1Field(Record, 97, 30)));
    SetTrack(0);
  }
  SetGenreId(Record[127]);
  return true;
}

bool TId3v1Tags::SaveTag(THandle FileHandle, bool AllowUtf8) {
  if (!TAuTags::SaveTag(FileHandle, AllowUtf8) || FileSeek(FileHandle, 0, TSeekOrigin::End) < 0)
    return false;
  TId3v1Record Record{};
  std::memcpy(Record.data(), "TAG", 3);
  PutId3v1Field(Record, 3, 30, Utf8ToLatin1(Title()));
  PutId3v1Field(Record, 33, 30, Utf8ToLatin1(Artist()));
  PutId3v1Field(Record, 63, 30, Utf8ToLatin1(Album()));
  PutId3v1Field(Record, 93, 4, std::to_string(Year()));
  if (Track() != 0) {
    PutId3v1Field(Record, 97, 28, Utf8ToLatin1(Comment()));
    Record[125] = 0x00;
    Record[126] = Track();
  } else {
    PutId3v1Field(Record, 97, 30, Utf8ToLatin1(Comment()));
  }
  Record[127] = GenreId();
  return FileWrite(FileHandle, Record.data(), Record.size()) == int64_t{Id3v1Size};
}

// TId3v2Tags

TId3v2Tags::TId3v2Tags() {
  for (const TId3v2Frame& Frame : Id3v2Frames) {
    DeclareName(Frame.ThreeCharId, {});
    DeclareName(Frame.FourCharId, {});
  }
}

std::string_view TId3v2Tags::IdAt(int Index) const {
  return FFourCharIds ? Id3v2Frames[Index].FourCharId : Id3v2Frames[Index].ThreeCharId;
}

bool TId3v2Tags::DetectTag(THandle FileHandle) {
  if (FileHandle == InvalidHandle)
    return false;
  const TPositionKeeper Position(FileHandle);
  TId3v2Header Header;
  return Position.Valid() && ReadId3v2Header(FileHandle, Header);
}

bool TId3v2Tags::LoadTag(THandle FileHandle) {
  if (!TAuTags::LoadTag(FileHandle))
    return false;
  const int64_t Start = FileSeek(FileHandle, 0, TSeekOrigin::Current);
  TId3v2Header Header;
  if (Start < 0 || !ReadId3v2Header(FileHandle, Header))
    return false;
  FFourCharIds = Header.Version != 2;
  const int64_t End = Start + Header.TagLength();
  if (FileSize(FileHandle) >= End)
    ReadFrames(FileHandle, End, Header.Version);
  FileSeek(FileHandle, End, TSeekOrigin::Begin);
  return true;
}

// Reads frames from the current position up to End; a frame that does not fit ends the reading.
void TId3v2Tags::ReadFrames(THandle FileHandle, int64_t End, int Version) {
  const size_t IdLength = Version == 2 ? 3 : 4;
  const size_t HeaderLength = Version == 2 ? 6 : 10;
  int64_t Position = FileSeek(FileHandle, 0, TSeekOrigin::Current);
  while (Position >= 0 && Position < End) {
    uint8_t Header[10];
    if (FileRead(FileHandle, Header, HeaderLength) != int64_t(HeaderLength))
      return;
    Position += HeaderLength;
    if (Header[0] < 'A' || Header[0] > 'Z' || Position >= End)
      return;
    uint32_t Size = 0;
    if (Version == 2)
      Size = ReadBigEndian(Header + 3, 3);
    else if (Version == 3)
      Size = ReadBigEndian(Header + 4, 4);
    else if (!ReadSynchsafe(Header + 4, Size))
      return;
    if (Size == 0)
      continue;
    if (Size > End - Position)
      return;
    const std::string_view Id(reinterpret_cast<const char*>(Header), IdLength);
    const auto* Frame =
        std::find_if(std::begin(Id3v2Frames), std::end(Id3v2Frames), [&](const TId3v2Frame& F) {
          return (Version == 2 ? F.ThreeCharId : F.FourCharId) == Id;
        });
    // Frames we do not keep are passed over without reading them.
    if (Frame == std::end(Id3v2Frames) || Frame - Id3v2Frames == Id3v2CommentIndex) {
      Position = FileSeek(FileHandle, Size, TSeekOrigin::Current);
      continue;
    }
    std::vector<uint8_t> Content(Size);
    if (FileRead(FileHandle, Content.data(), Size) != int64_t{Size})
      return;
    Position += Size;
    if (TagValue Text = DecodeTextFrame(Content); !std::holds_alternative<std::monostate>(Text))
      SetValueOf(Id, Text);
  }
}

bool TId3v2Tags::SaveTag(THandle FileHandle, bool AllowUtf8) {
  if (!TAuTags::SaveTag(FileHandle, AllowUtf8))
    return false;
  std::vector<uint8_t> Tag(Id3v2HeaderSize);
  for (int Index = 0; Index < std::ssize(Id3v2Frames); ++Index) {
    const std::string_view Id = Id3v2Frames[Index].FourCharId;
    if (Index == Id3v2CommentIndex)
      continue;
    const bool Wide = std::holds_alternative<std::u16string>(ValueOf(Id));
    const uint8_t Encoding = AllowUtf8 && Wide ? encUtf8 : encLatin1;
    const std::string Text =
        Encoding == encUtf8 ? Utf16ToUtf8(WideTextOf(Id)) : Utf8ToLatin1(TextOf(Id));
    if (Text.empty())
      continue;
    if (Text.size() >= Id3v2MaxSize)
      return false;
    AppendFrame(Tag, Id, Encoding, Text);
  }
  // Zero padding to a multiple of 16 bytes, at least one byte of it.
  Tag.resize((Tag.size() / 16 + 1) * 16);
  const size_t TagSize = Tag.size();
  if (TagSize - Id3v2HeaderSize > Id3v2MaxSize)
    return false;
  std::memcpy(Tag.data(), "ID3\x04\x00\x00", 6);
  PutSynchsafe(Tag.data() + 6, static_cast<uint32_t>(TagSize - Id3v2HeaderSize));

  const int64_t OldSize = FileSize(FileHandle);
  if (OldSize < 0 || FileSeek(FileHandle, OldSize + int64_t(TagSize), TSeekOrigin::Begin) < 0 ||
      !FileSetEnd(FileHandle))
    return false;
  TFileMapping Mapping(FileHandle, static_cast<size_t>(OldSize) + TagSize);
  if (!Mapping.Valid()) {
    // Give the file back its old length rather than leave zeros at its end.
    FileSeek(FileHandle, OldSize, TSeekOrigin::Begin);
    FileSetEnd(FileHandle);
    return false;
  }
  std::memmove(Mapping.Data() + TagSize, Mapping.Data(), static_cast<size_t>(OldSize));
  std::memcpy(Mapping.Data(), Tag.data(), TagSize);
  return Mapping.Flush();
}

// TAPEv2Tags

TAPEv2Tags::TAPEv2Tags() {
  for (const std::string_view Key :
       {"Artist",       "Composer",        "Album",    "Debut album", "Publisher",
        "Conductor",    "Copyright",       "ISBN",     "ISRC",        "EAN/UPC",
        "LC",           "Catalog",         "Language", "Genre",       "Year",
        "Record Date",  "Record Location", "File",     "Related",     "Abstract",
        "Bibliography", "Track",           "Title",    "Subtitle",    "Comment"})
    DeclareName(Key, {});
}

// TVorbisTags

TVorbisTags::TVorbisTags() {
  for (const std::string_view Key : {"album", "artist", "date", "genre", "title", "tracknumber"})
    DeclareName(Key, {});
}
