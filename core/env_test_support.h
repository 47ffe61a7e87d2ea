// Test support: an environment variable set for the lifetime of an object
// and put back as it was (set to its old value, or unset) however the test
// ends, so a failed assertion cannot leak it into later tests.
#ifndef HOVANTRA_CORE_ENV_TEST_SUPPORT_H
#define HOVANTRA_CORE_ENV_TEST_SUPPORT_H

#include <cstdlib>
#include <string>

class ScopedEnv {
 public:
  ScopedEnv(const char *name, const std::string &value) : name_(name) {
    const char *old = getenv(name);
    had_old_ = old != nullptr;
    if (had_old_) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (had_old_)
      setenv(name_.c_str(), old_.c_str(), 1);
    else
      unsetenv(name_.c_str());
  }
  ScopedEnv(const ScopedEnv &) = delete;
  ScopedEnv &operator=(const ScopedEnv &) = delete;

 private:
  std::string name_;
  bool had_old_ = false;
  std::string old_;
};

#endif
