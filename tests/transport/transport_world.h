// A world for tests over both transports: both simulators fresh, no server
// session, the server units' shared state at its start, the instrument
// server registered (so no registration program runs) and a methods
// folder of the test's own. UseTransport sets the transport flag that the
// fronts read when they build their back-ends.
#pragma once

#include <filesystem>
#include <string>

#include "front/shared_routines.h"
#include "server/com_setup.h"
#include "sim/simulated_server.h"
#include "tests/network/network_world.h"
#include "tests/support/method_files.h"
#include "tests/support/test_world.h"

namespace testing_support {

enum class Transport { kDirect, kServer };

inline std::string TransportName(const testing::TestParamInfo<Transport>& param) {
  return param.param == Transport::kDirect ? "Direct" : "Server";
}

class TransportWorld : public NetworkWorld {
 protected:
  void SetUp() override {
    NetworkWorld::SetUp();
    CCommon::ResetForTesting();
    CComSetup::ResetForTesting();
    server.ResetForTesting();
    server.FitHydraulics(sim::Hydraulics::Instant());  // the liquid path has tests of its own
    testing_support::SetEnv("QUARN_METHODS_DIR", (TempDir() / "methods").string());
    WriteRegistryFullPath(kTavixServerAppIdPath, "{00000000-0000-0000-0000-000000000000}", HKEY_LOCAL_MACHINE);
  }
  void TearDown() override {
    testing_support::UnsetEnv("QUARN_METHODS_DIR");
    CCommon::ResetForTesting();
    EXPECT_EQ(server.LiveObjects(), 0) << "server objects still held";
    NetworkWorld::TearDown();
  }

  void UseTransport(Transport transport) {
    m_transport = transport;
    WriteNetBoxCommsFlag(transport == Transport::kServer ? 1 : 0);
  }
  bool ViaServer() const { return m_transport == Transport::kServer; }
  // The method file `file` of this folder, where the fronts find it by `name`.
  void WriteMethod(const std::string& name, const char* file) {
    std::filesystem::create_directories(TempDir() / "methods");
    std::filesystem::copy_file(std::filesystem::path(QUARN_SOURCE_DIR) / "tests" / "transport" / file,
                               TempDir() / "methods" / (name + ".quarn900.toml"));
  }

  sim::SimulatedServer& server = sim::SimulatedServer::Get();

 private:
  Transport m_transport = Transport::kDirect;
};

}  // namespace testing_support
