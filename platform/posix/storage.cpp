#include "platform/storage.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace pelmora::platform {

namespace {

namespace fs = std::filesystem;

// Beyond this many taken names a save gives up rather than walk forever.
constexpr int kMaxNameTries = 100000;

void SetError(std::string* error, std::string_view what, int code) {
  if (error != nullptr) {
    *error = std::string(what) + ": " + std::strerror(code);
  }
}

// Closes a descriptor on every path out of a scope.
class FileDescriptor {
 public:
  explicit FileDescriptor(int fd) : m_fd(fd) {}
  ~FileDescriptor() { Close(); }
  FileDescriptor(const FileDescriptor&) = delete;
  FileDescriptor& operator=(const FileDescriptor&) = delete;
  [[nodiscard]] int get() const { return m_fd; }
  // The result of close(), which reports late write errors on some systems.
  bool Close() {
    if (m_fd < 0) {
      return true;
    }
    const int fd = m_fd;
    m_fd = -1;
    return ::close(fd) == 0;
  }

 private:
  int m_fd;
};

bool WriteAll(int fd, std::string_view bytes, int* errorCode) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0) {
      if (errno == EINTR) {
        continue;
      }
      *errorCode = errno;
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// A name that no other writer of this process picks: the process id and a
// per-process counter. A leftover of an earlier process with the same id is
// stepped over, since the file is created exclusively.
std::string TemporaryName() {
  static std::atomic<unsigned> counter{0};
  return ".pelmora-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".part";
}

// Creates a new temporary file in `folder` with `mode` (less the umask),
// writes `bytes` and closes it. Returns its path, or empty with *errorCode.
fs::path WriteTemporary(const fs::path& folder, std::string_view bytes, mode_t mode, bool sync,
                        int* errorCode) {
  for (int attempt = 0; attempt < 16; ++attempt) {
    fs::path temp = folder / TemporaryName();
    FileDescriptor fd(::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode));
    if (fd.get() < 0) {
      if (errno == EEXIST || errno == EINTR) {
        continue;
      }
      *errorCode = errno;
      return {};
    }
    bool ok = WriteAll(fd.get(), bytes, errorCode);
    if (ok && sync && ::fsync(fd.get()) != 0) {
      *errorCode = errno;
      ok = false;
    }
    if (!fd.Close() && ok) {
      *errorCode = errno;
      ok = false;
    }
    if (!ok) {
      ::unlink(temp.c_str());
      return {};
    }
    return temp;
  }
  *errorCode = EEXIST;
  return {};
}

// Gives `from` the name `to` unless `to` exists. 0, or the errno.
int MoveWithoutReplacing(const fs::path& from, const fs::path& to) {
  if (::link(from.c_str(), to.c_str()) == 0) {
    ::unlink(from.c_str());
    return 0;
  }
  const int linkError = errno;
  if (linkError != EPERM && linkError != ENOTSUP && linkError != EOPNOTSUPP &&
      linkError != EMLINK && linkError != ENOSYS) {
    return linkError;
  }
  // Folders that refuse hard links (some network and FAT mounts).
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) {
    return 0;
  }
  return errno;
}

}  // namespace

bool CreateFolders(const fs::path& folder, std::string* error, bool privateFolder) {
  if (folder.empty()) {
    SetError(error, "no folder", ENOENT);
    return false;
  }
  fs::path made;
  for (const fs::path& part : folder) {
    made /= part;
    if (made == made.root_path()) {
      continue;
    }
    if (::mkdir(made.c_str(), privateFolder ? 0700 : 0777) != 0 && errno != EEXIST) {
      SetError(error, "cannot create " + made.string(), errno);
      return false;
    }
  }
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0) {
    SetError(error, "cannot create " + folder.string(), errno);
    return false;
  }
  if (!S_ISDIR(info.st_mode)) {
    SetError(error, folder.string() + " is not a folder", ENOTDIR);
    return false;
  }
  return true;
}

fs::path SaveNewFile(const fs::path& folder, std::string_view stem, std::string_view extension,
                     std::string_view bytes, std::string* error) {
  int code = 0;
  const fs::path temp = WriteTemporary(folder, bytes, 0666, false, &code);
  if (temp.empty()) {
    SetError(error, "cannot write in " + folder.string(), code);
    return {};
  }
  for (int n = 1; n <= kMaxNameTries; ++n) {
    std::string name(stem);
    if (n > 1) {
      name += "-" + std::to_string(n);
    }
    name += extension;
    fs::path target = folder / name;
    code = MoveWithoutReplacing(temp, target);
    if (code == 0) {
      return target;
    }
    if (code != EEXIST) {
      break;
    }
  }
  ::unlink(temp.c_str());
  SetError(error, "cannot name the file in " + folder.string(), code);
  return {};
}

bool RemoveFile(const fs::path& path) { return ::unlink(path.c_str()) == 0 || errno == ENOENT; }

bool WritePrivateFile(const fs::path& path, std::string_view bytes, std::string* error) {
  fs::path folder = path.parent_path();
  if (folder.empty()) {
    folder = ".";
  }
  int code = 0;
  const fs::path temp = WriteTemporary(folder, bytes, 0600, true, &code);
  if (temp.empty()) {
    SetError(error, "cannot write " + path.string(), code);
    return false;
  }
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    code = errno;
    ::unlink(temp.c_str());
    SetError(error, "cannot write " + path.string(), code);
    return false;
  }
  return true;
}

fs::path ConfigFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') {
    return fs::path(xdg) / "pelmora";
  }
  const fs::path home = HomeFolder();
  if (home.empty()) {
    return {};
  }
  return home / ".config" / "pelmora";
}

bool IsFolderWritable(const fs::path& folder) {
  struct stat info {};
  if (folder.empty() || ::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    return false;
  }
  return ::access(folder.c_str(), W_OK | X_OK) == 0;
}

fs::path HomeFolder() {
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] != '\0') {
    return home;
  }
  std::vector<char> buffer(16384);
  struct passwd entry {};
  struct passwd* found = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 &&
      found != nullptr && found->pw_dir != nullptr) {
    return found->pw_dir;
  }
  return {};
}

}  // namespace pelmora::platform
