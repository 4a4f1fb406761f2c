#include "runtime/Text.h"

namespace {

// A byte that is not part of well-formed UTF-8 travels as this plus the byte.
constexpr char16_t EscapeBase = 0xDC00;
constexpr char16_t FirstEscape = 0xDC80;
constexpr char16_t LastEscape = 0xDCFF;
constexpr char32_t ReplacementCharacter = 0xFFFD;

bool IsHighSurrogate(char32_t Unit) {
  return Unit >= 0xD800 && Unit <= 0xDBFF;
}
bool IsLowSurrogate(char32_t Unit) {
  return Unit >= 0xDC00 && Unit <= 0xDFFF;
}

unsigned char ByteAt(std::string_view Text, size_t Index) {
  return static_cast<unsigned char>(Text[Index]);
}

// The length of the well-formed sequence that starts Text, or 0 when there is none. The range
// of the second byte is what shuts out overlong forms, surrogates and values above U+10FFFF.
size_t SequenceLength(std::string_view Text) {
  const unsigned char Lead = ByteAt(Text, 0);
  if (Lead < 0x80)
    return 1;
  size_t Length = 0;
  unsigned char Low = 0x80;
  unsigned char High = 0xBF;
  if (Lead >= 0xC2 && Lead <= 0xDF) {
    Length = 2;
  } else if (Lead >= 0xE0 && Lead <= 0xEF) {
    Length = 3;
    if (Lead == 0xE0)
      Low = 0xA0;
    if (Lead == 0xED)
      High = 0x9F;
  } else if (Lead >= 0xF0 && Lead <= 0xF4) {
    Length = 4;
    if (Lead == 0xF0)
      Low = 0x90;
    if (Lead == 0xF4)
      High = 0x8F;
  } else {
    return 0;
  }
  if (Text.size() < Length || ByteAt(Text, 1) < Low || ByteAt(Text, 1) > High)
    return 0;
  for (size_t I = 2; I < Length; ++I)
    if ((ByteAt(Text, I) & 0xC0) != 0x80)
      return 0;
  return Length;
}

char32_t DecodeSequence(std::string_view Sequence) {
  if (Sequence.size() == 1)
    return ByteAt(Sequence, 0);
  char32_t CodePoint = ByteAt(Sequence, 0) & (0x7F >> Sequence.size());
  for (size_t I = 1; I < Sequence.size(); ++I)
    CodePoint = (CodePoint << 6) | (ByteAt(Sequence, I) & 0x3F);
  return CodePoint;
}

void AppendUtf16(std::u16string& Result, char32_t CodePoint) {
  if (CodePoint < 0x10000) {
    Result += static_cast<char16_t>(CodePoint);
    return;
  }
  CodePoint -= 0x10000;
  Result += static_cast<char16_t>(0xD800 + (CodePoint >> 10));
  Result += static_cast<char16_t>(0xDC00 + (CodePoint & 0x3FF));
}

void AppendUtf8(std::string& Result, char32_t CodePoint) {
  const auto Append = [&](char32_t Byte) { Result += static_cast<char>(Byte); };
  if (CodePoint < 0x80) {
    Append(CodePoint);
  } else if (CodePoint < 0x800) {
    Append(0xC0 | (CodePoint >> 6));
    Append(0x80 | (CodePoint & 0x3F));
  } else if (CodePoint < 0x10000) {
    Append(0xE0 | (CodePoint >> 12));
    Append(0x80 | ((CodePoint >> 6) & 0x3F));
    Append(0x80 | (CodePoint & 0x3F));
  } else {
    Append(0xF0 | (CodePoint >> 18));
    Append(0x80 | ((CodePoint >> 12) & 0x3F));
    Append(0x80 | ((CodePoint >> 6) & 0x3F));
    Append(0x80 | (CodePoint & 0x3F));
  }
}

} // namespace

std::u16string Utf8ToUtf16(std::string_view Text) {
  std::u16string Result;
  Result.reserve(Text.size());
  while (!Text.empty()) {
    const size_t Length = SequenceLength(Text);
    if (Length == 0) {
      // Only the lead byte is escaped; whatever follows gets its own chance to start a sequence.
      Result += static_cast<char16_t>(EscapeBase + ByteAt(Text, 0));
      Text.remove_prefix(1);
      continue;
    }
    AppendUtf16(Result, DecodeSequence(Text.substr(0, Length)));
    Text.remove_prefix(Length);
  }
  return Result;
}

std::string Utf16ToUtf8(std::u16string_view Text) {
  std::string Result;
  Result.reserve(Text.size());
  for (size_t I = 0; I < Text.size(); ++I) {
    const char32_t Unit = Text[I];
    if (IsHighSurrogate(Unit) && I + 1 < Text.size() && IsLowSurrogate(Text[I + 1])) {
      AppendUtf8(Result, 0x10000 + ((Unit - 0xD800) << 10) + (Text[I + 1] - 0xDC00));
      ++I;
    } else if (Unit >= FirstEscape && Unit <= LastEscape) {
      Result += static_cast<char>(Unit - EscapeBase);
    } else if (IsHighSurrogate(Unit) || IsLowSurrogate(Unit)) {
      AppendUtf8(Result, ReplacementCharacter);
    } else {
      AppendUtf8(Result, Unit);
    }
  }
  return Result;
}

std::string Utf8Prefix(std::string_view Text, size_t MaxBytes) {
  if (Text.size() <= MaxBytes)
    return std::string(Text);
  size_t Length = MaxBytes;
  while (Length > 0 && (static_cast<unsigned char>(Text[Length]) & 0xC0) == 0x80)
    --Length;
  return std::string(Text.substr(0, Length));
}
