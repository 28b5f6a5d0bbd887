// DispatchReply with any kind, sender and record, as the receiving thread
// could be handed them, with the wire trace on so that every decoded
// field is also formatted.
// Input: 4 bytes kind (little-endian), 2 bytes sender, then the record
// (cut or zero-padded to the 4096-byte buffer, which sits in its own heap
// block so that reading past it is caught).
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "network/reply_decoder.h"
#include "network/vexlink_session.h"
#include "network/wire_trace.h"
#include "platform/clock/clock.h"
#include "platform/vexlink/vexlink.h"
#include "sim/simulated_network.h"

namespace {

void Start() {
  platform::Clock::Get().UseVirtual(0);
  sim::SimulatedNetwork::Get().ResetForTesting();
  SetWireTrace("/dev/null");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool started = (Start(), true);
  static int calls = 0;
  (void)started;
  if (size < 6) return 0;
  const auto kind = static_cast<int>(static_cast<std::uint32_t>(data[0]) | (static_cast<std::uint32_t>(data[1]) << 8) |
                                     (static_cast<std::uint32_t>(data[2]) << 16) |
                                     (static_cast<std::uint32_t>(data[3]) << 24));
  const auto sender = static_cast<WORD>(data[4] | (data[5] << 8));
  auto buffer = std::make_unique<BYTE[]>(LC_REPLY_BUFFER_SIZE);
  std::memcpy(buffer.get(), data + 6, std::min<std::size_t>(size - 6, LC_REPLY_BUFFER_SIZE));
  DispatchReply(kind, buffer.get(), sender);
  // Trouble and timer events call the driver, whose test log grows.
  if (++calls % 10000 == 0) sim::SimulatedNetwork::Get().ResetForTesting();
  return 0;
}
