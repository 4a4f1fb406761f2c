#include "audio/tags/ACS_Tags.h"

#include "runtime/Exception.h"
#include "runtime/Text.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace platform;
using namespace std::string_literals;
using namespace std::string_view_literals;

namespace {

using TBytes = std::vector<uint8_t>;

TBytes Bytes(std::string_view Text) {
  return TBytes(Text.begin(), Text.end());
}

TBytes Concat(std::initializer_list<TBytes> Parts) {
  TBytes All;
  for (const TBytes& Part : Parts)
    All.insert(All.end(), Part.begin(), Part.end());
  return All;
}

TBytes Pattern(size_t Count) {
  TBytes Result(Count);
  for (size_t I = 0; I < Count; ++I)
    Result[I] = static_cast<uint8_t>(I * 7 + 3);
  return Result;
}

bool IsNull(const TagValue& Value) {
  return std::holds_alternative<std::monostate>(Value);
}

// A file in a folder of its own, open for reading and writing.
class TTagFile {
public:
  explicit TTagFile(const TBytes& Content = {}) {
    FFile = FileCreate(Name(), TFileShare::ReadWrite);
    EXPECT_TRUE(FFile.Valid()) << SysErrorMessage(errno);
    EXPECT_EQ(FileWrite(Handle(), Content.data(), Content.size()), int64_t(Content.size()));
    FileSeek(Handle(), 0, TSeekOrigin::Begin);
  }

  std::string Name() const { return FDir.File("file.mp3"); }
  THandle Handle() const { return FFile.Get(); }
  int64_t Position() const { return FileSeek(Handle(), 0, TSeekOrigin::Current); }
  void Seek(int64_t Position) const { FileSeek(Handle(), Position, TSeekOrigin::Begin); }
  // The whole content, read through a handle of its own so that our position stays.
  TBytes Content() const {
    const TFileHandle File = FileOpen(Name(), TFileAccess::Read, TFileShare::ReadWrite);
    TBytes Result(static_cast<size_t>(FileSize(File.Get())));
    EXPECT_EQ(FileRead(File.Get(), Result.data(), Result.size()), int64_t(Result.size()));
    return Result;
  }
  TFileHandle Reopen(TFileAccess Access) const {
    return FileOpen(Name(), Access, TFileShare::ReadWrite);
  }

private:
  TTempDir FDir;
  TFileHandle FFile;
};

// A container that declares the names a test gives it, with their initial values.
class TTestTags : public TAuTags {
public:
  TTestTags() = default;
  TTestTags(std::initializer_list<std::pair<std::string_view, TagValue>> Names) {
    for (const auto& [Name, Initial] : Names)
      DeclareName(Name, Initial);
  }
  using TAuTags::DeclareName;
};

// Something that takes part in the copy protocol but holds no tags.
class TNotTags : public TPersistent {};

std::vector<std::string> Names(const TAuTags& Tags) {
  std::vector<std::string> Result;
  for (int I = 0; I < Tags.ValueCount(); ++I)
    Result.push_back(Tags.NameAt(I));
  return Result;
}

std::vector<std::string> NamesHoldingValues(const TAuTags& Tags) {
  std::vector<std::string> Result;
  for (const std::string& Name : Names(Tags))
    if (!IsNull(Tags.ValueOf(Name)))
      Result.push_back(Name);
  return Result;
}

// ---------------------------------------------------------------- the container

TEST(AuTagsTest, SetValueOfStoresOnlyWhatIsNotTheSame) {
  const struct {
    const char* Case;
    TagValue Stored;
    TagValue New;
    bool Changes;
  } Cases[] = {
      {"null over null", {}, {}, false},
      {"empty text over null", ""s, {}, true},
      {"empty wide text over null", u""s, {}, true},
      {"null over a value", {}, uint8_t{12}, true},
      {"same integer", uint8_t{12}, uint8_t{12}, false},
      {"same number in another width", int32_t{12}, uint8_t{12}, false},
      {"another number", uint16_t{13}, uint8_t{12}, true},
      {"equal low bits, other value", int32_t{-1}, uint32_t{0xFFFFFFFF}, true},
      {"same text", "abc"s, "abc"s, false},
      {"same text in wide form", u"abc"s, "abc"s, false},
      {"same non-ASCII text in 8-bit form", "Café"s, u"Café"s, false},
      {"letter case differs", "ABC"s, "abc"s, true},
      {"text over an integer", "12"s, uint8_t{12}, true},
      {"integer over a text", int32_t{12}, "12"s, true},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Case);
    TTestTags Tags({{"value", C.Stored}});
    Tags.SetValueOf("VALUE", C.New);
    EXPECT_EQ(Tags.IsBlank(), !C.Changes);
    EXPECT_EQ(Tags.IsModified(), C.Changes);
    // A change stores the new value with its own kind.
    EXPECT_EQ(Tags.ValueOf("value"), C.Changes ? C.New : C.Stored);
  }
}

TEST(AuTagsTest, FlagsFollowChangesAndResets) {
  const struct {
    const char* Case;
    std::function<void(TId3v1Tags&)> Steps;
    bool Blank;
    bool Modified;
  } Cases[] = {
      {"fresh, although the genre holds 12", [](TId3v1Tags&) {}, true, false},
      {"empty title over null", [](TId3v1Tags& T) { T.SetTitle(""); }, false, true},
      {"genre set to what it holds", [](TId3v1Tags& T) { T.SetGenreId(12); }, true, false},
      {"same title twice",
       [](TId3v1Tags& T) {
         T.SetTitle("a");
         T.SetTitle("a");
       },
       false, true},
      {"a value set back to what it was",
       [](TId3v1Tags& T) {
         T.SetGenreId(1);
         T.SetGenreId(12);
       },
       false, true},
      {"reset of a fresh container", [](TId3v1Tags& T) { T.ResetValues(); }, true, true},
      {"reset after a change",
       [](TId3v1Tags& T) {
         T.SetTrack(3);
         T.ResetValues();
       },
       true, true},
      {"an undeclared name", [](TId3v1Tags& T) { T.SetValueOf("composer", "x"s); }, true, false},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Case);
    TId3v1Tags Tags;
    C.Steps(Tags);
    EXPECT_EQ(Tags.IsBlank(), C.Blank);
    EXPECT_EQ(Tags.IsModified(), C.Modified);
  }
}

TEST(AuTagsTest, ReadersConvertEveryKind) {
  const struct {
    const char* Case;
    TagValue Value;
    std::string Text;
    int32_t Integer;
  } Cases[] = {
      {"null", {}, "", 0},
      {"unsigned 8-bit", uint8_t{200}, "200", 200},
      {"signed 8-bit", int8_t{-5}, "-5", -5},
      {"unsigned 16-bit", uint16_t{65535}, "65535", 65535},
      {"signed 16-bit", int16_t{-32768}, "-32768", -32768},
      {"signed 32-bit", int32_t{-2147483647 - 1}, "-2147483648", -2147483647 - 1},
      // The integer reader gives the 32 bits unchanged.
      {"unsigned 32-bit", uint32_t{4294967295}, "4294967295", -1},
      {"8-bit text", "Café"s, "Café", 0},
      {"wide text", u"日本"s, "日本", 0},
      {"8-bit number", " 42"s, " 42", 42},
      {"wide number", u"0x1F"s, "0x1F", 31},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Case);
    TTestTags Tags({{"value", C.Value}});
    EXPECT_EQ(Tags.TextOf("Value"), C.Text);
    EXPECT_EQ(Tags.WideTextOf("Value"), Utf8ToUtf16(C.Text));
    EXPECT_EQ(Tags.IntegerOf("Value"), C.Integer);
  }
}

