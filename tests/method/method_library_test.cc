#include <gtest/gtest.h>

#include "platform/method/quarn_method.h"

namespace {

GradTimeTableEntry Step(float time, float percentB) { return GradTimeTableEntry(time, 1.0f, percentB, 0, 0, 400); }

TEST(PumpGradientTest, TableEntryIsNullOutsideTheTableAndContainsEntryMatchesExactTimes) {
  PumpGradient gradient;
  EXPECT_EQ(gradient.TableEntry(0), nullptr);
  gradient.AddEntry(Step(1.5f, 10));
  ASSERT_NE(gradient.TableEntry(0), nullptr);
  EXPECT_EQ(gradient.TableEntry(1), nullptr);
  EXPECT_EQ(gradient.TableEntry(-1), nullptr);
  EXPECT_EQ(gradient.ContainsEntry(1.5f), 1);
  EXPECT_EQ(gradient.ContainsEntry(1.0f), 0);
}

TEST(PumpGradientTest, AFullTableRefusesMoreSteps) {
  PumpGradient gradient;
  for (int i = 0; i < PumpGradient::kMaxEntries; ++i) ASSERT_EQ(gradient.AddEntry(Step(i, 0)), 1);
  EXPECT_EQ(gradient.AddEntry(Step(1000, 0)), 0);
  EXPECT_EQ(gradient.GetCount(), PumpGradient::kMaxEntries);
}

TEST(PumpGradientTest, SortOrdersByTimeAndKeepsEqualTimesInTheirOrder) {
  PumpGradient gradient;
  for (auto [time, b] : {std::pair{5.0f, 1.0f}, {2.0f, 2.0f}, {5.0f, 3.0f}, {0.0f, 4.0f}, {2.0f, 5.0f}}) {
    gradient.AddEntry(Step(time, b));
  }
  gradient.Sort();
  std::vector<float> order;
  for (int i = 0; i < gradient.GetCount(); ++i) order.push_back(gradient.TableEntry(i)->PercentB());
  EXPECT_EQ(order, (std::vector<float>{4, 2, 5, 1, 3}));
}

TEST(PumpGradientTest, AssignmentCopiesTheSteps) {
  PumpGradient original;
  original.AddEntry(Step(1, 10));
  PumpGradient kept;
  kept = original;
  kept.TableEntry(0)->PercentB() = 99;
  kept.Sort();
  EXPECT_FLOAT_EQ(original.TableEntry(0)->PercentB(), 10.0f);
  EXPECT_EQ(kept.GetCount(), 1);
}

TEST(EventTableTest, EntriesAreOrderedByTimeThenOutputsBeforeValves) {
  CEventTable table;
  table.AddEntry(CExternalEvent(2.0f, eventValve1, actionPosition3));
  table.AddEntry(CExternalEvent(1.0f, eventValve2, actionPosition1));
  table.AddEntry(CExternalEvent(2.0f, eventOutput2, actionOn));
  table.AddEntry(CExternalEvent(1.0f, eventOutput1, actionOn));
  std::vector<std::pair<float, int>> order;
  CExternalEvent e;
  for (int i = 0; table.GetTableEntry(i, e); ++i) order.emplace_back(e.Time(), e.Event());
  EXPECT_EQ(order, (std::vector<std::pair<float, int>>{
                       {1.0f, eventOutput1}, {1.0f, eventValve2}, {2.0f, eventOutput2}, {2.0f, eventValve1}}));
  EXPECT_EQ(table.FindTableEntry(2.0f, eventValve1), 3);
  EXPECT_EQ(table.FindTableEntry(2.0f, eventValve2), -1);
}

TEST(EventTableTest, ReadingPastTheEndLeavesTheEventAlone) {
  CEventTable table;
  CExternalEvent e(9.0f, eventValve3, actionPosition6);
  EXPECT_EQ(table.GetTableEntry(0, e), 0);
  EXPECT_EQ(table.GetTableEntry(-1, e), 0);
  EXPECT_EQ(e, CExternalEvent(9.0f, eventValve3, actionPosition6));
}

TEST(EventTableTest, AFullTableRefusesMoreEvents) {
  CEventTable table;
  for (int i = 0; i < CEventTable::kMaxEntries; ++i) {
    ASSERT_EQ(table.AddEntry(CExternalEvent(static_cast<float>(i), eventOutput1, actionOn)), 1);
  }
  EXPECT_EQ(table.AddEntry(CExternalEvent(0.5f, eventOutput2, actionOn)), 0);
  EXPECT_EQ(table.FindTableEntry(0.5f, eventOutput2), -1);
}

TEST(QuarnMethodTest, RunLengthIsTheStopTimeOrElseTheLastTimedThing) {
  QuarnMethod method;
  EXPECT_DOUBLE_EQ(method.GetRunLength(), 0.0);
  method.GetPumpGradient().AddEntry(Step(8.0f, 0));
  method.GetEventTable().AddEntry(CExternalEvent(9.5f, eventOutput1, actionOn));
  EXPECT_DOUBLE_EQ(method.GetRunLength(), 9.5);
  method.GetPumpInitialCons().StopTime() = 12.5f;
  EXPECT_DOUBLE_EQ(method.GetRunLength(), 12.5);
}

TEST(QuarnMethodTest, InitialStatesHaveNamedAccessorsForEachOutputAndValve) {
  InitialEventStates states;
  states.Event4() = actionOn, states.Valve3() = actionPosition2;
  EXPECT_EQ(states.State(eventOutput4), actionOn);
  EXPECT_EQ(states.State(eventValve3), actionPosition2);
  EXPECT_EQ(states.Valve1(), actionOff);
}

}  // namespace
