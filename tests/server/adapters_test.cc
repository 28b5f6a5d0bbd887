// The unit adapters on a connected session: method items, the exact server
// calls of configuring, reading and switching the pump, sampler and lamp states.
#include <cstdio>

#include "platform/clock/clock.h"
#include "server/com_pump.h"
#include "server/com_units.h"
#include "tests/server/server_world.h"

namespace {

using Calls = std::vector<std::string>;

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
  // "type/number @time fcode: p1 .. p6" per method item.
  Calls Items() {
    Calls out;
    for (const auto& i : server.CurrentMethod().items) {
      char line[160];
      std::snprintf(line, sizeof line, "%ld/%d @%g f%ld: %g %g %g %g %g %g", long{i.unitType}, i.unitNumber, i.time,
                    long{i.function}, i.params[0], i.params[1], i.params[2], i.params[3], i.params[4], i.params[5]);
      out.push_back(line);
    }
    return out;
  }
  // "result: flow A B C D" with the percentages preset to 7.
  std::string Flows() {
    float flow = -1, a = 7, b = 7, c = 7, d = 7;
    const int result = pump->UpdateFlows(flow, a, b, c, d);
    char text[96];
    std::snprintf(text, sizeof text, "%d: %g %g %g %g %g", result, flow, a, b, c, d);
    return text;
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
  EXPECT_EQ(pump->SetMethodLine(2.0, 1.0, 50, 30, 0, 0) + pump->SetMethodLine(3.0, 1.0, 50, 30, 0, 150) +
                pump->SetVexlinkBoxEventMethodLine(1.0, 1, 0, 1, 0) + pump->SetVexlinkBoxValveMethodLine(2.0, 2, 1, 2) +
                pump->SetInitialCons(1.5, 30, 0, 20, 100, 0, 0),
            5);
  EXPECT_EQ(Items(), (Calls{"1/1 @2 f0: 1 0 0 0 0 0", "1/1 @2 f1: 50 30 0 20 0 0", "1/1 @3 f0: 1 0 0 0 0 0",
                            "1/1 @3 f2: 15 0 0 0 0 0", "1/1 @3 f1: 50 30 0 20 0 0", "0/0 @1 f5: 1 0 1 0 0 0",
                            "0/0 @2 f6: 2 1 2 0 0 0", "1/1 @-1 f3: 2 0 0 0 0 0", "1/1 @-1 f0: 1.5 0 0 0 0 0",
                            "1/1 @-1 f1: 100 0 0 0 0 0"}));
  EXPECT_EQ(server.CurrentMethod().pumpOption, 1);
  NewCalls();
  EXPECT_EQ(pump->RunGradient(), 1);
  EXPECT_EQ(NewCalls(), (Calls{"Method.SetRunLength(30)", "Sequence.SetVial(-1)", "Session.PrepareRun()",
                               "Session.StartRun()"}));
  server.FailForTesting("Method.SetRunLength", S_FALSE, 1);
  EXPECT_EQ(pump->RunGradient(), 0);
  server.FailForTesting("Method.SetPumpOption", E_FAIL, 1);
  EXPECT_EQ(pump->SetInitialCons(1.5, 30, 0, 20, 100, 0, 0), 0);
  EXPECT_EQ(Items().back(), "1/1 @-1 f3: 2 0 0 0 0 0");  // written before the failure: kept
  EXPECT_EQ(pump->InitialiseComms(), 0);                 // a second discovery after a good one
  server.FailForTesting("Method.AddItem", E_FAIL, 1);
  EXPECT_EQ(pump->SetMethodLine(1, 1, 50, 50, 0, 100), 0);
  EXPECT_EQ(NewCalls().back(), "Method.AddItem(1, 1)");  // the first failing item ends the line
}

TEST_F(AdaptersTest, ControlModeConfirmedWithinTwentyPollsAndTheThirdPump) {
  // GetControlMode fails this often first (-1: always; 0: never): result, wait.
  for (const auto& [failures, result, waitedMs] : {std::tuple{-1, 0, 2000}, {19, 1, 2000}, {0, 1, 100}}) {
    server.FailForTesting("Method.GetControlMode", E_FAIL, failures);
    const std::int64_t before = platform::Clock::Get().NowMs();
    EXPECT_EQ(pump->SetPumpControlMode(modeQuaternary), result);
    EXPECT_EQ(platform::Clock::Get().NowMs() - before, waitedMs);
  }
  server.SetUnitAbsentForTesting(1, 3);
  NewCalls();
  EXPECT_EQ(pump->SetPumpControlMode(modeTernary), 1);
  EXPECT_EQ(NewCalls(), (Calls{"Units.GetUnit(1, 2)", "PumpUnit.GetStatus()", "PumpUnit.GetConnected()",
                               "Units.GetUnit(1, 3)", "Method.SetControlMode(768)", "Method.GetControlMode()"}));
  server.SetUnitAbsentForTesting(1, 3, false);
  server.SetUnitTimingForTesting(1, 3, -1, 0);
  try {
    pump->SetPumpControlMode(modeTernary);
    ADD_FAILURE() << "no exception";
  } catch (const CCommunicationsException& e) {
    EXPECT_EQ(e.GetErrorMessage(), CString("Pump 3 unit not detected"));
  }
  EXPECT_EQ(NewCalls().front(), "Units.GetUnit(1, 3)");  // pump 2 is kept
  EXPECT_EQ(pump->SetPumpControlMode(modeBinary), 0);    // unconnected now: no call
  EXPECT_TRUE(NewCalls().empty());
}

TEST_F(AdaptersTest, FlowsPerControlModeAndPressure) {
  server.SetPumpReadingForTesting(1, {1.25, 12.5, {60, 40}});
  EXPECT_EQ(Flows(), "1: 1.25 100 0 0 0");  // isocratic: the channels are not asked
  EXPECT_EQ(NewCalls(), (Calls{"PumpUnit.GetStatus()", "Pump.GetFlow()"}));
  ASSERT_EQ(pump->SetPumpControlMode(modeBinary), 1);
  EXPECT_EQ(Flows(), "1: 1.25 60 40 7 7");
  server.SetPumpReadingForTesting(1, {1.25, 12.5, {10, 20, 30, 35, 5}});
  server.FailForTesting("Solvent.GetPercent", E_FAIL, 1);
  EXPECT_EQ(Flows(), "1: 1.25 0 20 30 35");
  for (const auto& [operation, flows] :
       {std::pair{"Solvents.GetCount", "1: 1.25 7 7 7 7"}, {"Pump.GetFlow", "0: -1 7 7 7 7"},
        {"PumpUnit.GetStatus", "0: -1 7 7 7 7"}}) {
    server.FailForTesting(operation, E_FAIL, 1);
    EXPECT_EQ(Flows(), flows) << operation;
  }
  float pressure = -1;
  EXPECT_EQ(pump->UpdatePressure(pressure), 1);
  EXPECT_EQ(pressure, 125.0f);
  CComPump fresh;  // pump 1 never found: no line, no switching, no call; readings raise "Comms error"
  NewCalls();
  EXPECT_EQ(fresh.SetMethodLine(1, 1, 100, 0, 0, 0) + fresh.SetVexlinkBoxValveMethodLine(1, 1, 1, 1) +
                fresh.SetVexlinkBoxEventMethodLine(1, 1, 1, 1, 1) + fresh.SetInitialCons(1, 1, 0, 0, 100, 0, 0) +
                fresh.SwitchPump(1),
            0);
  EXPECT_TRUE(NewCalls().empty());
  EXPECT_THROW(fresh.UpdatePressure(pressure), CCommunicationsException);
}

TEST_F(AdaptersTest, SwitchPumpAndTheDeferredSwitchOff) {
  ASSERT_EQ(pump->SetInitialCons(1.5, 30, 0, 20, 100, 0, 0), 1);
  server.SetPumpReadingForTesting(1, {1.0, 5.0, {}});
  NewCalls();
  EXPECT_EQ(pump->SwitchPump(1), 1);  // already flowing: nothing sent
  EXPECT_EQ(NewCalls(), (Calls{"PumpUnit.GetStatus()", "Pump.GetFlow()"}));
  server.SetPumpReadingForTesting(1, {0.0, 0.0, {}});
  server.FailForTesting("Session.StartInitial", E_FAIL, 1);
  EXPECT_EQ(pump->SwitchPump(1) * 10 + pump->SwitchPump(1), 1);
  EXPECT_EQ(NewCalls().back(), "Session.StartInitial()");
  ASSERT_EQ(pump->Run(), 1);
  server.FailForTesting("PumpUnit.SendSettings", E_FAIL, 1);
  EXPECT_EQ(pump->SwitchPump(1) * 10 + pump->SwitchPump(1), 1);  // mid-run: the initial flow again
  const Calls restart = NewCalls();
  EXPECT_EQ(Calls(restart.end() - 2, restart.end()), (Calls{"Pump.SetFlow(1.5)", "PumpUnit.SendSettings()"}));
  EXPECT_EQ(pump->SwitchPump(0), 1);
  EXPECT_EQ(NewCalls(), (Calls{"PumpUnit.GetStatus()", "Pump.GetFlow()", "Session.EndRun()", "Session.EndMethod()"}));
  auto stops = [&] {
    const Calls calls = NewCalls();
    return std::count(calls.begin(), calls.end(), "Session.EndMethod()");
  };
  ASSERT_EQ(pump->RunInitialConditions(), 1);
  Status(*pump);
  EXPECT_EQ(stops(), 0);  // the initial conditions run again: the switch-off waits
  ASSERT_EQ(pump->Stop(), 1);
  NewCalls();
  Status(*pump);
  Status(*pump);
  EXPECT_EQ(stops(), 1);  // by the first idle check only
}

TEST_F(AdaptersTest, SamplerInitialConditionsAndStates) {
  CComSamp sampler;
  ASSERT_EQ(sampler.InitialiseComms(), 1);
  NewCalls();
  EXPECT_EQ(sampler.SetInitialCons(12.9, 10.0, 0.0, 25.7, 2.0), 1);
  server.FailForTesting("Sequence.SetVial", E_FAIL, 1);
  EXPECT_EQ(sampler.SetInitialCons(-3.9, 10.0, 0.0, 25.7, 2.0), 0);
  EXPECT_EQ(NewCalls(), (Calls{"Sequence.SetVial(12)", "Sequence.SetInjectionVolume(10)", "Sequence.SetSamplerValue(0)",
                               "Method.SetSamplerTime(25)", "Method.SetSamplerCount(2)", "Sequence.SetVial(-3)"}));
  // state: "injecting washing|status"
  for (const auto& [state, seen] :
       {std::pair{6, "11|0: 0:"}, {0, "00|0: 0:"}, {3, "10|0: 0:"}, {5, "10|0: 0:"},
        {1, "00|0: 1:Autosampler has gone into fault status."}, {8, "00|1:Autosampler is locked. 0:"}, {6, "11|0: 0:"}}) {
    server.SetSamplerStateForTesting(state);
    const std::string status = Status(sampler);
    EXPECT_EQ(std::to_string(sampler.IsInjecting()) + std::to_string(sampler.IsWashing()) + "|" + status, seen);
  }
  server.SendMessageForTesting(1033);  // not ready already: the state is not read
  NewCalls();
  EXPECT_EQ(Status(sampler) + Status(sampler), "1:Network connections not initialised or not responding 0:0: 0:");
  const Calls calls = NewCalls();
  EXPECT_EQ(std::count(calls.begin(), calls.end(), "Autosampler.GetSamplerState()"), 1);
}

TEST_F(AdaptersTest, UvLinesLampAndOven) {
  CComUV uv;
  CComOven oven;
  ASSERT_EQ(uv.InitialiseComms() + oven.InitialiseComms(), 2);
  NewCalls();
  server.FailForTesting("UV.SetWavelength", E_FAIL, 1);
  EXPECT_EQ(uv.SwitchLamp(1), 1);  // the defaults before any initial conditions
  EXPECT_EQ(NewCalls(), (Calls{"UV.SetWavelength(250)", "UV.SetResponse(1)", "UV.SetLampState(3)",
                               "UVUnit.SendSettings()"}));
  EXPECT_EQ(uv.SetInitialCons(254.0f, responseSlow, 1) + uv.SetMethodLine(5.0, 254.0f, responseSlow, 1), 2);
  server.FailForTesting("UV.SetLampState", E_FAIL, 1);
  EXPECT_EQ(uv.SwitchLamp(0), 0);
  EXPECT_EQ(NewCalls().back(), "UVUnit.SendSettings()");
  std::string lamp;
  for (LONG state : {0, 1, 2, 3, 4, -1}) {
    server.SetLampStateForTesting(state);
    lamp += std::to_string(uv.IsLampOn());
  }
  server.FailForTesting("UV.GetLampState", E_FAIL, 1);
  EXPECT_EQ(lamp + std::to_string(uv.IsLampOn()), "0111000");
  EXPECT_EQ(oven.SetMethodLine(1.0, 40.0), 1);
  EXPECT_EQ(Items(), (Calls{"4/1 @-1 f7: 254 0 0 0 0 0", "4/1 @-1 f9: 2 0 0 0 0 0", "4/1 @5 f7: 254 0 0 0 0 0",
                            "4/1 @5 f9: 2 0 0 0 0 0", "4/1 @5 f25: 0 0 0 0 0 0", "6/1 @1 f4: 40 0 0 0 0 0"}));
  server.FailForTesting("Method.SetOvenOption", E_FAIL, 1);
  server.FailForTesting("Method.SetDetectorOption", E_FAIL, 1);
  EXPECT_EQ(oven.SetMethodLine(1.0, 50.0) + uv.SetInitialCons(254.0f, responseFast, 0), 0);
  EXPECT_EQ(oven.GetOvenTemp(), 25.0);
  server.FailForTesting("Oven.GetTemperature", E_FAIL, 1);
  EXPECT_EQ(oven.GetOvenTemp(), 0.0);
  EXPECT_EQ(CComOven().GetOvenTemp() + CComUV().IsLampOn() + CComUV().SwitchLamp(1), 0.0);  // no unit: not asked
}

}  // namespace
