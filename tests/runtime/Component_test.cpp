#include "runtime/Component.h"

#include "runtime/Exception.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Records the removals it is told about, and its own destruction.
class TWatcher : public TComponent {
public:
  TWatcher(TComponent* AOwner, std::vector<std::string>& Log, std::string Name)
      : TComponent(AOwner), FLog(Log) {
    SetName(std::move(Name));
  }
  ~TWatcher() override { FLog.push_back(Name() + " destroyed"); }

protected:
  void Notification(TComponent* AComponent, TOperation Operation) override {
    if (Operation == opRemove)
      FLog.push_back(Name() + " told of " + AComponent->Name());
    TComponent::Notification(AComponent, Operation);
  }

private:
  std::vector<std::string>& FLog;
};

TEST(ComponentTest, AnOwnerDestroysWhatItOwnsAndSiblingsAreTold) {
  std::vector<std::string> Log;
  {
    TComponentPtr<TWatcher> Owner(new TWatcher(nullptr, Log, "form"));
    new TWatcher(Owner.get(), Log, "input");
    new TWatcher(Owner.get(), Log, "output");
    EXPECT_EQ(Owner->ComponentCount(), 2);
    EXPECT_EQ(Owner->Components(0)->Name(), "input");
  }
  // The last child goes first; the others hear of each removal while still whole.
  std::vector<std::string> Expected = {"form told of output", "input told of output",
                                       "output destroyed",    "form told of input",
                                       "input destroyed",     "form destroyed"};
  EXPECT_EQ(Log, Expected);
}

TEST(ComponentTest, FreeTellsTheOthersBeforeAnyPartIsGone) {
  std::vector<std::string> Log;
  TComponentPtr<TWatcher> Owner(new TWatcher(nullptr, Log, "form"));
  TWatcher* Input = new TWatcher(Owner.get(), Log, "input");
  new TWatcher(Owner.get(), Log, "output");
  Input->Free();
  std::vector<std::string> Expected = {"form told of input", "output told of input",
                                       "input destroyed"};
  EXPECT_EQ(Log, Expected);
  EXPECT_EQ(Owner->ComponentCount(), 1);
}

TEST(ComponentTest, FreeNotificationReachesAComponentOfAnotherOwnerBothWays) {
  std::vector<std::string> Log;
  TComponentPtr<TWatcher> A(new TWatcher(nullptr, Log, "a"));
  TComponentPtr<TWatcher> B(new TWatcher(nullptr, Log, "b"));
  TComponentPtr<TWatcher> C(new TWatcher(nullptr, Log, "c"));
  A->FreeNotification(B.get());
  A->FreeNotification(C.get());
  A->FreeNotification(C.get());
  // b asked first and goes first: a must forget it, or a's removal would reach a freed b.
  B.reset();
  A.reset();
  std::vector<std::string> Expected = {"a told of b", "b destroyed", "c told of a", "a destroyed"};
  EXPECT_EQ(Log, Expected);
}

TEST(ComponentTest, RemovedFreeNotificationTellsNothing) {
  std::vector<std::string> Log;
  TComponentPtr<TWatcher> A(new TWatcher(nullptr, Log, "a"));
  TComponentPtr<TWatcher> B(new TWatcher(nullptr, Log, "b"));
  A->FreeNotification(B.get());
  A->RemoveFreeNotification(B.get());
  A.reset();
  EXPECT_EQ(Log, std::vector<std::string>{"a destroyed"});
}

class TPoint : public TPersistent {
public:
  int X = 0;
  void Assign(const TPersistent* Source) override {
    if (auto* Point = dynamic_cast<const TPoint*>(Source)) {
      X = Point->X;
      return;
    }
    TPersistent::Assign(Source);
  }
};

class TOther : public TPersistent {};

// Knows how to copy itself into a TPoint, which does not know it.
class TSource : public TPersistent {
public:
  void AssignTo(TPersistent* Dest) const override {
    if (auto* Point = dynamic_cast<TPoint*>(Dest)) {
      Point->X = 42;
      return;
    }
    TPersistent::AssignTo(Dest);
  }
};

TEST(PersistentTest, AssignCopiesKnownKindsAndAsksTheSourceOtherwise) {
  TPoint A, B;
  B.X = 7;
  A.Assign(&B);
  EXPECT_EQ(A.X, 7);
  TSource S;
  A.Assign(&S);
  EXPECT_EQ(A.X, 42);
}

TEST(PersistentTest, AssignBetweenStrangersNamesBothClasses) {
  struct Case {
    const TPersistent* Source;
    const char* Message;
  };
  TPoint Point;
  TOther Other;
  for (Case C : {Case{&Other, "Cannot assign a TOther to a TPoint"},
                 Case{nullptr, "Cannot assign a nil to a TPoint"}}) {
    try {
      Point.Assign(C.Source);
      FAIL() << C.Message;
    } catch (const EConvertError& E) {
      EXPECT_STREQ(E.what(), C.Message);
    }
  }
  try {
    Other.Assign(&Point);
    FAIL();
  } catch (const EConvertError& E) {
    EXPECT_STREQ(E.what(), "Cannot assign a TPoint to a TOther");
  }
  EXPECT_EQ(Point.ClassName(), "TPoint");
}

} // namespace
