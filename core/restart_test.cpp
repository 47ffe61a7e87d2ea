#include "core/restart.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "core/log_test_support.h"

namespace {

// Changes into dir for the lifetime of the object.
class InDirectory {
 public:
  explicit InDirectory(const std::string &dir)
      : saved_(CurrentDirectory().Str()) {
    EXPECT_EQ(chdir(dir.c_str()), 0);
  }
  ~InDirectory() { EXPECT_EQ(chdir(saved_.c_str()), 0); }

 private:
  std::string saved_;
};

TEST(RestartTest, ProgramPathBecomesAbsoluteOnlyForRelativePathsWithSlash) {
  TestDir dir;
  // Longer than the first getcwd buffer, so the buffer has to grow.
  std::string deep =
      dir.File("a-directory-name-long-enough-to-grow-the-buffer");
  ASSERT_EQ(mkdir(deep.c_str(), 0700), 0);
  InDirectory in(deep);
  EXPECT_EQ(CurrentDirectory().Str(), deep);
  EXPECT_EQ(AbsoluteProgramPath("bin/hovantra").Str(), deep + "/bin/hovantra");
  EXPECT_EQ(AbsoluteProgramPath("./hovantra").Str(), deep + "/./hovantra");
  EXPECT_EQ(AbsoluteProgramPath("/usr/sbin/hovantra").Str(),
            "/usr/sbin/hovantra");
  EXPECT_EQ(AbsoluteProgramPath("hovantra").Str(), "hovantra");
}

// Runs RestartInPlace in a forked child that has moved to "/" and opened an
// extra descriptor, as the daemon does; returns the child's wait status.
int RestartInChild(const std::string &start_dir, const char *program) {
  {
    InDirectory in(start_dir);
    RememberStartDirectory();
  }
  FlushLog();
  fflush(stdout);
  fflush(stderr);
  pid_t pid = fork();
  if (pid == 0) {
    if (chdir("/") != 0) _exit(90);
    int spare = open("/dev/null", O_RDONLY);
    if (spare < 0 || dup2(spare, 60) != 60) _exit(91);
    alarm(1);  // the watchdog's alarm must not follow into the new image
    char arg0[] = "old-name", arg1[] = "-c", arg2[] = "x.ini";
    char *argv[] = {arg0, arg1, arg2, nullptr};
    RestartInPlace(argv, program);
  }
  int status = -1;
  waitpid(pid, &status, 0);
  return status;
}

TEST(RestartTest, NewImageStartsInTheStartDirectoryWithOnlyStdioOpen) {
  TestLog log;
  const TestDir &dir = log.Dir();
  int log_fd = LogFileNumber();
  ASSERT_GE(log_fd, 3);
  std::string d = dir.Path();
  dir.Write("prog.sh",
            "#!/bin/sh\n"
            "pwd > " +
                d +
                "/pwd.txt\n"
                "echo \"$0 $*\" > " +
                d +
                "/args.txt\n"
                "ls /proc/$$/fd > " +
                d +
                "/fds.txt\n"
                "sleep 1.2\n");
  ASSERT_EQ(chmod(dir.File("prog.sh").c_str(), 0700), 0);

  int status = RestartInChild(d, dir.File("prog.sh").c_str());
  ASSERT_TRUE(WIFEXITED(status)) << "ended by signal " << WTERMSIG(status);
  EXPECT_EQ(WEXITSTATUS(status), 0);
  EXPECT_EQ(dir.Read("pwd.txt"), d + "\n");
  EXPECT_EQ(dir.Read("args.txt"), dir.File("prog.sh") + " -c x.ini\n");
  std::string fds = "\n" + dir.Read("fds.txt");
  EXPECT_EQ(fds.find("\n60\n"), std::string::npos) << fds;
  EXPECT_EQ(fds.find("\n" + std::to_string(log_fd) + "\n"), std::string::npos)
      << fds;
  EXPECT_NE(fds.find("\n2\n"), std::string::npos) << fds;
}

TEST(RestartTest, FailedExecIsLoggedAndEndsWithStatusOne) {
  TestLog log;
  int status = RestartInChild(log.Dir().Path(), "/nonexistent/hovantra");
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 1);
  EXPECT_TRUE(
      log.Contains("Restarting (with argv[0]==/nonexistent/hovantra) failed"));
}

TEST(RestartTest, MarkCloseOnExecSetsTheFlag) {
  int fd = open("/dev/null", O_RDONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  MarkCloseOnExec(fd);
  EXPECT_NE(fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
  close(fd);
}

}  // namespace
