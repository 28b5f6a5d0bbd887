// The direct pump's method downloads, checked as the units receive them:
// the analysis file pushed at a run start and the direct commands, read
// from the simulated network's call log.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "network/quarn_autosampler.h"
#include "network/quarn_pump.h"
#include "network/quarn_uv_detector.h"
#include "platform/inlet/host_ui.h"
#include "platform/inlet/inlet.h"
#include "tests/network/network_world.h"
#include "tests/support/golden.h"

namespace {

using testing_support::FieldOf;
using Bytes = std::vector<std::uint8_t>;

// A method as a user might write it: 1 ml/min, 400 / 5 bar, 10 min.
QuarnMethod MakeMethod(int pumpSystem, std::array<int, 4> inUse) {
  QuarnMethod m;
  PumpInitialCons& c = m.GetPumpInitialCons();
  c.Flow() = 1.0f;
  c.MaxPressure() = 400;
  c.MinPressure() = 5;
  c.StopTime() = 10.0f;
  c.PumpSystem() = pumpSystem;
  for (int i = 0; i < 4; ++i) m.GetSolventSelection().InUse(i) = inUse[static_cast<std::size_t>(i)];
  return m;
}
void AddSteps(QuarnMethod& m, int count) {
  for (int i = 0; i < count; ++i) m.GetPumpGradient().AddEntry({0.5f * static_cast<float>(i), 1.0f, 10.0f, 0, 0, 0});
}

class PumpDownloadTest : public testing_support::NetworkWorld {
 protected:
  void SetUp() override {
    NetworkWorld::SetUp();
    PretendSessionOpen();
  }
  // Both pump stages, as the pump front runs them.
  int Load(QuarnMethod& method) { return pump.DownloadInitialConditions(method) && pump.DownloadTimetable(method); }
  // The run header and analysis file the next pump start pushes.
  std::vector<Bytes> PushAtStart() {
    pump.StartMethod();
    return LastRecords("LC_PushAnlsFile");
  }
  // Loads `m` (both pump stages, then what `also` downloads) into command
  // records preset to 0xabcd words and adds to the dump the calls the
  // network hears and the analysis file the next start pushes.
  void Record(const std::string& name, QuarnMethod m, const std::function<void(QuarnMethod&)>& also = {}) {
    for (std::size_t b = 0; b < 16; ++b) g_downloadRecords.m_directCommand.Data()[b] = b % 2 ? 0xAB : 0xCD;
    const std::size_t first = net.Calls().size();
    ASSERT_EQ(Load(m), 1) << name;
    if (also) also(m);
    dump += "== " + name + "\n";
    for (const std::string& call : HostCallsFrom(first)) dump += call + "\n";
    dump += testing_support::DescribeAnlsFile(PushAtStart().at(1));
  }
  CQuarnPump pump;
  std::string dump;
};

// ---- What the units receive, byte for byte: the file's lines and units
// follow the pump system and each unit's download; flow and composition are
// rounded or truncated as each record wants ----

TEST_F(PumpDownloadTest, MethodsReachTheUnitsAsTheGoldenFileShows) {
  // Solvent D has no channel on the units: its share runs as A.
  for (auto [name, system, inUseB, percentB, percentD] :
       {std::tuple{"Isocratic", pumpSystemIsocratic, 1, 30.0f, 0.0f},
        std::tuple{"Quaternary", pumpSystemQuaternary, 1, 30.0f, 0.0f},
        std::tuple{"Binary", pumpSystemBinary, 1, 30.0f, 0.0f},
        std::tuple{"Ternary", pumpSystemTernary, 1, 30.0f, 0.0f},
        std::tuple{"Ternary, B rounded, D as A", pumpSystemTernary, 1, 30.6f, 15.0f},
        std::tuple{"Ternary, B not in use, D as A", pumpSystemTernary, 0, 20.0f, 15.0f}}) {
    QuarnMethod m = MakeMethod(system, {1, inUseB, 0, percentD > 0});
    m.GetPumpInitialCons().PercentB() = percentB;
    m.GetPumpInitialCons().PercentD() = percentD;
    AddSteps(m, 2);
    Record(name, m);
  }
  QuarnMethod shares = MakeMethod(pumpSystemTernary, {1, 1, 1, 1});
  shares.GetPumpInitialCons().PercentB() = 30.6f;
  shares.GetPumpInitialCons().PercentC() = 10.5f;
  shares.GetPumpInitialCons().PercentD() = 15.0f;
  Record("Ternary, B and C, D as A", shares);
  // Flow: truncated in the file, rounded in the command.
  for (float flow : {0.0005f, 0.0015f}) {
    QuarnMethod m = MakeMethod(pumpSystemIsocratic, {1, 0, 0, 0});
    m.GetPumpInitialCons().Flow() = flow;
    Record("Flow " + std::to_string(flow), m);
  }
  // Steps in time order; one at the same time is kept after the one before
  // it. Its own limit and its D share are not the units' to take: the
  // method's limit, D as A.
  QuarnMethod steps = MakeMethod(pumpSystemTernary, {1, 1, 1, 1});
  steps.GetPumpGradient().AddEntry({1.5f, 1.25f, 40.0f, 0.0f, 0.0f, 0});
  steps.GetPumpGradient().AddEntry({0.35f, 1.0f, 20.0f, 0.0f, 0.0f, 0});  // 21000 ms on every processor
  steps.GetPumpGradient().AddEntry({0.0f, 1.0f, 10.0f, 0.0f, 0.0f, 0});
  steps.GetPumpGradient().AddEntry({1.5f, 2.0f, 60.0f, 4.5f, 20.0f, 350});
  Record("Steps", steps);
  // The oven hears first (its target truncated), then the pump; the
  // autosampler and UV join the file in the order of their downloads.
  QuarnMethod oven = MakeMethod(pumpSystemTernary, {1, 1, 1, 0});
  oven.GetPumpInitialCons().OvenInUse() = 1;
  oven.GetPumpInitialCons().OvenTemperature() = 39.6f;
  CQuarnAutoSampler sampler;
  CQuarnUVDetector uv;
  Record("Oven, autosampler, UV", oven, [&](QuarnMethod& m) {
    ASSERT_EQ(sampler.DownloadMethod(m), 1);
    ASSERT_EQ(uv.DownloadMethod(m), 1);
  });
  EXPECT_EQ(RegGetInstrumentMake("OVEN"), "QUARN900");
  // A second load carries nothing of the first into its lines: the UV
  // lines now follow three pump lines, where the composition line stood.
  Record("Isocratic after it, no oven, UV", MakeMethod(pumpSystemIsocratic, {1, 0, 0, 0}),
         [&](QuarnMethod& m) { ASSERT_EQ(uv.DownloadMethod(m), 1); });
  EXPECT_EQ(RegGetInstrumentMake("OVEN"), "");
  testing_support::ExpectMatchesGolden(dump, "network/golden/pump-downloads.txt");
}

TEST_F(PumpDownloadTest, APumpStartRunsForTheStopTimeWhichZeroLeavesAsItWasExceptOnTheFirstLoad) {
  std::vector<long long> runTimes;
  for (float stopTime : {0.0f, 12.5f, 0.0f, 2.3f, 0.7f}) {
    QuarnMethod m = MakeMethod(pumpSystemIsocratic, {1, 0, 0, 0});
    m.GetPumpInitialCons().StopTime() = stopTime;
    ASSERT_EQ(Load(m), 1);
    const Bytes header = PushAtStart().at(0);
    runTimes.push_back(FieldOf<RunHeader::RunTimeS>(header));
    using H = RunHeader;  // a pump start names no vial
    EXPECT_EQ((testing_support::WireFields(header).Named<H::FirstVial, H::LastVial>({"first", "last"})),
              "first=65535 last=65535");
  }
  // Minutes to seconds in single precision: 2.3 min is 138 s, 0.7 min 42 s.
  EXPECT_EQ(runTimes, (std::vector<long long>{0, 750, 750, 138, 42}));
}

// ---- A gradient the timetable cannot hold is refused, and nothing changes ----

TEST_F(PumpDownloadTest, TwentyTwoStepsAreRefusedWithWhyAndTheLoadedMethodStaysWhole) {
  QuarnMethod loaded = MakeMethod(pumpSystemQuaternary, {1, 1, 1, 1});
  AddSteps(loaded, 4);
  ASSERT_EQ(Load(loaded), 1);
  const AnlsFile before = g_downloadRecords.m_anlsFile;
  const std::size_t calls = net.Calls().size();

  QuarnMethod m = MakeMethod(pumpSystemQuaternary, {1, 1, 1, 1});
  m.GetPumpInitialCons().StopTime() = 20.0f;
  m.GetPumpInitialCons().OvenInUse() = 1;
  AddSteps(m, 22);
  EXPECT_EQ(pump.DownloadInitialConditions(m), 0);
  EXPECT_EQ(pump.DownloadTimetable(m), 0);  // also when called alone

  ASSERT_EQ(ui.MessageBoxes().size(), 2u);
  EXPECT_EQ(ui.MessageBoxes()[0],
            "MessageBox 0x30: This method's gradient timetable has 22 steps, but the direct instrument network "
            "holds at most 21.\nMerge or remove steps to leave 21 or fewer and load the method again; a shortened "
            "gradient is not sent, since it would change the separation.\nThe method was not loaded.");
  EXPECT_TRUE(HostCallsFrom(calls).empty());
  EXPECT_TRUE(std::equal(before.Data(), before.Data() + sizeof(AnlsFile), g_downloadRecords.m_anlsFile.Data()));
  EXPECT_EQ(FieldOf<RunHeader::RunTimeS>(PushAtStart().at(0)), 600);  // the loaded method's stop time
}

TEST_F(PumpDownloadTest, TwentyOneStepsFillTheTimetableAndNoMoreAreAppended) {
  QuarnMethod m = MakeMethod(pumpSystemBinary, {1, 1, 0, 0});
  AddSteps(m, 21);
  ASSERT_EQ(Load(m), 1);
  EXPECT_EQ(FieldOf<AnlsFile::TimetableCount>(PushAtStart().at(1)), 63);

  QuarnMethod more = MakeMethod(pumpSystemBinary, {1, 1, 0, 0});
  AddSteps(more, 1);
  EXPECT_EQ(pump.DownloadTimetable(more), 0);
  EXPECT_EQ(ui.MessageBoxes(),
            std::vector<std::string>{"MessageBox 0x30: This gradient timetable has 1 steps, but only 0 more fit "
                                     "behind the 63 timetable lines already loaded.\nLoad the whole method again, "
                                     "so that the analysis file starts afresh.\nThe gradient timetable was not "
                                     "loaded."});

  // One pump carries no timetable, so any number of steps is taken.
  QuarnMethod isocratic = MakeMethod(pumpSystemIsocratic, {1, 0, 0, 0});
  AddSteps(isocratic, 30);
  EXPECT_EQ(Load(isocratic), 1);
  EXPECT_EQ(FieldOf<AnlsFile::TimetableCount>(PushAtStart().at(1)), 0);
}

// The refusal's message box is where the connection is lost: each download
// shows the failure under the pump's heading and throws it on.
TEST_F(PumpDownloadTest, ACommunicationsFailureInADownloadIsShownUnderThePumpHeadingAndThrownOn) {
  struct LosingHostUi final : platform::HostUi {
    int MessageBox(const CString& text, UINT) override {
      if (std::exchange(lose, false)) ThrowCCommunicationsException(4, "No answer from the node");
      boxes.push_back(text.str());
      return 1;
    }
    void ProgressOpen(const CString&) override {}
    void ProgressStep(int, const char*) override {}
    void ProgressClose() override {}
    void FlashStatusText(const char*, const char*, int) override {}
    bool lose = true;
    std::vector<std::string> boxes;
  } host;
  QuarnMethod tooLong = MakeMethod(pumpSystemBinary, {1, 1, 0, 0});
  ASSERT_EQ(pump.DownloadInitialConditions(tooLong), 1);  // a system that carries a timetable
  AddSteps(tooLong, 30);
  platform::InstallHostUi(&host);
  for (auto download : {&CQuarnPump::DownloadInitialConditions, &CQuarnPump::DownloadTimetable}) {
    host.lose = true;
    try {
      (pump.*download)(tooLong);
      ADD_FAILURE() << "not thrown on";
    } catch (const CCommunicationsException& e) {
      EXPECT_EQ(e.GetErrorMessage(), "Quarn PUMP Communications.\n\nNo answer from the node");
      EXPECT_EQ(e.GetCode(), 4);
    }
  }
  platform::InstallHostUi(&ui);
  EXPECT_EQ(host.boxes, std::vector<std::string>(2, "Quarn PUMP Communications.\n\nNo answer from the node"));
}

}  // namespace
