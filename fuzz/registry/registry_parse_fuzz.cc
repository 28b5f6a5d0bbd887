// The settings-file reader of the registry stand-in over arbitrary bytes
// (headers, CRLF, byte order marks, UTF-16, continued values).
// Beyond not crashing: a refused file is refused with RegistryError naming
// a line; an accepted file, written back as the stand-in writes it, reads
// back to the same contents (keys without values aside, as they are not
// written), so a write never turns good settings into other ones.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/win/registry.h"

namespace {

void Require(bool condition) {
  if (!condition) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using platform::Registry;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  platform::RegistryContents contents;
  try {
    contents = Registry::Parse(bytes, "fuzz.reg");
  } catch (const platform::RegistryError& e) {
    Require(std::string_view(e.what()).find("fuzz.reg is damaged at line ") != std::string_view::npos);
    return 0;
  }
  std::erase_if(contents, [](const auto& key) { return key.second.empty(); });
  const std::string written = Registry::Serialise(contents);
  try {
    Require(Registry::Parse(written, "fuzz.reg") == contents);
  } catch (const platform::RegistryError&) {
    Require(false);  // what the stand-in wrote, it cannot read
  }
  return 0;
}
