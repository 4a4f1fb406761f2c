#include "runtime/IniFile.h"
#include "tests/support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fs = std::filesystem;

namespace {

std::string ReadAll(const fs::path& Path) {
  std::ifstream In(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(In), {}};
}

void WriteAll(const fs::path& Path, std::string_view Content) {
  std::ofstream(Path, std::ios::binary) << Content;
}

std::vector<std::string> Names(const fs::path& Folder) {
  std::vector<std::string> Result;
  for (const auto& Entry : fs::directory_iterator(Folder))
    Result.push_back(Entry.path().filename().string());
  std::sort(Result.begin(), Result.end());
  return Result;
}

struct TWriteCase {
  const char* Name;
  std::optional<std::string_view> Before; // none: the file does not exist yet
  const char* Section;
  const char* Ident;
  const char* Value;
  std::string_view After;
};

void PrintTo(const TWriteCase& Case, std::ostream* Out) {
  *Out << Case.Name;
}

class WriteStringTest : public testing::TestWithParam<TWriteCase> {};

TEST_P(WriteStringTest, ChangesOnlyTheKeyItWrites) {
  const TWriteCase& Case = GetParam();
  const TTempDir Folder;
  const std::string FileName = Folder.File("tavrune.ini");
  if (Case.Before)
    WriteAll(FileName, *Case.Before);

  TIniFile(FileName).WriteString(Case.Section, Case.Ident, Case.Value);

  EXPECT_EQ(ReadAll(FileName), Case.After);
  EXPECT_EQ(Names(Folder.Path()), std::vector<std::string>{"tavrune.ini"});
}

INSTANTIATE_TEST_SUITE_P(
    IniFile, WriteStringTest,
    testing::Values(
        TWriteCase{"NewFileGetsSectionAndKey", std::nullopt, "CD-ROM", "nActive", "0",
                   "[CD-ROM]\nnActive=0\n"},
        TWriteCase{"EmptyFileGetsNoLeadingBlankLine", "", "CD-ROM", "nActive", "0",
                   "[CD-ROM]\nnActive=0\n"},
        TWriteCase{"SecondKeyGoesBelowTheFirst", "[CD-ROM]\nnActive=0\n", "CD-ROM", "nDrive", "1",
                   "[CD-ROM]\nnActive=0\nnDrive=1\n"},
        TWriteCase{"ExistingKeyReplacedIgnoringCase", "[CD-ROM]\nnActive=0\nnDrive=1\n", "cd-rom",
                   "NACTIVE", "2", "[CD-ROM]\nnActive=2\nnDrive=1\n"},
        TWriteCase{"BlanksAroundNamesIgnored", "[ CD-ROM ]\n  nActive = 0 \nnDrive=1\n", "CD-ROM",
                   "nActive", "3", "[ CD-ROM ]\nnActive=3\nnDrive=1\n"},
        TWriteCase{"EmptyValue", "[A]\nkey=old\n", "A", "key", "", "[A]\nkey=\n"},
        TWriteCase{"SecondSectionAppended", "[CD-ROM]\nnActive=0\n", "Options", "sPath", "/music",
                   "[CD-ROM]\nnActive=0\n\n[Options]\nsPath=/music\n"},
        TWriteCase{"KeyGoesBeforeTheSectionsTrailingBlankLines", "[A]\na=1\n\n\n[B]\nb=1\n", "A",
                   "c", "3", "[A]\na=1\nc=3\n\n\n[B]\nb=1\n"},
        TWriteCase{"KeyGoesRightBelowAnEmptySection", "[A]\n\n[B]\nb=1\n", "A", "a", "1",
                   "[A]\na=1\n\n[B]\nb=1\n"},
        TWriteCase{"SameKeyInAnotherSectionUntouched", "[A]\nx=1\n[B]\nx=2\n", "B", "x", "9",
                   "[A]\nx=1\n[B]\nx=9\n"},
        TWriteCase{"KeyOfAnotherSectionNotTakenForMissingOne", "[A]\nx=1\n[B]\ny=2\n", "B", "x",
                   "9", "[A]\nx=1\n[B]\ny=2\nx=9\n"},
        TWriteCase{"CommentsAndOddLinesKeptVerbatim",
                   "; settings\n# x=not a key\n[A]\n;x=commented out\n  odd line \t\n"
                   " y = 1 ; trailing\n#end\n[B]\n",
                   "A", "x", "2",
                   "; settings\n# x=not a key\n[A]\n;x=commented out\n  odd line \t\n"
                   " y = 1 ; trailing\nx=2\n#end\n[B]\n"},
        TWriteCase{"LinesAroundAReplacedKeyKeptVerbatim", "x=outside\n[A]\n\tx =  old \n;x=2\n",
                   "A", "x", "new", "x=outside\n[A]\nx=new\n;x=2\n"},
        TWriteCase{"CrlfKeptWhenReplacing", "[A]\r\na=1\r\nb=2\r\n", "A", "a", "5",
                   "[A]\r\na=5\r\nb=2\r\n"},
        TWriteCase{"CrlfUsedForANewKey", "[A]\r\na=1\r\n", "A", "b", "2", "[A]\r\na=1\r\nb=2\r\n"},
        TWriteCase{"CrlfUsedForANewSection", "[A]\r\na=1\r\n", "B", "b", "2",
                   "[A]\r\na=1\r\n\r\n[B]\r\nb=2\r\n"},
        TWriteCase{"ByteOrderMarkKeptAndSectionStillFound", "\xEF\xBB\xBF[A]\na=1\n", "A", "a", "2",
                   "\xEF\xBB\xBF[A]\na=2\n"},
        TWriteCase{"MissingLastLineEndStaysMissing", "[A]\na=1", "A", "b", "2", "[A]\na=1\nb=2"},
        TWriteCase{"MissingLastLineEndAddedBeforeNewSection", "[A]\na=1", "B", "b", "2",
                   "[A]\na=1\n\n[B]\nb=2\n"},
        TWriteCase{"Utf8TextWrittenAsIs", "[Titel]\n", "Titel", "Künstler", "Björk – Jóga",
                   "[Titel]\nKünstler=Björk – Jóga\n"}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(IniFile, KeysWrittenOneByOneBuildTheFile) {
  const TTempDir Folder;
  TIniFile Ini(Folder.File("tavrune.ini"));
  Ini.WriteString("CD-ROM", "nActive", "0");
  Ini.WriteString("CD-ROM", "nDrive", "1");
  Ini.WriteString("Options", "bEject", "1");
  Ini.WriteString("cd-rom", "nactive", "2");
  EXPECT_EQ(ReadAll(Ini.FileName()), "[CD-ROM]\nnActive=2\nnDrive=1\n\n[Options]\nbEject=1\n");
}

TEST(IniFile, ReplacementKeepsTheFilesPermissions) {
  const TTempDir Folder;
  const std::string FileName = Folder.File("private.ini");
  WriteAll(FileName, "[A]\na=1\n");
  fs::permissions(FileName, fs::perms::owner_read | fs::perms::owner_write);

  TIniFile(FileName).WriteString("A", "a", "2");

  EXPECT_EQ(ReadAll(FileName), "[A]\na=2\n");
  EXPECT_EQ(fs::status(FileName).permissions(), fs::perms::owner_read | fs::perms::owner_write);
}

void ExpectUnableToWrite(const std::string& FileName, const std::string& Section,
                         const std::string& Ident, const std::string& Value) {
  try {
    TIniFile(FileName).WriteString(Section, Ident, Value);
    ADD_FAILURE() << "no exception for " << FileName;
  } catch (const EIniFileException& Error) {
    EXPECT_STREQ(Error.what(), ("Unable to write to " + FileName).c_str());
  }
}

TEST(IniFile, MissingFolderRaisesAndCreatesNothing) {
  const TTempDir Folder;
  const std::string FileName = Folder.File("missing/tavrune.ini");
  ExpectUnableToWrite(FileName, "CD-ROM", "nActive", "0");
  EXPECT_TRUE(fs::is_empty(Folder.Path()));
}

TEST(IniFile, ParentThatIsAFileRaisesAndKeepsIt) {
  const TTempDir Folder;
  const std::string Parent = Folder.File("settings");
  WriteAll(Parent, "not a folder\n");
  ExpectUnableToWrite(Parent + "/tavrune.ini", "CD-ROM", "nActive", "0");
  EXPECT_EQ(ReadAll(Parent), "not a folder\n");
  EXPECT_EQ(Names(Folder.Path()), std::vector<std::string>{"settings"});
}

TEST(IniFile, FolderInPlaceOfTheFileRaisesAndKeepsIt) {
  const TTempDir Folder;
  const std::string FileName = Folder.File("tavrune.ini");
  fs::create_directory(FileName);
  WriteAll(FileName + "/inside", "kept\n");
  ExpectUnableToWrite(FileName, "CD-ROM", "nActive", "0");
  EXPECT_EQ(ReadAll(FileName + "/inside"), "kept\n");
  EXPECT_EQ(Names(Folder.Path()), std::vector<std::string>{"tavrune.ini"});
}

TEST(IniFile, LineBreaksInTheInputRaiseAndKeepTheFile) {
  const struct {
    const char* Section;
    const char* Ident;
    const char* Value;
  } Inputs[] = {{"A\n[B]", "a", "1"}, {"A", "a\rb", "1"}, {"A", "a", "1\r\nb=2"}, {"A", "a", "\n"}};
  const TTempDir Folder;
  const std::string FileName = Folder.File("tavrune.ini");
  WriteAll(FileName, "[A]\na=0\n");
  for (const auto& Input : Inputs) {
    ExpectUnableToWrite(FileName, Input.Section, Input.Ident, Input.Value);
    EXPECT_EQ(ReadAll(FileName), "[A]\na=0\n");
  }
  EXPECT_EQ(Names(Folder.Path()), std::vector<std::string>{"tavrune.ini"});
}

} // namespace
