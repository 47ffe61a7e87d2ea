// Test support: a temporary directory with the log opened inside it, and
// access to the log's lines without their "Mon DD HH:MM:SS  [N] " prefix.
#ifndef HOVANTRA_CORE_LOG_TEST_SUPPORT_H
#define HOVANTRA_CORE_LOG_TEST_SUPPORT_H

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/log.h"

class TestDir {
 public:
  TestDir() {
    char tmpl[] = "/tmp/hovantra-test-XXXXXX";
    path_ = mkdtemp(tmpl);
  }
  ~TestDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  const std::string &Path() const { return path_; }
  std::string File(const std::string &name) const { return path_ + "/" + name; }
  void Write(const std::string &name, const std::string &text) const {
    std::ofstream(File(name), std::ios::binary) << text;
  }
  std::string Read(const std::string &name) const {
    std::ifstream in(File(name), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }

 private:
  std::string path_;
};

// Opens a fresh log file in its own directory for the lifetime of the
// object.
class TestLog {
 public:
  TestLog() {
    ResetLog();
    OpenLogFile(dir_.File("test.log").c_str());
  }
  ~TestLog() { ResetLog(); }
  // Every physical line of the log, verbatim.
  std::vector<std::string> RawLines() const {
    std::vector<std::string> lines;
    std::istringstream in(dir_.Read("test.log"));
    std::string line;
    while (std::getline(in, line)) lines.push_back(line);
    return lines;
  }
  // The message texts, with the timestamp and number stripped.
  std::vector<std::string> Lines() const {
    std::vector<std::string> out;
    for (const std::string &l : RawLines()) {
      size_t p = l.find("] ");
      out.push_back(p == std::string::npos ? l : l.substr(p + 2));
    }
    return out;
  }
  bool Contains(const std::string &text) const {
    for (const std::string &l : Lines())
      if (l == text) return true;
    return false;
  }
  // Forgets what was logged so far.
  void Clear() {
    ResetLog();
    std::remove(dir_.File("test.log").c_str());
    OpenLogFile(dir_.File("test.log").c_str());
  }
  const TestDir &Dir() const { return dir_; }

 private:
  TestDir dir_;
};

#endif
