// The server back-ends as the server sees them: method items, the oven
// adapter's life, runs, status and the server's registration.
#include <array>

#include "front/backend_factory.h"
#include "front/shared_routines.h"
#include "platform/method/quarn_method.h"
#include "platform/win/windows.h"
#include "server/server_backends.h"
#include "tests/server/server_world.h"
#include "tests/support/test_world.h"

namespace {

using Lines = std::vector<std::string>;
constexpr const char* kAppIdKey = "SOFTWARE\\Classes\\AppID\\TavixServer.EXE";

class BackendsTest : public server_testing::ServerWorld {
 protected:
  void SetUp() override {
    ServerWorld::SetUp();
    platform::Registry::Get().Write(HKEY_LOCAL_MACHINE, kAppIdKey, "AppID", std::string("{7A0C}"));
  }
  // Each item as "time code p1 p2 ..." without trailing zero parameters.
  Lines Items() {
    Lines lines;
    for (const sim::ServerMethodItem& item : server.CurrentMethod().items) {
      std::string line = CStringF::Format("%g %ld", item.time, static_cast<long>(item.function)).str();
      int n = 6;
      while (n > 0 && item.params[n - 1] == 0.0) --n;
      for (int k = 0; k < n; ++k) line += CStringF::Format(" %g", item.params[k]).str();
      lines.push_back(line);
    }
    return lines;
  }
  static void AddEvents(QuarnMethod& method, std::initializer_list<std::array<float, 3>> events) {
    for (auto [t, type, action] : events) method.GetEventTable().AddEntry({t, EventType(type), ActionType(action)});
  }
  long Count(const std::string& call) {
    const Lines calls = NewCalls();
    return std::count(calls.begin(), calls.end(), call);
  }
  QuarnMethod m;
  PumpInitialCons& p = m.GetPumpInitialCons();
};

// The oven column: in use, then how many oven units were made for this
// download; the oven's line ("-1 4 40") closes the items while it lives.
TEST_F(BackendsTest, InitialConditionsPerPumpSystemAndTheOvenAdaptersLife) {
  struct Case {
    int system, maxPressure, minPressure;
    float b, c, d;
    int oven, made;
    long mode;
    Lines items;
  } const cases[] = {{1, 400, 0, 30, 0, 0, 1, 1, modeBinary, {"-1 3", "-1 0 1.5", "-1 2 40", "-1 1 70 30", "-1 4 40"}},
                     {3, 0, 20, 30, 20, 10, 1, 0, modeTernary, {"-1 3 2", "-1 0 1.5", "-1 1 50 30 20", "-1 4 40"}},
                     {0, 0, 0, 30, 20, 0, 2, 0, modeIsocratic, {"-1 3", "-1 0 1.5", "-1 1 100", "-1 4 40"}},
                     {2, 0, 0, 10, 20, 30, 0, 0, modeQuaternary, {"-1 3", "-1 0 1.5", "-1 1 40 10 20 30"}},
                     {0, 0, 0, 0, 0, 0, 2, 0, modeIsocratic, {"-1 3", "-1 0 1.5", "-1 1 100"}},
                     {0, 0, 0, 0, 0, 0, 1, 1, modeIsocratic, {"-1 3", "-1 0 1.5", "-1 1 100", "-1 4 40"}}};
  CNetIIPump pump;
  ASSERT_EQ(pump.InitialiseComms(), 1);
  p.Flow() = 1.5f, p.OvenTemperature() = 40.0f;
  for (const Case& c : cases) {
    p.PumpSystem() = c.system, p.MaxPressure() = c.maxPressure, p.MinPressure() = c.minPressure;
    p.PercentB() = c.b, p.PercentC() = c.c, p.PercentD() = c.d, p.OvenInUse() = c.oven;
    pump.ClearMethod();
    EXPECT_EQ(pump.DownloadInitialConditions(m), 1);
    EXPECT_EQ(Items(), c.items);
    EXPECT_EQ(server.CurrentMethod().controlMode * 10 + Count("Units.GetUnit(6, 1)"), c.mode * 10 + c.made);
  }
  EXPECT_EQ(RegGetInstrumentMake("OVEN"), "QUARN900");
  for (const char* op : {"Method.SetOvenOption", "Method.SetControlMode"}) {
    server.FailForTesting(op, E_FAIL, 1);
    EXPECT_EQ(pump.DownloadInitialConditions(m), 0) << op;
  }
}

TEST_F(BackendsTest, TimetableEventsAndInitialStates) {
  CNetIIPump pump;
  ASSERT_EQ(pump.InitialiseComms(), 1);
  m.GetSolventSelection().InUseB() = m.GetSolventSelection().InUseD() = 1;  // C not in use
  m.GetPumpGradient().AddEntry({5.0f, 1.0f, 20, 30, 0, 150});
  m.GetPumpGradient().AddEntry({2.0f, 0.5f, 10, 0, 25, 0});
  EXPECT_EQ(pump.DownloadTimetable(m), 1);
  EXPECT_EQ(Items(), (Lines{"5 0 1", "5 2 15", "5 1 80 20", "2 0 0.5", "2 1 65 10 0 25"}));
  EXPECT_EQ(m.GetPumpGradient().TableEntry(0)->PercentC(), 0.0f);
  m.GetSolventSelection().InUseB() = m.GetSolventSelection().InUseD() = 0;
  EXPECT_EQ(pump.DownloadTimetable(m) + m.GetPumpGradient().TableEntry(1)->PercentB() +
                m.GetPumpGradient().TableEntry(1)->PercentD(),
            1);
  // One line per time and kind, holding every entry at that time.
  QuarnMethod a;
  AddEvents(a, {{1, eventOutput1, actionOn}, {1, eventOutput2, actionOn}, {2, eventValve1, actionPosition3}});
  pump.ClearMethod();
  EXPECT_EQ(pump.DownloadEvents(a), 1);
  EXPECT_EQ(Items(), (Lines{"1 5 1 1", "2 6 3"}));
  // Every action code's value (42: any other); the lines start from the
  // initial states; a valve entry at -1 heading the table writes nothing.
  const int codes[] = {0, 1, 2, 42, 4, 5, 6};
  for (int k = 0; k < kEventTypeCount; ++k) m.GetInitialEventStates().State(EventType(k)) = ActionType(codes[k]);
  AddEvents(m, {{-1, eventValve1, actionPosition3}, {1, eventOutput4, actionOff}, {1, eventValve1, actionPosition2}});
  pump.ClearMethod();
  EXPECT_EQ(pump.DownloadInitialEvents(m) + pump.DownloadEvents(m), 2);
  EXPECT_EQ(Items(), (Lines{"-1 5 2 1 2", "-1 6 4 5 6", "1 5 2 1 2", "1 6 2 5 6"}));
}

TEST_F(BackendsTest, PumpStatusAndInitialConditionsRestartedOnlyAfterFlowWasSeen) {
  CNetIIPump pump;
  ASSERT_EQ(pump.InitialiseComms(), 1);
  p.Flow() = 1.0f, p.StopTime() = 5.0f, p.PumpSystem() = 1, p.PercentB() = 40.0f, p.OvenInUse() = 1;
  p.OvenTemperature() = 35.0f;
  ASSERT_EQ(pump.DownloadInitialConditions(m), 1);
  EXPECT_EQ(pump.DownloadEvents(m) * 10 + Count("Session.StartInitial()"), 10);
  EXPECT_EQ(pump.SwitchPump(On), 1);
  Sleep(300000);  // the oven settles
  CInletSystemStatus s;
  s.GetError() = 1, s.GetTime() = 9.0f;         // the pump clears the error flag first
  s.SetNotReadyInfo("n"), s.SetErrorInfo("e");  // texts change only with their flags
  const auto fields = [&s] {
    return s.GetNotReadyInfo() + "|" + s.GetErrorInfo() +
           CStringF::Format(" %d%d%d%d %.2f %.0f/%.0f %.2f %.0f %d", s.GetError(), s.GetNotReady(), s.GetRunning(),
                            s.GetPumpOn(), s.GetFlow(), s.GetPercentA(), s.GetPercentB(), s.GetTime(),
                            s.GetTemperatureLeft(), s.GetHighPressure() > 10.0f);
  };
  EXPECT_EQ(pump.ReadStatus(s), 1);
  EXPECT_EQ(fields(), "n|e 0001 1.00 60/40 0.00 35 1");
  m.GetEventTable().AddEntry({1.0f, eventOutput2, actionOn});
  EXPECT_EQ(pump.DownloadEvents(m) * 10 + Count("Session.StartInitial()"), 12);  // the switch-on's and this
  EXPECT_EQ(Items().back(), "1 5 0 1");
  EXPECT_EQ(pump.StartMethod(), 1);
  Sleep(30000);
  EXPECT_EQ(pump.ReadStatus(s) + pump.MethodRunning(), 2);
  EXPECT_EQ(fields(), "n|e 0011 1.00 60/40 0.50 35 1");
  EXPECT_EQ(pump.StopMethod() * 10 + pump.MethodRunning(), 10);
  EXPECT_EQ(pump.ReadStatus(s) * 10 + s.GetPumpOn(), 10);  // the stop ended the flow
  CCommon::GetInstance().CloseServer();
  EXPECT_EQ(pump.ReadStatus(s), 1);
  EXPECT_EQ(fields(), "Error intialising server|e 0100 0.00 60/40 0.00 35 0");  // readings kept
}

TEST_F(BackendsTest, SamplerAndDetector) {
  CNetIISamp sampler;
  CNetIIUV uv;
  ASSERT_EQ(sampler.InitialiseComms() + uv.InitialiseComms(), 2);
  SamplerInitialCons& a = m.GetSamplerInitialCons();
  a.VialNumber() = 12, a.InjectionVolume() = 10.0f, a.TimeSetting() = 25.7f, a.CountSetting() = 2;
  NewCalls();
  EXPECT_EQ(sampler.DownloadMethod(m), 1);
  EXPECT_EQ(NewCalls(), (Lines{"Sequence.SetVial(12)", "Sequence.SetInjectionVolume(10)", "Sequence.SetSamplerValue(0)",
                               "Method.SetSamplerTime(25)", "Method.SetSamplerCount(2)"}));
  // Sampler state and an error already in the record -> not ready, error,
  // injecting, wash on and the texts.
  for (auto [state, error, expected] : std::initializer_list<std::tuple<int, int, const char*>>{
           {6, 0, "0011||"}, {6, 1, "0100||"}, {1, 0, "0100||Autosampler has gone into fault status."}}) {
    server.SetSamplerStateForTesting(state);
    CInletSystemStatus s;
    s.GetError() = error;
    EXPECT_EQ(sampler.ReadStatus(s), 1);
    EXPECT_EQ(CStringF::Format("%d%d%d%d|", s.GetNotReady(), s.GetError(), s.GetInjecting(), s.GetWashOn()) +
                  s.GetNotReadyInfo() + "|" + s.GetErrorInfo(),
              expected);
  }
  // Injecting follows the server's method run, not the sampler (state 0).
  server.SetSamplerStateForTesting(0);
  EXPECT_EQ(sampler.Injecting() * 10 + sampler.StartMethod(), 1);
  Sleep(100);
  EXPECT_EQ(sampler.Injecting() * 10 + sampler.StopMethod(), 11);
  EXPECT_EQ(sampler.Injecting(), 0);
  // UV: response 5 and -3 are sent as 1; the zero setting is not sent.
  m.GetUVDetectorCons().ZeroSetting() = 1;
  for (int response : {0, 2, 5, -3}) EXPECT_EQ((m.GetUVDetectorCons().Response() = response, uv.DownloadMethod(m)), 1);
  EXPECT_EQ(Items(), (Lines{"-1 7 254", "-1 9", "-1 7 254", "-1 9 2", "-1 7 254", "-1 9 1", "-1 7 254", "-1 9 1"}));
  std::string lamp;
  // A not-ready flag in the record is cleared by the check, an error flag
  // is not (the lamp is then not read); texts are kept without their flags.
  for (auto [value, error] : {std::pair{Off, 0}, {On, 0}, {On, 1}}) {
    CInletSystemStatus s;
    s.SetNotReadyInfo("n"), s.SetErrorInfo("e"), s.GetNotReady() = 1, s.GetError() = error;
    EXPECT_EQ(uv.SwitchLamp(value) + uv.ReadStatus(s), 2);
    lamp += std::to_string(s.GetLamp()) + s.GetNotReadyInfo().str() + s.GetErrorInfo().str();
  }
  EXPECT_EQ(lamp + std::to_string(uv.StopMethod()), "0ne1ne0n1");
}

// Unregistered: the registration program in the working folder runs once
// per InitialiseComms; where it cannot start, a message and nothing opens.
TEST_F(BackendsTest, RegistrationThroughTheServersProgram) {
  CNetIIPump pump;
  for (const std::string& dir : {TempDir().string(), std::string(QUARN_TAVIX_SERVER_DIR)}) {
    platform::Registry::Get().Delete(HKEY_LOCAL_MACHINE, kAppIdKey, "AppID");
    testing_support::SetEnv("QUARN_WORKING_DIR", dir);
    const int result = pump.InitialiseComms();
    testing_support::UnsetEnv("QUARN_WORKING_DIR");
    EXPECT_EQ(result * 10 + Count("CoCreateInstance()"), dir == TempDir() ? 0 : 11);
    EXPECT_EQ(platform::Registry::Get().Read(HKEY_LOCAL_MACHINE, kAppIdKey, "AppID").has_value(), result == 1);
  }
  EXPECT_EQ(ui.MessageBoxes(), (Lines{"MessageBox 0x0:  Fail to register the TavixServer. Please contact support."}));
}

TEST_F(BackendsTest, NonZeroTransportFlagBuildsThisFamily) {
  WriteNetBoxCommsFlag(7);
  EXPECT_TRUE(dynamic_cast<CNetIIPump*>(CreatePumpBackend().get()) &&
              dynamic_cast<CNetIISamp*>(CreateSamplerBackend().get()) &&
              dynamic_cast<CNetIIUV*>(CreateUVBackend().get()));
}

}  // namespace
