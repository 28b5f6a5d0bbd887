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

// One call: the front, the call as written, and its answers with and
// without a back-end.
#define ANSWER(front, call, withBackend, without) \
  Answer{#front " " #call, [](Fronts& f) { return f.front.call; }, withBackend, without}

const Answer kAnswers[] = {
    ANSWER(pump, InitialiseComms(), 7, 0), ANSWER(pump, Initialise(), 1, 1), ANSWER(pump, GenericOp(1, 2), 1, 1),
    ANSWER(pump, ReadStatus(f.status), 7, 0), ANSWER(pump, SwitchPump(On), 7, 0),
    ANSWER(pump, LoadMethod("M1", "x"), 1, 1), ANSWER(pump, LoadMethod("M1"), 1, 0), ANSWER(pump, StartMethod(), 1, 0),
    ANSWER(pump, StartMethod("M1"), 1, 0), ANSWER(pump, StopMethod(), 7, 0), ANSWER(pump, CloseDownComms(), 1, 1),
    ANSWER(pump, GetMethodLength("M1", f.length), 1, 0), ANSWER(pump, MethodRunning(), 7, 0),
    ANSWER(pump, PumpOn(), 0, 0), ANSWER(pump, PostRunning(), 0, 0), ANSWER(pump, NotReady(f.text), 1, 1),
    ANSWER(pump, Error(f.text), 1, 1),
    ANSWER(sampler, InitialiseComms(), 7, 1), ANSWER(sampler, Initialise(), 1, 1),
    ANSWER(sampler, ReadStatus(f.status), 7, 0), ANSWER(sampler, LoadMethod("M1"), 1, 0),
    ANSWER(sampler, StartMethod(), 7, 0), ANSWER(sampler, StartMethod("M1"), 7, 0),
    ANSWER(sampler, StartMethod("M1", CString("12"), 5.0f), 7, 0), ANSWER(sampler, StartMethod("M1", 3, 2.0f), 7, 0),
    ANSWER(sampler, StopMethod(), 7, 0), ANSWER(sampler, SwitchWash(On), 0, 0), ANSWER(sampler, ResetInjector(), 1, 0),
    ANSWER(sampler, CloseDownComms(), 1, 1), ANSWER(sampler, Injecting(), 0, 0), ANSWER(sampler, MethodRunning(), 0, 0),
    ANSWER(sampler, PostRunning(), 0, 0), ANSWER(sampler, NotReady(f.text), 1, 0), ANSWER(sampler, Error(f.text), 1, 0),
    ANSWER(uv, InitialiseComms(), 7, 0), ANSWER(uv, Initialise(), 1, 1), ANSWER(uv, ReadStatus(f.status), 7, 0),
    ANSWER(uv, SwitchLamp(On), 7, 1), ANSWER(uv, LoadMethod("M1"), 1, 0), ANSWER(uv, StartMethod(), 0, 0),
    ANSWER(uv, StartMethod("M1"), 0, 0), ANSWER(uv, StopMethod(), 7, 0), ANSWER(uv, FinishMethod(), 7, 0),
    ANSWER(uv, CloseDownComms(), 1, 0), ANSWER(uv, LampOn(), 0, 0), ANSWER(uv, MethodRunning(), 0, 0),
    ANSWER(uv, PostRunning(), 0, 0), ANSWER(uv, NotReady(f.text), 1, 1), ANSWER(uv, Error(f.text), 1, 1),
};

// The passive fronts: every operation, one answer.
const Answer kPassiveAnswers[] = {
    ANSWER(pda, ReadStatus(f.status), 1, 1), ANSWER(pda, InitialiseComms(), 1, 1), ANSWER(pda, Initialise(), 1, 1),
    ANSWER(pda, GenericOp(1, 2), 1, 1), ANSWER(pda, SwitchLamp(On), 1, 1), ANSWER(pda, LoadMethod("M", "x"), 1, 1),
    ANSWER(pda, LoadMethod("M"), 1, 1), ANSWER(pda, StartMethod(), 1, 1), ANSWER(pda, StartMethod("M"), 1, 1),
    ANSWER(pda, StopMethod(), 1, 1), ANSWER(pda, FinishMethod(), 1, 1), ANSWER(pda, Balance(), 0, 0),
    ANSWER(pda, CloseDownComms(), 1, 1), ANSWER(pda, EndDataAcquisition(), 1, 1),
    ANSWER(pda, InitialiseNewDataAcquisition("a", "b"), 1, 1), ANSWER(pda, PreStartDataAcquisition(), 1, 1),
    ANSWER(pda, ReadData(), 1, 1), ANSWER(pda, ResetDataAcquisition(), 1, 1),
    ANSWER(pda, TerminateDataAcquisition(), 1, 1), ANSWER(pda, ReadBufferReady(), 0, 0),
    ANSWER(pda, WriteExpRecord(&f.record, "M", f.other, eRunTypeSample), 0, 0),
    ANSWER(pda, WriteExpRecord(&f.record, "M"), 0, 0), ANSWER(pda, LampOn(), 0, 0), ANSWER(pda, MethodRunning(), 0, 0),
    ANSWER(pda, PostRunning(), 0, 0), ANSWER(pda, NotReady(f.text), 1, 1), ANSWER(pda, Error(f.text), 1, 1),
    ANSWER(oven, ReadStatus(f.status), 1, 1), ANSWER(oven, InitialiseComms(), 1, 1), ANSWER(oven, Initialise(), 1, 1),
    ANSWER(oven, GenericOp(1, 2), 1, 1), ANSWER(oven, SwitchOven(On), 1, 1), ANSWER(oven, LoadMethod("M"), 1, 1),
    ANSWER(oven, StartMethod(), 1, 1), ANSWER(oven, StartMethod("M"), 1, 1), ANSWER(oven, StopMethod(), 1, 1),
    ANSWER(oven, CloseDownComms(), 1, 1), ANSWER(oven, WriteExpRecord(&f.record, "M"), 0, 0),
    ANSWER(oven, OvenOn(), 0, 0), ANSWER(oven, MethodRunning(), 0, 0), ANSWER(oven, PostRunning(), 0, 0),
    ANSWER(oven, NotReady(f.text), 1, 1), ANSWER(oven, Error(f.text), 1, 1),
    // The base classes' own answers, which these fronts override.
    ANSWER(pda, CPDADetector::InitialiseComms(), 1, 1), ANSWER(pda, CPDADetector::Initialise(), 1, 1),
    ANSWER(pda, CPDADetector::CloseDownComms(), 1, 1), ANSWER(oven, COven::InitialiseComms(), 1, 1),
    ANSWER(oven, COven::Initialise(), 1, 1), ANSWER(oven, COven::GenericOp(0, 0), 1, 1),
    ANSWER(oven, COven::CloseDownComms(), 1, 1), ANSWER(oven, COven::WriteExpRecord(&f.record, "M"), 0, 0),
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