TEST(AuTagsTest, IntegerOfParsesTextByOneRule) {
  const struct {
    const char* Text;
    int32_t Expected;
  } Cases[] = {
      {"42", 42},
      {"   42", 42},
      {"+7", 7},
      {"-7", -7},
      {"007", 7},
      {"$1f", 31},
      {"x1F", 31},
      {"X10", 16},
      {"0x10", 16},
      {"0XfF", 255},
      {"-0x10", -16},
      {" -$7fffffff", -2147483647},
      {"2147483647", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"-0x80000000", -2147483647 - 1},
      // Everything below fails and reads as 0.
      {"2147483648", 0},
      {"0x80000000", 0},
      {"$FFFFFFFF", 0},
      {"99999999999999999999", 0},
      {"", 0},
      {"   ", 0},
      {"42 ", 0},
      {"4 2", 0},
      {"12a", 0},
      {"1e3", 0},
      {"0x", 0},
      {"$", 0},
      {"+", 0},
      {"--1", 0},
      {"+-1", 0},
      {"0x1G", 0},
      {"0x-1", 0},
      {"00x1", 0},
      {"١٢", 0},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Text);
    TTestTags Narrow({{"value", std::string(C.Text)}});
    EXPECT_EQ(Narrow.IntegerOf("value"), C.Expected);
    TTestTags Wide({{"value", Utf8ToUtf16(C.Text)}});
    EXPECT_EQ(Wide.IntegerOf("value"), C.Expected);
  }
}

TEST(AuTagsTest, UndeclaredNamesAndIndexesOutOfRangeAreSilent) {
  TId3v1Tags Tags;
  EXPECT_EQ(Tags.NameAt(-1), "");
  EXPECT_EQ(Tags.NameAt(Tags.ValueCount()), "");
  EXPECT_EQ(Tags.NameAt(0), "album");
  EXPECT_EQ(Tags.NameAt(Tags.ValueCount() - 1), "year");
  EXPECT_TRUE(IsNull(Tags.ValueOf("composer")));
  EXPECT_EQ(Tags.TextOf("composer"), "");
  EXPECT_EQ(Tags.WideTextOf("composer"), u"");
  EXPECT_EQ(Tags.IntegerOf("composer"), 0);
  // Setting never adds a name.
  Tags.SetValueOf("composer", "x"s);
  EXPECT_EQ(Tags.ValueCount(), 7);
  EXPECT_TRUE(IsNull(Tags.ValueOf("composer")));
}

TEST(AuTagsTest, DeclareNameKeepsTheFirstDeclaration) {
  TTestTags Tags;
  EXPECT_FALSE(Tags.DeclareName("", "x"s));
  EXPECT_TRUE(Tags.DeclareName("Name", "first"s));
  EXPECT_TRUE(Tags.DeclareName("NAME", "second"s));
  EXPECT_EQ(Tags.ValueCount(), 1);
  EXPECT_EQ(Tags.NameAt(0), "Name");
  EXPECT_EQ(Tags.TextOf("name"), "first");
  // Declaring is not a change.
  EXPECT_TRUE(Tags.IsBlank());
  EXPECT_FALSE(Tags.IsModified());
}

TEST(AuTagsTest, NamesAreListedInCaseInsensitiveOrder) {
  const std::vector<std::string> Vorbis = {"album", "artist", "date",
                                           "genre", "title",  "tracknumber"};
  EXPECT_EQ(Names(TVorbisTags()), Vorbis);
  // Whatever the order of declaration.
  const TTestTags Reversed({{"tracknumber", {}},
                            {"Title", {}},
                            {"genre", {}},
                            {"DATE", {}},
                            {"artist", {}},
                            {"Album", {}}});
  EXPECT_EQ(Names(Reversed),
            (std::vector<std::string>{"Album", "artist", "DATE", "genre", "Title", "tracknumber"}));

  const std::vector<std::string> ApeStart = {"Abstract", "Album", "Artist", "Bibliography"};
  const std::vector<std::string> Ape = Names(TAPEv2Tags());
  EXPECT_EQ(std::vector<std::string>(Ape.begin(), Ape.begin() + 4), ApeStart);

  const std::unique_ptr<TAuTags> Kinds[] = {
      std::make_unique<TId3v1Tags>(), std::make_unique<TId3v2Tags>(),
      std::make_unique<TAPEv2Tags>(), std::make_unique<TVorbisTags>()};
  const int Counts[] = {7, 24, 25, 6};
  for (int K = 0; K < 4; ++K) {
    SCOPED_TRACE(Kinds[K]->ClassName());
    EXPECT_EQ(Kinds[K]->ValueCount(), Counts[K]);
    const std::vector<std::string> List = Names(*Kinds[K]);
    EXPECT_TRUE(std::is_sorted(List.begin(), List.end(), TTagNameLess()));
    EXPECT_TRUE(NamesHoldingValues(*Kinds[K]).size() <= 1);
  }
}

std::unique_ptr<TAuTags> MakeTags(std::string_view Kind) {
  if (Kind == "ID3v1")
    return std::make_unique<TId3v1Tags>();
  if (Kind == "ID3v2")
    return std::make_unique<TId3v2Tags>();
  if (Kind == "APEv2")
    return std::make_unique<TAPEv2Tags>();
  return std::make_unique<TVorbisTags>();
}

TEST(AuTagsTest, CopiesBetweenKindsCarryTheNamesTheyShare) {
  const std::vector<std::string> Seven = {"album", "artist", "comment", "genre",
                                          "title", "track",  "year"};
  const std::vector<std::string> Four = {"album", "artist", "genre", "title"};
  const struct {
    const char* From;
    const char* To;
    std::vector<std::string> Crossing;
  } Cases[] = {
      {"ID3v1", "APEv2", Seven}, {"APEv2", "ID3v1", Seven}, {"ID3v1", "Vorbis", Four},
      {"Vorbis", "ID3v1", Four}, {"APEv2", "Vorbis", Four}, {"Vorbis", "APEv2", Four},
      {"ID3v1", "ID3v2", {}},    {"ID3v2", "ID3v1", {}},    {"ID3v2", "APEv2", {}},
      {"APEv2", "ID3v2", {}},    {"Vorbis", "ID3v2", {}},   {"ID3v2", "Vorbis", {}},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(std::string(C.From) + " to " + C.To);
    const auto Source = MakeTags(C.From);
    for (const std::string& Name : Names(*Source))
      Source->SetValueOf(Name, "v"s);
    for (const bool ByCopyTo : {false, true}) {
      const auto Dest = MakeTags(C.To);
      if (ByCopyTo)
        Source->CopyTo(Dest.get());
      else
        Dest->CopyFrom(Source.get());
      std::vector<std::string> Crossed = NamesHoldingValues(*Dest);
      for (std::string& Name : Crossed)
        std::transform(Name.begin(), Name.end(), Name.begin(), ::tolower);
      EXPECT_EQ(Crossed, C.Crossing);
      // The receiving side is reset first, even when nothing crosses.
      EXPECT_TRUE(Dest->IsModified());
      EXPECT_EQ(Dest->IsBlank(), C.Crossing.empty());
    }
  }
}

