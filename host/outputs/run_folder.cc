#include "host/outputs/run_folder.h"

#include <cstdio>
#include <ctime>

namespace host {

namespace {

constexpr const char* kRunFiles[] = {"experiment-record.txt", "status.csv",       "status.svg",
                                     "chromatogram.csv",      "chromatogram.svg", "peaks.csv",
                                     "spectra.csv",           "report.html",      "solvent-monitor.xml", "logbook.txt",
                                     "wire-trace.log",        "server-calls.log"};
constexpr const char* kLockFile = ".quarn-run.lock";

}  // namespace

std::span<const char* const> RunFiles() { return kRunFiles; }

std::string NowText(bool forFolder) {
  const std::tm tm = LocalTime(std::time(nullptr));
  char buf[64];
  std::strftime(buf, sizeof buf, forFolder ? "%Y%m%d-%H%M%S" : "%Y-%m-%d %H:%M", &tm);
  return buf;
}

std::string ClockTime() {
  const std::tm tm = LocalTime(std::time(nullptr));
  char buf[64];
  std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
  return buf;
}

std::string WriteFileWhole(const std::filesystem::path& file, const std::string& text, bool sync) {
  std::filesystem::path part = file;
  part += ".part";
  std::error_code ec;
  std::filesystem::remove(part, ec);
  std::string error;
  std::FILE* out = CreateNewFile(part, error);
  if (!out) return error;
  bool ok = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  ok = (sync ? SyncFile(out) : std::fflush(out) == 0) && ok;
  ok = std::fclose(out) == 0 && ok;
  if (ok) std::filesystem::rename(part, file, ec);
  if (ok && !ec) return "";
  error = ok ? ec.message() : "cannot write all of it (is the disk full?)";
  std::filesystem::remove(part, ec);
  return error;
}

RunFolder::~RunFolder() {
  if (!m_lock || !m_lock->Locked()) return;
  std::error_code ec;
  std::filesystem::remove(m_path / kLockFile, ec);
}

bool RunFolder::Prepare(const std::optional<std::filesystem::path>& out, const std::string& stem,
                        std::span<const char* const> files, bool force, bool keepFiles, TerminalUi& ui) {
  std::error_code ec;
  if (out) {
    m_path = *out;
    std::filesystem::create_directories(m_path, ec);
  } else {
    // create_directory claims a name that no other run has taken.
    std::filesystem::create_directories("runs", ec);
    // The name, cut to leave the folder name well within what a file
    // system allows (not inside a UTF-8 character).
    std::string name = stem.substr(0, 100);
    while (name.size() < stem.size() && !name.empty() &&
           (static_cast<unsigned char>(stem[name.size()]) & 0xC0) == 0x80) {
      name.pop_back();
    }
    const std::string base = NowText(true) + "-" + name;
    m_path = std::filesystem::path("runs") / base;
    for (int n = 2; !ec && !std::filesystem::create_directory(m_path, ec); ++n) {
      m_path = std::filesystem::path("runs") / (base + "-" + std::to_string(n));
    }
  }
  if (ec || !std::filesystem::is_directory(m_path)) {
    ui.Failure("cannot create the output folder " + m_path.string() + (ec ? ": " + ec.message() : ""));
    return false;
  }
  m_lock = std::make_unique<TryLockFile>(m_path / kLockFile);
  if (!m_lock->Error().empty()) {
    ui.Failure("cannot write to the output folder " + m_path.string() + ": " + m_lock->Error());
    return false;
  }
  if (!m_lock->Locked()) {
    ui.Failure("another run is writing into " + m_path.string() + "; give another --out folder");
    return false;
  }
  std::string held;
  for (const char* name : files) {
    if (std::filesystem::exists(std::filesystem::symlink_status(m_path / name, ec))) {
      held += (held.empty() ? "" : ", ") + std::string(name);
    }
  }
  if (!held.empty() && !force && !keepFiles) {
    ui.Failure("the folder " + m_path.string() + " already holds the files of a run (" + held +
               "); give a new --out folder, or add --force to replace them");
    return false;
  }
  // A folder (or anything but a file) where a file goes is found now,
  // before anything is injected, not when the file is written.
  for (const char* name : files) {
    const auto status = std::filesystem::symlink_status(m_path / name, ec);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
      ui.Failure((m_path / name).string() + " is " +
                 (std::filesystem::is_directory(status) ? "a folder" : "not an ordinary file") +
                 ", where the run writes its file; remove it or give another --out folder");
      return false;
    }
  }
  if (keepFiles) return true;
  for (const char* name : files) {
    // Replaced as a whole: the wire trace would otherwise be appended to.
    if (!std::filesystem::is_directory(m_path / name, ec)) std::filesystem::remove(m_path / name, ec);
  }
  return true;
}

}  // namespace host
