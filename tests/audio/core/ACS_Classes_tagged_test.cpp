// TAuTaggedFileOut: its own tag objects, which assignment fills with copies of the values.
#include "audio/core/ACS_Classes.h"

#include <gtest/gtest.h>

namespace {

// A writer that publishes all three tag objects, as each real writer publishes one.
class TTaggedWriter : public TAuTaggedFileOut {
public:
  using TAuTaggedFileOut::APEv2Tags;
  using TAuTaggedFileOut::Id3v1Tags;
  using TAuTaggedFileOut::Id3v2Tags;
  using TAuTaggedFileOut::SetAPEv2Tags;
  using TAuTaggedFileOut::SetId3v1Tags;
  using TAuTaggedFileOut::SetId3v2Tags;
  using TAuTaggedFileOut::TAuTaggedFileOut;

protected:
  void Prepare() override {}
  bool DoOutput(bool) override { return false; }
  void Done() override {}
};

TEST(TaggedFileOut, ANewWriterHoldsTheKindsInitialValues) {
  TComponentPtr<TTaggedWriter> Writer(new TTaggedWriter(nullptr));
  EXPECT_EQ(Writer->Id3v1Tags()->GenreId(), 12);
  EXPECT_EQ(Writer->Id3v1Tags()->Title(), "");
  EXPECT_EQ(Writer->Id3v2Tags()->Title(), u"");
  EXPECT_EQ(Writer->APEv2Tags()->Title(), u"");
  EXPECT_TRUE(Writer->APEv2Tags()->IsBlank());
}

TEST(TaggedFileOut, AssigningCopiesTheValuesAndKeepsTheWritersObject) {
  TComponentPtr<TTaggedWriter> Writer(new TTaggedWriter(nullptr));
  TId3v1Tags* Own = Writer->Id3v1Tags();
  TId3v1Tags V1;
  V1.SetTitle("First");
  Writer->SetId3v1Tags(V1);
  V1.SetTitle("Changed later");
  EXPECT_EQ(Writer->Id3v1Tags(), Own);
  EXPECT_EQ(Writer->Id3v1Tags()->Title(), "First");

  TId3v2Tags V2;
  V2.SetTitle(u"Two");
  Writer->SetId3v2Tags(V2);
  V2.SetTitle(u"Changed later");
  EXPECT_EQ(Writer->Id3v2Tags()->Title(), u"Two");

  TAPEv2Tags Ape;
  Ape.SetTitle(u"Three");
  Writer->SetAPEv2Tags(Ape);
  Ape.SetTitle(u"Changed later");
  EXPECT_EQ(Writer->APEv2Tags()->Title(), u"Three");
}

} // namespace