TEST(AuTagsTest, CopiedValuesKeepTheirKind) {
  TId3v1Tags Id3v1;
  Id3v1.SetYear(1999);
  Id3v1.SetTitle("Song");
  TAPEv2Tags Ape;
  Ape.SetComposer(u"gone");
  Ape.CopyFrom(&Id3v1);
  EXPECT_EQ(Ape.ValueOf("Year"), TagValue(uint16_t{1999}));
  EXPECT_EQ(Ape.Year(), "1999");
  EXPECT_EQ(Ape.Genre(), u"12");
  EXPECT_EQ(Ape.Title(), u"Song");
  EXPECT_TRUE(IsNull(Ape.ValueOf("Composer")));

  TVorbisTags Vorbis;
  Vorbis.CopyFrom(&Id3v1);
  EXPECT_EQ(Vorbis.Genre(), u"12");
  EXPECT_EQ(Vorbis.Title(), u"Song");
  EXPECT_TRUE(IsNull(Vorbis.ValueOf("date")));
  EXPECT_TRUE(IsNull(Vorbis.ValueOf("tracknumber")));

  // Back into ID3v1: an APEv2 genre text that is a number selects that genre.
  Ape.SetGenre(u"17");
  Id3v1.CopyFrom(&Ape);
  EXPECT_EQ(Id3v1.Genre(), "Rock");
  EXPECT_EQ(Id3v1.Year(), 1999);
}

TEST(AuTagsTest, CopyingAnythingButTagsIsTheAssignmentError) {
  TId3v1Tags Tags;
  Tags.SetTitle("kept");
  TNotTags Other;
  const struct {
    const char* Case;
    std::function<void()> Copy;
    const char* Message;
  } Cases[] = {
      {"CopyFrom", [&] { Tags.CopyFrom(&Other); }, "Cannot assign a TNotTags to a TId3v1Tags"},
      {"Assign", [&] { Tags.Assign(&Other); }, "Cannot assign a TNotTags to a TId3v1Tags"},
      {"CopyFrom nothing", [&] { Tags.CopyFrom(nullptr); }, "Cannot assign a nil to a TId3v1Tags"},
      {"CopyTo", [&] { Tags.CopyTo(&Other); }, "Cannot assign a TId3v1Tags to a TNotTags"},
      {"AssignTo", [&] { Tags.AssignTo(&Other); }, "Cannot assign a TId3v1Tags to a TNotTags"},
      {"CopyTo nothing", [&] { Tags.CopyTo(nullptr); }, "Cannot assign a TId3v1Tags to a nil"},
      {"a plain object asked to take tags", [&] { Other.Assign(&Tags); },
       "Cannot assign a TId3v1Tags to a TNotTags"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Case);
    try {
      C.Copy();
      ADD_FAILURE() << "no error";
    } catch (const EConvertError& E) {
      EXPECT_STREQ(E.what(), C.Message);
    }
    EXPECT_EQ(Tags.Title(), "kept");
    EXPECT_FALSE(Tags.IsBlank());
  }
}

TEST(AuTagsTest, TheCopyProtocolCopiesTags) {
  TId3v1Tags Source;
  Source.SetArtist("Artist");
  TAPEv2Tags ByAssign;
  ByAssign.Assign(&Source);
  EXPECT_EQ(ByAssign.Artist(), u"Artist");
  TVorbisTags ByAssignTo;
  Source.AssignTo(&ByAssignTo);
  EXPECT_EQ(ByAssignTo.Artist(), u"Artist");
  // Later changes of the source stay there.
  Source.SetArtist("Other");
  EXPECT_EQ(ByAssign.Artist(), u"Artist");
}

TEST(AuTagsTest, CopyOntoItselfKeepsTheValues) {
  TId3v1Tags Tags;
  Tags.SetTitle("Title");
  Tags.SetGenreId(17);
  Tags.CopyFrom(&Tags);
  EXPECT_EQ(Tags.Title(), "Title");
  EXPECT_EQ(Tags.GenreId(), 17);
}

TEST(AuTagsTest, KindsWithoutAByteFormatOnlyCheckTheHandle) {
  const TTagFile File(Bytes("content"));
  for (const char* Kind : {"APEv2", "Vorbis"}) {
    SCOPED_TRACE(Kind);
    const auto Tags = MakeTags(Kind);
    Tags->SetValueOf("title", u"x"s);
    EXPECT_FALSE(Tags->DetectTag(InvalidHandle));
    EXPECT_FALSE(Tags->LoadTag(InvalidHandle));
    EXPECT_FALSE(Tags->SaveTag(InvalidHandle, true));
    EXPECT_EQ(Tags->TextOf("title"), "x");
    EXPECT_TRUE(Tags->DetectTag(File.Handle()));
    EXPECT_TRUE(Tags->SaveTag(File.Handle(), true));
    EXPECT_EQ(File.Content(), Bytes("content"));
    EXPECT_TRUE(Tags->LoadTag(File.Handle()));
    EXPECT_TRUE(IsNull(Tags->ValueOf("title")));
    EXPECT_TRUE(Tags->IsBlank());
  }
}

// Each property writes its own key, spelt as declared, with the property's kind.
template <class TTags, class TText> struct TProperty {
  std::string_view Key;
  TText (TTags::*Get)() const;
  void (TTags::*Set)(const TText&);
};

template <class TTags, class TText>
void ExpectPropertiesUseTheirKeys(std::initializer_list<TProperty<TTags, TText>> Properties,
                                  const TText& Sample) {
  for (const auto& Property : Properties) {
    SCOPED_TRACE(Property.Key);
    TTags Tags;
    (Tags.*Property.Set)(Sample);
    EXPECT_EQ((Tags.*Property.Get)(), Sample);
    EXPECT_EQ(Tags.ValueOf(Property.Key), TagValue(Sample));
    EXPECT_EQ(NamesHoldingValues(Tags), std::vector<std::string>{std::string(Property.Key)});
  }
}

TEST(APEv2TagsTest, PropertiesUseTheirKeysAndKinds) {
  using TWide = TProperty<TAPEv2Tags, std::u16string>;
  ExpectPropertiesUseTheirKeys<TAPEv2Tags, std::u16string>(
      {
          TWide{"Artist", &TAPEv2Tags::Artist, &TAPEv2Tags::SetArtist},
          TWide{"Composer", &TAPEv2Tags::Composer, &TAPEv2Tags::SetComposer},
          TWide{"Album", &TAPEv2Tags::Album, &TAPEv2Tags::SetAlbum},
          TWide{"Debut album", &TAPEv2Tags::DebutAlbum, &TAPEv2Tags::SetDebutAlbum},
          TWide{"Publisher", &TAPEv2Tags::Publisher, &TAPEv2Tags::SetPublisher},
          TWide{"Conductor", &TAPEv2Tags::Conductor, &TAPEv2Tags::SetConductor},
          TWide{"Copyright", &TAPEv2Tags::Copyright, &TAPEv2Tags::SetCopyright},
          TWide{"Language", &TAPEv2Tags::Language, &TAPEv2Tags::SetLanguage},
          TWide{"Genre", &TAPEv2Tags::Genre, &TAPEv2Tags::SetGenre},
          TWide{"Record Location", &TAPEv2Tags::RecordLocation, &TAPEv2Tags::SetRecordLocation},
          TWide{"File", &TAPEv2Tags::File_, &TAPEv2Tags::SetFile_},
          TWide{"Related", &TAPEv2Tags::Related, &TAPEv2Tags::SetRelated},
          TWide{"Abstract", &TAPEv2Tags::Abstract, &TAPEv2Tags::SetAbstract},
          TWide{"Bibliography", &TAPEv2Tags::Bibliography, &TAPEv2Tags::SetBibliography},
          TWide{"Title", &TAPEv2Tags::Title, &TAPEv2Tags::SetTitle},
          TWide{"Subtitle", &TAPEv2Tags::SubTitle, &TAPEv2Tags::SetSubTitle},
          TWide{"Comment", &TAPEv2Tags::Comment, &TAPEv2Tags::SetComment},
      },
      u"Wert ß");
  using TNarrow = TProperty<TAPEv2Tags, std::string>;
  ExpectPropertiesUseTheirKeys<TAPEv2Tags, std::string>(
      {
          TNarrow{"ISBN", &TAPEv2Tags::ISBN, &TAPEv2Tags::SetISBN},
          TNarrow{"ISRC", &TAPEv2Tags::ISRC, &TAPEv2Tags::SetISRC},
          TNarrow{"EAN/UPC", &TAPEv2Tags::BarCode, &TAPEv2Tags::SetBarCode},
          TNarrow{"LC", &TAPEv2Tags::LabelCode, &TAPEv2Tags::SetLabelCode},
          TNarrow{"Catalog", &TAPEv2Tags::Catalog, &TAPEv2Tags::SetCatalog},
          TNarrow{"Year", &TAPEv2Tags::Year, &TAPEv2Tags::SetYear},
          TNarrow{"Record Date", &TAPEv2Tags::RecordDate, &TAPEv2Tags::SetRecordDate},
          TNarrow{"Track", &TAPEv2Tags::Track, &TAPEv2Tags::SetTrack},
      },
      "4006381333931"s);
}

