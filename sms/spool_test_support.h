// Test support: a spool of temporary directories named by a freshly loaded
// configuration, with the log captured and the send clock fixed.
#ifndef HOVANTRA_SMS_SPOOL_TEST_SUPPORT_H
#define HOVANTRA_SMS_SPOOL_TEST_SUPPORT_H

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "config/configuration.h"
#include "core/log_test_support.h"
#include "core/process_state.h"
#include "sms/sms_send.h"

class SpoolTest : public testing::Test {
 protected:
  // 1700000123 mod 1000 is 123: names end in .123, .246, ...
  static long FixedClock() { return 1700000123; }

  void SetUp() override {
    ResetProcessState();
    for (const char *d : {"in", "out", "comp", "done", "failed"})
      mkdir(Dir(d).c_str(), 0755);
    LoadSpoolConfig("");
    SetSmsClock(FixedClock);
    log_.Clear();
  }
  void TearDown() override { ResetProcessState(); }

  // Loads a configuration with the five spool directories and extra lines.
  void LoadSpoolConfig(const std::string &extra) {
    std::string ini =
        "[sms]\nincoming = " + Dir("in") + "\noutgoing = " + Dir("out") +
        "\ncomposing = " + Dir("comp") + "\nproceeded = " + Dir("done") +
        "\nfailed = " + Dir("failed") + "\n" + extra;
    log_.Dir().Write("hovantra.ini", ini);
    ASSERT_TRUE(LoadConfiguration(log_.Dir().File("hovantra.ini")));
  }

  std::string Dir(const std::string &name) const {
    return log_.Dir().File(name);
  }
  std::string Path(const std::string &dir, const std::string &name) const {
    return Dir(dir) + "/" + name;
  }
  void Put(const std::string &dir, const std::string &name,
           const std::string &bytes) const {
    log_.Dir().Write(dir + "/" + name, bytes);
  }
  std::string Get(const std::string &dir, const std::string &name) const {
    return log_.Dir().Read(dir + "/" + name);
  }
  bool Exists(const std::string &dir, const std::string &name) const {
    return access(Path(dir, name).c_str(), F_OK) == 0;
  }
  // The sorted names in a directory, without "." and "..".
  std::vector<std::string> List(const std::string &dir) const {
    std::vector<std::string> names;
    if (DIR *d = opendir(Dir(dir).c_str())) {
      while (struct dirent *e = readdir(d)) {
        std::string n = e->d_name;
        if (n != "." && n != "..") names.push_back(n);
      }
      closedir(d);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
  // "HOVANTRA_OUTG.<pid>.1700000123.<counter>"
  static std::string OutName(long counter) {
    return "HOVANTRA_OUTG." + std::to_string(getpid()) + ".1700000123." +
           std::to_string(counter);
  }

  TestLog log_;
};

#endif
