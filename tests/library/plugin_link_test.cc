// A host linked against the plug-in library, the simulated driver and the
// world: every module reads the one clock of the process.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>

#include "front/quarn_control_pump.h"
#include "platform/clock/clock.h"
#include "platform/win/registry.h"
#include "sim/simulated_network.h"

namespace {

TEST(PluginLinkTest, TheHostThePluginAndTheSimulatedDriverReadOneClock) {
  const auto dir = std::filesystem::temp_directory_path() / "quarn-plugin-link-test";
  std::filesystem::create_directories(dir);
  platform::Registry::UseFileForTesting(dir / "registry.reg");  // no flag: the direct path
  platform::Clock& clock = platform::Clock::Get();
  clock.UseVirtual(5000);

  {
    CQuarnControlPump pump;
    // Opening the driver session opens the node through the driver, then
    // pauses a second in the plug-in before anything else.
    ASSERT_EQ(pump.InitialiseComms(), 1);
    const auto calls = sim::SimulatedNetwork::Get().Calls();
    ASSERT_GE(calls.size(), 3u);
    EXPECT_EQ(calls[0].atMs, 5000);
    EXPECT_EQ(calls[2].atMs, 6000);
    EXPECT_GE(clock.NowMs(), 6000);
    pump.CloseDownComms();
  }
  std::filesystem::remove_all(dir);
}

}  // namespace
