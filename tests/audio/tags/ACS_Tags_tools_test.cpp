// Tags that eyeD3, id3v2 and ffmpeg write are read right, and tags we write read right in
// eyeD3 and ffprobe.
#include "audio/tags/ACS_Tags.h"

#include "runtime/Text.h"
#include "tests/support/Command.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

using namespace platform;

namespace {

std::vector<std::string> Lines(const std::string& Text) {
  std::vector<std::string> Result;
  std::istringstream Stream(Text);
  for (std::string Line; std::getline(Stream, Line);)
    Result.push_back(Line);
  return Result;
}

// What eyeD3 makes of a file's tag, by its own parser: the version, then the text of each
// frame asked for (ID3v2), or the ID3v1 fields title, artist, album, year, comment, track,
// genre. An absent frame or field is an empty line.
std::vector<std::string> EyeD3Read(const std::string& File, const std::vector<std::string>& Ids) {
  static const char* Script = R"(
import sys, eyed3, eyed3.id3
eyed3.log.setLevel("ERROR")
v1 = sys.argv[2] == "1"
tag = eyed3.load(sys.argv[1], tag_version=eyed3.id3.ID3_V1 if v1 else eyed3.id3.ID3_V2).tag
print(".".join(map(str, tag.version)))
if v1:
    date = tag.getBestDate()
    comments = [c.text for c in tag.comments]
    for value in (tag.title, tag.artist, tag.album, date.year if date else "",
                  comments[0] if comments else "", tag.track_num[0], tag.genre.id if tag.genre else ""):
        print(value if value is not None else "")
else:
    for fid in sys.argv[3:]:
        frames = tag.frame_set.get(fid.encode())
        print(frames[0].text if frames else "")
)";
  std::string Command = "PYTHONIOENCODING=utf-8 /usr/bin/python3 -c " + ShellQuoted(Script) + " " +
                        ShellQuoted(File) + (Ids.empty() ? " 1" : " 2");
  for (const std::string& Id : Ids)
    Command += " " + Id;
  return Lines(CheckedOutput(Command));
}

// The format tags ffprobe finds in a file, by their ffmpeg names.
std::map<std::string, std::string> FfprobeTags(const std::string& File) {
  std::map<std::string, std::string> Tags;
  for (const std::string& Line :
       Lines(CheckedOutput("ffprobe -v error -show_entries format_tags -of "
                           "default=noprint_wrappers=1 " +
                           ShellQuoted(File)))) {
    const size_t Equals = Line.find('=');
    if (Line.rfind("TAG:", 0) == 0 && Equals != std::string::npos)
      Tags[Line.substr(4, Equals - 4)] = Line.substr(Equals + 1);
  }
  return Tags;
}

class ToolsTest : public ::testing::Test {
protected:
  // A short MP3 without any tag, made by ffmpeg.
  std::string MakeMp3(const std::string& Name) {
    const std::string File = FDir.File(Name);
    CheckedOutput("ffmpeg -v error -f lavfi -i sine=duration=0.2 -c:a libmp3lame -id3v2_version 0 "
                  "-write_id3v1 0 -write_xing 0 -y " +
                  ShellQuoted(File));
    return File;
  }

  static TFileHandle Open(const std::string& File) {
    TFileHandle Handle = FileOpen(File, TFileAccess::ReadWrite, TFileShare::ReadWrite);
    EXPECT_TRUE(Handle.Valid()) << File;
    return Handle;
  }

  TTempDir FDir;
};

const std::string LongTitle(200, 'x');

TEST_F(ToolsTest, Id3v2ToolTagsReadAsVersion23AndId3v11) {
  const std::string File = MakeMp3("id3v2.mp3");
  // id3v2 writes both tags, in ISO-8859-1.
  CheckedOutput("id3v2 -a 'Ärtist' -A 'Album' -t 'Title' -c 'Comment' -g 17 -y 1999 -T 7 " +
                ShellQuoted(File));
  const TFileHandle Handle = Open(File);
  TId3v2Tags Tags2;
  ASSERT_TRUE(Tags2.DetectTag(Handle.Get()));
  ASSERT_TRUE(Tags2.LoadTag(Handle.Get()));
  EXPECT_TRUE(Tags2.FourCharIds());
  EXPECT_EQ(Tags2.Artist(), u"Ärtist");
  EXPECT_EQ(Tags2.Album(), u"Album");
  EXPECT_EQ(Tags2.Title(), u"Title");
  EXPECT_EQ(Tags2.Genre(), u"(17)");
  EXPECT_EQ(Tags2.Year(), "1999");
  EXPECT_EQ(Tags2.Track(), "7");

  TId3v1Tags Tags1;
  ASSERT_TRUE(Tags1.DetectTag(Handle.Get()));
  ASSERT_TRUE(Tags1.LoadTag(Handle.Get()));
  EXPECT_EQ(Tags1.Title(), "Title");
  EXPECT_EQ(Tags1.Artist(), "Ärtist");
  EXPECT_EQ(Tags1.Album(), "Album");
  EXPECT_EQ(Tags1.Year(), 1999);
  EXPECT_EQ(Tags1.Comment(), "Comment");
  EXPECT_EQ(Tags1.Track(), 7);
  EXPECT_EQ(Tags1.Genre(), "Rock");
}

