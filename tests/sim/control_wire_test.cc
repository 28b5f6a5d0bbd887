// The server's settings across a process boundary: every call a host
// makes arrives on the other side as made, and nothing of the network's
// crosses.
#include "sim/control_wire.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <tuple>
#include <vector>

namespace {

// Writes down what it is asked to send.
class Recorder : public sim::ServerWireControl {
 public:
  void RegisterServer() override {}
  void TraceServer(std::function<void(const std::string&)>) override {}
  void Disconnect() override {}
  std::vector<std::string> sent;

 protected:
  std::string Send(const std::string& name, const std::string& arguments) override {
    sent.push_back(name + arguments);
    return "";
  }
};

// A recorder whose detectors recorded a lamp switched off and one peak.
class Recorded : public Recorder {
 public:
  sim::DetectorRecording Recording(sim::Side, std::size_t fromSample, std::size_t) override {
    sim::DetectorRecording r;
    r.injected = true;
    r.vial = 3;
    r.firstSample = fromSample;
    r.wavelengthNm = 273;
    r.signalMau = {0.25, std::nan(""), 1e-9};
    r.peaks.push_back({"caffeine", 4.5, 0.04, 180.5, 1500.25, 1.78, {1.5f, 0.0f}});
    r.unknown = {"aspirin"};
    return r;
  }
};

// Makes every call it sends on a recorder, through the wire's decoding.
class Loopback : public Recorder {
 public:
  Recorded other;

 protected:
  std::string Send(const std::string& name, const std::string& arguments) override {
    Recorder::Send(name, arguments);
    return sim::ServeControlCall(other, name, arguments);
  }
};

TEST(ControlWireTest, EveryServerSettingArrivesAsMadeAndTheNetworksStayHere) {
  Loopback wire;
  sim::Hydraulics hydraulics{sim::Column{100, 2.1, 1.7, 0.38, 25}, 0.35, 4, 1.5};
  wire.FillBottles(sim::Side::kServer, {"water", "acetonitrile/water 90:10", "", "phosphate buffer"});
  wire.FitHydraulics(sim::Side::kServer, hydraulics);
  hydraulics.column.reset();
  wire.FitHydraulics(sim::Side::kServer, hydraulics);
  wire.KeepLogs(sim::Side::kServer, false);
  wire.FailServerCall("Session.StartRun", static_cast<HRESULT>(0x80004005));
  wire.SetServerUnitAbsent(4, 1);
  wire.SetServerUnitTiming(1, 2, 1500, -1);
  wire.SetNetBoxSilent(true);
  wire.SetNetBoxState(7);
  wire.SetSamplerState(-1);
  wire.SendErrorEvent(6, 2, 3, "Oven \"hot\"");
  wire.EndServer();
  wire.BlockLine(sim::Side::kServer);
  wire.DegradeColumn(sim::Side::kServer, 4.5);
  wire.PlaceSample(sim::Side::kServer, 2, {{"caffeine", 50.5}, {"uracil", 5}});
  wire.KeepLogs(sim::Side::kNetwork, true);  // these act in this process
  wire.BlockLine(sim::Side::kNetwork);
  EXPECT_EQ(wire.other.sent, wire.sent);
  EXPECT_EQ(wire.sent, (std::vector<std::string>{
                           R"(FillBottles["server",["water","acetonitrile/water 90:10","","phosphate buffer"]])",
                           R"(FitHydraulics["server",[[100.0,2.1,1.7,0.38,25.0],0.35,4.0,1.5]])",
                           R"(FitHydraulics["server",[null,0.35,4.0,1.5]])", R"(KeepLogs["server",false])",
                           R"(FailServerCall["Session.StartRun",-2147467259])", "SetServerUnitAbsent[4,1]",
                           "SetServerUnitTiming[1,2,1500,-1]", "SetNetBoxSilent[true]", "SetNetBoxState[7]",
                           "SetSamplerState[-1]", R"(SendErrorEvent[6,2,3,"Oven \"hot\""])",
                           "EndServer[]", R"(BlockLine["server"])", R"(DegradeColumn["server",4.5])",
                           R"(PlaceSample["server",2,[["caffeine",50.5],["uracil",5.0]]])"}));
}

TEST(ControlWireTest, TheDetectorsRecordingComesBackWhole) {
  Loopback wire;
  const sim::DetectorRecording r = wire.Recording(sim::Side::kServer, 40, 1),
                              sent = wire.other.Recording(sim::Side::kServer, 40, 1);
  EXPECT_EQ(wire.sent, std::vector<std::string>{R"(Recording["server",40,1])"});
  Recorder ended;  // a program that ended answers nothing: nothing more was recorded
  EXPECT_FALSE(ended.Recording(sim::Side::kServer, 0, 0).injected);
  EXPECT_EQ(std::tie(r.injected, r.vial, r.wavelengthNm, r.unknown, r.firstSample),
            std::tie(sent.injected, sent.vial, sent.wavelengthNm, sent.unknown, sent.firstSample));
  ASSERT_EQ(r.signalMau.size(), 3u);
  EXPECT_EQ(r.signalMau[0], 0.25);
  EXPECT_TRUE(std::isnan(r.signalMau[1]));  // the lamp was off
  EXPECT_EQ(r.signalMau[2], 1e-9);
  ASSERT_EQ(r.peaks.size(), 1u);
  const sim::RecordedPeak &p = r.peaks[0], &q = sent.peaks[0];
  EXPECT_EQ(std::tie(p.compound, p.apexMin, p.sigmaMin, p.heightMau, p.areaMauS, p.retentionFactor, p.spectrum),
            std::tie(q.compound, q.apexMin, q.sigmaMin, q.heightMau, q.areaMauS, q.retentionFactor, q.spectrum));
}

TEST(ControlWireTest, AnUnknownCallOrArgumentsThatDoNotFitAreRefusedNamingThem) {
  Recorder other;
  for (const auto& [name, arguments, says] : std::initializer_list<std::tuple<const char*, const char*, const char*>>{
           {"Reboot", "[]", "no such control call: Reboot"},
           {"SetNetBoxState", "[\"seven\"]", "SetNetBoxState: arguments [\"seven\"] do not fit"},
           {"KeepLogs", "[\"pump\",true]", "no such side: pump"},
           {"SetSamplerState", "[", "SetSamplerState: arguments [ do not fit"}}) {
    try {
      sim::ServeControlCall(other, name, arguments);
      ADD_FAILURE() << name << " was taken";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(says), std::string::npos) << e.what();
    }
  }
  EXPECT_TRUE(other.sent.empty());
}

}  // namespace
