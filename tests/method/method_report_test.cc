#include <gtest/gtest.h>

#include <string>

#include "platform/method/quarn_method.h"
#include "tests/support/golden.h"

namespace {

// A binary gradient with the oven, two timed events and a valve.
QuarnMethod GradientMethod() {
  QuarnMethod m;
  m.Title() = "Impurities";
  m.Description() = "C18 column\nwash after use";
  m.SetFileName("/lab/methods/impurities.quarn900.toml");
  PumpInitialCons& pump = m.GetPumpInitialCons();
  pump.PumpSystem() = pumpSystemBinary, pump.Flow() = 0.4f, pump.MaxPressure() = 600, pump.MinPressure() = 5;
  pump.StopTime() = 25.0f, pump.PercentB() = 5.0f, pump.OvenInUse() = 1, pump.OvenTemperature() = 40.0f;
  m.GetSolventSelection().InUseB() = 1;
  m.GetSolventSelection().Name(0) = "Water";
  m.GetPumpGradient().AddEntry(GradTimeTableEntry(0.0f, 0.4f, 5.0f, 0.0f, 0.0f, 600));
  m.GetPumpGradient().AddEntry(GradTimeTableEntry(15.0f, 0.4f, 95.0f, 0.0f, 0.0f, 600));
  m.GetInitialEventStates().Valve1() = actionPosition1;
  m.GetEventTable().AddEntry(CExternalEvent(0.0f, eventOutput1, actionPulse));
  m.GetEventTable().AddEntry(CExternalEvent(1.5f, eventValve1, actionPosition2));
  auto& sampler = m.GetSamplerInitialCons();
  sampler.VialNumber() = 12, sampler.InjectionVolume() = 2.0f, sampler.AnalysisTime() = 25.0f, sampler.Flushes() = 3;
  auto& uv = m.GetUVDetectorCons();
  uv.Wavelength() = 220, uv.Response() = uvResponseFast, uv.ZeroSetting() = 1;
  return m;
}

std::string Printed(const QuarnMethod& m, const char* unit) {
  CGenericExpRecord record;
  m.Print(&record, unit);
  return record.Text();
}

// The three reports of a method that uses every part, as the experiment
// record shows them.
TEST(MethodReportTest, ReportsOfEveryUnitByteForByte) {
  const QuarnMethod m = GradientMethod();
  testing_support::ExpectMatchesGolden(Printed(m, "PUMP") + Printed(m, "AUTOSAMPLER") + Printed(m, "UVDETECTOR"),
                                       "method/golden/gradient-method-reports.txt");
}

TEST(MethodReportTest, EmptyTablesAndUnnamedMethodsSaySo) {
  const std::string report = Printed(QuarnMethod(), "PUMP");
  EXPECT_EQ(report.substr(0, 44), "Pump Method\n===========\n\nInitial Conditions\n");
  EXPECT_NE(report.find("Gradient Timetable\n  None: the initial conditions hold for the whole run.\n"),
            std::string::npos);
  EXPECT_NE(report.find("Timed Events\n  None\n"), std::string::npos);
  EXPECT_NE(report.find("  Column oven            : Not used\n"), std::string::npos);
}

TEST(MethodReportTest, CodesOutsideTheirRangesArePrintedAsNumbers) {
  QuarnMethod m;
  m.GetUVDetectorCons().Response() = 5;
  m.GetPumpInitialCons().PumpSystem() = 9;
  m.GetEventTable().AddEntry(CExternalEvent(1.0f, static_cast<EventType>(9), static_cast<ActionType>(12)));
  EXPECT_NE(Printed(m, "UVDETECTOR").find("  Response               : Setting 5\n"), std::string::npos);
  const std::string pump = Printed(m, "PUMP");
  EXPECT_NE(pump.find("  Pump system            : Unknown\n"), std::string::npos);
  EXPECT_NE(pump.find("      1.00  Type 9    Code 12\n"), std::string::npos);
}

TEST(MethodReportTest, OtherUnitWordsAndNoRecordWriteNothing) {
  const QuarnMethod m = GradientMethod();
  for (const char* unit : {"pump", "OVEN", "PDA", "", "UV"}) EXPECT_EQ(Printed(m, unit), "") << unit;
  EXPECT_EQ(Printed(m, nullptr), "");
  m.Print(nullptr, "PUMP");
}

}  // namespace
