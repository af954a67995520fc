#include "diag/uUnits.h"

#include <vector>

#include "TestSupport.h"

namespace {

std::vector<Text> gEvents;

// Services of a test registry; each logs its creation and destruction and what it saw.
template <char16_t Name>
class TTestService : public TUnit {
 public:
  static TTestService* Instance;
  int FZeroAtStart;  // a blank instance: zero without any constructor having set it
  Text FEmptyAtStart;
  void OnCreate() override {
    gEvents.push_back(Text(u"create ") + Name + (Instance == this ? u" global-set" : u" global-unset") +
                      (FZeroAtStart == 0 && FEmptyAtStart.empty() ? u" blank" : u" dirty"));
  }
  void OnDestroy() override { gEvents.push_back(Text(u"destroy ") + Name + (Instance == this ? u" global-set" : u"")); }
};
template <char16_t Name>
TTestService<Name>* TTestService<Name>::Instance = nullptr;

using TA = TTestService<u'A'>;
using TB = TTestService<u'B'>;
using TC = TTestService<u'C'>;

class TFailingService : public TUnit {
 public:
  void OnCreate() override { throw Exception(u"cannot start"); }
  void OnDestroy() override { gEvents.push_back(u"destroy F"); }
};
TFailingService* Failing = nullptr;

class UnitsRegistry : public ::testing::Test {
 protected:
  void SetUp() override {
    gEvents.clear();
    TA::Instance = nullptr;
    TB::Instance = nullptr;
    TC::Instance = nullptr;
  }
};

TEST_F(UnitsRegistry, CreatesInDependencyOrderAndDestroysInReverse) {
  {
    TUnits units;
    units.Add<TA>(u"uA", &TA::Instance, {});
    units.Add<TB>(u"uB", &TB::Instance, {u"uA", u"uC"});
    units.Add<TC>(u"uC", &TC::Instance, {u"uA"});
    EXPECT_EQ(TA::Instance, nullptr);  // registering creates nothing
    units.Run();
    EXPECT_EQ(gEvents, (std::vector<Text>{u"create A global-set blank", u"create C global-set blank",
                                          u"create B global-set blank"}));
    ASSERT_EQ(units.UnitsToInitialize.size(), 3u);
    EXPECT_EQ(units.UnitsToInitialize[1]->DebugName, u"uC");
    EXPECT_NE(TB::Instance, nullptr);
    gEvents.clear();
  }
  EXPECT_EQ(gEvents, (std::vector<Text>{u"destroy B global-set", u"destroy C global-set", u"destroy A global-set"}));
  EXPECT_EQ(TA::Instance, nullptr);
  EXPECT_EQ(TB::Instance, nullptr);
  EXPECT_EQ(TC::Instance, nullptr);
}

TEST_F(UnitsRegistry, ReadyRegistrationsKeepRegistrationOrder) {
  TUnits units;
  units.Add<TA>(u"uA", &TA::Instance, {});
  units.Add<TB>(u"uB", &TB::Instance, {});
  units.Add<TC>(u"uC", &TC::Instance, {});
  units.Run();
  EXPECT_EQ(gEvents, (std::vector<Text>{u"create A global-set blank", u"create B global-set blank",
                                        u"create C global-set blank"}));
  units.Shutdown();
  EXPECT_EQ(TA::Instance, nullptr);
  EXPECT_TRUE(units.UnitsToInitialize.empty());
}

TEST_F(UnitsRegistry, TheServicesOfTheFrameworkComeUpInTheirOrder) {
  // Lock controller, debug facility (needs both others), job pool (needs the lock controller).
  TUnits units;
  units.Add<TA>(u"uThreadSync", &TA::Instance, {});
  units.Add<TB>(u"uDebug", &TB::Instance, {u"uThreadSync", u"uJobPool"});
  units.Add<TC>(u"uJobPool", &TC::Instance, {u"uThreadSync"});
  ASSERT_TRUE(units.SortUnitsByDependencies());
  std::vector<Text> order;
  for (const auto& u : units.UnitsToInitialize) order.push_back(u->DebugName);
  EXPECT_EQ(order, (std::vector<Text>{u"uThreadSync", u"uJobPool", u"uDebug"}));
}

TEST_F(UnitsRegistry, UnmetNeedsAreACircularDependencyAndCreateNothing) {
  struct Case {
    const char* what;
    std::vector<Text> needsOfB;
  } cases[] = {
      {"needs itself", {u"uB"}},
      {"needs a module nobody registered", {u"uNobody"}},
      {"need in other letter case", {u"UA"}},
      {"a real cycle", {u"uC"}},
  };
  for (const Case& c : cases) {
    gEvents.clear();
    TUnits units;
    units.Add<TA>(u"uA", &TA::Instance, {});
    units.Add<TB>(u"uB", &TB::Instance, c.needsOfB);
    units.Add<TC>(u"uC", &TC::Instance, {u"uB"});
    try {
      units.Run();
      ADD_FAILURE() << c.what << ": no exception";
    } catch (const Exception& e) {
      EXPECT_EQ(e.Message(), u"Circular dependency") << c.what;
    }
    EXPECT_TRUE(gEvents.empty()) << c.what;
    EXPECT_EQ(TA::Instance, nullptr) << c.what;
    EXPECT_EQ(units.UnitsToInitialize.size(), 3u) << c.what;  // no registration is lost
  }
}

TEST_F(UnitsRegistry, AFailingOnCreateLeavesTheEarlierServicesForShutdown) {
  {
    TUnits units;
    units.Add<TA>(u"uA", &TA::Instance, {});
    units.Add<TFailingService>(u"uF", &Failing, {u"uA"});
    units.Add<TC>(u"uC", &TC::Instance, {u"uF"});
    EXPECT_THROW(units.Run(), Exception);
    EXPECT_NE(TA::Instance, nullptr);
    EXPECT_EQ(TC::Instance, nullptr);
    gEvents.clear();
  }
  EXPECT_EQ(gEvents, (std::vector<Text>{u"destroy F", u"destroy A global-set"}));
  EXPECT_EQ(Failing, nullptr);
  EXPECT_EQ(TA::Instance, nullptr);
}

TEST_F(UnitsRegistry, RunsOnlyOnce) {
  TUnits units;
  units.Add<TA>(u"uA", &TA::Instance, {});
  units.Run();
  TA* first = TA::Instance;
  try {
    units.Run();
    ADD_FAILURE() << "second Run accepted";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), u"Units already run");
  }
  EXPECT_EQ(TA::Instance, first);
  EXPECT_EQ(gEvents.size(), 1u);
}

TEST_F(UnitsRegistry, ShutdownWithoutRunOnlyReleasesTheRegistrations) {
  {
    TUnits units;
    units.Add<TA>(u"uA", &TA::Instance, {});
  }
  EXPECT_TRUE(gEvents.empty());
}

}  // namespace
