// A run's or a sequence's folder, held while it is written: created (or,
// with --out, taken) and locked, so that no second process writes into it
// meanwhile. Files of an earlier run there are refused unless replacing
// them was asked for; anything but an ordinary file where one of its files
// goes is refused before anything runs.
// Thread safety: host's thread only.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "host/outputs/terminal_ui.h"
#include "host/system/host_system.h"

namespace host {

// The files a run leaves in its folder.
std::span<const char* const> RunFiles();

// "20261205-213000" (`forFolder`) or "2026-12-05 21:30", local time.
std::string NowText(bool forFolder);
// "2026-12-05 21:30:07", local time.
std::string ClockTime();

// Writes `text` as the whole of `file`: into FILE.part made anew (a
// leftover one is removed first, a link there as itself), then renamed
// over `file`, so a kill leaves the old file or the new one, never a
// torn one, and a link at either name is replaced, not written through.
// `sync` puts it on the disk before the rename. "" or what failed.
std::string WriteFileWhole(const std::filesystem::path& file, const std::string& text, bool sync = false);

class RunFolder {
 public:
  RunFolder() = default;
  ~RunFolder();
  RunFolder(const RunFolder&) = delete;
  RunFolder& operator=(const RunFolder&) = delete;

  const std::filesystem::path& Path() const { return m_path; }

  // `out` when given, else a new folder runs/DATE-STEM. `files` are the
  // ones this folder's owner writes: `force` replaces those found there;
  // `keepFiles` takes them as they are (a resumed sequence). False (and
  // the reason shown) when the folder cannot be used.
  bool Prepare(const std::optional<std::filesystem::path>& out, const std::string& stem,
               std::span<const char* const> files, bool force, bool keepFiles, TerminalUi& ui);

 private:
  std::filesystem::path m_path;
  std::unique_ptr<TryLockFile> m_lock;
};

}  // namespace host
