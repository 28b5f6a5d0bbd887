// The server back-ends as the server sees them: method items, the oven
// adapter's life, runs, status and the server's registration.
#include <algorithm>
#include <array>

#include "platform/method/quarn_method.h"
#include "platform/tavix/tavix.h"
#include "platform/win/registry.h"
#include "platform/win/windows.h"
#include "server/server_backends.h"
#include "tests/server/server_world.h"
#include "tests/support/test_world.h"

namespace {

using Lines = std::vector<std::string>;
const auto [kAppIdKey, kAppIdName] = platform::SplitValuePath(kTavixServerAppIdPath);

class BackendsTest : public server_testing::ServerWorld {
 protected:
  void SetUp() override {
    ServerWorld::SetUp();
    platform::Registry::Get().Write(HKEY_LOCAL_MACHINE, kAppIdKey, kAppIdName, std::string("{7A0C}"));
  }
  // Reads the status into `s`: the result, flags (error, not ready,
  // running, pump on, injecting, wash on, lamp), readings and texts.
  template <class Backend>
  static std::string Read(Backend& backend, CInletSystemStatus& s) {
    const int result = backend.ReadStatus(s);
    return (CStringF::Format("%d: %d%d%d%d%d%d%d %.2f %.0f/%.0f %.2f %.0f %d ", result, s.GetError(), s.GetNotReady(),
                            s.GetRunning(), s.GetPumpOn(), s.GetInjecting(), s.GetWashOn(), s.GetLamp(), s.GetFlow(),
                            s.GetPercentA(), s.GetPercentB(), s.GetTime(), s.GetTemperatureLeft(),
                            s.GetHighPressure() > 10.0f) +
           s.GetNotReadyInfo() + "|" + s.GetErrorInfo()).str();
  }
  static void AddEvents(QuarnMethod& method, std::initializer_list<std::array<float, 3>> events) {
    for (auto [t, type, action] : events) method.GetEventTable().AddEntry({t, EventType(type), ActionType(action)});
  }
  // The server method's items: "time fFUNCTION: p0 p1 p2 p3".
  Lines Items() {
    Lines items;
    for (const auto& i : server.CurrentMethod().items) {
      items.push_back(CStringF::Format("%g f%ld: %g %g %g %g", i.time, static_cast<long>(i.function), i.params[0],
                                       i.params[1], i.params[2], i.params[3]).str());
    }
    return items;
  }
  QuarnMethod m;
  PumpInitialCons& p = m.GetPumpInitialCons();
};

// One download per row: pump system, upper and lower pressure, B, C, D and
// the oven in use (2: kept, 0: destroyed, 1: made once).
TEST_F(BackendsTest, InitialConditionsPerPumpSystemAndTheOvenAdaptersLife) {
  const struct {
    int system, maxPressure, minPressure;
    float b, c, d;
    int oven;
    LONG controlMode;
  } cases[] = {{1, 400, 0, 30, 0, 0, 1, modeBinary}, {3, 0, 20, 30, 20, 10, 1, modeTernary},
               {0, 0, 0, 30, 20, 0, 2, modeIsocratic}, {2, 0, 0, 10, 20, 30, 0, modeQuaternary},
               {0, 0, 0, 0, 0, 0, 2, modeIsocratic},   {0, 0, 0, 0, 0, 0, 1, modeIsocratic}};
  CNetIIPump pump;
  NOTE(pump.InitialiseComms());
  p.Flow() = 1.5f, p.OvenTemperature() = 40.0f;
  for (const auto& c : cases) {
    p.PumpSystem() = c.system, p.MaxPressure() = c.maxPressure, p.MinPressure() = c.minPressure;
    p.PercentB() = c.b, p.PercentC() = c.c, p.PercentD() = c.d, p.OvenInUse() = c.oven;
    NOTE(pump.ClearMethod());
    EXPECT_EQ(NOTE(pump.DownloadInitialConditions(m)), 1);
    EXPECT_EQ(NOTE(server.CurrentMethod().controlMode), c.controlMode) << c.system;
  }
  EXPECT_EQ(NOTE(RegGetInstrumentMake("OVEN")), "QUARN900");
  for (const char* op : {"Method.SetOvenOption", "Method.SetControlMode", "Method.SetPumpOption"}) {
    Fail(op);
    EXPECT_EQ(NOTE(pump.DownloadInitialConditions(m)), 0) << op;
  }
}

TEST_F(BackendsTest, TimetableEventsAndInitialStates) {
  CNetIIPump pump;
  NOTE(pump.InitialiseComms());
  m.GetSolventSelection().InUseB() = m.GetSolventSelection().InUseD() = 1;  // C not in use
  m.GetPumpGradient().AddEntry({5.0f, 1.0f, 20, 30, 0, 150});
  m.GetPumpGradient().AddEntry({2.0f, 0.5f, 10, 0, 25, 0});
  NOTE(pump.DownloadTimetable(m));
  EXPECT_EQ(NOTE(m.GetPumpGradient().TableEntry(0)->PercentC()), 0.0f);  // cleared in the caller's method
  m.GetSolventSelection().InUseB() = m.GetSolventSelection().InUseD() = 0;
  NOTE(pump.DownloadTimetable(m));
  EXPECT_EQ(NOTE(m.GetPumpGradient().TableEntry(1)->PercentB() + m.GetPumpGradient().TableEntry(1)->PercentD()), 0.0f);
  // One line per time and kind, holding every entry at that time.
  QuarnMethod a;
  AddEvents(a, {{1, eventOutput1, actionOn}, {1, eventOutput2, actionOn}, {2, eventValve1, actionPosition3}});
  NOTE(pump.ClearMethod());
  NOTE(pump.DownloadEvents(a));
  EXPECT_EQ(Items(), (Lines{"1 f5: 1 1 0 0", "2 f6: 3 0 0 0"}));
  // Every action code's value (42: any other); the lines start from the
  // initial states; a valve entry at -1 heading the table writes nothing.
  const int codes[] = {0, 1, 2, 42, 4, 5, 6};
  for (int k = 0; k < kEventTypeCount; ++k) m.GetInitialEventStates().State(EventType(k)) = ActionType(codes[k]);
  AddEvents(m, {{-1, eventValve1, actionPosition3}, {1, eventOutput4, actionOff}, {1, eventValve1, actionPosition2}});
  NOTE(pump.ClearMethod());
  NOTE(pump.DownloadInitialEvents(m));
  NOTE(pump.DownloadEvents(m));
  EXPECT_EQ(Items(), (Lines{"-1 f5: 2 1 2 0", "-1 f6: 4 5 6 0", "1 f5: 2 1 2 0", "1 f6: 2 5 6 0"}));
}

TEST_F(BackendsTest, PumpStatusAndInitialConditionsRestartedOnlyAfterFlowWasSeen) {
  CNetIIPump pump;
  NOTE(pump.InitialiseComms());
  p.Flow() = 1.0f, p.StopTime() = 5.0f, p.PumpSystem() = 1, p.PercentB() = 40.0f, p.OvenInUse() = 1;
  p.OvenTemperature() = 35.0f;
  NOTE(pump.DownloadInitialConditions(m));
  NOTE(pump.DownloadEvents(m));  // no flow seen yet: no StartInitial
  const auto startsInitial = [&] { return std::count(lastCalls.begin(), lastCalls.end(), "Session.StartInitial()"); };
  EXPECT_EQ(startsInitial(), 0);
  NOTE(pump.SwitchPump(On));
  Sleep(900000);  // the oven settles: heating 10 degrees takes about 10 min
  CInletSystemStatus s;
  s.GetError() = 1, s.GetTime() = 9.0f;         // the pump clears the error flag first
  s.SetNotReadyInfo("n"), s.SetErrorInfo("e");  // texts change only with their flags
  EXPECT_EQ(NOTE(Read(pump, s)), "1: 0001000 1.00 60/40 0.00 35 1 n|e");
  m.GetEventTable().AddEntry({1.0f, eventOutput2, actionOn});
  NOTE(pump.DownloadEvents(m));  // flow was seen: StartInitial
  EXPECT_EQ(startsInitial(), 1);
  NOTE(pump.StartMethod());
  Sleep(30000);
  EXPECT_EQ(NOTE(Read(pump, s)), "1: 0011000 1.00 60/40 0.50 35 1 n|e");
  EXPECT_EQ(NOTE(pump.MethodRunning()), 1);
  NOTE(pump.StopMethod());
  EXPECT_EQ(NOTE(pump.MethodRunning()), 0);
  EXPECT_EQ(NOTE(Read(pump, s)), "1: 0000000 0.00 60/40 0.00 35 0 n|e");  // the stop ended the flow
  CCommon::GetInstance().CloseServer();
  EXPECT_EQ(NOTE(Read(pump, s)), "1: 0100000 0.00 60/40 0.00 35 0 Error intialising server|e");  // readings kept
}

TEST_F(BackendsTest, SamplerAndDetector) {
  CNetIISamp sampler;
  CNetIIUV uv;
  NOTE(sampler.InitialiseComms());
  NOTE(uv.InitialiseComms());
  SamplerInitialCons& a = m.GetSamplerInitialCons();
  a.VialNumber() = 12, a.InjectionVolume() = 10.0f, a.TimeSetting() = 25.7f, a.CountSetting() = 2;
  NOTE(sampler.DownloadMethod(m));
  // The sampler's state and an error already in the record.
  for (auto [state, error, read] :
       {std::tuple{6, 0, "1: 0000110 0.00 100/0 0.00 0 0 |"}, std::tuple{6, 1, "1: 1000000 0.00 100/0 0.00 0 0 |"},
        std::tuple{1, 0, "1: 1000000 0.00 100/0 0.00 0 0 |Autosampler has gone into fault status."}}) {
    server.SetSamplerState(state);
    CInletSystemStatus s;
    s.GetError() = error;
    transcript.Say(CStringF::Format("sampler state %d, error flag %d", state, error).str());
    EXPECT_EQ(NOTE(Read(sampler, s)), read);
  }
  // Injecting follows the server's method run, not the sampler (state 0).
  server.SetSamplerState(0);
  EXPECT_EQ(NOTE(sampler.Injecting()), 0);
  NOTE(sampler.StartMethod());
  Sleep(100);
  EXPECT_EQ(NOTE(sampler.Injecting()), 1);
  NOTE(sampler.StopMethod());
  EXPECT_EQ(NOTE(sampler.Injecting()), 0);
  // UV: response 5 and -3 are sent as 1; the zero setting is not sent.
  m.GetUVDetectorCons().ZeroSetting() = 1;
  for (int response : {0, 2, 5, -3}) NOTE((m.GetUVDetectorCons().Response() = response, uv.DownloadMethod(m)));
  // A not-ready flag in the record is cleared by the check, an error flag
  // is not (the lamp is then not read); texts are kept without their flags.
  for (auto [value, error, read] : {std::tuple{Off, 0, "1: 0000000 0.00 100/0 0.00 0 0 n|e"},
                                     std::tuple{On, 0, "1: 0000001 0.00 100/0 0.00 0 0 n|e"},
                                     std::tuple{On, 1, "1: 1000000 0.00 100/0 0.00 0 0 n|"}}) {
    CInletSystemStatus s;
    s.SetNotReadyInfo("n"), s.SetErrorInfo("e"), s.GetNotReady() = 1, s.GetError() = error;
    NOTE(uv.SwitchLamp(value));
    EXPECT_EQ(NOTE(Read(uv, s)), read);
  }
  NOTE(uv.StopMethod());
}

// Unregistered: the registration program in the working folder runs once
// per InitialiseComms; where it cannot start, a message and nothing opens.
TEST_F(BackendsTest, RegistrationThroughTheServersProgram) {
  CNetIIPump pump;
  for (const std::string& dir : {TempDir().string(), std::string(QUARN_TAVIX_SERVER_DIR)}) {
    platform::Registry::Get().Delete(HKEY_LOCAL_MACHINE, kAppIdKey, kAppIdName);
    testing_support::SetEnv("QUARN_WORKING_DIR", dir);
    const int result = pump.InitialiseComms();
    testing_support::UnsetEnv("QUARN_WORKING_DIR");
    const Lines calls = NewCalls();
    EXPECT_EQ(result * 10 + std::count(calls.begin(), calls.end(), "CoCreateInstance()"), dir == TempDir() ? 0 : 11);
    EXPECT_EQ(platform::Registry::Get().Read(HKEY_LOCAL_MACHINE, kAppIdKey, kAppIdName).has_value(), result == 1);
  }
  EXPECT_EQ(ui.MessageBoxes(), (Lines{"MessageBox 0x0:  Fail to register the TavixServer. Please contact support."}));
}

}  // namespace
