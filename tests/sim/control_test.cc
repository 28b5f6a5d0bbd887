// The simulators' control face acts on the simulator it names and on no
// other: the host quiets, fills and disturbs the one its transport uses.
#include "sim/control.h"

#include <gtest/gtest.h>

#include "platform/com/comdef.h"
#include "platform/vexlink/vexlink.h"
#include "sim/simulated_network.h"
#include "sim/simulated_server.h"
#include "tests/support/test_world.h"

namespace {

using sim::Side;

class ControlTest : public testing_support::TestWorld, public ::testing::WithParamInterface<Side> {
 protected:
  void SetUp() override {
    TestWorld::SetUp();
    sim::SimulatedNetwork::Get().ResetForTesting();
    sim::SimulatedServer::Get().ResetForTesting();
  }
  void TearDown() override {
    sim::SimulatedNetwork::Get().ResetForTesting();
    sim::SimulatedServer::Get().ResetForTesting();
    TestWorld::TearDown();
  }
  // One call to each simulator: an open of the network, a server made.
  static void CallBoth() {
    LC_NodeOpen(kVexlinkDevicePath, 0);
    ITavixServer* root = nullptr;
    ASSERT_EQ(CoCreateInstance(CLSID_TavixServer, nullptr, CLSCTX_ALL, IID_ITavixServer,
                               reinterpret_cast<void**>(&root)),
              S_OK);
    root->Release();
  }
};

TEST_P(ControlTest, QuietsOnlyTheLogsOfTheSimulatorItNames) {
  sim::InProcessControl().KeepLogs(GetParam(), false);
  CallBoth();
  EXPECT_EQ(sim::SimulatedNetwork::Get().Calls().empty(), GetParam() == Side::kNetwork);
  EXPECT_EQ(sim::SimulatedServer::Get().Calls().empty(), GetParam() == Side::kServer);
}

INSTANTIATE_TEST_SUITE_P(Sides, ControlTest, ::testing::Values(Side::kNetwork, Side::kServer),
                         [](const ::testing::TestParamInfo<Side>& param) {
                           return param.param == Side::kNetwork ? "Network" : "Server";
                         });

}  // namespace
