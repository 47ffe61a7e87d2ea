#include "config/atomic_file.h"

#include <dirent.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/test_log.h"

namespace {

ReplaceOutcome Replace(const std::string &path, const std::string &text) {
  return ReplaceFile(path, [&](FILE *f) {
    return fwrite(text.data(), 1, text.size(), f) == text.size();
  });
}

// Every name in dir but "." and "..", sorted.
std::vector<std::string> Names(const std::string &dir) {
  std::vector<std::string> names;
  DIR *d = opendir(dir.c_str());
  while (struct dirent *e = d ? readdir(d) : nullptr) {
    std::string name = e->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  if (d) closedir(d);
  std::sort(names.begin(), names.end());
  return names;
}

struct stat Stat(const std::string &path) {
  struct stat st = {};
  EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
  return st;
}

TEST(AtomicFile, KeepsModeAndOwnerOfTheOldFile) {
  TestDir dir;
  std::string path = dir.File("h.state");
  dir.Write("h.state", "old");
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  // Giving the file away needs root; elsewhere the group alone is kept.
  bool root = geteuid() == 0;
  if (root) {
    ASSERT_EQ(chown(path.c_str(), 4321, 4322), 0);
  }
  ASSERT_EQ(Replace(path, "new").error, 0);
  EXPECT_EQ(dir.Read("h.state"), "new");
  struct stat st = Stat(path);
  EXPECT_EQ(st.st_mode & 07777, 0640u);
  if (root) {
    EXPECT_EQ(st.st_uid, 4321u);
    EXPECT_EQ(st.st_gid, 4322u);
  }
  EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"h.state"});

  // A first file gets what a plain create would give.
  mode_t mask = umask(022);
  ASSERT_EQ(Replace(dir.File("fresh"), "x").error, 0);
  umask(mask);
  EXPECT_EQ(Stat(dir.File("fresh")).st_mode & 07777, 0644u);
}

TEST(AtomicFile, ReplacesTheTargetOfASymbolicLink) {
  TestDir dir;
  ASSERT_EQ(mkdir(dir.File("real").c_str(), 0700), 0);
  ASSERT_EQ(mkdir(dir.File("etc").c_str(), 0700), 0);
  // A relative link to a relative link; the second one dangles at first.
  ASSERT_EQ(symlink("../real/h.state", dir.File("etc/second").c_str()), 0);
  ASSERT_EQ(symlink("second", dir.File("etc/h.state").c_str()), 0);
  std::string path = dir.File("etc/h.state");
  ASSERT_EQ(Replace(path, "one").error, 0);
  ASSERT_EQ(Replace(path, "two").error, 0);
  EXPECT_TRUE(S_ISLNK(Stat(path).st_mode));
  EXPECT_TRUE(S_ISLNK(Stat(dir.File("etc/second")).st_mode));
  EXPECT_EQ(dir.Read("real/h.state"), "two");
  EXPECT_EQ(Names(dir.File("etc")), (std::vector<std::string>{"h.state", "second"}));
  EXPECT_EQ(Names(dir.File("real")), std::vector<std::string>{"h.state"});

  // A device behind the path is written, never replaced.
  ASSERT_EQ(symlink("/dev/null", dir.File("null").c_str()), 0);
  ASSERT_EQ(Replace(dir.File("null"), "gone").error, 0);
  EXPECT_TRUE(S_ISCHR(Stat("/dev/null").st_mode));

  // A loop of links is an error, not a replaced link.
  ASSERT_EQ(symlink("loop", dir.File("loop").c_str()), 0);
  EXPECT_EQ(Replace(dir.File("loop"), "x").error, ELOOP);
  EXPECT_TRUE(S_ISLNK(Stat(dir.File("loop")).st_mode));
}

TEST(AtomicFile, FailuresGiveTheReasonAndLeaveNoTemporary) {
  TestDir dir;
  ReplaceOutcome missing = Replace(dir.File("no/h.state"), "x");
  EXPECT_EQ(missing.error, ENOENT);
  EXPECT_FALSE(missing.opened);

  dir.Write("h.state", "old");
  // A file size limit makes the write fail half way, as a full disk would.
  struct rlimit saved;
  getrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = {4096, saved.rlim_max};
  setrlimit(RLIMIT_FSIZE, &small);
  ReplaceOutcome big = Replace(dir.File("h.state"), std::string(10000, 'x'));
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, SIG_DFL);
  EXPECT_EQ(big.error, EFBIG);
  EXPECT_TRUE(big.opened);
  EXPECT_EQ(dir.Read("h.state"), "old");
  EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"h.state"});

  // A failing writer counts as a failed write.
  ReplaceOutcome refused = ReplaceFile(dir.File("h.state"), [](FILE *) { return false; });
  EXPECT_NE(refused.error, 0);
  EXPECT_EQ(dir.Read("h.state"), "old");
  EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"h.state"});
}

TEST(AtomicFile, RemovesOnlyItsOwnTemporaries) {
  TestDir dir;
  ASSERT_EQ(mkdir(dir.File("real").c_str(), 0700), 0);
  ASSERT_EQ(symlink("real/h.state", dir.File("h.state").c_str()), 0);
  for (const char *name : {"real/.h.state.saving-Ab3dE9", "real/.h.state.saving-000000",
                           "real/h.state.backup", "real/h.state.Ab3dE9",
                           "real/.h.state.saving-Ab3dE", "real/.h.state.saving-Ab3d.9",
                           "real/.other.saving-Ab3dE9", ".h.state.saving-Ab3dE9"})
    dir.Write(name, "");
  std::vector<std::string> removed = RemoveInterruptedReplacements(dir.File("h.state"));
  std::sort(removed.begin(), removed.end());
  EXPECT_EQ(removed, (std::vector<std::string>{dir.File("real/.h.state.saving-000000"),
                                               dir.File("real/.h.state.saving-Ab3dE9")}));
  EXPECT_EQ(Names(dir.File("real")),
            (std::vector<std::string>{".h.state.saving-Ab3d.9", ".h.state.saving-Ab3dE",
                                      ".other.saving-Ab3dE9", "h.state.Ab3dE9",
                                      "h.state.backup"}));
  EXPECT_EQ(Names(dir.Path()), (std::vector<std::string>{".h.state.saving-Ab3dE9",
                                                          "h.state", "real"}));
}

}  // namespace
