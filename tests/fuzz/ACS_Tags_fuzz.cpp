// Arbitrary file contents for the ID3v1 and ID3v2 readers. Whatever was read must also survive
// a tag of our own: saved, then read back with the same values.
#include "audio/tags/ACS_Tags.h"
#include "tests/fuzz/FuzzSupport.h"

using namespace platform;

namespace {

void FuzzId3v1(const uint8_t* Data, size_t Size) {
  const TFileHandle File = MemoryFile(Data, Size);
  TId3v1Tags Tags;
  const bool Detected = Tags.DetectTag(File.Get());
  Check(Tags.LoadTag(File.Get()) == Detected, "ID3v1 LoadTag finds what DetectTag finds");
  if (!Detected)
    return;
  const TFileHandle Copy = MemoryFile(nullptr, 0);
  Check(Tags.SaveTag(Copy.Get(), false), "ID3v1 SaveTag succeeds");
  TId3v1Tags Again;
  Check(Again.LoadTag(Copy.Get()), "a saved ID3v1 record reads back");
  Check(Again.Title() == Tags.Title() && Again.Artist() == Tags.Artist() &&
            Again.Album() == Tags.Album() && Again.Comment() == Tags.Comment() &&
            Again.Track() == Tags.Track() && Again.GenreId() == Tags.GenreId() &&
            Again.Genre() == Tags.Genre(),
        "a saved ID3v1 record reads back the same");
}

void FuzzId3v2(const uint8_t* Data, size_t Size) {
  const TFileHandle File = MemoryFile(Data, Size);
  TId3v2Tags Tags;
  const bool Detected = Tags.DetectTag(File.Get());
  Check(FileSeek(File.Get(), 0, TSeekOrigin::Current) == 0, "ID3v2 DetectTag keeps the position");
  Check(Tags.LoadTag(File.Get()) == Detected, "ID3v2 LoadTag finds what DetectTag finds");
  if (!Detected)
    return;
  // The input itself is the content the new tag goes in front of.
  const TFileHandle Copy = MemoryFile(Data, Size);
  Check(Tags.SaveTag(Copy.Get(), true), "ID3v2 SaveTag succeeds");
  const int64_t Grown = FileSize(Copy.Get());
  FileSeek(Copy.Get(), 0, TSeekOrigin::Begin);
  TId3v2Tags Again;
  Check(Again.LoadTag(Copy.Get()), "a saved ID3v2 tag reads back");
  Check(Grown - FileSeek(Copy.Get(), 0, TSeekOrigin::Current) == int64_t(Size),
        "a saved ID3v2 tag ends where the old content starts");
  for (int I = 0; I < Tags.ValueCount(); ++I) {
    const std::string Name = Tags.NameAt(I);
    // Only the four-character frames are written, and never the comment.
    if (Name.size() == 4 && Name != "COMM")
      Check(Again.TextOf(Name) == Tags.TextOf(Name), "a saved ID3v2 tag reads back the same");
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* Data, size_t Size) {
  // The tag operations raise nothing of their own; anything else that escapes is a fault too.
  NothingEscapes(
      [&] {
        FuzzId3v1(Data, Size);
        FuzzId3v2(Data, Size);
      },
      "no exception escapes a tag operation");
  return 0;
}
