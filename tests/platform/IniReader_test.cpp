#include "platform/IniReader.h"

#include "runtime/IniFile.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <string_view>

using namespace platform;

namespace {

void WriteAll(const std::string& Path, std::string_view Content) {
  std::ofstream(Path, std::ios::binary) << Content;
}

TEST(IniReader, ReadsValuesAsProfileStringsDo) {
  struct TCase {
    const char* Name;
    std::string_view Content;
    const char* Section;
    const char* Ident;
    const char* Expected;
  };
  const TCase Cases[] = {
      {"plain", "[CD-ROM]\nnActive=3\n", "CD-ROM", "nActive", "3"},
      {"letter case ignored", "[cd-rom]\nNACTIVE=3\n", "CD-ROM", "nActive", "3"},
      {"first of repeated keys", "[A]\nk=1\nk=2\n", "A", "k", "1"},
      {"repeated section", "[A]\nx=1\n[B]\nk=2\n[A]\nk=3\n", "A", "k", "3"},
      {"trimmed", "[A]\n  k  =  some value  \n", "A", "k", "some value"},
      {"quotes dropped", "[A]\nk=\"/my music/a b.cue\"\n", "A", "k", "/my music/a b.cue"},
      {"empty value", "[A]\nk=\n", "A", "k", ""},
      {"byte order mark and CRLF", "\xEF\xBB\xBF[A]\r\nk=v\r\n", "A", "k", "v"},
      {"comment is no key", "[A]\n;k=1\n#k=2\n", "A", "k", "default"},
      {"key before any section", "k=1\n[A]\n", "A", "k", "default"},
      {"key of another section", "[A]\nk=1\n[B]\n", "B", "k", "default"},
      {"last line without end", "[A]\nk=v", "A", "k", "v"},
      {"value with equals", "[A]\nk=a=b\n", "A", "k", "a=b"},
  };
  const TTempDir Folder;
  for (const TCase& Case : Cases) {
    SCOPED_TRACE(Case.Name);
    WriteAll(Folder.File("a.ini"), Case.Content);
    EXPECT_EQ(TIniReader(Folder.File("a.ini")).ReadString(Case.Section, Case.Ident, "default"),
              Case.Expected);
  }
}

TEST(IniReader, AMissingFileReadsAsEmpty) {
  const TTempDir Folder;
  const TIniReader Reader(Folder.File("missing.ini"));
  EXPECT_EQ(Reader.ReadString("A", "k", "default"), "default");
  EXPECT_EQ(Reader.ReadInteger("A", "k", 7), 7);
  EXPECT_TRUE(Reader.ReadSection("A").empty());
}

TEST(IniReader, ReadIntegerTakesOnlyWholeNumbers) {
  const TTempDir Folder;
  WriteAll(Folder.File("a.ini"),
           "[A]\nplain=42\nnegative=-3\nletters=4x\nempty=\nbig=99999999999\n");
  const TIniReader Reader(Folder.File("a.ini"));
  EXPECT_EQ(Reader.ReadInteger("A", "plain", 0), 42);
  EXPECT_EQ(Reader.ReadInteger("A", "negative", 0), -3);
  EXPECT_EQ(Reader.ReadInteger("A", "letters", -1), -1);
  EXPECT_EQ(Reader.ReadInteger("A", "empty", -1), -1);
  EXPECT_EQ(Reader.ReadInteger("A", "big", 0), 99999999999);
}

TEST(IniReader, ReadSectionKeepsTheFileOrder) {
  const TTempDir Folder;
  WriteAll(Folder.File("a.ini"), "[Images]\nImage2=b\n[Other]\nx=1\n[images]\nImage1=a\n");
  const TIniReader::TValues Expected = {{"Image2", "b"}, {"Image1", "a"}};
  EXPECT_EQ(TIniReader(Folder.File("a.ini")).ReadSection("Images"), Expected);
}

TEST(IniReader, ReadsWhatTheWriterWrote) {
  const TTempDir Folder;
  const std::string File = Folder.File("cdr.ini");
  WriteAll(File, "; ours\n[CD-ROM]\nnReadSectors=7\n");
  TIniFile(File).WriteString("CD-ROM", "nActive", "0");
  TIniFile(File).WriteString("CD-ROM", "nTransportLayer", "1");
  const TIniReader Reader(File);
  EXPECT_EQ(Reader.ReadInteger("CD-ROM", "nReadSectors", 0), 7);
  EXPECT_EQ(Reader.ReadInteger("CD-ROM", "nActive", -1), 0);
  EXPECT_EQ(Reader.ReadInteger("CD-ROM", "nTransportLayer", -1), 1);
}

} // namespace
