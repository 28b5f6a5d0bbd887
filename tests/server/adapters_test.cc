// The unit adapters on a connected session: method items, the exact server
// calls of configuring, reading and switching the pump, sampler and lamp
// states. The facts each test is there for are asserted; its transcript,
// with every server call, is in golden/AdaptersTest/.
#include <tuple>

#include "server/com_pump.h"
#include "server/com_units.h"
#include "tests/server/server_world.h"

namespace {

using Lines = std::vector<std::string>;

class AdaptersTest : public server_testing::ServerWorld {
 protected:
  void SetUp() override {
    ServerWorld::SetUp();
    pump = std::make_unique<CComPump>();
    ASSERT_EQ(pump->InitialiseComms(), 1);
    NewCalls();
  }
  void TearDown() override {
    pump.reset();
    ServerWorld::TearDown();
  }
  // "result: flow A B C D" with the percentages preset to 7.
  std::string Flows() {
    float flow = -1, a = 7, b = 7, c = 7, d = 7;
    const int result = pump->UpdateFlows(flow, a, b, c, d);
    return CStringF::Format("%d: %g %g %g %g %g", result, flow, a, b, c, d).str();
  }
  // "notReady:text error:text" after the adapter's status check.
  template <class Adapter>
  std::string Status(Adapter& adapter) {
    int notReady = 0, error = 0;
    CString notReadyText, errorText;
    adapter.SystemOK(notReady, notReadyText, error, errorText);
    return std::to_string(notReady) + ":" + notReadyText.str() + " " + std::to_string(error) + ":" + errorText.str();
  }

