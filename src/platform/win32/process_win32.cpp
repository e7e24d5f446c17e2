#include <windows.h>

#include <string>

#include "platform/process.h"

namespace platform {

namespace {
std::wstring Wide(const std::string& ansi) {
  int n = ::MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, nullptr, 0);
  std::wstring w(static_cast<size_t>(n > 0 ? n : 1), L'\0');
  if (n > 0) ::MultiByteToWideChar(CP_ACP, 0, ansi.c_str(), -1, &w[0], n);
  w.resize(w.size() - 1);
  return w;
}

// One job for every helper: closing it (when the program ends, however it ends) ends them.
HANDLE HelperJob() {
  static HANDLE job = [] {
    HANDLE j = ::CreateJobObjectW(nullptr, nullptr);
    if (j) {
      JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
      limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
      ::SetInformationJobObject(j, JobObjectExtendedLimitInformation, &limits, sizeof limits);
    }
    return j;
  }();
  return job;
}

ProcessEnd EndOf(DWORD code) {
  // Unhandled exceptions end a process with their code, all of the 0xC0000000 class.
  return (code & 0xC0000000u) == 0xC0000000u ? ProcessEnd{true, code} : ProcessEnd{false, code};
}
}  // namespace

struct ChildProcess::Impl {
  HANDLE process = nullptr;
  HANDLE pipe = INVALID_HANDLE_VALUE;
  HANDLE event = nullptr;
  bool finished = false;
  ProcessEnd end;
};

ChildProcess::ChildProcess() : impl_(std::make_unique<Impl>()) {}
ChildProcess::~ChildProcess() {
  Finish();
  if (impl_->event) ::CloseHandle(impl_->event);
}

bool ChildProcess::Start(const std::string& program) {
  static LONG counter = 0;
  const std::wstring name = L"\\\\.\\pipe\\korspi-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                            std::to_wstring(::InterlockedIncrement(&counter)) + L"-" +
                            std::to_wstring(::GetTickCount());
  HANDLE server = ::CreateNamedPipeW(
      name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0, nullptr);
  if (server == INVALID_HANDLE_VALUE) return false;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE client =
      ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr);
  if (client == INVALID_HANDLE_VALUE) {
    ::CloseHandle(server);
    return false;
  }
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = client;
  si.hStdOutput = client;
  si.hStdError = nullptr;
  PROCESS_INFORMATION pi{};
  std::wstring exe = Wide(program);
  std::wstring commandLine = L"\"" + exe + L"\"";
  BOOL ok = ::CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                             CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, nullptr, &si, &pi);
  ::CloseHandle(client);
  if (!ok) {
    ::CloseHandle(server);
    return false;
  }
  if (HANDLE job = HelperJob()) ::AssignProcessToJobObject(job, pi.hProcess);
  ::ResumeThread(pi.hThread);
  ::CloseHandle(pi.hThread);
  impl_->process = pi.hProcess;
  impl_->pipe = server;
  if (!impl_->event) impl_->event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  impl_->finished = false;
  return true;
}

bool ChildProcess::Running() const { return impl_->process && !impl_->finished; }

bool ChildProcess::Write(const void* data, size_t count) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (count > 0) {
    OVERLAPPED ov{};
    ov.hEvent = impl_->event;
    ::ResetEvent(impl_->event);
    DWORD n = 0;
    const DWORD part = count > 0x100000 ? 0x100000 : static_cast<DWORD>(count);
    if (!::WriteFile(impl_->pipe, p, part, nullptr, &ov) && ::GetLastError() != ERROR_IO_PENDING)
      return false;
    if (!::GetOverlappedResult(impl_->pipe, &ov, &n, TRUE) || n == 0) return false;
    p += n;
    count -= n;
  }
  return true;
}