TEST(APEv2TagsTest, AFreshContainerIsBlankUntilAnyPropertyIsSet) {
  TAPEv2Tags Tags;
  EXPECT_TRUE(Tags.IsBlank());
  EXPECT_EQ(Tags.Title(), u"");
  EXPECT_EQ(Tags.Track(), "");
  Tags.SetPublisher(u"Label");
  EXPECT_FALSE(Tags.IsBlank());

  // The bar code has no counterpart in ID3v1.
  TAPEv2Tags BarCodeOnly;
  BarCodeOnly.SetBarCode("4006381333931");
  TId3v1Tags Id3v1;
  Id3v1.CopyFrom(&BarCodeOnly);
  EXPECT_TRUE(NamesHoldingValues(Id3v1).empty());
}

TEST(VorbisTagsTest, PropertiesUseTheirKeysAndKinds) {
  using TWide = TProperty<TVorbisTags, std::u16string>;
  ExpectPropertiesUseTheirKeys<TVorbisTags, std::u16string>(
      {
          TWide{"album", &TVorbisTags::Album, &TVorbisTags::SetAlbum},
          TWide{"artist", &TVorbisTags::Artist, &TVorbisTags::SetArtist},
          TWide{"date", &TVorbisTags::Date, &TVorbisTags::SetDate},
          TWide{"genre", &TVorbisTags::Genre, &TVorbisTags::SetGenre},
          TWide{"title", &TVorbisTags::Title, &TVorbisTags::SetTitle},
          TWide{"tracknumber", &TVorbisTags::Track, &TVorbisTags::SetTrack},
      },
      u"Wert ß");
}

TEST(VorbisTagsTest, TrackZeroIsWideText) {
  TVorbisTags Tags;
  EXPECT_TRUE(Tags.IsBlank());
  EXPECT_EQ(Names(Tags).size(), 6u);
  Tags.SetTrack(u"0");
  EXPECT_TRUE(std::holds_alternative<std::u16string>(Tags.ValueOf("tracknumber")));
  EXPECT_EQ(Tags.IntegerOf("tracknumber"), 0);
  EXPECT_EQ(Tags.TextOf("tracknumber"), "0");
  EXPECT_FALSE(Tags.IsBlank());
}

// ---------------------------------------------------------------- ID3v1

struct TRecordFields {
  TRecordFields(std::string ATitle = "", std::string AArtist = "", std::string AAlbum = "",
                std::string AYear = "", std::string AComment = "", uint8_t AGenre = 12)
      : Title(std::move(ATitle)), Artist(std::move(AArtist)), Album(std::move(AAlbum)),
        Year(std::move(AYear)), Comment(std::move(AComment)), Genre(AGenre) {}
  std::string Title, Artist, Album, Year;
  std::string Comment; // the 30 bytes from offset 97, padded with zeros
  uint8_t Genre;
};

TBytes Id3v1Record(const TRecordFields& Fields) {
  auto Field = [](std::string Text, size_t Length) {
    Text.resize(Length, '\0');
    return Bytes(Text);
  };
  return Concat({Bytes("TAG"),
                 Field(Fields.Title, 30),
                 Field(Fields.Artist, 30),
                 Field(Fields.Album, 30),
                 Field(Fields.Year, 4),
                 Field(Fields.Comment, 30),
                 {Fields.Genre}});
}

TEST(Id3v1TagsTest, AFreshContainerReadsGenreOther) {
  const TId3v1Tags Tags;
  EXPECT_TRUE(Tags.IsBlank());
  EXPECT_EQ(Tags.ValueOf("genre"), TagValue(uint8_t{12}));
  EXPECT_EQ(Tags.GenreId(), 12);
  EXPECT_EQ(Tags.Genre(), "Other");
  EXPECT_EQ(Tags.Title(), "");
  EXPECT_EQ(Tags.Year(), 0);
  EXPECT_EQ(Tags.Track(), 0);
}

TEST(Id3v1TagsTest, GenreNumbersBeyondTheListReadAsOther) {
  const struct {
    const char* Case;
    TagValue Stored;
    int GenreId;
    const char* Genre;
  } Cases[] = {
      {"null after a reset", {}, 0, "Blues"},
      {"the last genre", uint8_t{147}, 147, "Synthpop"},
      {"one past the list", uint8_t{148}, 12, "Other"},
      {"255 from disk", uint8_t{255}, 12, "Other"},
      {"a negative number", int32_t{-1}, 12, "Other"},
      {"a number whose low byte is in the list", int32_t{256 + 17}, 12, "Other"},
      {"a number in text", "17"s, 17, "Rock"},
      {"a name in text", "Rock"s, 0, "Blues"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Case);
    TId3v1Tags Tags;
    Tags.ResetValues();
    Tags.SetValueOf("genre", C.Stored);
    EXPECT_EQ(Tags.GenreId(), C.GenreId);
    EXPECT_EQ(Tags.Genre(), C.Genre);
  }
}

TEST(Id3v1TagsTest, GenreNamesKeepTheirSpellings) {
  for (size_t Id = 0; Id < Id3v1GenreNames.size(); ++Id)
    EXPECT_FALSE(Id3v1GenreNames[Id].empty()) << Id;
  const struct {
    int Id;
    const char* Name;
  } Cases[] = {
      {0, "Blues"},
      {1, "Classic Rock"},
      {7, "Hip-Hop"},
      {12, "Other"},
      {14, "R&B"},
      {17, "Rock"},
      {22, "Death metal"},
      {40, "Alt. Rock"},
      {46, "Instrumental pop"},
      {47, "Instrumental rock"},
      {64, "Native American"},
      {78, "Rock & Roll"},
      {85, "Bebob"},
      {104, "Chamber music"},
      {118, "Rhythmic soul"},
      {123, "A Cappella"},
      {129, "Hardcore"},
      {134, "Polsk Punk"},
      {146, "JPop"},
      {147, "Synthpop"},
  };
  for (const auto& C : Cases)
    EXPECT_EQ(Id3v1GenreNames[C.Id], C.Name) << C.Id;
}

TEST(Id3v1TagsTest, GenreSetterMatchesTrimmedNamesIgnoringCase) {
  const struct {
    const char* Name;
    int GenreId;
  } Cases[] = {
      {" hip-hop ", 7},  {"HIP-HOP", 7},    {"\t\nRock\r", 17}, {"rock & roll", 78},
      {"alt. rock", 40}, {"Synthpop", 147}, {"blues", 0},       {"Hip Hop", 1},
      {"Rockabilly", 1}, {"", 1},           {"   ", 1},         {"Rock\x01x", 1},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Name);
    TId3v1Tags Tags;
    // A name not in the list leaves this genre.
    Tags.SetGenreId(1);
    Tags.SetGenre(C.Name);
    EXPECT_EQ(Tags.GenreId(), C.GenreId);
  }
}

