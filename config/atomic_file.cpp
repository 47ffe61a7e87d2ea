#include "config/atomic_file.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstring>

namespace {

const char kTemporaryWord[] = ".saving-";
const int kTemporarySuffix = 6;  // mkstemp's XXXXXX
// As the kernel's own limit on links followed in one lookup.
const int kMaxLinks = 40;

// "dir/" of a path, or "" for a bare name.
std::string DirectoryOf(const std::string &path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? "" : path.substr(0, slash + 1);
}

std::string NameOf(const std::string &path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file the path finally names: path itself, or the end of its chain of
// symbolic links (a dangling one included, so the first save creates the
// target).  Empty, with errno ELOOP, for a chain that does not end.
std::string FinalTarget(std::string path) {
  for (int hops = 0; hops <= kMaxLinks; hops++) {
    char target[PATH_MAX];
    ssize_t n = readlink(path.c_str(), target, sizeof target);
    if (n < 0 || n == static_cast<ssize_t>(sizeof target)) return path;
    std::string next(target, n);
    path = next[0] == '/' ? next : DirectoryOf(path) + next;
  }
  errno = ELOOP;
  return std::string();
}

std::string TemporaryPrefix(const std::string &target) {
  return DirectoryOf(target) + "." + NameOf(target) + kTemporaryWord;
}

// The old file's mode and owner, or a plain create's mode for a new file.
void TakeOverAttributes(int fd, const struct stat *old) {
  if (old == nullptr) {
    mode_t mask = umask(0);
    umask(mask);
    fchmod(fd, 0666 & ~mask);
    return;
  }
  // Only root may give the file away; then at least the group is kept
  // where the process belongs to it.
  int rc = fchown(fd, old->st_uid, old->st_gid);
  if (rc != 0) rc = fchown(fd, static_cast<uid_t>(-1), old->st_gid);
  (void)rc;
  fchmod(fd, old->st_mode & 07777);  // after fchown, which may clear bits
}

// Flushes, syncs and closes; 0 or the errno of the first failure.
int FinishWriting(FILE *f, bool written) {
  int error = 0;
  if (!written || fflush(f) != 0 || ferror(f)) error = errno ? errno : EIO;
  // A device that cannot be synced (EINVAL) has nothing to make durable.
  if (error == 0 && fsync(fileno(f)) != 0 && errno != EINVAL) error = errno;
  if (fclose(f) != 0 && error == 0) error = errno;
  return error;
}

// A device or other special file is written as it is.
ReplaceOutcome WriteInPlace(const std::string &target,
                            const std::function<bool(FILE *)> &fill) {
  ReplaceOutcome outcome;
  int fd = open(target.c_str(), O_WRONLY | O_TRUNC | O_NONBLOCK | O_CLOEXEC);
  FILE *f = fd < 0 ? nullptr : fdopen(fd, "w");
  if (f == nullptr) {
    outcome.error = errno;
    if (fd >= 0) close(fd);
    return outcome;
  }
  outcome.opened = true;
  errno = 0;
  outcome.error = FinishWriting(f, fill(f));
  return outcome;
}

void SyncDirectory(const std::string &target) {
  std::string dir = DirectoryOf(target);
  if (dir.empty()) dir = ".";
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

ReplaceOutcome ReplaceFile(const std::string &path,
                           const std::function<bool(FILE *)> &fill) {
  ReplaceOutcome outcome;
  std::string target = FinalTarget(path);
  if (target.empty()) {
    outcome.error = errno;
    return outcome;
  }
  struct stat old;
  bool exists = stat(target.c_str(), &old) == 0;
  if (exists && !S_ISREG(old.st_mode)) return WriteInPlace(target, fill);

  std::string tmp = TemporaryPrefix(target) + "XXXXXX";
  int fd = mkostemp(&tmp[0], O_CLOEXEC);
  if (fd < 0) {
    outcome.error = errno;
    return outcome;
  }
  TakeOverAttributes(fd, exists ? &old : nullptr);
  FILE *f = fdopen(fd, "w");
  if (f == nullptr) {
    outcome.error = errno;
    close(fd);
    unlink(tmp.c_str());
    return outcome;
  }
  outcome.opened = true;
  errno = 0;
  outcome.error = FinishWriting(f, fill(f));
  if (outcome.error == 0 && rename(tmp.c_str(), target.c_str()) != 0)
    outcome.error = errno;
  if (outcome.error != 0) {
    unlink(tmp.c_str());
    return outcome;
  }
  SyncDirectory(target);  // makes the rename itself durable
  return outcome;
}

std::vector<std::string> RemoveInterruptedReplacements(const std::string &path) {
  std::vector<std::string> removed;
  std::string target = FinalTarget(path);
  if (target.empty()) return removed;
  std::string dir = DirectoryOf(target);
  std::string prefix = NameOf(TemporaryPrefix(target));
  DIR *d = opendir(dir.empty() ? "." : dir.c_str());
  if (d == nullptr) return removed;
  while (struct dirent *e = readdir(d)) {
    const char *name = e->d_name;
    if (strlen(name) != prefix.size() + kTemporarySuffix ||
        strncmp(name, prefix.c_str(), prefix.size()) != 0)
      continue;
    bool ours = true;
    for (const char *c = name + prefix.size(); *c; c++)
      if (!isalnum(static_cast<unsigned char>(*c))) ours = false;
    std::string leftover = dir + name;
    if (ours && unlink(leftover.c_str()) == 0) removed.push_back(leftover);
  }
  closedir(d);
  return removed;
}