TEST_F(ToolsTest, EyeD3TagsReadInEveryVersionAndEncoding) {
  const struct {
    const char* Case;
    const char* Options;
    std::u16string Title;
    const char* Year; // eyeD3 keeps a TYER frame in version 2.3 only
  } Cases[] = {
      {"version 2.3 in UTF-16", "--to-v2.3 --encoding utf16", u"Café ☃ 日本 \U0001F600", "1999"},
      {"version 2.3 in ISO-8859-1", "--to-v2.3 --encoding latin1", u"Café Ärger", "1999"},
      {"version 2.4 in UTF-8", "--to-v2.4 --encoding utf8", u"Café ☃ 日本 \U0001F600", ""},
      {"version 2.4 in UTF-16", "--to-v2.4 --encoding utf16", u"Café ☃ 日本", ""},
      {"version 2.4 in UTF-16BE", "--to-v2.4 --encoding utf16-be", u"-", ""},
      // More than 127 bytes: a synchsafe frame size differs from a plain one.
      {"a long title in version 2.4", "--to-v2.4 --encoding utf8", Utf8ToUtf16(LongTitle), ""},
      {"a long title in version 2.3", "--to-v2.3 --encoding latin1", Utf8ToUtf16(LongTitle),
       "1999"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Case);
    const std::string File = MakeMp3("eyed3.mp3");
    const std::string Title = C.Title == u"-" ? "Title" : Utf16ToUtf8(C.Title);
    CheckedOutput(
        "eyeD3 --no-config -Q " + std::string(C.Options) + " -t " + ShellQuoted(Title) +
        " -a 'Ärtist' -A 'Album' -G Jazz -n 5 --composer 'Composer' --text-frame TYER:1999 "
        "--text-frame TCOP:'© Label' " +
        ShellQuoted(File) + " >/dev/null");
    const TFileHandle Handle = Open(File);
    TId3v2Tags Tags;
    ASSERT_TRUE(Tags.LoadTag(Handle.Get()));
    // UTF-16BE without a byte-order mark is a form these tags do not read.
    if (C.Title == u"-") {
      EXPECT_EQ(Tags.Title(), u"");
      continue;
    }
    EXPECT_EQ(Tags.Title(), C.Title);
    EXPECT_EQ(Tags.Artist(), u"Ärtist");
    EXPECT_EQ(Tags.Album(), u"Album");
    EXPECT_EQ(Tags.Genre(), u"Jazz");
    EXPECT_EQ(Tags.Track(), "05");
    EXPECT_EQ(Tags.Year(), C.Year);
    EXPECT_EQ(Tags.Composer(), u"Composer");
    EXPECT_EQ(Tags.Copyright(), u"© Label");
  }
}

TEST_F(ToolsTest, EyeD3Id3v11RecordsRead) {
  const std::string File = MakeMp3("eyed3v1.mp3");
  CheckedOutput(
      "eyeD3 --no-config -Q --to-v1.1 -t 'Caf\xC3\xA9' -a 'Artist' -A 'Album' -G Jazz -n 9 "
      "-Y 2001 -c 'A comment' " +
      ShellQuoted(File) + " >/dev/null");
  const TFileHandle Handle = Open(File);
  TId3v1Tags Tags;
  ASSERT_TRUE(Tags.LoadTag(Handle.Get()));
  EXPECT_EQ(Tags.Title(), "Café");
  EXPECT_EQ(Tags.Artist(), "Artist");
  EXPECT_EQ(Tags.Album(), "Album");
  EXPECT_EQ(Tags.Year(), 2001);
  EXPECT_EQ(Tags.Comment(), "A comment");
  EXPECT_EQ(Tags.Track(), 9);
  EXPECT_EQ(Tags.Genre(), "Jazz");
}

