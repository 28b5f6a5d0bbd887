#include "host/inputs/tray.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "host/inputs/user_file.h"
#include "host/text/display_text.h"
#include "platform/method/toml.h"
#include "platform/method/toml_errors.h"

namespace host {

namespace {

// A tray file larger than this is not a tray file.
constexpr std::uintmax_t kMaxTrayBytes = 1u << 20;

int LineOf(const toml::node& node) { return static_cast<int>(node.source().begin.line); }

}  // namespace

const SampleDescription* Tray::For(int vial, const std::string& named) const {
  std::string name = named;
  if (name.empty()) {
    const auto found = vials.find(vial);
    if (found == vials.end()) return nullptr;
    name = found->second;
  }
  const auto sample = samples.find(name);
  return sample == samples.end() ? nullptr : &sample->second;
}

std::filesystem::path MethodTrayFile(const std::filesystem::path& method, const std::string& stem) {
  const std::filesystem::path own = method.parent_path() / (stem + ".tray.toml");
  if (std::filesystem::exists(own)) return own;
  const std::filesystem::path shared = method.parent_path() / kTrayFileName;
  return std::filesystem::exists(shared) ? shared : std::filesystem::path();
}

Tray ReadTray(const std::filesystem::path& file) {
  Tray tray;
  tray.file = file;
  const std::optional<std::string> text = ReadUserFile(file, kMaxTrayBytes, "a tray file", tray.problems);
  return text ? ParseTray(*text, file) : tray;
}

Tray ParseTray(const std::string& text, const std::filesystem::path& file) {
  Tray tray;
  tray.file = file;
  const std::string name = EscapeControls(file.string());
  const auto problem = [&](int line, const std::string& what) {
    tray.problems.push_back(name + ": line " + std::to_string(line) + ": " + what);
  };
  std::optional<toml::table> parsed = ParseUserToml(text, name, "tray file", tray.problems);
  if (!parsed) return tray;
  toml::table& root = *parsed;
  for (const auto& [key, node] : root) {
    const std::string section(key.str());
    if ((section != "sample" && section != "tray") || !node.is_table()) {
      problem(LineOf(node), "unknown key '" + EscapeControls(section) + "': a tray file holds [sample.NAME] and [tray] tables");
    }
  }
  if (const toml::table* samples = root["sample"].as_table()) {
    for (const auto& [key, node] : *samples) {
      SampleDescription sample{std::string(key.str()), {}, LineOf(node)};
      const toml::table* table = node.as_table();
      if (!table) {
        problem(LineOf(node), "sample." + EscapeControls(sample.name) + " is not a table of compounds (compound = mg/l)");
        continue;
      }
      for (const auto& [compound, value] : *table) {
        const std::optional<double> mgPerL = value.value<double>();
        const std::string where = "sample." + EscapeControls(sample.name) + "." + EscapeControls(std::string(compound.str()));
        if (value.is_table()) {
          problem(LineOf(value), where + " is a table, not a concentration: a name with a dot in it is written in "
                                         "quotes ([sample.\"name.1\"])");
        } else if (!mgPerL || !value.is_number()) {
          problem(LineOf(value), where + ": a concentration in mg/l is a number");
        } else if (!(*mgPerL > 0.0) || *mgPerL > kMaxConcentrationMgL) {
          problem(LineOf(value), where + ": " + EscapeControls(std::to_string(*mgPerL)) +
                                     " mg/l is out of range (more than 0, at most 1000000)");
        } else {
          sample.compounds.emplace_back(std::string(compound.str()), *mgPerL);
        }
      }
      tray.samples.emplace(sample.name, std::move(sample));
    }
  }
  if (const toml::table* vials = root["tray"].as_table()) {
    for (const auto& [key, node] : *vials) {
      const std::string vialText(key.str());
      int vial = 0;
      const auto [end, ec] = std::from_chars(vialText.data(), vialText.data() + vialText.size(), vial);
      const std::optional<std::string> sample = node.value<std::string>();
      if (ec != std::errc() || end != vialText.data() + vialText.size() || vial < 1 || vial > kMaxTrayVial) {
        problem(LineOf(node), "tray." + EscapeControls(vialText) + ": a vial is a number from 1 to 999");
      } else if (!sample) {
        problem(LineOf(node), "tray." + vialText + ": a vial holds a sample description, named in quotes");
      } else if (!tray.samples.contains(*sample)) {
        problem(LineOf(node), "tray." + vialText + ": there is no sample description \"" + EscapeControls(*sample) +
                                  "\" ([sample." + EscapeControls(*sample) + "])");
      } else {
        tray.vials[vial] = *sample;
      }
    }
  }
  return tray;
}

}  // namespace host
