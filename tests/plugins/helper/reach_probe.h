// What a confined helper must not reach, for the reaching fixture (spi/faults, FAULT_REACH).
#ifndef KORVALE_TESTS_PLUGINS_HELPER_REACH_PROBE_H
#define KORVALE_TESTS_PLUGINS_HELPER_REACH_PROBE_H

#include <cstdint>
#include <string>

// A handle (Win32: a semaphore) or descriptor (POSIX: a pipe's write end) that the test holds
// inheritable; Name() is how the fixture is told of it, Reached() whether the helper used it.
class InheritableProbe {
 public:
  InheritableProbe();
  ~InheritableProbe();
  InheritableProbe(const InheritableProbe&) = delete;
  InheritableProbe& operator=(const InheritableProbe&) = delete;
  const std::string& Name() const { return name_; }
  bool Reached() const;

 private:
  intptr_t handle_ = -1;   // Win32: the semaphore
  int fds_[2] = {-1, -1};  // POSIX: the pipe
  std::string name_;
};

// Sets an environment variable of the test's process (which the helpers it starts inherit);
// an empty value removes it.
void SetEnv(const char* name, const std::string& value);

#endif