TEST(Id3v1TagsTest, ArtistReadsTextValuesOnly) {
  TId3v1Tags Tags;
  Tags.SetValueOf("artist", int32_t{5});
  EXPECT_EQ(Tags.Artist(), "");
  EXPECT_EQ(Tags.Album(), "");
  Tags.SetValueOf("artist", u"Wide ß"s);
  EXPECT_EQ(Tags.Artist(), "Wide ß");
  // Wider numbers keep their low bits.
  Tags.SetValueOf("year", int32_t{70000});
  Tags.SetValueOf("track", int32_t{260});
  EXPECT_EQ(Tags.Year(), 70000 & 0xFFFF);
  EXPECT_EQ(Tags.Track(), 4);
}

TEST(Id3v1TagsTest, LoadTagReadsTheRecord) {
  const std::string Full = "abcdefghijklmnopqrstuvwxyz0123";
  const struct {
    const char* Case;
    TRecordFields Record;
    std::string Title;
    std::string Comment;
    int Track;
    int Year;
    int GenreId;
  } Cases[] = {
      {"plain fields", {"Title", "", "", "1999", "Comment", 17}, "Title", "Comment", 0, 1999, 17},
      {"a comment of 30 characters", {"", "", "", "", Full}, "", Full, 0, 0, 12},
      {"ID3v1.1: a zero then the track",
       {"", "", "", "", Full.substr(0, 28) + "\0\x07"s},
       "",
       Full.substr(0, 28),
       7,
       0,
       12},
      {"a blank then the character 7",
       {"", "", "", "", Full.substr(0, 28) + " 7"},
       "",
       Full.substr(0, 28),
       55,
       0,
       12},
      {"a blank then a zero",
       {"", "", "", "", "Short"s + std::string(23, ' ') + " \0"s},
       "",
       "Short",
       0,
       0,
       12},
      {"two blanks", {"", "", "", "", "Short"s + std::string(25, ' ')}, "", "Short", 0, 0, 12},
      {"genre 255 on disk", {"", "", "", "", "", 255}, "", "", 0, 0, 12},
      {"trimmed fields", {"  \x01Padded\x20\x1F", "", "", " 42 "}, "Padded", "", 0, 42, 12},
      {"an inner zero stays", {"A\0B"s}, "A\0B"s, "", 0, 0, 12},
      {"a year that is no number", {"", "", "", "19x9"}, "", "", 0, 0, 12},
      {"a hexadecimal year", {"", "", "", "$7D0"}, "", "", 0, 2000, 12},
      {"a negative year", {"", "", "", "-1"}, "", "", 0, 65535, 12},
      {"ISO-8859-1 text", {"Caf\xE9 \xC4rger"}, "Café Ärger", "", 0, 0, 12},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Case);
    const TTagFile File(Concat({Pattern(300), Id3v1Record(C.Record)}));
    TId3v1Tags Tags;
    Tags.SetArtist("old");
    EXPECT_TRUE(Tags.DetectTag(File.Handle()));
    EXPECT_EQ(File.Position(), 0);
    ASSERT_TRUE(Tags.LoadTag(File.Handle()));
    EXPECT_EQ(File.Position(), 300 + 128);
    EXPECT_EQ(Tags.Title(), C.Title);
    EXPECT_EQ(Tags.Artist(), "");
    EXPECT_EQ(Tags.Comment(), C.Comment);
    EXPECT_EQ(Tags.Track(), C.Track);
    EXPECT_EQ(Tags.Year(), C.Year);
    EXPECT_EQ(Tags.GenreId(), C.GenreId);
    // Even a record of empty fields counts as values.
    EXPECT_FALSE(Tags.IsBlank());
  }
}

TEST(Id3v1TagsTest, FilesWithoutARecordAreNotRead) {
  const TBytes Record = Id3v1Record({"Title"});
  TBytes LowerCase = Record;
  LowerCase[0] = 't';
  const struct {
    const char* Case;
    TBytes Content;
  } Cases[] = {
      {"empty", {}},
      {"shorter than a record", TBytes(Record.begin(), Record.end() - 1)},
      {"a record cut at the end", Concat({Pattern(10), TBytes(Record.begin(), Record.end() - 1)})},
      {"lower-case marker", LowerCase},
      {"a record followed by one byte", Concat({Record, {0}})},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Case);
    const TTagFile File(C.Content);
    File.Seek(3);
    TId3v1Tags Tags;
    Tags.SetTitle("old");
    EXPECT_FALSE(Tags.DetectTag(File.Handle()));
    EXPECT_EQ(File.Position(), 3);
    EXPECT_FALSE(Tags.LoadTag(File.Handle()));
    // The container stays reset, its genre null.
    EXPECT_EQ(Tags.Title(), "");
    EXPECT_EQ(Tags.GenreId(), 0);
    EXPECT_TRUE(Tags.IsBlank());
  }
  TId3v1Tags Tags;
  EXPECT_FALSE(Tags.DetectTag(InvalidHandle));
  EXPECT_FALSE(Tags.LoadTag(InvalidHandle));
  EXPECT_FALSE(Tags.SaveTag(InvalidHandle, false));
  // Exactly one record and nothing else is a tag.
  const TTagFile Exact(Record);
  EXPECT_TRUE(Tags.LoadTag(Exact.Handle()));
  EXPECT_EQ(Tags.Title(), "Title");
}

TEST(Id3v1TagsTest, SaveTagWritesTheRecord) {
  const std::string Forty(40, 'T');
  const std::string TwentyNine = "abcdefghijklmnopqrstuvwxyz012";
  const struct {
    const char* Case;
    std::function<void(TId3v1Tags&)> Set;
    TRecordFields Expected;
  } Cases[] = {
      {"a fresh container", [](TId3v1Tags&) {}, {"", "", "", "0"}},
      {"texts cut to their fields",
       [&](TId3v1Tags& T) {
         T.SetTitle(Forty);
         T.SetArtist(Forty);
         T.SetAlbum(Forty);
       },
       {Forty.substr(0, 30), Forty.substr(0, 30), Forty.substr(0, 30), "0"}},
      {"a comment of 30 without a track",
       [&](TId3v1Tags& T) { T.SetComment(TwentyNine + "3"); },
       {"", "", "", "0", TwentyNine + "3"}},
      {"a comment of 29 with track 3",
       [&](TId3v1Tags& T) {
         T.SetComment(TwentyNine);
         T.SetTrack(3);
       },
       {"", "", "", "0", TwentyNine.substr(0, 28) + "\0\x03"s}},
      {"year 2005", [](TId3v1Tags& T) { T.SetYear(2005); }, {"", "", "", "2005"}},
      {"a year of five digits keeps four",
       [](TId3v1Tags& T) { T.SetYear(65535); },
       {"", "", "", "6553"}},
      {"genre 255 is written as 12",
       [](TId3v1Tags& T) { T.SetGenreId(255); },
       {"", "", "", "0", "", 12}},
      {"genre 147", [](TId3v1Tags& T) { T.SetGenreId(147); }, {"", "", "", "0", "", 147}},
      {"ISO-8859-1 text", [](TId3v1Tags& T) { T.SetTitle("Café ☃"); }, {"Caf\xE9 ?", "", "", "0"}},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Case);
    const TTagFile File(Bytes("audio"));
    TId3v1Tags Tags;
    C.Set(Tags);
    ASSERT_TRUE(Tags.SaveTag(File.Handle(), true));
    EXPECT_EQ(File.Content(), Concat({Bytes("audio"), Id3v1Record(C.Expected)}));
    EXPECT_EQ(File.Position(), 5 + 128);
  }
}

