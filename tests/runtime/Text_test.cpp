#include "runtime/Text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>

using namespace std::literals;

namespace {

// Every surrogate in the wide text is either half of a proper pair or a byte escape.
bool OnlyPairsAndEscapes(std::u16string_view Text) {
  for (size_t I = 0; I < Text.size(); ++I) {
    const char16_t Unit = Text[I];
    if (Unit >= 0xD800 && Unit <= 0xDBFF) {
      if (I + 1 == Text.size() || Text[I + 1] < 0xDC00 || Text[I + 1] > 0xDFFF)
        return false;
      ++I;
    } else if (Unit >= 0xDC00 && Unit <= 0xDFFF && (Unit < 0xDC80 || Unit > 0xDCFF)) {
      return false;
    }
  }
  return true;
}

struct TEncodingCase {
  const char* Name;
  std::string_view Utf8;
  std::u16string_view Utf16;
};

void PrintTo(const TEncodingCase& Case, std::ostream* Out) {
  *Out << Case.Name;
}

class EncodingTest : public testing::TestWithParam<TEncodingCase> {};

TEST_P(EncodingTest, DecodesToKnownUnits) {
  EXPECT_EQ(Utf8ToUtf16(GetParam().Utf8), GetParam().Utf16);
}

TEST_P(EncodingTest, EncodesBackToTheSameBytes) {
  EXPECT_EQ(Utf16ToUtf8(GetParam().Utf16), GetParam().Utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Text, EncodingTest,
    testing::Values(
        TEncodingCase{"Empty", ""sv, u""sv}, TEncodingCase{"Ascii", "CD-ROM"sv, u"CD-ROM"sv},
        TEncodingCase{"EmbeddedNul", "a\0b"sv, u"a\0b"sv},
        TEncodingCase{"TwoBytes", "\xC3\xA9"sv, u"\u00E9"sv},
        TEncodingCase{"SmallestTwoBytes", "\xC2\x80"sv, u"\u0080"sv},
        TEncodingCase{"SmallestThreeBytes", "\xE0\xA0\x80"sv, u"\u0800"sv},
        TEncodingCase{"ThreeBytes", "\xE2\x82\xAC"sv, u"\u20AC"sv},
        TEncodingCase{"JustBelowSurrogates", "\xED\x9F\xBF"sv, u"\uD7FF"sv},
        TEncodingCase{"JustAboveSurrogates", "\xEE\x80\x80"sv, u"\uE000"sv},
        TEncodingCase{"LargestThreeBytes", "\xEF\xBF\xBF"sv, u"\uFFFF"sv},
        TEncodingCase{"SmallestFourBytes", "\xF0\x90\x80\x80"sv, u"\xD800\xDC00"sv},
        TEncodingCase{"FourBytes", "\xF0\x9D\x84\x9E"sv, u"\xD834\xDD1E"sv},
        TEncodingCase{"LargestCodePoint", "\xF4\x8F\xBF\xBF"sv, u"\xDBFF\xDFFF"sv},
        TEncodingCase{"Latin1Byte", "caf\xE9"sv, u"caf\xDCE9"sv},
        TEncodingCase{"LoneContinuationBytes", "\x80\xBF"sv, u"\xDC80\xDCBF"sv},
        TEncodingCase{"OverlongSlash", "\xC0\xAF"sv, u"\xDCC0\xDCAF"sv},
        TEncodingCase{"OverlongThreeBytes", "\xE0\x80\xAF"sv, u"\xDCE0\xDC80\xDCAF"sv},
        TEncodingCase{"OverlongFourBytes", "\xF0\x8F\xBF\xBF"sv, u"\xDCF0\xDC8F\xDCBF\xDCBF"sv},
        TEncodingCase{"CesuHighSurrogate", "\xED\xA0\x80"sv, u"\xDCED\xDCA0\xDC80"sv},
        // U+DC80 itself written as UTF-8 must not pass for the escape of byte 0x80.
        TEncodingCase{"EncodedEscapeCodePoint", "\xED\xB2\x80"sv, u"\xDCED\xDCB2\xDC80"sv},
        TEncodingCase{"AboveLargestCodePoint", "\xF4\x90\x80\x80"sv, u"\xDCF4\xDC90\xDC80\xDC80"sv},
        TEncodingCase{"InvalidLeadBytes", "\xF5\xFE\xFF"sv, u"\xDCF5\xDCFE\xDCFF"sv},
        TEncodingCase{"TruncatedTail", "ab\xE2\x82"sv, u"ab\xDCE2\xDC82"sv},
        TEncodingCase{"TruncatedBeforeAscii", "\xF0\x9F\x98z"sv, u"\xDCF0\xDC9F\xDC98z"sv},
        TEncodingCase{"TruncatedBeforeValid", "\xE2\xC3\xA9"sv, u"\xDCE2\u00E9"sv}),
    [](const auto& Info) { return std::string(Info.param.Name); });

struct TWideOnlyCase {
  const char* Name;
  std::u16string_view Utf16;
  std::string_view Utf8;
};

void PrintTo(const TWideOnlyCase& Case, std::ostream* Out) {
  *Out << Case.Name;
}

class LoneSurrogateTest : public testing::TestWithParam<TWideOnlyCase> {};

TEST_P(LoneSurrogateTest, EncodesAsByteOrReplacement) {
  EXPECT_EQ(Utf16ToUtf8(GetParam().Utf16), GetParam().Utf8);
}

INSTANTIATE_TEST_SUITE_P(
    Text, LoneSurrogateTest,
    testing::Values(TWideOnlyCase{"LoneHigh", u"\xD800"sv, "\xEF\xBF\xBD"sv},
                    TWideOnlyCase{"HighBeforeAscii", u"\xDBFFz"sv, "\xEF\xBF\xBDz"sv},
                    TWideOnlyCase{"LowBelowEscapes", u"\xDC7F"sv, "\xEF\xBF\xBD"sv},
                    TWideOnlyCase{"LowAboveEscapes", u"\xDD00\xDFFF"sv,
                                  "\xEF\xBF\xBD\xEF\xBF\xBD"sv},
                    TWideOnlyCase{"ReversedPair", u"\xDD1E\xD834"sv, "\xEF\xBF\xBD\xEF\xBF\xBD"sv},
                    TWideOnlyCase{"EscapeBounds", u"\xDC80\xDCFF"sv, "\x80\xFF"sv}),
    [](const auto& Info) { return std::string(Info.param.Name); });

TEST(Text, ScriptsAndEmojiSurviveTheRoundTripWithoutEscapes) {
  const std::string_view Texts[] = {
      "Grüße aus Köln",
      "Ελληνικά",
      "Русский текст",
      "עברית",
      "العربية",
      "हिन्दी",
      "ภาษาไทย",
      "日本語のテキスト",
      "한국어",
      "中文歌曲名",
      "🎵🎶",
      "👩‍👩‍👧‍👦 family",
      "🇩🇪🇯🇵 flags",
      "e\u0301 combining",
      "\u00A0nbsp",
      "\uFEFFbom",
      "\U0010FFFF edge",
  };
  for (const std::string_view Text : Texts) {
    const std::u16string Wide = Utf8ToUtf16(Text);
    for (const char16_t Unit : Wide)
      EXPECT_FALSE(Unit >= 0xDC80 && Unit <= 0xDCFF) << Text;
    EXPECT_TRUE(OnlyPairsAndEscapes(Wide)) << Text;
    EXPECT_EQ(Utf16ToUtf8(Wide), Text);
  }
}

TEST(Text, RandomBytesSurviveTheRoundTrip) {
  // Valid sequences, pieces of them and arbitrary bytes, so that they meet in every order.
  const std::string_view Pieces[] = {
      "a",
      "\xC3\xA9",
      "\xE2\x82\xAC",
      "\xF0\x9F\x8E\xB5",
      "\xED\x9F\xBF",
      "\xEE\x80\x80",
      "\xF4\x8F\xBF\xBF",
      "\xED\xB2\x80",
      "\xED\xA0\x80",
      "\xC0\x80",
  };
  std::mt19937 Random(20240611);
  std::uniform_int_distribution<size_t> Length(0, 24);
  std::uniform_int_distribution<size_t> Piece(0, std::size(Pieces) - 1);
  std::uniform_int_distribution<int> Byte(0, 255);
  for (int Round = 0; Round < 20000; ++Round) {
    std::string Text;
    for (size_t I = Length(Random); I > 0; --I) {
      const std::string_view Chosen = Pieces[Piece(Random)];
      switch (Random() % 3) {
      case 0:
        Text += Chosen;
        break;
      case 1:
        Text += Chosen.substr(0, Random() % Chosen.size());
        break;
      default:
        Text += static_cast<char>(Byte(Random));
      }
    }
    const std::u16string Wide = Utf8ToUtf16(Text);
    ASSERT_TRUE(OnlyPairsAndEscapes(Wide)) << testing::PrintToString(Text);
    ASSERT_EQ(Utf16ToUtf8(Wide), Text);
  }
}

} // namespace
