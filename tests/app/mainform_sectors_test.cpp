// A disc with sectors that cannot be read, in every format: the ripping library is a stand-in
// (UnreadableCDRip) that fails the reads of the sectors named in TAVRUNE_UNREADABLE_SECTORS. The
// track that holds them fails with the reason, keeps its bar and leaves no file; the tracks
// around it are ripped whole.
#include "tests/app/RipWindow.h"

#include "tests/app/TrackChecks.h"
#include "tests/support/ScopedEnv.h"

#include <QTest>

#include <tuple>

namespace {

// Track 2 is eight chunks of 75 sectors long.
[[maybe_unused]] const TRipEnvironment* const Registered = AddRipEnvironment(
    {{false, 150, 0, "chord 1"}, {false, 600, 0, "chord 2"}, {false, 150, 0, "chord 3"}});

struct UnreadableCase {
  const char* Name;
  // The unreadable sectors, counted from track 2's start, both included.
  uint32_t First;
  uint32_t Last;
};

const UnreadableCase UnreadableCases[] = {
    // The track fails before any of its bytes reaches the file.
    {"InTheFirstChunk", 10, 10},
    // Four chunks are in the file when the fifth fails.
    {"InTheMiddle", 300, 340},
    // Everything but the end has been read.
    {"TheLastSector", 599, 599},
};

std::string UnreadableSectors(const UnreadableCase& Case) {
  const uint32_t Start = Environment->Disc.Starts[1];
  return std::to_string(Start + Case.First) + "-" + std::to_string(Start + Case.Last);
}

class UnreadableSectorsTest
    : public TRipWindowTest,
      public ::testing::WithParamInterface<std::tuple<TFormatCase, UnreadableCase>> {
protected:
  UnreadableSectorsTest() : TRipWindowTest(Format().Format) {}

  void SetUp() override {
    TRipWindowTest::SetUp();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(Form1.get()));
  }

  static const TFormatCase& Format() { return std::get<0>(GetParam()); }

  // The process loads the ripping library once, with the first window.
  const TScopedEnv Library{"TAVRUNE_LIBRARY_PATH", TAVRUNE_UNREADABLE_DIR};
  const TScopedEnv Sectors{"TAVRUNE_UNREADABLE_SECTORS",
                           UnreadableSectors(std::get<1>(GetParam())).c_str()};
};

TEST_P(UnreadableSectorsTest, TheTrackFailsWithTheReasonLeavesNoFileAndTheOthersAreRipped) {
  TickOnly({1, 2, 3});
  RipAndWait();

  EXPECT_NE(Grid().Cells(5, 2), "completed");
  EXPECT_EQ(Grid().CellHint(5, 2), "The disc could not be read");
  EXPECT_TRUE(ShowsABar(5, 2));

  EXPECT_EQ(BatchFiles(), (std::vector<std::string>{Grid().Cells(2, 1) + Format().Extension,
                                                    Grid().Cells(2, 3) + Format().Extension}));

  for (int Row : {1, 3}) {
    SCOPED_TRACE(Row);
    EXPECT_EQ(Grid().Cells(5, Row), "completed");
    EXPECT_EQ(Grid().CellHint(5, Row), "");
    EXPECT_FALSE(ShowsABar(5, Row));
    Format().Check(TrackFile(Row, Format().Extension), Row);
  }
  EXPECT_TRUE(Grid().DblClickEnabled());
}

INSTANTIATE_TEST_SUITE_P(EveryFormat, UnreadableSectorsTest,
                         ::testing::Combine(::testing::ValuesIn(FormatCases),
                                            ::testing::ValuesIn(UnreadableCases)),
                         [](const auto& Info) {
                           return std::string(std::get<0>(Info.param).Format) + "_" +
                                  std::get<1>(Info.param).Name;
                         });

} // namespace