TEST(Id3v1TagsTest, SavedValuesReadBackAndASecondRecordFollowsTheFirst) {
  const TTagFile File(Pattern(1000));
  TId3v1Tags Saved;
  Saved.SetTitle("Title");
  Saved.SetArtist("Artist");
  Saved.SetAlbum("Album");
  Saved.SetYear(0);
  Saved.SetComment("Comment");
  Saved.SetTrack(12);
  Saved.SetGenre("Hip-Hop");
  ASSERT_TRUE(Saved.SaveTag(File.Handle(), false));
  TId3v1Tags Loaded;
  ASSERT_TRUE(Loaded.LoadTag(File.Handle()));
  for (const std::string& Name : Names(Saved))
    EXPECT_EQ(Loaded.TextOf(Name), Saved.TextOf(Name)) << Name;

  File.Seek(0);
  Saved.SetTitle("Second");
  ASSERT_TRUE(Saved.SaveTag(File.Handle(), false));
  EXPECT_EQ(File.Content().size(), 1000u + 2 * 128);
  ASSERT_TRUE(Loaded.LoadTag(File.Handle()));
  EXPECT_EQ(Loaded.Title(), "Second");
}

TEST(Id3v1TagsTest, SaveTagOnAReadOnlyFileFails) {
  const TTagFile File(Bytes("audio"));
  const TFileHandle ReadOnly = File.Reopen(TFileAccess::Read);
  TId3v1Tags Tags;
  EXPECT_FALSE(Tags.SaveTag(ReadOnly.Get(), false));
  EXPECT_EQ(File.Content(), Bytes("audio"));
}

// ---------------------------------------------------------------- ID3v2

TBytes Id3v2Header(uint8_t Version, uint32_t Size, uint8_t Flags = 0, uint8_t Revision = 0) {
  return {'I',
          'D',
          '3',
          Version,
          Revision,
          Flags,
          uint8_t(Size >> 21 & 0x7F),
          uint8_t(Size >> 14 & 0x7F),
          uint8_t(Size >> 7 & 0x7F),
          uint8_t(Size & 0x7F)};
}

TBytes Id3v2Tag(uint8_t Version, const TBytes& Frames, uint8_t Flags = 0) {
  return Concat({Id3v2Header(Version, uint32_t(Frames.size()), Flags), Frames});
}

// A frame of version 2.2 (three-character id, 3-byte size), 2.3 (plain 4-byte size) or 2.4
// (synchsafe 4-byte size).
TBytes Frame(int Version, std::string_view Id, const TBytes& Content) {
  const auto Size = uint32_t(Content.size());
  if (Version == 2)
    return Concat({Bytes(Id), {uint8_t(Size >> 16), uint8_t(Size >> 8), uint8_t(Size)}, Content});
  const TBytes Synchsafe = Id3v2Header(0, Size);
  const TBytes SizeBytes = Version == 3 ? TBytes{uint8_t(Size >> 24), uint8_t(Size >> 16),
                                                 uint8_t(Size >> 8), uint8_t(Size)}
                                        : TBytes(Synchsafe.begin() + 6, Synchsafe.end());
  return Concat({Bytes(Id), SizeBytes, {0, 0}, Content});
}

TEST(Id3v2TagsTest, AFreshContainerDeclaresBothIdSets) {
  const TId3v2Tags Tags;
  EXPECT_TRUE(Tags.FourCharIds());
  EXPECT_EQ(Tags.ValueCount(), 24);
  EXPECT_TRUE(NamesHoldingValues(Tags).empty());
  EXPECT_TRUE(Tags.IsBlank());
}

TEST(Id3v2TagsTest, PropertiesUseTheFourCharacterIds) {
  using TWide = TProperty<TId3v2Tags, std::u16string>;
  ExpectPropertiesUseTheirKeys<TId3v2Tags, std::u16string>(
      {
          TWide{"TALB", &TId3v2Tags::Album, &TId3v2Tags::SetAlbum},
          TWide{"TPE1", &TId3v2Tags::Artist, &TId3v2Tags::SetArtist},
          TWide{"TCON", &TId3v2Tags::Genre, &TId3v2Tags::SetGenre},
          TWide{"TIT2", &TId3v2Tags::Title, &TId3v2Tags::SetTitle},
          TWide{"COMM", &TId3v2Tags::Comment, &TId3v2Tags::SetComment},
          TWide{"TCOM", &TId3v2Tags::Composer, &TId3v2Tags::SetComposer},
          TWide{"TENC", &TId3v2Tags::Encoder, &TId3v2Tags::SetEncoder},
          TWide{"TCOP", &TId3v2Tags::Copyright, &TId3v2Tags::SetCopyright},
          TWide{"TLAN", &TId3v2Tags::Language, &TId3v2Tags::SetLanguage},
          TWide{"WXXX", &TId3v2Tags::Link, &TId3v2Tags::SetLink},
      },
      u"Wert ß");
  using TNarrow = TProperty<TId3v2Tags, std::string>;
  ExpectPropertiesUseTheirKeys<TId3v2Tags, std::string>(
      {
          TNarrow{"TRCK", &TId3v2Tags::Track, &TId3v2Tags::SetTrack},
          TNarrow{"TYER", &TId3v2Tags::Year, &TId3v2Tags::SetYear},
      },
      "1999"s);
}

TEST(Id3v2TagsTest, AVersion22TagSwitchesThePropertiesToThreeCharacterIds) {
  const char* Ids[] = {"TAL", "TP1", "TCO", "TT2", "TRK", "TYE",
                       "COM", "TCM", "TEN", "TCR", "TLA", "WXX"};
  TBytes Frames;
  for (const char* Id : Ids)
    Frames = Concat({Frames, Frame(2, Id, Concat({{0}, Bytes(Id)}))});
  const TTagFile File(Id3v2Tag(2, Frames));
  TId3v2Tags Tags;
  ASSERT_TRUE(Tags.LoadTag(File.Handle()));
  EXPECT_FALSE(Tags.FourCharIds());
  const std::u16string Wide[] = {Tags.Album(),     Tags.Artist(),   Tags.Genre(),
                                 Tags.Title(),     Tags.Composer(), Tags.Encoder(),
                                 Tags.Copyright(), Tags.Language(), Tags.Link()};
  EXPECT_EQ(std::vector<std::u16string>(std::begin(Wide), std::end(Wide)),
            (std::vector<std::u16string>{u"TAL", u"TP1", u"TCO", u"TT2", u"TCM", u"TEN", u"TCR",
                                         u"TLA", u"WXX"}));
  EXPECT_EQ(Tags.Track(), "TRK");
  EXPECT_EQ(Tags.Year(), "TYE");
  // Comments are never read.
  EXPECT_EQ(Tags.Comment(), u"");
  EXPECT_TRUE(IsNull(Tags.ValueOf("TIT2")));
  EXPECT_TRUE(IsNull(Tags.ValueOf("TALB")));

  // What a later save writes are the four-character values, which are empty.
  const TTagFile Saved(Bytes("x"));
  ASSERT_TRUE(Tags.SaveTag(Saved.Handle(), true));
  EXPECT_EQ(Saved.Content(), Concat({Id3v2Header(4, 6), TBytes(6, 0), Bytes("x")}));
}

