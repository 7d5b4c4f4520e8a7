#include "platform/sim/posix_profile_files.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstddef>
#include <vector>

namespace {

// As many links as the kernel follows before it gives up.
constexpr int kMaxLinks = 40;

bool WriteFully(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

std::string FolderOf(const std::string& path) {
  std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Why `path` could not be opened, with errno still that of the failed call: a missing file whose
// folder is there, a folder that is not, or anything else.
ProfileFiles::ReadResult Absent(const std::string& path) {
  using Result = ProfileFiles::ReadResult;
  if (errno == ENOTDIR) return Result::NoFolder;
  if (errno != ENOENT) return Result::Failed;
  struct stat folder {};
  if (::stat(FolderOf(path).c_str(), &folder) != 0 || !S_ISDIR(folder.st_mode))
    return Result::NoFolder;
  return Result::Missing;
}

// The path at the end of the symbolic links starting at `path`, also when the last one dangles;
// empty for a loop. Replacing that path keeps every link a link.
std::string FollowLinks(const std::string& path) {
  std::string current = path;
  for (int hops = 0; hops <= kMaxLinks; ++hops) {
    struct stat st {};
    if (::lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return current;
    std::vector<char> target(static_cast<std::size_t>(st.st_size > 0 ? st.st_size : 255) + 1);
    const ssize_t n = ::readlink(current.c_str(), target.data(), target.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= target.size()) return {};
    const std::string next(target.data(), static_cast<std::size_t>(n));
    if (next[0] == '/') {
      current = next;
    } else {
      current = FolderOf(current).append("/").append(next);
    }
  }
  return {};
}

// Opens and locks the temporary file. A save that held the lock before may have renamed the very
// file we opened into place; then it is open again under its name.
int OpenTemporary(const std::string& temp) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    const int fd =
        ::open(temp.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    if (fd < 0) return -1;
    struct stat opened {};
    struct stat named {};
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::fstat(fd, &opened) != 0 ||
        !S_ISREG(opened.st_mode)) {
      ::close(fd);
      return -1;
    }
    if (::lstat(temp.c_str(), &named) == 0 && named.st_dev == opened.st_dev &&
        named.st_ino == opened.st_ino) {
      return fd;
    }
    ::close(fd);
  }
  return -1;
}

}  // namespace

std::string PosixTemporaryPath(const std::string& target) {
  return target + ".pendant.tmp";
}

ProfileFiles::ReadResult PosixProfileFiles::ReadAll(const std::string& path, std::string& bytes) {
  bytes.clear();
  if (path.empty()) return ReadResult::Missing;
  // Opening a pipe would wait for a writer, and a device may not even have an end.
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return Absent(path);
  if (!S_ISREG(st.st_mode)) return ReadResult::Failed;
  int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return Absent(path);
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return ReadResult::Failed;
  }
  if (st.st_size > 0) bytes.reserve(static_cast<std::size_t>(st.st_size));
  char buffer[65536];
  for (;;) {
    ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      if (errno == EINTR) continue;
      ::close(fd);
      bytes.clear();
      return ReadResult::Failed;
    }
    if (n == 0) break;
    bytes.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return ReadResult::Ok;
}

ProfileFiles::WriteResult PosixProfileFiles::ReplaceAll(const std::string& requested,
                                                        const std::string& bytes) {
  if (requested.empty()) return WriteResult::Failed;
  const std::string path = FollowLinks(requested);
  if (path.empty()) return WriteResult::Failed;
  struct stat target {};
  const bool exists = ::lstat(path.c_str(), &target) == 0;
  if (exists) {
    if (!S_ISREG(target.st_mode)) return WriteResult::NotAFile;
    if ((target.st_mode & 0222) == 0) return WriteResult::ReadOnly;
  }
  const std::string temp = PosixTemporaryPath(path);
  const int fd = OpenTemporary(temp);
  if (fd < 0) return WriteResult::Failed;
  bool ok = ::ftruncate(fd, 0) == 0;
  if (exists) {
    // Keep the owner and permissions of the file being replaced, as far as we may.
    [[maybe_unused]] const int owned = ::fchown(fd, target.st_uid, target.st_gid);
    ok = ok && ::fchmod(fd, target.st_mode & 07777) == 0;
  }
  ok = ok && WriteFully(fd, bytes) && ::fsync(fd) == 0;
  // The rename happens while the lock is held, so no other save is writing into this file.
  ok = ok && ::rename(temp.c_str(), path.c_str()) == 0;
  if (!ok) ::unlink(temp.c_str());
  ::close(fd);
  if (!ok) return WriteResult::Failed;
  int dir = ::open(FolderOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return WriteResult::Ok;
}

ProfileFiles& PosixProfileFilesInstance() {
  static PosixProfileFiles instance;
  return instance;
}
