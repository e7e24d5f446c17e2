#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "platform/process.h"
#include "platform/win32/handles.h"
#include "platform/win32/wide.h"

namespace platform {

namespace {
// The user-interface limits of a helper's job.  A plug-in may still show windows of its own
// (settings, progress), owned by any window: JOB_OBJECT_UILIMIT_HANDLES, which would cut the
// helper off from every window outside its job, and the separate atom table, which DDE and some
// COM paths rely on, are left out.  What no decoder needs is taken away: other desktops, display
// settings, ending the session, system parameters and the clipboard (whose contents are the
// person's, not the plug-in's).
constexpr DWORD kUiLimits = JOB_OBJECT_UILIMIT_DESKTOP | JOB_OBJECT_UILIMIT_DISPLAYSETTINGS |
                            JOB_OBJECT_UILIMIT_EXITWINDOWS | JOB_OBJECT_UILIMIT_SYSTEMPARAMETERS |
                            JOB_OBJECT_UILIMIT_READCLIPBOARD | JOB_OBJECT_UILIMIT_WRITECLIPBOARD;

// A job of its own for one helper: closing it (when the program ends, however it ends) ends the
// helper; the helper cannot start a process (one active process, no breakaway) and commits at
// most kHelperMemoryLimit.  A system that refuses the limits still gets kill-on-close.
win::Handle HelperJob() {
  win::Handle job(::CreateJobObjectW(nullptr, nullptr));
  if (!job) return job;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  limits.BasicLimitInformation.LimitFlags =
      JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_ACTIVE_PROCESS | JOB_OBJECT_LIMIT_PROCESS_MEMORY;
  limits.BasicLimitInformation.ActiveProcessLimit = 1;
  limits.ProcessMemoryLimit = static_cast<SIZE_T>(
      kHelperMemoryLimit < static_cast<uint64_t>(SIZE_MAX) ? kHelperMemoryLimit : SIZE_MAX);
  if (!::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits)) {
    limits = JOBOBJECT_EXTENDED_LIMIT_INFORMATION{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
    ::SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits, sizeof limits);
  }
  JOBOBJECT_BASIC_UI_RESTRICTIONS ui{kUiLimits};
  ::SetInformationJobObject(job.get(), JobObjectBasicUIRestrictions, &ui, sizeof ui);
  return job;
}

// The wide name of the program to start.  A name made from the program's own folder holds "?"
// for what the code page cannot write where that folder has no short form: the file is then
// named by the program's wide folder and the rest of the name.
std::wstring ProgramPath(const std::string& program) {
  const std::wstring w = WideFrom(CP_ACP, program);
  if (::GetFileAttributesW(w.c_str()) != INVALID_FILE_ATTRIBUTES) return w;
  const std::wstring self = ModulePath(nullptr);
  const size_t cut = self.find_last_of(L"\\/");
  if (cut == std::wstring::npos) return w;
  const std::wstring folder = self.substr(0, cut + 1);
  const std::string lossy = WideTo(CP_ACP, folder);
  if (program.size() <= lossy.size() || program.compare(0, lossy.size(), lossy) != 0) return w;
  return folder + WideFrom(CP_ACP, program.substr(lossy.size()));
}

// The attribute list that lets a new process inherit `handle` and nothing else.
class InheritOnly {
 public:
  explicit InheritOnly(HANDLE handle) : handle_(handle) {
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
    if (size == 0) return;
    buffer_.resize(size);
    auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
    if (!::InitializeProcThreadAttributeList(list, 1, 0, &size)) return;
    list_ = list;
    if (!::UpdateProcThreadAttribute(list_, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, &handle_, sizeof handle_,
                                     nullptr, nullptr))
      Drop();
  }
  ~InheritOnly() { Drop(); }
  InheritOnly(const InheritOnly&) = delete;
  InheritOnly& operator=(const InheritOnly&) = delete;
  LPPROC_THREAD_ATTRIBUTE_LIST Get() const { return list_; }

