#include "platform/files.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "platform/codepage.h"

namespace pelmora::platform {

namespace {

// Closes the descriptor on every path out of the routine that opened it.
class Descriptor {
 public:
  explicit Descriptor(int fd) : m_fd(fd) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (m_fd >= 0) {
      ::close(m_fd);
    }
  }
  [[nodiscard]] int get() const { return m_fd; }
  [[nodiscard]] bool ok() const { return m_fd >= 0; }
  // Closes now and reports whether the close succeeded (it can report a
  // delayed write error).
  bool Close() {
    const int fd = m_fd;
    m_fd = -1;
    return ::close(fd) == 0;
  }

 private:
  int m_fd;
};

int OpenRetrying(const char* path, int flags, mode_t mode = 0) {
  int fd = -1;
  do {
    fd = ::open(path, flags, mode);
  } while (fd < 0 && errno == EINTR);
  return fd;
}

bool IsRegularFile(int fd) {
  struct stat info {};
  return ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
}

// Advisory locks stand in for share modes: a reader shares with readers, a
// writer with no one. Only a lock held by another opener counts as refusal;
// a file system without lock support is not a reason to fail.
bool Lock(int fd, int operation) {
  int rc = 0;
  do {
    rc = ::flock(fd, operation | LOCK_NB);
  } while (rc != 0 && errno == EINTR);
  return rc == 0 || errno != EWOULDBLOCK;
}

}  // namespace

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path) {
  if (path.empty()) {
    return std::nullopt;
  }
  // O_NONBLOCK so that opening a FIFO cannot hang; it is refused below, and
  // the flag means nothing for a regular file.
  Descriptor fd(OpenRetrying(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK));
  if (!fd.ok() || !IsRegularFile(fd.get())) {
    return std::nullopt;
  }
  if (!Lock(fd.get(), LOCK_SH)) {
    return std::nullopt;
  }
  std::string bytes;
  char buffer[64 * 1024];
  for (;;) {
    const ssize_t got = ::read(fd.get(), buffer, sizeof buffer);
    if (got == 0) {
      break;
    }
    if (got < 0) {
      if (errno == EINTR) {
        continue;
      }
      return std::nullopt;
    }
    bytes.append(buffer, static_cast<std::size_t>(got));
  }
  return bytes;
}

bool WriteWholeFile(const std::filesystem::path& path, std::string_view bytes) {
  if (path.empty()) {
    return false;
  }
  // Not O_TRUNC: the file is emptied only once the exclusive lock is held, so
  // that a second writer of the same path fails without spoiling the first.
  Descriptor fd(
      OpenRetrying(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0666));
  if (!fd.ok() || !IsRegularFile(fd.get())) {
    return false;
  }
  if (!Lock(fd.get(), LOCK_EX)) {
    return false;
  }
  if (::ftruncate(fd.get(), 0) != 0) {
    return false;
  }
  std::size_t written = 0;
  while (written < bytes.size()) {
    const ssize_t put = ::write(fd.get(), bytes.data() + written, bytes.size() - written);
    if (put < 0) {
      if (errno == EINTR) {
        continue;
      }
      return false;
    }
    written += static_cast<std::size_t>(put);
  }
  return fd.Close();
}

std::filesystem::path ExecutableDirectory() {
  std::error_code error;
  const std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) {
    return {};
  }
  return exe.parent_path();
}

// Native names here are UTF-8 bytes.
std::filesystem::path PathFromUtf16(std::u16string_view units) {
  return std::filesystem::path(EncodeCodePage(units, 65001));
}

std::u16string PathToUtf16(const std::filesystem::path& path) {
  return DecodeCodePage(path.native(), 65001);
}

}  // namespace pelmora::platform