  std::unique_ptr<CComPump> pump;
};

TEST_F(AdaptersTest, PumpLinesAndTheGradientRun) {
  NOTE(pump->SetMethodLine(2.0, 1.0, 50, 30, 0, 0));
  NOTE(pump->SetMethodLine(3.0, 1.0, 50, 30, 0, 150));
  NOTE(pump->SetVexlinkBoxEventMethodLine(1.0, 1, 0, 1, 0));
  NOTE(pump->SetVexlinkBoxValveMethodLine(2.0, 2, 1, 2));
  NOTE(pump->SetInitialCons(1.5, 30, 0, 20, 100, 0, 0));
  EXPECT_EQ(NOTE(server.CurrentMethod().pumpOption), 1);
  EXPECT_EQ(NOTE(pump->RunGradient()), 1);
  Fail("Method.SetRunLength", S_FALSE);
  EXPECT_EQ(NOTE(pump->RunGradient()), 0);  // only S_OK is success
  Fail("Method.SetPumpOption");
  EXPECT_EQ(NOTE(pump->SetInitialCons(1.5, 30, 0, 20, 100, 0, 0)), 0);
  EXPECT_EQ(NOTE(server.CurrentMethod().items.size()), 11u);  // what was written before the failure is kept
  EXPECT_EQ(NOTE(pump->InitialiseComms()), 0);                 // a second discovery after a good one
  Fail("Method.AddItem");
  EXPECT_EQ(NOTE(pump->SetMethodLine(1, 1, 50, 50, 0, 100)), 0);  // the first failing item ends the line
}

TEST_F(AdaptersTest, ControlModeConfirmedWithinTwentyPollsAndTheThirdPump) {
  transcript.ShowTimes();
  // Confirmed on the 20th poll, never (failing after 2 s) or at once.
  for (auto [failures, confirmed, atMs] : {std::tuple{-1, 0, 2200}, std::tuple{19, 1, 4200}, std::tuple{0, 1, 4300}}) {
    Fail("Method.GetControlMode", E_FAIL, failures);
    EXPECT_EQ(NOTE(pump->SetPumpControlMode(modeQuaternary)), confirmed);
    EXPECT_EQ(platform::Clock::Get().NowMs(), atMs);
  }
  server.SetUnitAbsent(1, 3);
  EXPECT_EQ(NOTE(pump->SetPumpControlMode(modeTernary)), 1);  // no third pump: mode set
  server.SetUnitAbsent(1, 3, false);
  server.SetUnitTiming(1, 3, -1, 0);
  EXPECT_EQ(NOTE(pump->SetPumpControlMode(modeTernary)), 0);  // a third pump never connecting: throws
  // The session is closed: two objects the adapter held before are left,
  // nothing of the third pump's (3 if its unit were kept).
  EXPECT_EQ(server.LiveObjects(), 2);
  EXPECT_EQ(NOTE(pump->SetPumpControlMode(modeBinary)), 0);   // unconnected now: no call
}

TEST_F(AdaptersTest, FlowsPerControlModeAndPressure) {
  server.SetPumpReadingForTesting(1, {1.25, 12.5, {60, 40}});
  EXPECT_EQ(NOTE(Flows()), "1: 1.25 100 0 0 0");  // isocratic: the channels are not asked
  NOTE(pump->SetPumpControlMode(modeBinary));
  EXPECT_EQ(NOTE(Flows()), "1: 1.25 60 40 7 7");
  server.SetPumpReadingForTesting(1, {1.25, 12.5, {10, 20, 30, 35, 5}});
  for (auto [operation, flows] : {std::pair{"Solvent.GetPercent", "1: 1.25 0 20 30 35"},
                                  std::pair{"Solvents.GetCount", "1: 1.25 7 7 7 7"},
                                  std::pair{"Pump.GetSolvents", "0: 1.25 7 7 7 7"},
                                  std::pair{"Pump.GetFlow", "0: -1 7 7 7 7"}, std::pair{"PumpUnit.GetStatus", "0: -1 7 7 7 7"}}) {
    Fail(operation);
    EXPECT_EQ(NOTE(Flows()), flows) << operation;
  }
  float pressure = -1;
  EXPECT_EQ(NOTE(pump->UpdatePressure(pressure)), 1);
  EXPECT_EQ(NOTE(pressure), 125.0f);  // bar from MPa
  CComPump fresh;  // pump 1 never found: no line, no switching, no call; readings raise "Comms error"
  NOTE(fresh.SetMethodLine(1, 1, 100, 0, 0, 0) + fresh.SetVexlinkBoxValveMethodLine(1, 1, 1, 1) +
       fresh.SetVexlinkBoxEventMethodLine(1, 1, 1, 1, 1) + fresh.SetInitialCons(1, 1, 0, 0, 100, 0, 0) +
       fresh.SwitchPump(1));
  EXPECT_EQ(lastCalls, Lines{});
  NOTE(fresh.UpdatePressure(pressure));
}

TEST_F(AdaptersTest, SwitchPumpAndTheDeferredSwitchOff) {
  NOTE(pump->SetInitialCons(1.5, 30, 0, 20, 100, 0, 0));
  server.SetPumpReadingForTesting(1, {1.0, 5.0, {}});
  NOTE(pump->SwitchPump(1));  // already flowing: nothing sent
  EXPECT_EQ(lastCalls, (Lines{"PumpUnit.GetStatus()", "Pump.GetFlow()"}));
  server.SetPumpReadingForTesting(1, {0.0, 0.0, {}});
  Fail("Session.StartInitial");
  EXPECT_EQ(NOTE(pump->SwitchPump(1)), 0);
  EXPECT_EQ(NOTE(pump->SwitchPump(1)), 1);
  NOTE(pump->Run());
  Fail("PumpUnit.SendSettings");
  NOTE(pump->SwitchPump(1));  // mid-run: the initial flow again
  NOTE(pump->SwitchPump(1));
  EXPECT_EQ(Lines(lastCalls.end() - 2, lastCalls.end()), (Lines{"Pump.SetFlow(1.5)", "PumpUnit.SendSettings()"}));
  NOTE(pump->SwitchPump(0));
  NOTE(pump->RunInitialConditions());
  NOTE(Status(*pump));  // the initial conditions run again: the switch-off waits
  EXPECT_EQ(lastCalls, Lines{"NetBoxUnit.GetIdentification()"});
  NOTE(pump->Stop());
  NOTE(Status(*pump));  // the switch-off, by the first idle check only
  EXPECT_EQ(lastCalls.back(), "Session.EndMethod()");
  NOTE(Status(*pump));
  EXPECT_EQ(lastCalls, Lines{"NetBoxUnit.GetIdentification()"});
}

TEST_F(AdaptersTest, SamplerInitialConditionsAndStates) {
  CComSamp sampler;
  NOTE(sampler.InitialiseComms());
  NOTE(sampler.SetInitialCons(12.9, 10.0, 0.0, 25.7, 2.0));
  Fail("Sequence.SetVial");
  NOTE(sampler.SetInitialCons(-3.9, 10.0, 0.0, 25.7, 2.0));
  for (auto [state, status, injecting, washing] :
       {std::tuple{6, "0: 0:", 1, 1}, std::tuple{0, "0: 0:", 0, 0}, std::tuple{3, "0: 0:", 1, 0},
        std::tuple{5, "0: 0:", 1, 0}, std::tuple{1, "0: 1:Autosampler has gone into fault status.", 0, 0},
        std::tuple{8, "1:Autosampler is locked. 0:", 0, 0}, std::tuple{6, "0: 0:", 1, 1}}) {
    transcript.Say("sampler state " + std::to_string(state));
    server.SetSamplerState(state);
    EXPECT_EQ(NOTE(Status(sampler)), status) << state;
    EXPECT_EQ(NOTE(sampler.IsInjecting()), injecting) << state;
    EXPECT_EQ(NOTE(sampler.IsWashing()), washing) << state;
  }
  server.SendMessageForTesting(1033);  // the network lost: once not ready, the state is not read
  NOTE(Status(sampler));
  EXPECT_EQ(NOTE(Status(sampler)), "1:Network connections not initialised or not responding 0:");
}

TEST_F(AdaptersTest, UvLinesLampAndOven) {
  CComUV uv;
  CComOven oven;
  NOTE(uv.InitialiseComms());
  NOTE(oven.InitialiseComms());
  Fail("UV.SetWavelength");
  NOTE(uv.SwitchLamp(1));  // the defaults before any initial conditions
  EXPECT_EQ(lastCalls,
            (Lines{"UV.SetWavelength(250)", "UV.SetResponse(1)", "UV.SetLampState(3)", "UVUnit.SendSettings()"}));
  NOTE(uv.SetInitialCons(254.0f, responseSlow, 1));
  NOTE(uv.SetMethodLine(5.0, 254.0f, responseSlow, 1));
  Fail("UV.SetLampState");
  NOTE(uv.SwitchLamp(0));
  for (auto [state, on] : {std::pair{0, 0}, std::pair{1, 1}, std::pair{2, 1}, std::pair{3, 1}, std::pair{4, 0},
                           std::pair{-1, 0}}) {
    transcript.Say("lamp state " + std::to_string(state));
    server.SetLampStateForTesting(state);
    EXPECT_EQ(NOTE(uv.IsLampOn()), on) << state;
  }
  Fail("UV.GetLampState");
  EXPECT_EQ(NOTE(uv.IsLampOn()), 0);
  NOTE(oven.SetMethodLine(1.0, 40.0));
  Fail("Method.SetOvenOption");
  NOTE(oven.SetMethodLine(1.0, 50.0));
  Fail("Method.SetDetectorOption");
  NOTE(uv.SetInitialCons(254.0f, responseFast, 0));
  EXPECT_EQ(NOTE(oven.GetOvenTemp()), 25);
  Fail("Oven.GetTemperature");
  EXPECT_EQ(NOTE(oven.GetOvenTemp()), 0);
  EXPECT_EQ(NOTE(CComOven().GetOvenTemp() + CComUV().IsLampOn() + CComUV().SwitchLamp(1)), 0);  // no unit: not asked
  EXPECT_EQ(lastCalls, Lines{});
}

}  // namespace
