#include "runtime/Rounding.h"

#include <gtest/gtest.h>

#include <cfenv>

namespace {

// Sets the floating-point rounding mode for a scope and puts the old one back.
class TRoundingMode {
public:
  explicit TRoundingMode(int Mode) { std::fesetround(Mode); }
  ~TRoundingMode() { std::fesetround(FSaved); }
  TRoundingMode(const TRoundingMode&) = delete;
  TRoundingMode& operator=(const TRoundingMode&) = delete;

private:
  int FSaved = std::fegetround();
};

struct TRoundingCase {
  long double Value;
  int64_t Expected;
};

void PrintTo(const TRoundingCase& Case, std::ostream* Out) {
  *Out << Case.Value << " -> " << Case.Expected;
}

class RoundHalfEvenTest : public testing::TestWithParam<TRoundingCase> {};

TEST_P(RoundHalfEvenTest, RoundsToNearestAndTiesToEven) {
  EXPECT_EQ(RoundHalfEven(GetParam().Value), GetParam().Expected);
}

TEST_P(RoundHalfEvenTest, IgnoresTheRoundingMode) {
  for (const int Mode : {FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
    const TRoundingMode Scope(Mode);
    ASSERT_EQ(std::fegetround(), Mode);
    EXPECT_EQ(RoundHalfEven(GetParam().Value), GetParam().Expected) << "mode " << Mode;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Rounding, RoundHalfEvenTest,
    testing::Values(TRoundingCase{12.5L, 12}, TRoundingCase{37.5L, 38}, TRoundingCase{0.5L, 0},
                    TRoundingCase{1.5L, 2}, TRoundingCase{2.5L, 2}, TRoundingCase{-0.5L, 0},
                    TRoundingCase{-1.5L, -2}, TRoundingCase{-2.5L, -2}, TRoundingCase{2.4999L, 2},
                    TRoundingCase{2.5001L, 3}, TRoundingCase{-2.4999L, -2},
                    TRoundingCase{-2.5001L, -3}, TRoundingCase{0.0L, 0}, TRoundingCase{-0.0L, 0},
                    TRoundingCase{0.3L, 0}, TRoundingCase{-0.3L, 0}, TRoundingCase{-0.7L, -1},
                    TRoundingCase{99.0L, 99}, TRoundingCase{4503599627370496.5L, 4503599627370496},
                    TRoundingCase{4503599627370497.5L, 4503599627370498},
                    TRoundingCase{-9007199254740993.5L, -9007199254740994},
                    TRoundingCase{1e18L, 1000000000000000000}));

TEST(Rounding, PercentagesOfATrackRoundTiesToEven) {
  struct TCase {
    long double Position;
    long double Size;
    int64_t Percent;
  };
  const TCase Cases[] = {{100, 800, 12}, {300, 800, 38}, {500, 800, 62},
                         {700, 800, 88}, {1, 3, 33},     {2, 3, 67}};
  for (const TCase& Case : Cases)
    EXPECT_EQ(RoundHalfEven((Case.Position / Case.Size) * 100), Case.Percent)
        << Case.Position << " of " << Case.Size;
}

} // namespace
