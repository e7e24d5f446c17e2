#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/host_path.h"
#include "platform/process.h"

extern char** environ;

namespace platform {

namespace {
// Builds with a sanitizer: the helper's own reports go to the program's standard error, and its
// address space is not capped (the shadow memory alone is larger than any cap).
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif

bool WriteAll(int fd, const void* data, size_t count) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (count > 0) {
    ssize_t n = ::send(fd, p, count, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}
}  // namespace

struct ChildProcess::Impl {
  pid_t pid = -1;
  int fd = -1;
  bool reaped = false;
  ProcessEnd end;
};

ChildProcess::ChildProcess() : impl_(std::make_unique<Impl>()) {}
ChildProcess::~ChildProcess() { Finish(); }

bool ChildProcess::Start(const std::string& program) {
  int sv[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return false;
  const std::string path = ToHost(program);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, sv[1], 0);
  posix_spawn_file_actions_adddup2(&actions, sv[1], 1);
  if (!kSanitized) posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
#if __GLIBC_PREREQ(2, 34)
  // Descriptors the program did not open itself (inherited from whoever started it) may lack
  // close-on-exec: none of them reaches the helper.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
#endif
  char* argv[] = {const_cast<char*>(path.c_str()), nullptr};
  pid_t pid = -1;
  const int rc = ::posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(sv[1]);
  if (rc != 0) {
    ::close(sv[0]);
    return false;
  }
  // Capped before the first request, so before any plug-in code runs in it.  The sanitizers
  // reserve terabytes of shadow memory, so their builds go without the cap.
  if (const uint64_t limit = HelperAddressLimit()) {
    const rlimit cap{limit, limit};
    ::prlimit(pid, RLIMIT_AS, &cap, nullptr);
  }
  impl_->pid = pid;
  impl_->fd = sv[0];
  impl_->reaped = false;
  return true;
}

uint64_t HelperAddressLimit() { return kSanitized ? 0 : kHelperMemoryLimit + (uint64_t(1) << 30); }

bool ChildProcess::Running() const { return impl_->pid > 0 && !impl_->reaped; }

WriteStatus ChildProcess::Write(const void* data, size_t count, int timeoutMs) {
  if (impl_->fd < 0) return WriteStatus::kClosed;
  const int64_t deadline = MonotonicMs() + timeoutMs;
  const auto* p = static_cast<const uint8_t*>(data);
  while (count > 0) {
    const int64_t left = deadline - MonotonicMs();
    if (left <= 0) return WriteStatus::kTimeout;
    pollfd w{impl_->fd, POLLOUT, 0};
    const int r = ::poll(&w, 1, static_cast<int>(left));
    if (r < 0 && errno != EINTR) return WriteStatus::kClosed;
    if (r <= 0) continue;
    const ssize_t n = ::send(impl_->fd, p, count, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
    if (n <= 0) return WriteStatus::kClosed;
    p += n;
    count -= static_cast<size_t>(n);
  }
  return WriteStatus::kDone;
}

ReadStatus ChildProcess::ReadSome(void* data, size_t capacity, size_t& got, int timeoutMs) {
  got = 0;
  if (impl_->fd < 0) return ReadStatus::kClosed;
  pollfd p{impl_->fd, POLLIN, 0};
  int r = ::poll(&p, 1, timeoutMs);
  if (r < 0 && errno == EINTR) return ReadStatus::kTimeout;
  if (r == 0) return ReadStatus::kTimeout;
  ssize_t n = ::read(impl_->fd, data, capacity);
  if (n < 0 && (errno == EINTR || errno == EAGAIN)) return ReadStatus::kTimeout;
  if (n <= 0) return ReadStatus::kClosed;
  got = static_cast<size_t>(n);
  return ReadStatus::kData;
}

ProcessEnd ChildProcess::Finish() {
  if (impl_->fd >= 0) {
    ::close(impl_->fd);
    impl_->fd = -1;
  }
  if (impl_->pid > 0 && !impl_->reaped) {
    int status = 0;
    // A helper that still runs is ended; one that is ending is waited for.
    if (::waitpid(impl_->pid, &status, WNOHANG) == 0) {
      ::kill(impl_->pid, SIGKILL);
      ::waitpid(impl_->pid, &status, 0);
    }
    impl_->reaped = true;
    impl_->end = WIFSIGNALED(status) ? ProcessEnd{true, static_cast<uint32_t>(WTERMSIG(status))}
                                     : ProcessEnd{false, static_cast<uint32_t>(WEXITSTATUS(status))};
  }
  return impl_->end;
}

uint64_t ChildProcess::Id() const { return impl_->pid > 0 ? static_cast<uint64_t>(impl_->pid) : 0; }
void* ChildProcess::NativeHandle() const { return nullptr; }

struct ParentChannel::Impl {
  int in = -1;
  int out = -1;
  pid_t parent = 0;
};

ParentChannel::ParentChannel() : impl_(std::make_unique<Impl>()) {
  impl_->parent = ::getppid();
  // The helper ends with the program that started it, and nothing it starts gains privileges
  // (set-user-ID programs run as the person).
  ::prctl(PR_SET_PDEATHSIG, SIGKILL);
  ::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
  if (::getppid() != impl_->parent) ::_exit(0);
  impl_->in = ::fcntl(0, F_DUPFD_CLOEXEC, 3);
  impl_->out = ::fcntl(1, F_DUPFD_CLOEXEC, 3);
  int null = ::open("/dev/null", O_RDWR);
  if (null >= 0) {
    ::dup2(null, 0);
    ::dup2(null, 1);
    if (null > 2) ::close(null);
  }
}

ParentChannel::~ParentChannel() {
  if (impl_->in >= 0) ::close(impl_->in);
  if (impl_->out >= 0) ::close(impl_->out);
}

bool ParentChannel::Write(const void* data, size_t count) { return WriteAll(impl_->out, data, count); }

bool ParentChannel::Read(void* data, size_t count) {
  auto* p = static_cast<uint8_t*>(data);
  while (count > 0) {
    ssize_t n = ::read(impl_->in, p, count);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    count -= static_cast<size_t>(n);
  }
  return true;
}

bool ParentChannel::Await(int ms) {
  pollfd in{impl_->in, POLLIN, 0};
  int n;
  do {
    n = ::poll(&in, 1, ms);
  } while (n < 0 && errno == EINTR);
  return n != 0;
}

uint64_t ParentChannel::ParentId() const { return static_cast<uint64_t>(impl_->parent); }

std::string FaultCodeText(uint32_t code) {
  const char* name = ::sigabbrev_np(static_cast<int>(code));
  return name ? std::string("SIG") + name : std::to_string(code);
}

int64_t MonotonicMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void EndProcessNow(uint32_t code) { ::_exit(static_cast<int>(code & 0xFF)); }

// Natively a fault ends the helper by its signal; the program reads the signal from the status.
void QuietFaultEnd() {}

}  // namespace platform
