#pragma once

#include "platform/File.h"
#include "runtime/Component.h"

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <variant>

// One tag value: null, an integer of one of the widths, 8-bit text (UTF-8) or wide text (UTF-16).
using TagValue = std::variant<std::monostate, uint8_t, uint16_t, int8_t, int16_t, int32_t, uint32_t,
                              std::string, std::u16string>;

struct TTagValueInfo {
  TagValue Value;
};

// Orders names without regard to ASCII letter case.
struct TTagNameLess {
  using is_transparent = void;
  bool operator()(std::string_view A, std::string_view B) const;
};

// A fixed set of named values, declared by the constructor of each tag kind and looked up
// without regard to letter case. Readers of a name the kind does not declare give null, empty
// text or 0, and writing one does nothing. No lock: filled before a writer runs, read by it.
class TAuTags : public TPersistent {
public:
  TAuTags() = default;
  TAuTags(const TAuTags&) = delete;
  TAuTags& operator=(const TAuTags&) = delete;

  // The copy protocol's entry points, which copy like CopyFrom and CopyTo.
  void Assign(const TPersistent* Source) override { CopyFrom(Source); }
  void AssignTo(TPersistent* Dest) const override { CopyTo(Dest); }
  // Resets the receiving container, then takes every value whose name it declares. Anything
  // but a tag container raises "Cannot assign a X to a Y" and leaves the receiver unchanged.
  void CopyFrom(const TPersistent* Source);
  void CopyTo(TPersistent* Dest) const;

  // True until a value changes, and again after ResetValues.
  bool IsBlank() const { return FIsBlank; }
  // Set by ResetValues and by every change of a value; never cleared.
  bool IsModified() const { return FIsModified; }

  int ValueCount() const { return static_cast<int>(FValues.size()); }
  // The name at Index in the sorted list; empty when Index is out of range.
  std::string NameAt(int Index) const;
  TagValue ValueOf(std::string_view Name) const;
  // Stores Value unless the stored one is the same: null only matches null, integers compare by
  // value, texts of either width by their 8-bit form; an integer never matches a text.
  void SetValueOf(std::string_view Name, const TagValue& Value);
  // Integers as decimal text, texts of either width converted; empty for null.
  std::string TextOf(std::string_view Name) const;
  std::u16string WideTextOf(std::string_view Name) const;
  // Integers unchanged; texts parsed as leading blanks, an optional sign, then decimal digits
  // or hexadecimal ones after $, x, X, 0x or 0X, and nothing more (0 when that fails or the
  // value does not fit 32 bits); 0 for null.
  int32_t IntegerOf(std::string_view Name) const;
  // Every value becomes null; IsBlank and IsModified both become true.
  void ResetValues();

  // Whether the file carries a tag of this kind. Base: any valid handle.
  virtual bool DetectTag(platform::THandle FileHandle);
  // Resets the container and reads the file's tag. Base: false only for an invalid handle.
  virtual bool LoadTag(platform::THandle FileHandle);
  // Writes the container into the file as a tag of this kind. Base: writes nothing.
  virtual bool SaveTag(platform::THandle FileHandle, bool AllowUtf8);

protected:
  // Adds Name with a copy of Initial unless it is declared already; false for an empty name.
  bool DeclareName(std::string_view Name, const TagValue& Initial);

private:
  std::map<std::string, TTagValueInfo, TTagNameLess> FValues;
  bool FIsBlank = true;
  bool FIsModified = false;
};

using TId3v1TagsGenreId = uint8_t;

// The ID3v1 genres with the Winamp extensions, by genre number.
extern const std::array<std::string_view, 148> Id3v1GenreNames;

// The 128-byte ID3v1 record at the end of a file, in the ID3v1.1 form when it has a track.
// Texts in the record are ISO-8859-1; in the container they are 8-bit text.
class TId3v1Tags : public TAuTags {
public:
  TId3v1Tags();

  std::string Artist() const;
  void SetArtist(const std::string& Value) { SetValueOf("artist", Value); }
  std::string Album() const { return TextOf("album"); }
  void SetAlbum(const std::string& Value) { SetValueOf("album", Value); }
  std::string Title() const { return TextOf("title"); }
  void SetTitle(const std::string& Value) { SetValueOf("title", Value); }
  std::string Comment() const { return TextOf("comment"); }
  void SetComment(const std::string& Value) { SetValueOf("comment", Value); }
  uint16_t Year() const { return static_cast<uint16_t>(IntegerOf("year")); }
  void SetYear(uint16_t Value) { SetValueOf("year", Value); }
  uint8_t Track() const { return static_cast<uint8_t>(IntegerOf("track")); }
  void SetTrack(uint8_t Value) { SetValueOf("track", Value); }
  // A stored number beyond the list reads as 12, "Other".
  TId3v1TagsGenreId GenreId() const;
  void SetGenreId(TId3v1TagsGenreId Value) { SetValueOf("genre", Value); }
  std::string Genre() const { return std::string(Id3v1GenreNames[GenreId()]); }
  // Selects the first genre whose name equals Value, trimmed and ignoring letter case; a name
  // not in the list changes nothing.
  void SetGenre(std::string_view Value);

