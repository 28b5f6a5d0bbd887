// The server back-ends as the server sees them: the method items a method
// turns into, the oven adapter's life, the runs they start and the status
// they report.
#include <algorithm>
#include <cstdio>

#include "platform/inlet/inlet.h"
#include "platform/method/quarn_method.h"
#include "platform/win/windows.h"
#include "server/server_backends.h"
#include "tests/server/server_world.h"

namespace {

using Lines = std::vector<std::string>;

class BackendsTest : public server_testing::ServerWorld {
 protected:
  void SetUp() override {
    ServerWorld::SetUp();
    // Registered: InitialiseComms starts no process.
    WriteRegistryFullPath("SOFTWARE\\Classes\\AppID\\TavixServer.EXE\\AppID", CString("{7A0C}"), HKEY_LOCAL_MACHINE);
  }
  // The method's items from `from` on, as "time code p1 p2 ..." without
  // trailing zero parameters.
  Lines Items(size_t from = 0) {
    Lines lines;
    const auto items = server.CurrentMethod().items;
    for (size_t i = from; i < items.size(); ++i) {
      int n = 6;
      while (n > 0 && items[i].params[n - 1] == 0.0) --n;
      char text[160];
      int len = std::snprintf(text, sizeof text, "%g %ld", items[i].time, static_cast<long>(items[i].function));
      for (int k = 0; k < n; ++k) len += std::snprintf(text + len, sizeof text - len, " %g", items[i].params[k]);
      lines.emplace_back(text);
    }
    return lines;
  }
  long Count(const Lines& calls, const std::string& call) { return std::count(calls.begin(), calls.end(), call); }