ReadStatus ChildProcess::ReadSome(void* data, size_t capacity, size_t& got, int timeoutMs) {
  got = 0;
  if (impl_->pipe == INVALID_HANDLE_VALUE) return ReadStatus::kClosed;
  OVERLAPPED ov{};
  ov.hEvent = impl_->event;
  ::ResetEvent(impl_->event);
  DWORD n = 0;
  const DWORD part = capacity > 0x100000 ? 0x100000 : static_cast<DWORD>(capacity);
  if (!::ReadFile(impl_->pipe, data, part, nullptr, &ov)) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_IO_PENDING) return ReadStatus::kClosed;
    if (::WaitForSingleObject(impl_->event, static_cast<DWORD>(timeoutMs)) == WAIT_TIMEOUT) {
      ::CancelIo(impl_->pipe);
      // It may have completed meanwhile: the bytes it read are kept.
      if (::GetOverlappedResult(impl_->pipe, &ov, &n, TRUE) && n > 0) {
        got = n;
        return ReadStatus::kData;
      }
      return ::GetLastError() == ERROR_BROKEN_PIPE ? ReadStatus::kClosed : ReadStatus::kTimeout;
    }
  }
  if (!::GetOverlappedResult(impl_->pipe, &ov, &n, TRUE) || n == 0) return ReadStatus::kClosed;
  got = n;
  return ReadStatus::kData;
}

ProcessEnd ChildProcess::Finish() {
  if (impl_->pipe != INVALID_HANDLE_VALUE) {
    ::CloseHandle(impl_->pipe);
    impl_->pipe = INVALID_HANDLE_VALUE;
  }
  if (impl_->process && !impl_->finished) {
    // A helper that is ending is given a moment; one that still runs is ended.
    if (::WaitForSingleObject(impl_->process, 200) == WAIT_TIMEOUT) {
      ::TerminateProcess(impl_->process, 1);
      ::WaitForSingleObject(impl_->process, INFINITE);
    }
    DWORD code = 0;
    ::GetExitCodeProcess(impl_->process, &code);
    impl_->end = EndOf(code);
    impl_->finished = true;
    ::CloseHandle(impl_->process);
    impl_->process = nullptr;
  }
  return impl_->end;
}

uint64_t ChildProcess::Id() const { return impl_->process ? ::GetProcessId(impl_->process) : 0; }
void* ChildProcess::NativeHandle() const { return impl_->process; }

struct ParentChannel::Impl {
  HANDLE in = nullptr;
  HANDLE out = nullptr;
};

ParentChannel::ParentChannel() : impl_(std::make_unique<Impl>()) {
  impl_->in = ::GetStdHandle(STD_INPUT_HANDLE);
  impl_->out = ::GetStdHandle(STD_OUTPUT_HANDLE);
  HANDLE null = ::CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
  ::SetStdHandle(STD_INPUT_HANDLE, null);
  ::SetStdHandle(STD_OUTPUT_HANDLE, null);
}

ParentChannel::~ParentChannel() = default;

bool ParentChannel::Write(const void* data, size_t count) {
  const auto* p = static_cast<const uint8_t*>(data);
  while (count > 0) {
    DWORD n = 0;
    const DWORD part = count > 0x100000 ? 0x100000 : static_cast<DWORD>(count);
    if (!::WriteFile(impl_->out, p, part, &n, nullptr) || n == 0) return false;
    p += n;
    count -= n;
  }
  return true;
}

bool ParentChannel::Read(void* data, size_t count) {
  auto* p = static_cast<uint8_t*>(data);
  while (count > 0) {
    DWORD n = 0;
    const DWORD part = count > 0x100000 ? 0x100000 : static_cast<DWORD>(count);
    if (!::ReadFile(impl_->in, p, part, &n, nullptr) || n == 0) return false;
    p += n;
    count -= n;
  }
  return true;
}

// The program hands the helper handles already made in the helper's own process.
uint64_t ParentChannel::ParentId() const { return ::GetCurrentProcessId(); }

std::string FaultCodeText(uint32_t code) {
  char text[16];
  wsprintfA(text, "%08X", code);
  return text;
}

int64_t MonotonicMs() { return static_cast<int64_t>(::GetTickCount64()); }

void EndProcessNow(uint32_t code) {
  ::TerminateProcess(::GetCurrentProcess(), code);
  for (;;) ::Sleep(INFINITE);
}

namespace {
LONG WINAPI EndOnFault(EXCEPTION_POINTERS* e) {
  ::TerminateProcess(::GetCurrentProcess(), e && e->ExceptionRecord ? e->ExceptionRecord->ExceptionCode : 1);
  return EXCEPTION_EXECUTE_HANDLER;
}
}  // namespace

void QuietFaultEnd() {
  ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
  ::SetUnhandledExceptionFilter(&EndOnFault);
}

}  // namespace platform