  // Whether the last 128 bytes start with "TAG"; the file position is kept.
  bool DetectTag(platform::THandle FileHandle) override;
  // Reads the record, leaving the position at the end of the file.
  bool LoadTag(platform::THandle FileHandle) override;
  // Appends a record; AllowUtf8 is not used.
  bool SaveTag(platform::THandle FileHandle, bool AllowUtf8) override;
};

// The ID3v2 text frames, under both the three-character ids of version 2.2 and the
// four-character ids of 2.3 and 2.4; the properties use the set FourCharIds selects.
class TId3v2Tags : public TAuTags {
public:
  TId3v2Tags();

  // True unless the last tag read was a version 2.2 tag.
  bool FourCharIds() const { return FFourCharIds; }

  std::u16string Album() const { return WideAt(0); }
  void SetAlbum(const std::u16string& Value) { SetAt(0, Value); }
  std::u16string Artist() const { return WideAt(1); }
  void SetArtist(const std::u16string& Value) { SetAt(1, Value); }
  std::u16string Genre() const { return WideAt(2); }
  void SetGenre(const std::u16string& Value) { SetAt(2, Value); }
  std::u16string Title() const { return WideAt(3); }
  void SetTitle(const std::u16string& Value) { SetAt(3, Value); }
  std::string Track() const { return TextAt(4); }
  void SetTrack(const std::string& Value) { SetAt(4, Value); }
  std::string Year() const { return TextAt(5); }
  void SetYear(const std::string& Value) { SetAt(5, Value); }
  std::u16string Comment() const { return WideAt(6); }
  void SetComment(const std::u16string& Value) { SetAt(6, Value); }
  std::u16string Composer() const { return WideAt(7); }
  void SetComposer(const std::u16string& Value) { SetAt(7, Value); }
  std::u16string Encoder() const { return WideAt(8); }
  void SetEncoder(const std::u16string& Value) { SetAt(8, Value); }
  std::u16string Copyright() const { return WideAt(9); }
  void SetCopyright(const std::u16string& Value) { SetAt(9, Value); }
  std::u16string Language() const { return WideAt(10); }
  void SetLanguage(const std::u16string& Value) { SetAt(10, Value); }
  std::u16string Link() const { return WideAt(11); }
  void SetLink(const std::u16string& Value) { SetAt(11, Value); }

  // Whether a valid tag header starts at the current position, which is kept.
  bool DetectTag(platform::THandle FileHandle) override;
  // Reads the tag at the current position (versions 2.2, 2.3, 2.4) and leaves the position
  // just after it; true whenever the header is valid.
  bool LoadTag(platform::THandle FileHandle) override;
  // Puts a version 2.4 tag of the four-character frames in front of the file's content.
  // Texts are ISO-8859-1, or UTF-8 for wide values when AllowUtf8; the comment is not written.
  bool SaveTag(platform::THandle FileHandle, bool AllowUtf8) override;

private:
  std::string_view IdAt(int Index) const;
  std::u16string WideAt(int Index) const { return WideTextOf(IdAt(Index)); }
  std::string TextAt(int Index) const { return TextOf(IdAt(Index)); }
  void SetAt(int Index, const TagValue& Value) { SetValueOf(IdAt(Index), Value); }
  void ReadFrames(platform::THandle FileHandle, int64_t End, int Version);

  bool FFourCharIds = true;
};

// The APEv2 items that the APE writer hands to its codec library; no byte format of its own.
class TAPEv2Tags : public TAuTags {
public:
  TAPEv2Tags();