TEST(Id3v2TagsTest, SaveTagPutsAVersion24TagInFront) {
  const std::string Long(200, 'L');
  const TBytes LongFrame = Frame(4, "TIT2", Concat({{3}, Bytes(Long)}));
  const struct {
    const char* Case;
    std::function<void(TId3v2Tags&)> Set;
    bool AllowUtf8;
    TBytes Tag;
  } Cases[] = {
      {"an empty container", [](TId3v2Tags&) {}, true, Concat({Id3v2Header(4, 6), TBytes(6, 0)})},
      {"title abc", [](TId3v2Tags& T) { T.SetTitle(u"abc"); }, true,
       Concat({Bytes("ID3\4\0\0\0\0\0\x16"sv), Bytes("TIT2\0\0\0\4\0\0\3abc"sv), TBytes(8, 0)})},
      {"an 8-bit year stays ISO-8859-1", [](TId3v2Tags& T) { T.SetYear("1999"); }, true,
       Concat({Id3v2Header(4, 22), Bytes("TYER\0\0\0\5\0\0\0001999"sv), TBytes(7, 0)})},
      {"without UTF-8 wide text is ISO-8859-1", [](TId3v2Tags& T) { T.SetTitle(u"Café ☃"); }, false,
       Concat({Id3v2Header(4, 22), Bytes("TIT2\0\0\0\7\0\0\0Caf\xE9 ?"sv), TBytes(5, 0)})},
      {"with UTF-8", [](TId3v2Tags& T) { T.SetTitle(u"Café"); }, true,
       Concat({Id3v2Header(4, 22), Bytes("TIT2\0\0\0\6\0\0\3Café"sv), TBytes(6, 0)})},
      {"frames in table order, the comment left out, empty texts skipped",
       [](TId3v2Tags& T) {
         T.SetLink(u"l");
         T.SetComment(u"c");
         T.SetTrack("1");
         T.SetAlbum(u"a");
         T.SetGenre(u"");
       },
       true,
       Concat({Id3v2Header(4, 38), Bytes("TALB\0\0\0\2\0\0\3a"sv), Bytes("TRCK\0\0\0\2\0\0\0001"sv),
               Bytes("WXXX\0\0\0\2\0\0\3l"sv), TBytes(2, 0)})},
      {"a frame of 201 bytes has a synchsafe size",
       [&](TId3v2Tags& T) { T.SetTitle(Utf8ToUtf16(Long)); }, true,
       Concat({Id3v2Header(4, 214), LongFrame, TBytes(3, 0)})},
      {"a tag that ends on 16 bytes gets 16 more",
       [](TId3v2Tags& T) { T.SetTitle(u"abcdefghijk"); }, true,
       Concat({Id3v2Header(4, 38), Bytes("TIT2\0\0\0\x0C\0\0\3abcdefghijk"sv), TBytes(16, 0)})},
  };
  EXPECT_EQ(LongFrame.size(), 211u);
  EXPECT_EQ(TBytes(LongFrame.begin() + 4, LongFrame.begin() + 8), (TBytes{0, 0, 1, 0x49}));
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Case);
    const TTagFile File(Bytes("audio"));
    TId3v2Tags Tags;
    C.Set(Tags);
    ASSERT_TRUE(Tags.SaveTag(File.Handle(), C.AllowUtf8));
    EXPECT_EQ(File.Content(), Concat({C.Tag, Bytes("audio")}));
    EXPECT_EQ(C.Tag.size() % 16, 0u);
    EXPECT_EQ(File.Position(), int64_t(C.Tag.size() + 5));
  }
}

TEST(Id3v2TagsTest, SaveTagMovesContentOfAnyLength) {
  for (const size_t Length : {size_t{0}, size_t{1}, size_t{4095}, size_t{4096}, size_t{300001}}) {
    SCOPED_TRACE(Length);
    const TBytes Content = Pattern(Length);
    const TTagFile File(Content);
    TId3v2Tags Tags;
    Tags.SetTitle(u"abc");
    ASSERT_TRUE(Tags.SaveTag(File.Handle(), true));
    const TBytes After = File.Content();
    ASSERT_EQ(After.size(), 32 + Length);
    EXPECT_TRUE(std::equal(Content.begin(), Content.end(), After.begin() + 32));
    // A file that already has a tag gets a second one in front of it.
    ASSERT_TRUE(Tags.SaveTag(File.Handle(), true));
    EXPECT_EQ(File.Content(), Concat({TBytes(After.begin(), After.begin() + 32), After}));
  }
}

TEST(Id3v2TagsTest, SaveTagThatCannotWriteLeavesTheFileAsItWas) {
  const TTagFile File(Bytes("audio"));
  TId3v2Tags Tags;
  Tags.SetTitle(u"abc");
  EXPECT_FALSE(Tags.SaveTag(InvalidHandle, true));
  for (const TFileAccess Access : {TFileAccess::Read, TFileAccess::Write}) {
    SCOPED_TRACE(int(Access));
    // A write-only handle can grow the file but not map it.
    const TFileHandle Handle = File.Reopen(Access);
    EXPECT_FALSE(Tags.SaveTag(Handle.Get(), true));
    EXPECT_EQ(File.Content(), Bytes("audio"));
  }
}

TEST(Id3v2TagsTest, OnlyAValidHeaderIsATag) {
  const TBytes Frames = Frame(3, "TIT2", Bytes("\0Title"sv));
  const TBytes Valid = Id3v2Tag(3, Frames);
  auto Changed = [&](size_t Offset, uint8_t Byte) {
    TBytes Tag = Valid;
    Tag[Offset] = Byte;
    return Tag;
  };
  const struct {
    const char* Case;
    TBytes Content;
    bool IsTag;
  } Cases[] = {
      {"version 2.3", Valid, true},
      {"version 2.2 with both of its flags", Id3v2Tag(2, {}, 0xC0), true},
      {"version 2.2 with another flag", Id3v2Tag(2, {}, 0x20), false},
      {"version 2.3 with its three flags", Id3v2Tag(3, {}, 0xE0), true},
      {"version 2.3 with the footer flag", Id3v2Tag(3, {}, 0x10), false},
      {"version 2.4 with its four flags", Id3v2Tag(4, {}, 0xF0), true},
      {"version 2.4 with another flag", Id3v2Tag(4, {}, 0x08), false},
      {"version 5", Changed(3, 5), false},
      {"version 1", Changed(3, 1), false},
      {"revision 0xFF", Changed(4, 0xFF), false},
      {"revision 0xFE", Changed(4, 0xFE), true},
      {"a size byte of 0x80", Changed(6, 0x80), false},
      {"a last size byte of 0x80", Changed(9, 0x80), false},
      {"lower-case marker", Changed(0, 'i'), false},
      {"nine bytes", TBytes(Valid.begin(), Valid.begin() + 9), false},
      {"empty", {}, false},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Case);
    const TTagFile File(Concat({Bytes("pre"), C.Content}));
    File.Seek(3);
    TId3v2Tags Tags;
    EXPECT_EQ(Tags.DetectTag(File.Handle()), C.IsTag);
    EXPECT_EQ(File.Position(), 3);
    EXPECT_EQ(Tags.LoadTag(File.Handle()), C.IsTag);
  }
  TId3v2Tags Tags;
  EXPECT_FALSE(Tags.DetectTag(InvalidHandle));
  EXPECT_FALSE(Tags.LoadTag(InvalidHandle));
}

TEST(Id3v2TagsTest, LoadTagLeavesThePositionAfterTheTag) {
  const TBytes Frames = Frame(4, "TIT2", Bytes("\0Title"sv));
  const struct {
    const char* Case;
    TBytes Tag;
    int64_t Length;
  } Cases[] = {
      {"no footer", Id3v2Tag(4, Frames), 10 + int64_t(Frames.size())},
      {"a footer", Concat({Id3v2Tag(4, Frames, 0x10), Bytes("3DI\4\0\0\0\0\0\0"sv)}),
       20 + int64_t(Frames.size())},
      {"a file shorter than the tag", Id3v2Header(4, 100), 110},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Case);
    const TTagFile File(Concat({Bytes("pre"), C.Tag, Bytes("audio")}));
    File.Seek(3);
    TId3v2Tags Tags;
    ASSERT_TRUE(Tags.LoadTag(File.Handle()));
    EXPECT_EQ(File.Position(), 3 + C.Length);
  }
}

