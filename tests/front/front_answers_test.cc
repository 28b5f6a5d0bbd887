// What every front answers the host, with a back-end (each back-end
// operation answers 7, so a 7 is a forwarded answer and anything else the
// front's own) and without one (its creation failed: nothing may be
// called). The PDA detector and the oven have no back-end: they answer the
// same either way and touch nothing the host passes them.
#include <gtest/gtest.h>

#include <functional>

#include "front/quarn_control_autosampler.h"
#include "front/quarn_control_detectors.h"
#include "front/quarn_control_pump.h"
#include "tests/front/front_test_world.h"

namespace {

using front_testing::FrontTest;

struct Fronts {
  CQuarnControlPump pump;
  CQuarnControlAutoSampler sampler;
  CQuarnControlUVDetector uv{0, 1};
  CQuarnControlPDADetector pda;
  CQuarnControlOven oven;
  CInletSystemStatus status;
  CGenericExpRecord record;
  CString text = "unchanged";
  CString other;
  float length = -1.0f;
};

struct Answer {
  const char* call;
  std::function<int(Fronts&)> op;
  int withBackend;
  int without;
};

const Answer kAnswers[] = {
    {"pump InitialiseComms", [](Fronts& f) { return f.pump.InitialiseComms(); }, 7, 0},
    {"pump Initialise", [](Fronts& f) { return f.pump.Initialise(); }, 1, 1},
    {"pump GenericOp", [](Fronts& f) { return f.pump.GenericOp(1, 2); }, 1, 1},
    {"pump ReadStatus", [](Fronts& f) { return f.pump.ReadStatus(f.status); }, 7, 0},
    {"pump SwitchPump", [](Fronts& f) { return f.pump.SwitchPump(On); }, 7, 0},
    {"pump LoadMethod(name, other)", [](Fronts& f) { return f.pump.LoadMethod("M1", "x"); }, 1, 1},
    {"pump LoadMethod(name)", [](Fronts& f) { return f.pump.LoadMethod("M1"); }, 1, 0},
    {"pump StartMethod()", [](Fronts& f) { return f.pump.StartMethod(); }, 1, 0},
    {"pump StartMethod(name)", [](Fronts& f) { return f.pump.StartMethod("M1"); }, 1, 0},
    {"pump StopMethod", [](Fronts& f) { return f.pump.StopMethod(); }, 7, 0},
    {"pump CloseDownComms", [](Fronts& f) { return f.pump.CloseDownComms(); }, 1, 1},
    {"pump GetMethodLength", [](Fronts& f) { return f.pump.GetMethodLength("M1", f.length); }, 1, 0},
    {"pump MethodRunning", [](Fronts& f) { return f.pump.MethodRunning(); }, 7, 0},
    {"pump PumpOn", [](Fronts& f) { return f.pump.PumpOn(); }, 0, 0},
    {"pump PostRunning", [](Fronts& f) { return f.pump.PostRunning(); }, 0, 0},
    {"pump NotReady", [](Fronts& f) { return f.pump.NotReady(f.text); }, 1, 1},
    {"pump Error", [](Fronts& f) { return f.pump.Error(f.text); }, 1, 1},
    {"sampler InitialiseComms", [](Fronts& f) { return f.sampler.InitialiseComms(); }, 7, 1},
    {"sampler Initialise", [](Fronts& f) { return f.sampler.Initialise(); }, 1, 1},
    {"sampler ReadStatus", [](Fronts& f) { return f.sampler.ReadStatus(f.status); }, 7, 0},
    {"sampler LoadMethod", [](Fronts& f) { return f.sampler.LoadMethod("M1"); }, 1, 0},
    {"sampler StartMethod()", [](Fronts& f) { return f.sampler.StartMethod(); }, 7, 0},
    {"sampler StartMethod(name)", [](Fronts& f) { return f.sampler.StartMethod("M1"); }, 7, 0},
    {"sampler StartMethod(name, vial, volume)",
     [](Fronts& f) { return f.sampler.StartMethod("M1", CString("12"), 5.0f); }, 7, 0},
    {"sampler StartMethod(name, 3, volume)", [](Fronts& f) { return f.sampler.StartMethod("M1", 3, 2.0f); }, 7, 0},
    {"sampler StopMethod", [](Fronts& f) { return f.sampler.StopMethod(); }, 7, 0},
    {"sampler SwitchWash", [](Fronts& f) { return f.sampler.SwitchWash(On); }, 0, 0},
    {"sampler ResetInjector", [](Fronts& f) { return f.sampler.ResetInjector(); }, 1, 0},
    {"sampler CloseDownComms", [](Fronts& f) { return f.sampler.CloseDownComms(); }, 1, 1},
    {"sampler Injecting", [](Fronts& f) { return f.sampler.Injecting(); }, 0, 0},
    {"sampler MethodRunning", [](Fronts& f) { return f.sampler.MethodRunning(); }, 0, 0},
    {"sampler PostRunning", [](Fronts& f) { return f.sampler.PostRunning(); }, 0, 0},
    {"sampler NotReady", [](Fronts& f) { return f.sampler.NotReady(f.text); }, 1, 0},
    {"sampler Error", [](Fronts& f) { return f.sampler.Error(f.text); }, 1, 0},
    {"uv InitialiseComms", [](Fronts& f) { return f.uv.InitialiseComms(); }, 7, 0},
    {"uv Initialise", [](Fronts& f) { return f.uv.Initialise(); }, 1, 1},
    {"uv ReadStatus", [](Fronts& f) { return f.uv.ReadStatus(f.status); }, 7, 0},
    {"uv SwitchLamp", [](Fronts& f) { return f.uv.SwitchLamp(On); }, 7, 1},
    {"uv LoadMethod", [](Fronts& f) { return f.uv.LoadMethod("M1"); }, 1, 0},
    {"uv StartMethod()", [](Fronts& f) { return f.uv.StartMethod(); }, 0, 0},
    {"uv StartMethod(name)", [](Fronts& f) { return f.uv.StartMethod("M1"); }, 0, 0},
    {"uv StopMethod", [](Fronts& f) { return f.uv.StopMethod(); }, 7, 0},
    {"uv FinishMethod", [](Fronts& f) { return f.uv.FinishMethod(); }, 7, 0},
    {"uv CloseDownComms", [](Fronts& f) { return f.uv.CloseDownComms(); }, 1, 0},
    {"uv LampOn", [](Fronts& f) { return f.uv.LampOn(); }, 0, 0},
    {"uv MethodRunning", [](Fronts& f) { return f.uv.MethodRunning(); }, 0, 0},
    {"uv PostRunning", [](Fronts& f) { return f.uv.PostRunning(); }, 0, 0},
    {"uv NotReady", [](Fronts& f) { return f.uv.NotReady(f.text); }, 1, 1},
    {"uv Error", [](Fronts& f) { return f.uv.Error(f.text); }, 1, 1},
};

// The passive fronts: every operation, one answer.
const Answer kPassiveAnswers[] = {
    {"pda ReadStatus", [](Fronts& f) { return f.pda.ReadStatus(f.status); }, 1, 1},
    {"pda InitialiseComms", [](Fronts& f) { return f.pda.InitialiseComms(); }, 1, 1},
    {"pda Initialise", [](Fronts& f) { return f.pda.Initialise(); }, 1, 1},
    {"pda GenericOp", [](Fronts& f) { return f.pda.GenericOp(1, 2); }, 1, 1},
    {"pda SwitchLamp", [](Fronts& f) { return f.pda.SwitchLamp(On); }, 1, 1},
    {"pda LoadMethod(name, other)", [](Fronts& f) { return f.pda.LoadMethod("M", "x"); }, 1, 1},
    {"pda LoadMethod(name)", [](Fronts& f) { return f.pda.LoadMethod("M"); }, 1, 1},
    {"pda StartMethod()", [](Fronts& f) { return f.pda.StartMethod(); }, 1, 1},
    {"pda StartMethod(name)", [](Fronts& f) { return f.pda.StartMethod("M"); }, 1, 1},
    {"pda StopMethod", [](Fronts& f) { return f.pda.StopMethod(); }, 1, 1},
    {"pda FinishMethod", [](Fronts& f) { return f.pda.FinishMethod(); }, 1, 1},
    {"pda Balance", [](Fronts& f) { return f.pda.Balance(); }, 0, 0},
    {"pda CloseDownComms", [](Fronts& f) { return f.pda.CloseDownComms(); }, 1, 1},
    {"pda EndDataAcquisition", [](Fronts& f) { return f.pda.EndDataAcquisition(); }, 1, 1},
    {"pda InitialiseNewDataAcquisition", [](Fronts& f) { return f.pda.InitialiseNewDataAcquisition("a", "b"); }, 1, 1},
    {"pda PreStartDataAcquisition", [](Fronts& f) { return f.pda.PreStartDataAcquisition(); }, 1, 1},
    {"pda ReadData", [](Fronts& f) { return f.pda.ReadData(); }, 1, 1},
    {"pda ResetDataAcquisition", [](Fronts& f) { return f.pda.ResetDataAcquisition(); }, 1, 1},
    {"pda TerminateDataAcquisition", [](Fronts& f) { return f.pda.TerminateDataAcquisition(); }, 1, 1},
    {"pda ReadBufferReady", [](Fronts& f) { return f.pda.ReadBufferReady(); }, 0, 0},
    {"pda WriteExpRecord(4)", [](Fronts& f) { return f.pda.WriteExpRecord(&f.record, "M", f.other, eRunTypeSample); },
     0, 0},
    {"pda WriteExpRecord(2)", [](Fronts& f) { return f.pda.WriteExpRecord(&f.record, "M"); }, 0, 0},
    {"pda LampOn", [](Fronts& f) { return f.pda.LampOn(); }, 0, 0},
    {"pda MethodRunning", [](Fronts& f) { return f.pda.MethodRunning(); }, 0, 0},
    {"pda PostRunning", [](Fronts& f) { return f.pda.PostRunning(); }, 0, 0},
    {"pda NotReady", [](Fronts& f) { return f.pda.NotReady(f.text); }, 1, 1},
    {"pda Error", [](Fronts& f) { return f.pda.Error(f.text); }, 1, 1},
    {"oven ReadStatus", [](Fronts& f) { return f.oven.ReadStatus(f.status); }, 1, 1},
    {"oven InitialiseComms", [](Fronts& f) { return f.oven.InitialiseComms(); }, 1, 1},
    {"oven Initialise", [](Fronts& f) { return f.oven.Initialise(); }, 1, 1},
    {"oven GenericOp", [](Fronts& f) { return f.oven.GenericOp(1, 2); }, 1, 1},
    {"oven SwitchOven", [](Fronts& f) { return f.oven.SwitchOven(On); }, 1, 1},
    {"oven LoadMethod", [](Fronts& f) { return f.oven.LoadMethod("M"); }, 1, 1},
    {"oven StartMethod()", [](Fronts& f) { return f.oven.StartMethod(); }, 1, 1},
    {"oven StartMethod(name)", [](Fronts& f) { return f.oven.StartMethod("M"); }, 1, 1},
    {"oven StopMethod", [](Fronts& f) { return f.oven.StopMethod(); }, 1, 1},
    {"oven CloseDownComms", [](Fronts& f) { return f.oven.CloseDownComms(); }, 1, 1},
    {"oven WriteExpRecord", [](Fronts& f) { return f.oven.WriteExpRecord(&f.record, "M"); }, 0, 0},
    {"oven OvenOn", [](Fronts& f) { return f.oven.OvenOn(); }, 0, 0},
    {"oven MethodRunning", [](Fronts& f) { return f.oven.MethodRunning(); }, 0, 0},
    {"oven PostRunning", [](Fronts& f) { return f.oven.PostRunning(); }, 0, 0},
    {"oven NotReady", [](Fronts& f) { return f.oven.NotReady(f.text); }, 1, 1},
    {"oven Error", [](Fronts& f) { return f.oven.Error(f.text); }, 1, 1},
    // The base classes' own answers, which these fronts override.
    {"CPDADetector InitialiseComms", [](Fronts& f) { return f.pda.CPDADetector::InitialiseComms(); }, 1, 1},
    {"CPDADetector Initialise", [](Fronts& f) { return f.pda.CPDADetector::Initialise(); }, 1, 1},
    {"CPDADetector CloseDownComms", [](Fronts& f) { return f.pda.CPDADetector::CloseDownComms(); }, 1, 1},
    {"COven InitialiseComms", [](Fronts& f) { return f.oven.COven::InitialiseComms(); }, 1, 1},
    {"COven Initialise", [](Fronts& f) { return f.oven.COven::Initialise(); }, 1, 1},
    {"COven GenericOp", [](Fronts& f) { return f.oven.COven::GenericOp(0, 0); }, 1, 1},
    {"COven CloseDownComms", [](Fronts& f) { return f.oven.COven::CloseDownComms(); }, 1, 1},
    {"COven WriteExpRecord", [](Fronts& f) { return f.oven.COven::WriteExpRecord(&f.record, "M"); }, 0, 0},
};

class FrontAnswersTest : public FrontTest, public ::testing::WithParamInterface<bool> {};

TEST_P(FrontAnswersTest, EveryCallAnswersAsTheHostExpects) {
  const bool withBackend = GetParam();
  maker.buildNothing = !withBackend;
  Fronts fronts;
  if (withBackend) {
    maker.pump->defaultResult = maker.sampler->defaultResult = maker.uv->defaultResult = 7;
    maker.sampler->injecting = {0};
  }
  fronts.status.GetFlow() = 1.5f;
  fronts.status.SetNotReadyInfo("warming up");
  const CInletSystemStatus passed = fronts.status;
  for (const Answer& a : kPassiveAnswers) EXPECT_EQ(a.op(fronts), withBackend ? a.withBackend : a.without) << a.call;
  EXPECT_TRUE(fronts.status == passed) << "the passive fronts write nothing into the record";
  EXPECT_TRUE(fronts.record.Text().empty());
  timeline.clear();

  for (const Answer& a : kAnswers) EXPECT_EQ(a.op(fronts), withBackend ? a.withBackend : a.without) << a.call;
  EXPECT_EQ(fronts.text, "unchanged");
  if (withBackend) {
    // Arguments go through as given.
    EXPECT_EQ(maker.pump->statusSeen, &fronts.status);
    EXPECT_NE(std::find(timeline.begin(), timeline.end(), "SwitchPump 1"), timeline.end());
    EXPECT_NE(std::find(timeline.begin(), timeline.end(), "SwitchLamp 1"), timeline.end());
  } else {
    EXPECT_EQ(fronts.length, -1.0f);
    EXPECT_TRUE(timeline.empty()) << timeline[0];
  }
}

INSTANTIATE_TEST_SUITE_P(BackEnd, FrontAnswersTest, ::testing::Values(true, false),
                         [](const auto& param) { return param.param ? "With" : "Without"; });

}  // namespace
