#include "libs/MACDll/ApeTag.h"

#include "libs/MACDll/MACDll.h"
#include "platform/File.h"

#include <algorithm>
#include <cstring>
#include <strings.h>

namespace mac {

namespace {

constexpr size_t ApeFooterBytes = 32;
constexpr size_t Id3v1Bytes = 128;
constexpr uint32_t ApeVersion = 2000;
constexpr uint32_t FlagHasHeader = 1u << 31;
constexpr uint32_t FlagIsHeader = 1u << 29;
constexpr uint32_t ItemTypeMask = 6; // bits 1-2: 0 is UTF-8 text

uint32_t GetU32(const uint8_t* P) {
  return P[0] | (P[1] << 8) | (P[2] << 16) | (uint32_t{P[3]} << 24);
}

void PutU32(std::vector<uint8_t>& Out, uint32_t Value) {
  for (int i = 0; i < 4; ++i)
    Out.push_back(static_cast<uint8_t>(Value >> (8 * i)));
}

bool SameKey(const std::string& A, const std::string& B) {
  return strcasecmp(A.c_str(), B.c_str()) == 0;
}

// The text items of an APEv2 tag body (its items, without header and footer); binary items
// and a damaged rest are left out.
void ParseItems(const std::vector<uint8_t>& Body, uint32_t Count, TTagFields& Fields) {
  size_t Pos = 0;
  for (uint32_t i = 0; i < Count && Pos + 8 < Body.size(); ++i) {
    const uint32_t Length = GetU32(&Body[Pos]);
    const uint32_t Flags = GetU32(&Body[Pos + 4]);
    const auto KeyStart = Body.begin() + static_cast<std::ptrdiff_t>(Pos + 8);
    const auto KeyEnd = std::find(KeyStart, Body.end(), 0);
    if (KeyEnd == Body.end() || Body.end() - KeyEnd - 1 < static_cast<std::ptrdiff_t>(Length))
      return;
    if ((Flags & ItemTypeMask) == 0)
      Fields.emplace_back(std::string(KeyStart, KeyEnd),
                          std::string(KeyEnd + 1, KeyEnd + 1 + Length));
    Pos = static_cast<size_t>(KeyEnd + 1 + Length - Body.begin());
  }
}

std::vector<uint8_t> TagBlock(const char* Preamble, uint32_t Size, uint32_t Count, uint32_t Flags) {
  std::vector<uint8_t> Out(Preamble, Preamble + 8);
  PutU32(Out, ApeVersion);
  PutU32(Out, Size);
  PutU32(Out, Count);
  PutU32(Out, Flags);
  Out.resize(ApeFooterBytes, 0);
  return Out;
}

std::vector<uint8_t> ApeTag(const TTagFields& Fields) {
  std::vector<uint8_t> Items;
  for (const auto& [Key, Value] : Fields) {
    PutU32(Items, static_cast<uint32_t>(Value.size()));
    PutU32(Items, 0);
    Items.insert(Items.end(), Key.begin(), Key.end());
    Items.push_back(0);
    Items.insert(Items.end(), Value.begin(), Value.end());
  }
  const auto Size = static_cast<uint32_t>(Items.size() + ApeFooterBytes);
  const auto Count = static_cast<uint32_t>(Fields.size());
  std::vector<uint8_t> Out = TagBlock("APETAGEX", Size, Count, FlagHasHeader | FlagIsHeader);
  Out.insert(Out.end(), Items.begin(), Items.end());
  const std::vector<uint8_t> Footer = TagBlock("APETAGEX", Size, Count, FlagHasHeader);
  Out.insert(Out.end(), Footer.begin(), Footer.end());
  return Out;
}

// ID3v1 holds Latin-1: other characters become '?'.
std::string Latin1(const std::string& Utf8) {
  std::string Out;
  for (size_t i = 0; i < Utf8.size();) {
    const auto Lead = static_cast<uint8_t>(Utf8[i]);
    const size_t Length = Lead < 0x80 ? 1 : Lead >= 0xF0 ? 4 : Lead >= 0xE0 ? 3 : 2;
    if (Length == 2 && Lead >= 0xC2 && Lead <= 0xC3 && i + 1 < Utf8.size())
      Out.push_back(static_cast<char>(((Lead & 0x1F) << 6) | (Utf8[i + 1] & 0x3F)));
    else
      Out.push_back(Length == 1 ? static_cast<char>(Lead) : '?');
    i += Length;
  }
  return Out;
}

std::vector<uint8_t> Id3v1Tag(const TTagFields& Fields) {
  const auto Field = [&](const char* Key) {
    const auto Found = std::find_if(Fields.begin(), Fields.end(),
                                    [&](const auto& F) { return SameKey(F.first, Key); });
    return Found == Fields.end() ? std::string() : Latin1(Found->second);
  };
  std::vector<uint8_t> Out(Id3v1Bytes, 0);
  std::memcpy(Out.data(), "TAG", 3);
  const auto Put = [&](size_t Offset, size_t Size, const std::string& Text) {
    std::memcpy(&Out[Offset], Text.data(), std::min(Size, Text.size()));
  };
  Put(3, 30, Field("Title"));
  Put(33, 30, Field("Artist"));
  Put(63, 30, Field("Album"));
  Put(93, 4, Field("Year"));
  Put(97, 28, Field("Comment"));
  Out[126] = static_cast<uint8_t>(std::atoi(Field("Track").c_str()));
  // Genre names map to numbers through a list this library does not keep; a number is kept.
  const std::string Genre = Field("Genre");
  const int GenreNumber = Genre.empty() ? -1 : std::atoi(Genre.c_str());
  Out[127] = GenreNumber >= 0 && GenreNumber < 255 &&
                     Genre.find_first_not_of("0123456789") == std::string::npos
                 ? static_cast<uint8_t>(GenreNumber)
                 : 255;
  return Out;
}

bool ReadAt(platform::THandle File, int64_t Offset, void* Buffer, size_t Bytes) {
  return platform::FileSeek(File, Offset, platform::TSeekOrigin::Begin) == Offset &&
         platform::FileRead(File, Buffer, Bytes) == static_cast<int64_t>(Bytes);
}

} // namespace

int32_t RewriteTag(const std::string& File, const TTagFields& Fields, bool Clear, bool OldId3) {
  platform::TFileHandle Handle =
      platform::FileOpen(File, platform::TFileAccess::ReadWrite, platform::TFileShare::Exclusive);
  if (!Handle.Valid())
    return MAC_ERROR_INVALID_INPUT_FILE;
  int64_t End = platform::FileSize(Handle.Get());
  if (End < 0)
    return MAC_ERROR_IO_READ;

  // Strip the trailing tags, keeping the fields of the last APEv2 tag in the file.
  TTagFields Existing;
  bool ReadApe = false;
  for (;;) {
    uint8_t Tail[Id3v1Bytes];
    if (End >= static_cast<int64_t>(Id3v1Bytes) &&
        ReadAt(Handle.Get(), End - Id3v1Bytes, Tail, Id3v1Bytes) &&
        std::memcmp(Tail, "TAG", 3) == 0) {
      End -= Id3v1Bytes;
      continue;
    }
    uint8_t Footer[ApeFooterBytes];
    if (End < static_cast<int64_t>(ApeFooterBytes) ||
        !ReadAt(Handle.Get(), End - ApeFooterBytes, Footer, ApeFooterBytes) ||
        std::memcmp(Footer, "APETAGEX", 8) != 0)
      break;
    const uint32_t Size = GetU32(Footer + 12), Count = GetU32(Footer + 16);
    const uint32_t Flags = GetU32(Footer + 20);
    const int64_t Whole = int64_t{Size} + ((Flags & FlagHasHeader) ? ApeFooterBytes : 0);
    if (Size < ApeFooterBytes || Whole > End)
      break;
    if (!ReadApe) {
      std::vector<uint8_t> Body(Size - ApeFooterBytes);
      if (!ReadAt(Handle.Get(), End - Size, Body.data(), Body.size()))
        return MAC_ERROR_IO_READ;
      ParseItems(Body, Count, Existing);
      ReadApe = true;
    }
    End -= Whole;
  }

  if (Clear)
    Existing.clear();
  for (const auto& [Key, Value] : Fields) {
    const auto Found = std::find_if(Existing.begin(), Existing.end(),
                                    [&](const auto& F) { return SameKey(F.first, Key); });
    if (Value.empty()) {
      if (Found != Existing.end())
        Existing.erase(Found);
    } else if (Found != Existing.end()) {
      Found->second = Value;
    } else {
      Existing.emplace_back(Key, Value);
    }
  }

  if (platform::FileSeek(Handle.Get(), End, platform::TSeekOrigin::Begin) != End ||
      !platform::FileSetEnd(Handle.Get()))
    return MAC_ERROR_IO_WRITE;
  if (Existing.empty())
    return MAC_ERROR_SUCCESS;
  const std::vector<uint8_t> Tag = OldId3 ? Id3v1Tag(Existing) : ApeTag(Existing);
  if (platform::FileWrite(Handle.Get(), Tag.data(), Tag.size()) != static_cast<int64_t>(Tag.size()))
    return MAC_ERROR_IO_WRITE;
  return MAC_ERROR_SUCCESS;
}

} // namespace mac
