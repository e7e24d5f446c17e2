#include "reach_probe.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#if defined(_WIN32)
InheritableProbe::InheritableProbe() {
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE semaphore = ::CreateSemaphoreW(&inherit, 0, 1, nullptr);
  if (!semaphore) return;
  handle_ = reinterpret_cast<intptr_t>(semaphore);
  name_ = std::to_string(handle_) + ":0";
}

InheritableProbe::~InheritableProbe() {
  if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

// Released by whoever reached it.
bool InheritableProbe::Reached() const {
  return ::WaitForSingleObject(reinterpret_cast<HANDLE>(handle_), 0) == WAIT_OBJECT_0;
}

void SetEnv(const char* name, const std::string& value) {
  ::SetEnvironmentVariableA(name, value.empty() ? nullptr : value.c_str());
}
#else
InheritableProbe::InheritableProbe() {
  if (::pipe(fds_) != 0) return;  // without close-on-exec
  ::fcntl(fds_[0], F_SETFL, O_NONBLOCK);
  struct stat st {};
  ::fstat(fds_[1], &st);
  name_ = std::to_string(fds_[1]) + ":" + std::to_string(st.st_ino);
}

InheritableProbe::~InheritableProbe() {
  if (fds_[0] >= 0) ::close(fds_[0]);
  if (fds_[1] >= 0) ::close(fds_[1]);
}

// Written into by whoever reached it.
bool InheritableProbe::Reached() const {
  char c = 0;
  return ::read(fds_[0], &c, 1) == 1;
}

void SetEnv(const char* name, const std::string& value) {
  if (value.empty())
    ::unsetenv(name);
  else
    ::setenv(name, value.c_str(), 1);
}
#endif