  QuarnMethod m;
};

TEST_F(BackendsTest, InitialConditionsPerPumpSystem) {
  struct Case {
    int system, maxPressure, minPressure;
    float b, c, d;
    long mode;
    Lines items;
  };
  const Case cases[] = {
      {1, 400, 0, 30, 0, 0, modeBinary, {"-1 3", "-1 0 1.5", "-1 2 40", "-1 1 70 30"}},
      {3, 0, 20, 30, 20, 10, modeTernary, {"-1 3 2", "-1 0 1.5", "-1 1 50 30 20"}},
      {0, 250, 5, 30, 20, 10, modeIsocratic, {"-1 3 0.5", "-1 0 1.5", "-1 2 25", "-1 1 100"}},
      {2, 100, 0, 10, 20, 30, modeQuaternary, {"-1 3", "-1 0 1.5", "-1 2 10", "-1 1 40 10 20 30"}},
  };
  CNetIIPump pump;
  ASSERT_EQ(pump.InitialiseComms(), 1);
  PumpInitialCons& p = m.GetPumpInitialCons();
  p.Flow() = 1.5f;
  p.StopTime() = 12.0f;
  for (const Case& c : cases) {
    p.PumpSystem() = c.system;
    p.MaxPressure() = c.maxPressure;
    p.MinPressure() = c.minPressure;
    p.PercentB() = c.b;
    p.PercentC() = c.c;
    p.PercentD() = c.d;
    pump.ClearMethod();
    EXPECT_EQ(pump.DownloadInitialConditions(m), 1) << c.system;
    EXPECT_EQ(Items(), c.items) << c.system;
    EXPECT_EQ(server.CurrentMethod().controlMode, c.mode);
  }
  for (const char* op : {"Method.SetControlMode", "Method.SetPumpOption"}) {
    server.FailForTesting(op, E_FAIL, 1);
    EXPECT_EQ(pump.DownloadInitialConditions(m), 0) << op;
  }
}

TEST_F(BackendsTest, OvenAdapterLivesWhileTheMethodUsesTheOven) {
  CNetIIPump pump;
  ASSERT_EQ(pump.InitialiseComms(), 1);
  m.GetPumpInitialCons().OvenTemperature() = 40.0f;
  std::string made, lines;
  for (int inUse : {1, 1, 2, 0, 2, 1}) {
    m.GetPumpInitialCons().OvenInUse() = inUse;
    pump.ClearMethod();
    NewCalls();
    EXPECT_EQ(pump.DownloadInitialConditions(m), 1);
    made += std::to_string(Count(NewCalls(), "Units.GetUnit(6, 1)"));
    lines += Items().back() == "-1 4 40" ? "o" : "-";
  }
  EXPECT_EQ(made, "100001");
  EXPECT_EQ(lines, "ooo--o");
  EXPECT_EQ(RegGetInstrumentMake("OVEN"), "QUARN900");
  server.FailForTesting("Method.SetOvenOption", E_FAIL, 1);
  EXPECT_EQ(pump.DownloadInitialConditions(m), 0);
}

TEST_F(BackendsTest, OvenThatNeverAnswersRaisesAndStaysAttached) {
  CNetIIPump pump;
  ASSERT_EQ(pump.InitialiseComms(), 1);
  server.SetUnitTimingForTesting(6, 1, -1, -1);
  m.GetPumpInitialCons().OvenInUse() = 1;
  EXPECT_THROW(pump.DownloadInitialConditions(m), CCommunicationsException);
  NewCalls();
  EXPECT_EQ(pump.DownloadInitialConditions(m), 0);  // the session is gone; no second oven
  EXPECT_EQ(Count(NewCalls(), "Units.GetUnit(6, 1)"), 0);
}

TEST_F(BackendsTest, TimetableInTableOrderWithUnusedChannelsCleared) {
  CNetIIPump pump;
  ASSERT_EQ(pump.InitialiseComms(), 1);
  EXPECT_EQ(pump.DownloadTimetable(m), 1);  // empty: nothing sent
  EXPECT_TRUE(Items().empty());
  SolventSelection& s = m.GetSolventSelection();
  s.InUseB() = 1;
  s.InUseD() = 1;
  m.GetPumpGradient().AddEntry(GradTimeTableEntry(5.0f, 1.0f, 20, 30, 0, 150));
  m.GetPumpGradient().AddEntry(GradTimeTableEntry(2.0f, 0.5f, 10, 0, 25, 0));
  EXPECT_EQ(pump.DownloadTimetable(m), 1);
  EXPECT_EQ(Items(), (Lines{"5 0 1", "5 2 15", "5 1 80 20", "2 0 0.5", "2 1 65 10 0 25"}));
  EXPECT_EQ(m.GetPumpGradient().TableEntry(0)->PercentC(), 0.0f);
  s.InUseB() = 0;
  s.InUseD() = 0;
  server.FailForTesting("Method.AddItem", E_FAIL);
  EXPECT_EQ(pump.DownloadTimetable(m), 1);  // failing lines are not reported
  EXPECT_EQ(m.GetPumpGradient().TableEntry(1)->PercentB() + m.GetPumpGradient().TableEntry(1)->PercentD(), 0.0f);
}

TEST_F(BackendsTest, EventsBecomeFullLinesOfOutputsOrValves) {
  struct Case {
    const char* name;
    std::vector<CExternalEvent> events;
    Lines items;
  };
  const Case cases[] = {
      {"AllAtATimeInOneLine",
       {{1.0f, eventOutput1, actionOn}, {1.0f, eventOutput2, actionOn}, {2.0f, eventValve1, actionPosition3}},
       {"1 5 1 1", "2 6 3"}},
      {"OutputAndValveAtOneTime",
       {{1.0f, eventOutput3, actionPulse}, {1.0f, eventValve2, actionPosition2}},
       {"1 5 0 0 2", "1 6 0 2"}},
      {"StatesCarryOver",
       {{1.0f, eventOutput1, actionOn}, {2.0f, eventOutput4, actionOn}, {3.0f, eventOutput1, actionOff}},
       {"1 5 1", "2 5 1 0 0 1", "3 5 0 0 0 1"}},
      {"ValveAtMinusOneFirstIsSkipped",
       {{-1.0f, eventValve1, actionPosition3}, {3.0f, eventValve2, actionPosition5}},
       {"3 6 0 5"}},
  };
  CNetIIPump pump;
  ASSERT_EQ(pump.InitialiseComms(), 1);
  for (const Case& c : cases) {
    QuarnMethod method;
    for (const CExternalEvent& e : c.events) method.GetEventTable().AddEntry(e);
    pump.ClearMethod();
    EXPECT_EQ(pump.DownloadEvents(method), 1);
    EXPECT_EQ(Items(), c.items) << c.name;
  }
}

TEST_F(BackendsTest, InitialEventsAndTheValueOfEachAction) {
  CNetIIPump pump;
  ASSERT_EQ(pump.InitialiseComms(), 1);
  InitialEventStates& s = m.GetInitialEventStates();
  const int first[] = {0, 1, 2, 3, 4, 5, 6};
  const int second[] = {7, 8, 9, -1, 8, 7, 42};
  for (const int* codes : {first, second}) {
    for (int k = 0; k < kEventTypeCount; ++k) s.State(static_cast<EventType>(k)) = static_cast<ActionType>(codes[k]);
    EXPECT_EQ(pump.DownloadInitialEvents(m), 1);
  }
  EXPECT_EQ(Items(), (Lines{"-1 5 2 1 2 3", "-1 6 4 5 6", "-1 5 0 1", "-1 6 1"}));
  // The initial states are where the timed lines start from.
  m.GetEventTable().AddEntry({1.0f, eventOutput3, actionOn});
  EXPECT_EQ(pump.DownloadEvents(m), 1);
  EXPECT_EQ(Items(4), (Lines{"1 5 0 1 1"}));
}

TEST_F(BackendsTest, PumpStatusAndTheInitialConditionsRestartedAfterFlowWasSeen) {
  CNetIIPump pump;
  ASSERT_EQ(pump.InitialiseComms(), 1);
  PumpInitialCons& p = m.GetPumpInitialCons();
  p.Flow() = 1.0f;
  p.StopTime() = 5.0f;
  p.MaxPressure() = 400;
  p.PumpSystem() = pumpSystemBinary;
  p.PercentB() = 40.0f;
  p.OvenInUse() = 1;
  p.OvenTemperature() = 35.0f;
  ASSERT_EQ(pump.DownloadInitialConditions(m), 1);
  NewCalls();
  EXPECT_EQ(pump.DownloadEvents(m), 1);
  EXPECT_EQ(Count(NewCalls(), "Session.StartInitial()"), 0);  // no flow polled yet
  EXPECT_EQ(pump.SwitchPump(On), 1);
  Sleep(60000);
  CInletSystemStatus status;
  status.GetError() = 1;  // the pump clears the error flag first
  status.GetTime() = 9.0f;
  EXPECT_EQ(pump.ReadStatus(status), 1);
  EXPECT_EQ(status.GetError() + status.GetNotReady() + status.GetRunning(), 0);
  EXPECT_EQ(status.GetFlow(), 1.0f);
  EXPECT_EQ(status.GetPumpOn(), 1);
  EXPECT_NEAR(status.GetPercentA(), 60.0f, 0.5f);
  EXPECT_NEAR(status.GetPercentB(), 40.0f, 0.5f);
  EXPECT_GT(status.GetHighPressure(), 10.0f);
  EXPECT_NEAR(status.GetTemperatureLeft(), 35.0f, 1.0f);
  EXPECT_EQ(status.GetTime(), 0.0f);
  NewCalls();
  EXPECT_EQ(pump.DownloadEvents(m), 1);
  EXPECT_EQ(NewCalls(), (Lines{"Session.StartInitial()"}));

  EXPECT_EQ(pump.StartMethod(), 1);
  Sleep(30000);
  EXPECT_EQ(pump.ReadStatus(status), 1);
  EXPECT_EQ(status.GetRunning() * 10 + pump.MethodRunning(), 11);
  EXPECT_NEAR(status.GetTime(), 0.5f, 0.02f);
  EXPECT_EQ(pump.StopMethod(), 1);
  EXPECT_EQ(pump.MethodRunning(), 0);

  CCommon::GetInstance().CloseServer();
  status.GetFlow() = -1.0f;
  EXPECT_EQ(pump.ReadStatus(status), 1);
  EXPECT_EQ(status.GetNotReady(), 1);
  EXPECT_EQ(status.GetNotReadyInfo(), "Error intialising server");
  EXPECT_EQ(status.GetFlow(), -1.0f);  // nothing read while not ready
}

TEST_F(BackendsTest, SamplerInitialConditionsStatusAndInjecting) {
  CNetIISamp sampler;
  ASSERT_EQ(sampler.InitialiseComms(), 1);
  SamplerInitialCons& s = m.GetSamplerInitialCons();
  s.VialNumber() = 12;
  s.InjectionVolume() = 10.0f;
  s.TimeSetting() = 25.7f;
  s.CountSetting() = 2;
  EXPECT_EQ(sampler.DownloadMethod(m), 1);
  EXPECT_EQ(server.Sequence().vial, 12);
  EXPECT_EQ(server.Sequence().injectionVolume, 10.0);
  EXPECT_EQ(server.CurrentMethod().samplerTime, 25.0);
  EXPECT_EQ(server.CurrentMethod().samplerCount, 2);

  struct Case {
    long state;
    int presetError;
    std::string expected;  // not ready, error, injecting, wash on, texts
  };
  const Case cases[] = {{6, 0, "0011||"},
                        {0, 0, "0000||"},
                        {8, 0, "1000|Autosampler is locked.|"},
                        {1, 0, "0100||Autosampler has gone into fault status."},
                        {6, 1, "0100||"}};  // an error already in the record stays, nothing copied
  for (const Case& c : cases) {
    server.SetSamplerStateForTesting(c.state);
    CInletSystemStatus status;
    status.GetError() = c.presetError;
    EXPECT_EQ(sampler.ReadStatus(status), 1);
    EXPECT_EQ(std::to_string(status.GetNotReady()) + std::to_string(status.GetError()) +
                  std::to_string(status.GetInjecting()) + std::to_string(status.GetWashOn()) + "|" +
                  status.GetNotReadyInfo().str() + "|" + status.GetErrorInfo().str(),
              c.expected)
        << c.state;
  }
  // Injecting is the server's method running, whatever the sampler says.
  server.SetSamplerStateForTesting(0);
  EXPECT_EQ(sampler.Injecting(), 0);
  EXPECT_EQ(sampler.StartMethod(), 1);
  Sleep(100);
  EXPECT_EQ(sampler.Injecting(), 1);
  EXPECT_EQ(sampler.StopMethod(), 1);
  EXPECT_EQ(sampler.Injecting(), 0);
}

TEST_F(BackendsTest, DetectorResponseAndLamp) {
  CNetIIUV uv;
  uv.Initialise();
  ASSERT_EQ(uv.InitialiseComms(), 1);
  UVDetectorCons& d = m.GetUVDetectorCons();
  d.Wavelength() = 280;
  d.ZeroSetting() = 1;  // never sent with the initial conditions
  for (int response : {0, 2, 5, 1, -3}) {
    d.Response() = response;
    EXPECT_EQ(uv.DownloadMethod(m), 1);
  }
  EXPECT_EQ(Items(), (Lines{"-1 7 280", "-1 9", "-1 7 280", "-1 9 2", "-1 7 280", "-1 9 1", "-1 7 280", "-1 9 1",
                            "-1 7 280", "-1 9 1"}));
  CInletSystemStatus status;
  EXPECT_EQ(uv.SwitchLamp(On), 1);
  Sleep(1000);
  EXPECT_EQ(uv.ReadStatus(status), 1);
  EXPECT_EQ(status.GetLamp(), 1);
  EXPECT_EQ(uv.SwitchLamp(Off), 1);
  Sleep(1000);
  EXPECT_EQ(uv.ReadStatus(status), 1);
  EXPECT_EQ(status.GetLamp(), 0);
  EXPECT_EQ(uv.StopMethod(), 1);
}

}  // namespace
