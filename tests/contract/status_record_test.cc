#include "contract/inlet_system_status.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>

#include "tests/support/golden.h"
#include "tests/support/status_text.h"

namespace {

// Each text setter, with its getter.
struct TextField {
  const char* name;
  void (CInletSystemStatus::*set)(const CString&);
  CString (CInletSystemStatus::*get)() const;
};

class StatusTextTest : public ::testing::TestWithParam<TextField> {};

TEST_P(StatusTextTest, KeepsAtMost511BytesAndEmptyClears) {
  const TextField f = GetParam();
  CInletSystemStatus s;
  (s.*f.set)(CString(std::string(511, 'x').c_str()));
  EXPECT_EQ((s.*f.get)().GetLength(), 511);

  (s.*f.set)(CString((std::string(511, 'y') + "TAIL").c_str()));
  EXPECT_EQ((s.*f.get)(), CString(std::string(511, 'y').c_str()));

  (s.*f.set)(CString(std::string(512, 'z').c_str()));
  EXPECT_EQ((s.*f.get)().GetLength(), 511);

  (s.*f.set)(CString(""));
  EXPECT_TRUE((s.*f.get)().IsEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    AllTexts, StatusTextTest,
    ::testing::Values(TextField{"NotReady", &CInletSystemStatus::SetNotReadyInfo, &CInletSystemStatus::GetNotReadyInfo},
                      TextField{"Error", &CInletSystemStatus::SetErrorInfo, &CInletSystemStatus::GetErrorInfo},
                      TextField{"Status", &CInletSystemStatus::SetStatusInfo, &CInletSystemStatus::GetStatusInfo},
                      TextField{"Stop", &CInletSystemStatus::SetStopText, &CInletSystemStatus::GetStopText}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

// Bytes after a text's NUL do not matter; copies are whole; a NaN reading
// never compares equal, not even to its own copy.
TEST(StatusRecordTest, EqualityCopiesAndNan) {
  CInletSystemStatus a, b;
  a.SetErrorInfo("a long error text that fills more bytes");
  a.SetErrorInfo("short");
  b.SetErrorInfo("short");
  EXPECT_EQ(a == b, 1);
  CInletSystemStatus s;
  s.GetRunning() = 1, s.GetTemperatureRight() = 41.5f;
  s.SetStopText("stopped");
  CInletSystemStatus copy(s), assigned;
  assigned = s;
  EXPECT_EQ(copy == s, 1);
  EXPECT_EQ(assigned == s, 1);
  CInletSystemStatus& self = s;
  s = self;
  EXPECT_EQ(s == copy, 1);
  a.GetFlow() = std::nanf("");
  const CInletSystemStatus nanCopy(a);
  EXPECT_EQ(a == nanCopy, 0);
}

// One field changed at a time: every field takes part in the comparison.
struct FieldChange {
  const char* name;
  std::function<void(CInletSystemStatus&)> change;
};

class StatusEqualityTest : public ::testing::TestWithParam<FieldChange> {};

TEST_P(StatusEqualityTest, AnyDifferenceMakesRecordsUnequal) {
  CInletSystemStatus a, b;
  GetParam().change(b);
  EXPECT_EQ(a == b, 0);
  EXPECT_EQ(b == a, 0);
}

float Next(float v) { return std::nextafter(v, 1e9f); }

// A change named for the field it makes.
#define CHANGE(name, change) FieldChange{#name, [](auto& s) { change; }}

INSTANTIATE_TEST_SUITE_P(
    EveryField, StatusEqualityTest,
    ::testing::Values(
        CHANGE(Running, s.GetRunning() = 1), CHANGE(PostRunning, s.GetPostRunning() = 1),
        CHANGE(NotReady, s.GetNotReady() = 1), CHANGE(Error, s.GetError() = -1), CHANGE(Time, s.GetTime() = Next(0.0f)),
        CHANGE(StatusText, s.SetStatusInfo("x")), CHANGE(NotReadyText, s.SetNotReadyInfo("x")),
        CHANGE(ErrorText, s.SetErrorInfo("x")), CHANGE(StopText, s.SetStopText("x")),
        CHANGE(TextCase, s.SetStopText("X")), CHANGE(Injecting, s.GetInjecting() = 1),
        CHANGE(WashOn, s.GetWashOn() = 1), CHANGE(Lamp, s.GetLamp() = 1), CHANGE(DadScan, s.GetDadScan() = 2),
        CHANGE(DadAcquiring, s.DADAcquiring() = 1), CHANGE(PumpOn, s.GetPumpOn() = 1),
        CHANGE(PercentA, s.GetPercentA() = Next(100.0f)), CHANGE(PercentB, s.GetPercentB() = Next(0.0f)),
        CHANGE(PercentC, s.GetPercentC() = 1), CHANGE(PercentD, s.GetPercentD() = 1),
        CHANGE(HighPressure, s.GetHighPressure() = 1), CHANGE(Flow, s.GetFlow() = Next(0.0f)),
        CHANGE(LowPressure, s.GetLowPressure() = 1), CHANGE(TemperatureLeft, s.GetTemperatureLeft() = 1),
        CHANGE(TemperatureRight, s.GetTemperatureRight() = 1), CHANGE(SampleTemperature, s.SampleTemperature() = 1)),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(StatusRecordTest, MergedErrorFlagFollowsItsRule) {
  for (auto [left, right, merged] : {std::array{1, 0, 0}, {0, 1, 0}, {0, 0, 0}, {5, 1, 1}, {1, 5, 1}, {5, -1, -1},
                                     {-1, 5, -1}, {5, 7, 5}, {-1, -1, -1}, {1, -1, 1}, {1, 1, 1}}) {
    CInletSystemStatus l, r;
    l.GetError() = left, r.GetError() = right;
    l |= r;
    EXPECT_EQ(l.GetError(), merged) << left << " | " << right;
  }
}

// A new record (all zero, all solvent A), and a merge into it: the flags
// become 0 or 1 (the error flag by its own rule, the scan setting kept)
// and every number and text stays the left record's.
TEST(StatusRecordTest, DefaultRecordAndMergeAsTheGoldenFileShows) {
  CInletSystemStatus l, r;
  std::string text = "new record\n" + testing_support::StatusText(l);
  l.GetDadScan() = 4, l.GetTime() = 3.5f, l.GetFlow() = 1.0f, l.GetPercentB() = 30.0f, l.GetTemperatureLeft() = 40.0f;
  l.SetErrorInfo("left error");
  l.GetWashOn() = 9;
  r.GetRunning() = 3, r.GetPostRunning() = -2;
  r.GetNotReady() = r.GetInjecting() = r.GetPumpOn() = r.GetLamp() = r.DADAcquiring() = 1;
  r.GetDadScan() = 9, r.GetTime() = 99.0f, r.GetFlow() = 2.0f, r.GetPercentA() = 10.0f, r.GetTemperatureLeft() = 80.0f;
  r.SetErrorInfo("right error");
  r.SetNotReadyInfo("right not ready");
  CInletSystemStatus& result = (l |= r);
  EXPECT_EQ(&result, &l);
  text += "merged\n" + testing_support::StatusText(l);
  testing_support::ExpectMatchesGolden(text, "contract/golden/status-records.txt");
}

}  // namespace