  std::u16string Artist() const { return WideTextOf("Artist"); }
  void SetArtist(const std::u16string& Value) { SetValueOf("Artist", Value); }
  std::u16string Composer() const { return WideTextOf("Composer"); }
  void SetComposer(const std::u16string& Value) { SetValueOf("Composer", Value); }
  std::u16string Album() const { return WideTextOf("Album"); }
  void SetAlbum(const std::u16string& Value) { SetValueOf("Album", Value); }
  std::u16string DebutAlbum() const { return WideTextOf("Debut album"); }
  void SetDebutAlbum(const std::u16string& Value) { SetValueOf("Debut album", Value); }
  std::u16string Publisher() const { return WideTextOf("Publisher"); }
  void SetPublisher(const std::u16string& Value) { SetValueOf("Publisher", Value); }
  std::u16string Conductor() const { return WideTextOf("Conductor"); }
  void SetConductor(const std::u16string& Value) { SetValueOf("Conductor", Value); }
  std::u16string Copyright() const { return WideTextOf("Copyright"); }
  void SetCopyright(const std::u16string& Value) { SetValueOf("Copyright", Value); }
  std::string ISBN() const { return TextOf("ISBN"); }
  void SetISBN(const std::string& Value) { SetValueOf("ISBN", Value); }
  std::string ISRC() const { return TextOf("ISRC"); }
  void SetISRC(const std::string& Value) { SetValueOf("ISRC", Value); }
  std::string BarCode() const { return TextOf("EAN/UPC"); }
  void SetBarCode(const std::string& Value) { SetValueOf("EAN/UPC", Value); }
  std::string LabelCode() const { return TextOf("LC"); }
  void SetLabelCode(const std::string& Value) { SetValueOf("LC", Value); }
  std::string Catalog() const { return TextOf("Catalog"); }
  void SetCatalog(const std::string& Value) { SetValueOf("Catalog", Value); }
  std::u16string Language() const { return WideTextOf("Language"); }
  void SetLanguage(const std::u16string& Value) { SetValueOf("Language", Value); }
  std::u16string Genre() const { return WideTextOf("Genre"); }
  void SetGenre(const std::u16string& Value) { SetValueOf("Genre", Value); }
  std::string Year() const { return TextOf("Year"); }
  void SetYear(const std::string& Value) { SetValueOf("Year", Value); }
  std::string RecordDate() const { return TextOf("Record Date"); }
  void SetRecordDate(const std::string& Value) { SetValueOf("Record Date", Value); }
  std::u16string RecordLocation() const { return WideTextOf("Record Location"); }
  void SetRecordLocation(const std::u16string& Value) { SetValueOf("Record Location", Value); }
  std::u16string File_() const { return WideTextOf("File"); }
  void SetFile_(const std::u16string& Value) { SetValueOf("File", Value); }
  std::u16string Related() const { return WideTextOf("Related"); }
  void SetRelated(const std::u16string& Value) { SetValueOf("Related", Value); }
  std::u16string Abstract() const { return WideTextOf("Abstract"); }
  void SetAbstract(const std::u16string& Value) { SetValueOf("Abstract", Value); }
  std::u16string Bibliography() const { return WideTextOf("Bibliography"); }
  void SetBibliography(const std::u16string& Value) { SetValueOf("Bibliography", Value); }
  std::string Track() const { return TextOf("Track"); }
  void SetTrack(const std::string& Value) { SetValueOf("Track", Value); }
  std::u16string Title() const { return WideTextOf("Title"); }
  void SetTitle(const std::u16string& Value) { SetValueOf("Title", Value); }
  std::u16string SubTitle() const { return WideTextOf("Subtitle"); }
  void SetSubTitle(const std::u16string& Value) { SetValueOf("Subtitle", Value); }
  std::u16string Comment() const { return WideTextOf("Comment"); }
  void SetComment(const std::u16string& Value) { SetValueOf("Comment", Value); }
};

// The Vorbis comment fields of the FLAC and Ogg Vorbis writers; no byte format of its own.
class TVorbisTags : public TAuTags {
public:
  TVorbisTags();

  std::u16string Album() const { return WideTextOf("album"); }
  void SetAlbum(const std::u16string& Value) { SetValueOf("album", Value); }
  std::u16string Artist() const { return WideTextOf("artist"); }
  void SetArtist(const std::u16string& Value) { SetValueOf("artist", Value); }
  std::u16string Date() const { return WideTextOf("date"); }
  void SetDate(const std::u16string& Value) { SetValueOf("date", Value); }
  std::u16string Genre() const { return WideTextOf("genre"); }
  void SetGenre(const std::u16string& Value) { SetValueOf("genre", Value); }
  std::u16string Title() const { return WideTextOf("title"); }
  void SetTitle(const std::u16string& Value) { SetValueOf("title", Value); }
  std::u16string Track() const { return WideTextOf("tracknumber"); }
  void SetTrack(const std::u16string& Value) { SetValueOf("tracknumber", Value); }
};
