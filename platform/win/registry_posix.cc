// Where the registry file lives on POSIX systems, how it is read and
// replaced, and its lock.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

#include "platform/win/registry.h"

namespace platform {

std::filesystem::path DefaultRegistryPath() {
  if (const char* env = std::getenv("QUARN_REGISTRY"); env && *env) return env;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) {
    return std::filesystem::path(xdg) / "quarncontrol" / "registry.reg";
  }
  if (const char* home = std::getenv("HOME"); home && *home) {
    return std::filesystem::path(home) / ".local" / "share" / "quarncontrol" / "registry.reg";
  }
  return std::filesystem::path("quarncontrol-registry.reg");
}

namespace {

// A file descriptor, closed when it goes.
class Descriptor {
 public:
  explicit Descriptor(int fd) : m_fd(fd) {}
  ~Descriptor() {
    if (m_fd >= 0) ::close(m_fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  int Get() const { return m_fd; }

 private:
  int m_fd;
};

std::filesystem::file_type TypeOf(mode_t mode) {
  using std::filesystem::file_type;
  if (S_ISDIR(mode)) return file_type::directory;
  if (S_ISCHR(mode)) return file_type::character;
  if (S_ISBLK(mode)) return file_type::block;
  if (S_ISFIFO(mode)) return file_type::fifo;
  if (S_ISSOCK(mode)) return file_type::socket;
  return S_ISREG(mode) ? file_type::regular : file_type::unknown;
}

[[noreturn]] void CannotRead(const std::filesystem::path& file, int error) {
  throw RegistryError("cannot read the registry file " + file.string() + ": " + SystemReason(error));
}

RegistryError TooLarge(const std::filesystem::path& file) {
  return RegistryError("the registry file " + file.string() + " is larger than " +
                       std::to_string(kMaxRegistryFileBytes >> 20) +
                       " MB, far more than settings take; it has been left as it is. Is QUARN_REGISTRY meant to "
                       "name it?");
}

}  // namespace

std::optional<std::string> ReadRegistryFile(const std::filesystem::path& file) {
  // Looked at before it is opened: opening a device or a FIFO can do
  // something (or wait) by itself.
  struct stat before{};
  if (::stat(file.c_str(), &before) != 0) {
    if (errno == ENOENT) return std::nullopt;
    CannotRead(file, errno);
  }
  if (!S_ISREG(before.st_mode)) throw NotOrdinaryFileError(file, TypeOf(before.st_mode));
  const Descriptor fd(::open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (fd.Get() < 0) {
    if (errno == ENOENT) return std::nullopt;
    CannotRead(file, errno);
  }
  // And what was opened, in case the path changed in between.
  struct stat opened{};
  if (::fstat(fd.Get(), &opened) != 0) CannotRead(file, errno);
  if (!S_ISREG(opened.st_mode)) throw NotOrdinaryFileError(file, TypeOf(opened.st_mode));
  if (static_cast<std::uintmax_t>(opened.st_size) > kMaxRegistryFileBytes) throw TooLarge(file);
  std::string bytes;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd.Get(), buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) CannotRead(file, errno);
    if (n == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
    if (bytes.size() > kMaxRegistryFileBytes) throw TooLarge(file);
  }
  return bytes;
}

std::filesystem::path WriteRegistryTemp(const std::filesystem::path& target, const std::string& bytes,
                                        std::optional<std::filesystem::perms> perms) {
  // mkostemp creates the file exclusively (O_EXCL: never an existing file
  // or a link) under a random name.
  std::string name = target.string() + ".tmp-XXXXXX";
  const Descriptor fd(::mkostemp(name.data(), O_CLOEXEC));
  const auto fail = [&](int error) {
    if (fd.Get() >= 0) ::unlink(name.c_str());
    throw RegistryError("cannot write the registry file " + target.string() + " (is its folder writable?): " +
                        SystemReason(error));
  };
  if (fd.Get() < 0) fail(errno);
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t n = ::write(fd.Get(), bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) fail(errno);
    done += static_cast<std::size_t>(n);
  }
  const mode_t mode = perms ? static_cast<mode_t>(*perms) & 07777 : 0644;
  if (::fchmod(fd.Get(), mode) != 0 || ::fsync(fd.Get()) != 0) fail(errno);
  return name;
}

RegistryFileLock::RegistryFileLock(const std::filesystem::path& lockFile) : m_handle(-1) {
  const int fd = ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) {
    throw RegistryError("cannot lock the registry file: cannot open " + lockFile.string() + ": " +
                        SystemReason(errno));
  }
  int result = 0;
  do {
    result = ::flock(fd, LOCK_EX);
  } while (result != 0 && errno == EINTR);
  if (result != 0) {
    const int error = errno;
    ::close(fd);
    throw RegistryError("cannot lock the registry file " + lockFile.string() + ": " + SystemReason(error));
  }
  m_handle = fd;
}

RegistryFileLock::~RegistryFileLock() {
  // Closing the file releases the lock.
  if (m_handle >= 0) ::close(static_cast<int>(m_handle));
}

}  // namespace platform