TEST_F(ToolsTest, SavedId3v2TagsReadRightInEyeD3AndFfprobe) {
  const struct {
    const char* Case;
    bool AllowUtf8;
    std::u16string Title;
  } Cases[] = {
      {"UTF-8", true, u"Café ☃ 日本 \U0001F600"},
      {"ISO-8859-1", false, u"Café Ärger"},
      {"a long title", true, Utf8ToUtf16(LongTitle) + u"é"},
  };
  for (const auto& C : Cases) {
    SCOPED_TRACE(C.Case);
    const std::string File = MakeMp3("saved.mp3");
    {
      const TFileHandle Handle = Open(File);
      TId3v2Tags Tags;
      Tags.SetTitle(C.Title);
      Tags.SetArtist(u"Ärtist");
      Tags.SetAlbum(u"Album");
      Tags.SetGenre(u"Jazz");
      Tags.SetTrack("5");
      Tags.SetYear("1999");
      Tags.SetComposer(u"Composer");
      Tags.SetEncoder(u"Tavrune");
      Tags.SetCopyright(u"© Label");
      Tags.SetLanguage(u"deu");
      ASSERT_TRUE(Tags.SaveTag(Handle.Get(), C.AllowUtf8));
    }
    const std::string Title = Utf16ToUtf8(C.Title);
    EXPECT_EQ(EyeD3Read(File, {"TIT2", "TPE1", "TALB", "TCON", "TRCK", "TYER", "TCOM", "TENC",
                               "TCOP", "TLAN"}),
              (std::vector<std::string>{"2.4.0", Title, "Ärtist", "Album", "Jazz", "5", "1999",
                                        "Composer", "Tavrune", "© Label", "deu"}));
    const auto Probed = FfprobeTags(File);
    const std::map<std::string, std::string> Expected = {
        {"title", Title},         {"artist", "Ärtist"},
        {"album", "Album"},       {"genre", "Jazz"},
        {"track", "5"},           {"date", "1999"},
        {"composer", "Composer"}, {"encoded_by", "Tavrune"},
        {"copyright", "© Label"}, {"language", "deu"}};
    EXPECT_EQ(Probed, Expected);
  }
}

TEST_F(ToolsTest, SavedId3v1RecordsReadRightInEyeD3AndFfprobe) {
  // ffmpeg takes ID3v1 bytes as they are, not as ISO-8859-1, so it gets an ASCII title only.
  for (const std::string Title : {"Title", "Café Ärger"}) {
    SCOPED_TRACE(Title);
    const std::string File = MakeMp3("saved1.mp3");
    {
      const TFileHandle Handle = Open(File);
      TId3v1Tags Tags;
      Tags.SetTitle(Title);
      Tags.SetArtist("Artist");
      Tags.SetAlbum("Album");
      Tags.SetYear(2005);
      Tags.SetComment("A comment");
      Tags.SetTrack(3);
      Tags.SetGenre("jazz");
      ASSERT_TRUE(Tags.SaveTag(Handle.Get(), false));
    }
    EXPECT_EQ(EyeD3Read(File, {}), (std::vector<std::string>{"1.1.0", Title, "Artist", "Album",
                                                             "2005", "A comment", "3", "8"}));
    if (Title != "Title")
      continue;
    const std::map<std::string, std::string> Expected = {
        {"title", Title},         {"artist", "Artist"}, {"album", "Album"}, {"date", "2005"},
        {"comment", "A comment"}, {"track", "3"},       {"genre", "Jazz"}};
    EXPECT_EQ(FfprobeTags(File), Expected);
  }
}

TEST_F(ToolsTest, GenreNamesAgreeWithFfmpegButForTheSpellingsWeKeep) {
  const std::set<size_t> OurSpellings = {7,  14,  22,  40,  46,  47,  64, 78,
                                         85, 104, 118, 123, 129, 134, 146};
  const std::string Audio = MakeMp3("audio.mp3");
  for (size_t Id = 0; Id < Id3v1GenreNames.size(); ++Id) {
    const std::string File = FDir.File("genre" + std::to_string(Id) + ".mp3");
    std::filesystem::copy_file(Audio, File);
    const TFileHandle Handle = Open(File);
    TId3v1Tags Tags;
    Tags.SetTitle("x");
    Tags.SetGenreId(static_cast<TId3v1TagsGenreId>(Id));
    ASSERT_TRUE(Tags.SaveTag(Handle.Get(), false));
  }
  // One shell for all, one line per genre.
  const std::vector<std::string> Names = Lines(
      CheckedOutput("for id in $(seq 0 147); do ffprobe -v error -show_entries format_tags=genre "
                    "-of default=nw=1:nk=1 " +
                    FDir.Path() + "genre$id.mp3; done"));
  ASSERT_EQ(Names.size(), Id3v1GenreNames.size());
  for (size_t Id = 0; Id < Names.size(); ++Id) {
    if (!OurSpellings.count(Id)) {
      EXPECT_EQ(Id3v1GenreNames[Id], Names[Id]) << Id;
    }
  }
}

} // namespace
