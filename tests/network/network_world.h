// A clean world for tests of the direct path: TestWorld (virtual time at
// 0, private registry, recording host UI), plus a fresh simulated network
// and every process-wide object of the direct path back at its load state.
// The receiving thread, once started, stays for the whole process and
// serves whichever node the next test opens.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "network/download_state.h"
#include "network/quarn_pump.h"
#include "network/reply_decoder.h"
#include "network/vexlink_session.h"
#include "network/wire_trace.h"
#include "sim/simulated_network.h"
#include "tests/support/test_world.h"
#include "tests/support/wire_records.h"

namespace testing_support {

class NetworkWorld : public TestWorld {
 protected:
  void SetUp() override {
    TestWorld::SetUp();
    SetWireTrace(nullptr);
    g_vexlinkSession.ResetForTesting();
    g_unitStatusSnapshot.ResetForTesting();
    g_downloadRecords.ResetForTesting();
    g_directRunSettings.ResetForTesting();
    g_directPumpState.ResetForTesting();
    g_directRunFlags.ResetForTesting();
    net.ResetForTesting();
    net.FitHydraulics(sim::Hydraulics::Instant());  // the liquid path has tests of its own
  }
  void TearDown() override {
    net.ResetForTesting();
    SetWireTrace(nullptr);
    TestWorld::TearDown();
  }

  sim::SimulatedNetwork& net = sim::SimulatedNetwork::Get();

  // The session marked open on `node` without opening a simulated node:
  // commands are logged with their records and reach no instrument, no
  // reply comes, and the snapshot holds what the test stores in it.
  static void PretendSessionOpen(int node = 7) {
    g_vexlinkSession.m_hNode.Store(node);
    g_vexlinkSession.m_nNotOpen.Store(0);
  }

  // The records passed by the last call of `name` (none if no such call).
  std::vector<std::vector<std::uint8_t>> LastRecords(const std::string& name) const {
    const auto calls = net.Calls();
    for (auto it = calls.rbegin(); it != calls.rend(); ++it) {
      if (it->name == name) return it->records;
    }
    return {};
  }
  // Call texts from index `first` on, the receiving thread's left out.
  std::vector<std::string> HostCallsFrom(std::size_t first) const {
    const auto texts = net.CallTexts(true);
    return {texts.begin() + static_cast<std::ptrdiff_t>(std::min(first, texts.size())), texts.end()};
  }
};

// A reply record written byte by byte, little-endian, at explicit offsets.
class RawRecord {
 public:
  RawRecord() : m_bytes(LC_REPLY_BUFFER_SIZE, 0) {}
  RawRecord& U16(std::size_t offset, std::uint32_t value) {
    m_bytes.at(offset) = static_cast<std::uint8_t>(value);
    m_bytes.at(offset + 1) = static_cast<std::uint8_t>(value >> 8);
    return *this;
  }
  RawRecord& U32(std::size_t offset, std::uint32_t value) {
    return U16(offset, value & 0xFFFF).U16(offset + 2, value >> 16);
  }
  RawRecord& Text(std::size_t offset, const char* text) {
    for (std::size_t i = 0; text[i]; ++i) m_bytes.at(offset + i) = static_cast<std::uint8_t>(text[i]);
    return *this;
  }
  RawRecord& Fill(std::uint8_t value) {
    std::fill(m_bytes.begin(), m_bytes.end(), value);
    return *this;
  }
  const std::uint8_t* Data() const { return m_bytes.data(); }
  std::size_t Size() const { return m_bytes.size(); }

 private:
  std::vector<std::uint8_t> m_bytes;
};

}  // namespace testing_support
