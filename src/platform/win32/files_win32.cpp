#include <windows.h>

#include <vector>

#include "platform/files.h"
#include "platform/win32/handles.h"
#include "platform/win32/wide.h"

namespace platform {

namespace {
thread_local int g_last_error = 0;
void SetError() { g_last_error = static_cast<int>(::GetLastError()); }
HANDLE H(FileHandle f) { return reinterpret_cast<HANDLE>(f); }
}  // namespace

FileHandle FileOpenRead(const std::string& name) {
  HANDLE h = ::CreateFileA(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    SetError();
    return kInvalidFile;
  }
  return reinterpret_cast<FileHandle>(h);
}

FileHandle FileCreate(const std::string& name) {
  HANDLE h = ::CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    SetError();
    return kInvalidFile;
  }
  return reinterpret_cast<FileHandle>(h);
}

int64_t FileRead(FileHandle f, void* buffer, int64_t count) {
  int64_t done = 0;
  char* p = static_cast<char*>(buffer);
  while (done < count) {
    DWORD chunk = static_cast<DWORD>(count - done > 0x40000000 ? 0x40000000 : count - done);
    DWORD got = 0;
    if (!::ReadFile(H(f), p + done, chunk, &got, nullptr)) {
      SetError();
      return done > 0 ? done : -1;
    }
    if (got == 0) break;
    done += got;
  }
  return done;
}

int64_t FileWrite(FileHandle f, const void* buffer, int64_t count) {
  int64_t done = 0;
  const char* p = static_cast<const char*>(buffer);
  while (done < count) {
    DWORD chunk = static_cast<DWORD>(count - done > 0x40000000 ? 0x40000000 : count - done);
    DWORD put = 0;
    if (!::WriteFile(H(f), p + done, chunk, &put, nullptr) || put == 0) {
      SetError();
      return done > 0 ? done : -1;
    }
    done += put;
  }
  return done;
}

int64_t FileSeek(FileHandle f, int64_t offset, int origin) {
  LARGE_INTEGER d, r;
  d.QuadPart = offset;
  DWORD method = origin == 0 ? FILE_BEGIN : origin == 1 ? FILE_CURRENT : FILE_END;
  if (!::SetFilePointerEx(H(f), d, &r, method)) {
    SetError();
    return -1;
  }
  return r.QuadPart;
}

void FileClose(FileHandle f) {
  if (f != kInvalidFile) ::CloseHandle(H(f));
}

int LastError() { return g_last_error; }

std::string SysErrorMessage(int code) {
  char* text = nullptr;
  DWORD n =
      ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                           FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_ARGUMENT_ARRAY,
                       nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
  const win::LocalMemory block(text);  // the system allocated the text
  std::string out;
  if (n && text) out.assign(text, n);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
    out.pop_back();
  return out;
}

bool FileExists(const std::string& name) {
  DWORD a = ::GetFileAttributesA(name.c_str());
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

FileStamp StampOf(const std::string& name) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  FileStamp stamp;
  if (!::GetFileAttributesExA(name.c_str(), GetFileExInfoStandard, &data) ||
      (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
    return stamp;
  stamp.Size = int64_t((uint64_t(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
  stamp.WriteTime =
      int64_t((uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime);
  return stamp;
}

bool DirectoryExists(const std::string& name) {
  DWORD a = ::GetFileAttributesA(name.c_str());
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

std::string GetCurrentDir() {
  char buf[MAX_PATH + 1];
  DWORD n = ::GetCurrentDirectoryA(sizeof buf, buf);
  if (n == 0 || n > MAX_PATH) return std::string();
  return std::string(buf, n);
}

bool SetCurrentDir(const std::string& dir) {
  if (!::SetCurrentDirectoryA(dir.c_str())) {
    SetError();
    return false;
  }
  return true;
}

std::string ExpandFileName(const std::string& name) {
  char buf[MAX_PATH * 2];
  char* part = nullptr;
  DWORD n = ::GetFullPathNameA(name.c_str(), sizeof buf, buf, &part);
  if (n == 0 || n >= sizeof buf) return name;
  return std::string(buf, n);
}

// Asked wide: in a folder whose name the code page cannot write, the ANSI answer holds "?" and
// names nothing, while the short form reaches the same file.
std::string ExeFileName() { return SystemForm(ModulePath(nullptr)); }

std::string SystemDirectory() {
  char buf[256];
  UINT n = ::GetSystemDirectoryA(buf, 255);
  return n == 0 || n > 255 ? std::string() : std::string(buf, n);
}

std::string WindowsDirectory() {
  char buf[256];
  UINT n = ::GetWindowsDirectoryA(buf, 255);
  return n == 0 || n > 255 ? std::string() : std::string(buf, n);
}

struct FileFinder::Impl {
  win::FindHandle find;
  WIN32_FIND_DATAW first;
  bool have_first = false;
};

// The search runs on the wide functions, so that a name the ANSI code page cannot write is
// reported by its short form (which every ANSI function opens) instead of a name with "?" in it.
FileFinder::FileFinder(const std::string& pattern) : impl_(std::make_unique<Impl>()) {
  impl_->find.reset(::FindFirstFileW(WideFrom(CP_ACP, pattern).c_str(), &impl_->first));
  impl_->have_first = static_cast<bool>(impl_->find);
  if (!impl_->have_first) SetError();
}

FileFinder::~FileFinder() = default;

bool FileFinder::Next(FindEntry& entry) {
  WIN32_FIND_DATAW d;
  for (;;) {
    if (impl_->have_first) {
      d = impl_->first;
      impl_->have_first = false;
    } else if (!impl_->find || !::FindNextFileW(impl_->find.get(), &d)) {
      return false;
    }
    if (wcscmp(d.cFileName, L".") == 0 || wcscmp(d.cFileName, L"..") == 0) continue;
    // A name that no ANSI form reaches (no short form on this volume) is left out.
    if (!ExactSystemForm(d.cFileName, entry.Name) && !ExactSystemForm(d.cAlternateFileName, entry.Name))
      continue;
    entry.Attributes = d.dwFileAttributes & 0x3F;
    return true;
  }
}

}  // namespace platform
