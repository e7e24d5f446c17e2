#include <windows.h>

#include <string>
#include <utility>

#include "platform/process.h"
#include "platform/win32/handles.h"

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

// Moves all `count` bytes at `p` in pieces of at most 1 MiB, each through step(at, part, moved)
// (a read or a write of the pipe); false once a step fails or moves nothing.
template <typename Byte, typename Step>
bool MoveAll(Byte* p, size_t count, Step step) {
  while (count > 0) {
    DWORD n = 0;
    const DWORD part = count > 0x100000 ? 0x100000 : static_cast<DWORD>(count);
    if (!step(p, part, n) || n == 0) return false;
    p += n;
    count -= n;
  }
  return true;
}

ProcessEnd EndOf(DWORD code) {
  // Unhandled exceptions end a process with their code, all of the 0xC0000000 class.
  return (code & 0xC0000000u) == 0xC0000000u ? ProcessEnd{true, code} : ProcessEnd{false, code};
}
}  // namespace

struct ChildProcess::Impl {
  win::Handle process;
  win::Handle pipe;
  win::Handle event;
  bool finished = false;
  ProcessEnd end;
};

ChildProcess::ChildProcess() : impl_(std::make_unique<Impl>()) {}
ChildProcess::~ChildProcess() { Finish(); }

bool ChildProcess::Start(const std::string& program) {
  static LONG counter = 0;
  const std::wstring name = L"\\\\.\\pipe\\korspi-" + std::to_wstring(::GetCurrentProcessId()) + L"-" +
                            std::to_wstring(::InterlockedIncrement(&counter)) + L"-" +
                            std::to_wstring(::GetTickCount());
  win::Handle server(::CreateNamedPipeW(
      name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_READMODE_BYTE | PIPE_WAIT, 1, 65536, 65536, 0, nullptr));
  if (!server) return false;
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  win::Handle client(
      ::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr));
  if (!client) return false;
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = client.get();
  si.hStdOutput = client.get();
  si.hStdError = nullptr;
  PROCESS_INFORMATION pi{};
  std::wstring exe = Wide(program);
  std::wstring commandLine = L"\"" + exe + L"\"";
  BOOL ok = ::CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                             CREATE_NO_WINDOW | CREATE_SUSPENDED, nullptr, nullptr, &si, &pi);
  client.reset();  // the helper holds its own copy
  if (!ok) return false;
  impl_->process.reset(pi.hProcess);
  const win::Handle thread(pi.hThread);
  if (HANDLE job = HelperJob()) ::AssignProcessToJobObject(job, pi.hProcess);
  ::ResumeThread(pi.hThread);
  impl_->pipe = std::move(server);
  if (!impl_->event) impl_->event.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  impl_->finished = false;
  return true;
}

bool ChildProcess::Running() const { return impl_->process && !impl_->finished; }

bool ChildProcess::Write(const void* data, size_t count) {
  return MoveAll(static_cast<const uint8_t*>(data), count, [this](const uint8_t* p, DWORD part, DWORD& n) {
    OVERLAPPED ov{};
    ov.hEvent = impl_->event.get();
    ::ResetEvent(impl_->event.get());
    if (!::WriteFile(impl_->pipe.get(), p, part, nullptr, &ov) && ::GetLastError() != ERROR_IO_PENDING)
      return false;
    return ::GetOverlappedResult(impl_->pipe.get(), &ov, &n, TRUE) != FALSE;
  });
}

ReadStatus ChildProcess::ReadSome(void* data, size_t capacity, size_t& got, int timeoutMs) {
  got = 0;
  if (!impl_->pipe) return ReadStatus::kClosed;
  OVERLAPPED ov{};
  ov.hEvent = impl_->event.get();
  ::ResetEvent(impl_->event.get());
  DWORD n = 0;
  const DWORD part = capacity > 0x100000 ? 0x100000 : static_cast<DWORD>(capacity);
  if (!::ReadFile(impl_->pipe.get(), data, part, nullptr, &ov)) {
    const DWORD error = ::GetLastError();
    if (error != ERROR_IO_PENDING) return ReadStatus::kClosed;
    if (::WaitForSingleObject(impl_->event.get(), static_cast<DWORD>(timeoutMs)) == WAIT_TIMEOUT) {
      ::CancelIo(impl_->pipe.get());
      // It may have completed meanwhile: the bytes it read are kept.
      if (::GetOverlappedResult(impl_->pipe.get(), &ov, &n, TRUE) && n > 0) {
        got = n;
        return ReadStatus::kData;
      }
      return ::GetLastError() == ERROR_BROKEN_PIPE ? ReadStatus::kClosed : ReadStatus::kTimeout;
    }
  }
  if (!::GetOverlappedResult(impl_->pipe.get(), &ov, &n, TRUE) || n == 0) return ReadStatus::kClosed;
  got = n;
  return ReadStatus::kData;
}

ProcessEnd ChildProcess::Finish() {
  impl_->pipe.reset();
  if (impl_->process && !impl_->finished) {
    HANDLE process = impl_->process.get();
    // A helper that is ending is given a moment; one that still runs is ended.
    if (::WaitForSingleObject(process, 200) == WAIT_TIMEOUT) {
      ::TerminateProcess(process, 1);
      ::WaitForSingleObject(process, INFINITE);
    }
    DWORD code = 0;
    ::GetExitCodeProcess(process, &code);
    impl_->end = EndOf(code);
    impl_->finished = true;
    impl_->process.reset();
  }
  return impl_->end;
}

uint64_t ChildProcess::Id() const { return impl_->process ? ::GetProcessId(impl_->process.get()) : 0; }
void* ChildProcess::NativeHandle() const { return impl_->process.get(); }

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
  return MoveAll(static_cast<const uint8_t*>(data), count, [this](const uint8_t* p, DWORD part, DWORD& n) {
    return ::WriteFile(impl_->out, p, part, &n, nullptr) != FALSE;
  });
}

bool ParentChannel::Read(void* data, size_t count) {
  return MoveAll(static_cast<uint8_t*>(data), count, [this](uint8_t* p, DWORD part, DWORD& n) {
    return ::ReadFile(impl_->in, p, part, &n, nullptr) != FALSE;
  });
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