TEST(Id3v2TagsTest, LoadTagDecodesTextFrames) {
  const struct {
    const char* Case;
    TBytes Tag;
    std::u16string Title; // the title as read; "-" for none
  } Cases[] = {
      {"ISO-8859-1", Id3v2Tag(3, Frame(3, "TIT2", Bytes("\0Caf\xE9"sv))), u"Café"},
      {"ISO-8859-1 up to a zero", Id3v2Tag(3, Frame(3, "TIT2", Bytes("\0ab\0cd"sv))), u"ab"},
      {"UTF-16 with a little-endian mark",
       Id3v2Tag(3, Frame(3, "TIT2",
                         Bytes("\1\xFF\xFE"
                               "a\0\xE9\0"sv))),
       u"aé"},
      {"UTF-16 with a big-endian mark",
       Id3v2Tag(3, Frame(3, "TIT2", Bytes("\1\xFE\xFF\0a\0\xE9"sv))), u"aé"},
      {"UTF-16 without a mark", Id3v2Tag(3, Frame(3, "TIT2", Bytes("\1a\0b\0"sv))), u"ab"},
      {"UTF-16 up to a zero unit",
       Id3v2Tag(3, Frame(3, "TIT2",
                         Bytes("\1\xFF\xFE"
                               "a\0\0\0b\0"sv))),
       u"a"},
      {"UTF-16 surrogate pair",
       Id3v2Tag(3, Frame(3, "TIT2", Bytes("\1\xFF\xFE\x3D\xD8\x00\xDE"sv))), u"\U0001F600"},
      {"UTF-8", Id3v2Tag(4, Frame(4, "TIT2", Bytes("\3Caf\xC3\xA9\0x"sv))), u"Café"},
      {"only the encoding byte", Id3v2Tag(4, Frame(4, "TIT2", Bytes("\3"sv))), u""},
      {"UTF-16BE without a mark is not read", Id3v2Tag(4, Frame(4, "TIT2", Bytes("\2\0a"sv))),
       u"-"},
      {"an unknown encoding", Id3v2Tag(4, Frame(4, "TIT2", Bytes("\4a"sv))), u"-"},
      {"a three-character id in a version 2.3 tag", Id3v2Tag(3, Frame(3, "TT2 ", Bytes("\0a"sv))),
       u"-"},
      {"an id that differs in case", Id3v2Tag(3, Frame(3, "TiT2", Bytes("\0a"sv))), u"-"},
      {"after an empty frame and an unknown one",
       Id3v2Tag(3, Concat({Frame(3, "TXXX", {}), Frame(3, "APIC", Pattern(300)),
                           Frame(3, "TIT2", Bytes("\0a"sv))})),
       u"a"},
      {"padding ends the frames",
       Id3v2Tag(3, Concat({TBytes(10, 0), Frame(3, "TIT2", Bytes("\0a"sv))})), u"-"},
      {"an extended header ends the frames",
       Id3v2Tag(3, Concat({Bytes("\0\0\0\6\0\0\0\0\0\0"sv), Frame(3, "TIT2", Bytes("\0a"sv))}),
                0x40),
       u"-"},
      {"a frame running past the tag is not read",
       Concat({Id3v2Header(3, 13), Frame(3, "TIT2", Bytes("\0abcd"sv))}), u"-"},
      {"a version 2.4 frame size is synchsafe",
       Id3v2Tag(4, Frame(4, "TIT2", Concat({{0}, TBytes(199, 'x')}))), std::u16string(199, 'x')},
      {"a version 2.3 frame size is plain",
       Id3v2Tag(3, Frame(3, "TIT2", Concat({{0}, TBytes(199, 'x')}))), std::u16string(199, 'x')},
      {"a version 2.4 frame size that is not synchsafe ends the frames",
       Id3v2Tag(4, Concat({Bytes("TIT2\0\0\0\x80\0\0"sv), TBytes(128, 0)})), u"-"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Case);
    const TTagFile File(Concat({C.Tag, Bytes("audio")}));
    TId3v2Tags Tags;
    ASSERT_TRUE(Tags.LoadTag(File.Handle()));
    if (C.Title == u"-")
      EXPECT_TRUE(IsNull(Tags.ValueOf("TIT2")));
    else
      EXPECT_EQ(Tags.Title(), C.Title);
  }
}

TEST(Id3v2TagsTest, LoadTagReadsEveryFrameItKeeps) {
  const TBytes Tag = Id3v2Tag(
      3, Concat({Frame(3, "TIT2", Bytes("\0Title"sv)), Frame(3, "COMM", Bytes("\0engxx"sv)),
                 Frame(3, "TPE1",
                       Bytes("\1\xFF\xFE"
                             "A\0"sv)),
                 Frame(3, "TRCK", Bytes("\0003/9"sv)), Frame(3, "TYER", Bytes("\0001999"sv)),
                 Frame(3, "WXXX", Bytes("\0http://x"sv))}));
  const TTagFile File(Concat({Tag, TBytes(64, 0)}));
  TId3v2Tags Tags;
  Tags.SetAlbum(u"old");
  ASSERT_TRUE(Tags.LoadTag(File.Handle()));
  EXPECT_TRUE(Tags.FourCharIds());
  EXPECT_EQ(Tags.Title(), u"Title");
  EXPECT_EQ(Tags.Artist(), u"A");
  EXPECT_EQ(Tags.Track(), "3/9");
  EXPECT_EQ(Tags.Year(), "1999");
  EXPECT_EQ(Tags.Link(), u"http://x");
  EXPECT_EQ(Tags.Album(), u"");
  EXPECT_EQ(Tags.Comment(), u"");
  EXPECT_EQ(NamesHoldingValues(Tags),
            (std::vector<std::string>{"TIT2", "TPE1", "TRCK", "TYER", "WXXX"}));
}

TEST(Id3v2TagsTest, SavedValuesReadBack) {
  for (const bool AllowUtf8 : {true, false}) {
    SCOPED_TRACE(AllowUtf8);
    const TTagFile File(Pattern(5000));
    TId3v2Tags Saved;
    Saved.SetAlbum(u"Albüm");
    Saved.SetArtist(u"Ärtist");
    Saved.SetGenre(u"Rock");
    Saved.SetTitle(AllowUtf8 ? u"日本語 ☃ \U0001F600" : u"Café");
    Saved.SetTrack("7/12");
    Saved.SetYear("2005");
    Saved.SetComposer(u"Composer");
    Saved.SetEncoder(u"Tavrune");
    Saved.SetCopyright(u"© 2005");
    Saved.SetLanguage(u"deu");
    Saved.SetLink(u"http://example.org/");
    ASSERT_TRUE(Saved.SaveTag(File.Handle(), AllowUtf8));
    File.Seek(0);
    TId3v2Tags Loaded;
    ASSERT_TRUE(Loaded.LoadTag(File.Handle()));
    for (const std::string& Name : Names(Saved))
      EXPECT_EQ(Loaded.TextOf(Name), Saved.TextOf(Name)) << Name;
    const TBytes Content = File.Content();
    EXPECT_EQ(File.Position(), int64_t(Content.size() - 5000));
    const TBytes Audio = Pattern(5000);
    EXPECT_TRUE(std::equal(Audio.begin(), Audio.end(), Content.end() - 5000));
  }
}

} // namespace