 private:
  void Drop() {
    if (list_) ::DeleteProcThreadAttributeList(list_);
    list_ = nullptr;
  }
  HANDLE handle_;  // the list points at it
  std::vector<uint8_t> buffer_;
  LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

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
  win::Handle job;  // after the process: closed last, once the process is ended
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
  STARTUPINFOEXW si{};
  si.StartupInfo.cb = sizeof si;
  si.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
  si.StartupInfo.hStdInput = client.get();
  si.StartupInfo.hStdOutput = client.get();
  si.StartupInfo.hStdError = nullptr;
  const InheritOnly only(client.get());
  si.lpAttributeList = only.Get();
  PROCESS_INFORMATION pi{};
  const std::wstring exe = ProgramPath(program);
  std::wstring commandLine = L"\"" + exe + L"\"";
  // Suspended until it is in its job, so that no code of it runs without the limits.  Detached:
  // no console, so no console host process in the job either.
  const DWORD flags = DETACHED_PROCESS | CREATE_SUSPENDED;
  BOOL ok = FALSE;
  if (only.Get())
    ok = ::CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE,
                          flags | EXTENDED_STARTUPINFO_PRESENT, nullptr, nullptr, &si.StartupInfo, &pi);
  // A system without the attribute list (or one that refuses it): every inheritable handle goes.
  if (!ok) {
    si.StartupInfo.cb = sizeof si.StartupInfo;
    ok = ::CreateProcessW(exe.c_str(), &commandLine[0], nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                          &si.StartupInfo, &pi);
  }
  client.reset();  // the helper holds its own copy
  if (!ok) return false;
  impl_->process.reset(pi.hProcess);
  const win::Handle thread(pi.hThread);
  impl_->job = HelperJob();
  // Where the program's own job forbids a nested one the helper runs without limits, as it would
  // without jobs at all.
  if (impl_->job && !::AssignProcessToJobObject(impl_->job.get(), pi.hProcess)) impl_->job.reset();
  ::ResumeThread(pi.hThread);
  impl_->pipe = std::move(server);
  if (!impl_->event) impl_->event.reset(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  impl_->finished = false;
  return true;
}

uint64_t HelperAddressLimit() { return 0; }

bool ChildProcess::Running() const { return impl_->process && !impl_->finished; }

WriteStatus ChildProcess::Write(const void* data, size_t count, int timeoutMs) {
  if (!impl_->pipe) return WriteStatus::kClosed;
  const int64_t deadline = MonotonicMs() + timeoutMs;
  bool timedOut = false;
  const bool done =
      MoveAll(static_cast<const uint8_t*>(data), count, [&](const uint8_t* p, DWORD part, DWORD& n) {
        OVERLAPPED ov{};
        ov.hEvent = impl_->event.get();
        ::ResetEvent(impl_->event.get());
        if (!::WriteFile(impl_->pipe.get(), p, part, nullptr, &ov) && ::GetLastError() != ERROR_IO_PENDING)
          return false;
        const int64_t left = deadline - MonotonicMs();
        if (::WaitForSingleObject(impl_->event.get(), static_cast<DWORD>(left > 0 ? left : 0)) ==
            WAIT_TIMEOUT) {
          ::CancelIo(impl_->pipe.get());
          // It may have completed meanwhile: then the bytes went and the next part may follow.
          if (::GetOverlappedResult(impl_->pipe.get(), &ov, &n, TRUE) && n > 0) return true;
          timedOut = true;
          return false;
        }
        return ::GetOverlappedResult(impl_->pipe.get(), &ov, &n, TRUE) != FALSE;
      });
  return done ? WriteStatus::kDone : timedOut ? WriteStatus::kTimeout : WriteStatus::kClosed;
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
    impl_->job.reset();
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

bool ParentChannel::Await(int ms) {
  // An anonymous pipe cannot be waited on: it is looked into, every millisecond at first, then
  // every 20 ms.  Opening a picture asks several questions in a row (IsSupported,
  // GetPictureInfo, GetPicture), each sent as soon as the last is answered: looked into every
  // 20 ms from the start, each question reached the plug-in about 20 ms late.
  const ULONGLONG start = ::GetTickCount64();
  const ULONGLONG end = start + static_cast<ULONGLONG>(ms > 0 ? ms : 0);
  constexpr ULONGLONG kPromptMs = 100;
  for (;;) {
    DWORD available = 0;
    if (!::PeekNamedPipe(impl_->in, nullptr, 0, nullptr, &available, nullptr) || available > 0) return true;
    const ULONGLONG now = ::GetTickCount64();
    if (now >= end) return false;
    ::Sleep(now - start < kPromptMs ? 1 : 20);
  }
}

// The program hands the helper handles already made in the helper's own process.
uint64_t ParentChannel::ParentId() const { return ::GetCurrentProcessId(); }

std::string FaultCodeText(uint32_t code) {
  // The C library's formatting, not the window library's: the helper then never loads the
  // window library for a plug-in that does not need it (under Wine its start costs 60 ms).
  char text[16];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(code));
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
