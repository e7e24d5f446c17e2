#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "platform/files.h"
#include "platform/posix/host_path.h"
#include "platform/text.h"

namespace platform {

namespace {
thread_local int g_last_error = 0;

int MapErrno(int e) {
  switch (e) {
    case ENOENT:
      return kErrorFileNotFound;
    case ENOTDIR:
    case ENAMETOOLONG:
    case ELOOP:
      return kErrorPathNotFound;
    case EMFILE:
    case ENFILE:
      return kErrorTooManyOpenFiles;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return kErrorAccessDenied;
    case ENOMEM:
      return kErrorNotEnoughMemory;
    case EWOULDBLOCK:
      return kErrorSharingViolation;
    case ENOSPC:
      return kErrorDiskFull;
    default:
      return 1000 + e;
  }
}

void SetError() { g_last_error = MapErrno(errno); }
}  // namespace

namespace {
// Replaces one separator byte by another outside double-byte characters.
std::string SwapSeparator(const std::string& path, char from, char to) {
  std::string out = path;
  for (size_t i = 0; i < out.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(out[i]);
    if (IsDBCSLeadByte(c) && i + 1 < out.size()) {
      ++i;
      continue;
    }
    if (c == static_cast<unsigned char>(from)) out[i] = to;
  }
  return out;
}
}  // namespace

std::string ToHost(const std::string& path) { return SwapSeparator(path, '\\', '/'); }

std::string FromHost(const std::string& path) { return SwapSeparator(path, '/', '\\'); }

FileHandle FileOpenRead(const std::string& name) {
  int fd = ::open(ToHost(name).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    SetError();
    return kInvalidFile;
  }
  struct stat st;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd);
    g_last_error = kErrorAccessDenied;
    return kInvalidFile;
  }
  return fd;
}

FileHandle FileCreate(const std::string& name) {
  int fd = ::open(ToHost(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) {
    SetError();
    return kInvalidFile;
  }
  return fd;
}

int64_t FileRead(FileHandle f, void* buffer, int64_t count) {
  int64_t done = 0;
  char* p = static_cast<char*>(buffer);
  while (done < count) {
    ssize_t r = ::read(static_cast<int>(f), p + done, static_cast<size_t>(count - done));
    if (r < 0) {
      if (errno == EINTR) continue;
      SetError();
      return done > 0 ? done : -1;
    }
    if (r == 0) break;
    done += r;
  }
  return done;
}

int64_t FileWrite(FileHandle f, const void* buffer, int64_t count) {
  int64_t done = 0;
  const char* p = static_cast<const char*>(buffer);
  while (done < count) {
    ssize_t r = ::write(static_cast<int>(f), p + done, static_cast<size_t>(count - done));
    if (r < 0) {
      if (errno == EINTR) continue;
      SetError();
      return done > 0 ? done : -1;
    }
    done += r;
  }
  return done;
}

int64_t FileSeek(FileHandle f, int64_t offset, int origin) {
  int whence = origin == 0 ? SEEK_SET : origin == 1 ? SEEK_CUR : SEEK_END;
  off_t r = ::lseek(static_cast<int>(f), static_cast<off_t>(offset), whence);
  if (r < 0) {
    SetError();
    return -1;
  }
  return r;
}

void FileClose(FileHandle f) {
  if (f != kInvalidFile) ::close(static_cast<int>(f));
}

int LastError() { return g_last_error; }

std::string SysErrorMessage(int code) {
  int e = code >= 1000                 ? code - 1000
          : code == kErrorFileNotFound ? ENOENT
          : code == kErrorPathNotFound ? ENOTDIR
          : code == kErrorAccessDenied ? EACCES
                                       : 0;
  return e ? std::strerror(e) : std::string();
}

bool FileExists(const std::string& name) {
  struct stat st;
  return !name.empty() && ::stat(ToHost(name).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

FileStamp StampOf(const std::string& name) {
  struct stat st;
  FileStamp stamp;
  if (name.empty() || ::stat(ToHost(name).c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return stamp;
  stamp.Size = st.st_size;
  stamp.WriteTime = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  return stamp;
}

bool DirectoryExists(const std::string& name) {
  struct stat st;
  return !name.empty() && ::stat(ToHost(name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string GetCurrentDir() {
  std::vector<char> buf(PATH_MAX + 1);
  if (!::getcwd(buf.data(), buf.size())) return std::string();
  return FromHost(buf.data());
}

bool SetCurrentDir(const std::string& dir) {
  if (::chdir(ToHost(dir).c_str()) != 0) {
    SetError();
    return false;
  }
  return true;
}

std::string ExpandFileName(const std::string& name) {
  std::string host = ToHost(name);
  if (!host.empty() && host[0] == '/') return name;
  std::string cwd = GetCurrentDir();
  if (cwd.empty() || cwd.back() != '\\') cwd += '\\';
  return cwd + name;
}

std::string ExeFileName() {
  std::vector<char> buf(PATH_MAX + 1);
  ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size() - 1);
  if (n <= 0) return std::string();
  buf[static_cast<size_t>(n)] = 0;
  return FromHost(buf.data());
}

std::string SystemDirectory() { return FromHost("/usr/lib"); }
std::string WindowsDirectory() { return FromHost("/usr"); }

struct FileFinder::Impl {
  Impl() = default;
  ~Impl() {
    if (dir) ::closedir(dir);
  }
  Impl(const Impl&) = delete;
  Impl& operator=(const Impl&) = delete;
  DIR* dir = nullptr;
  std::string folder;   // host form, with trailing "/"
  std::string pattern;  // name part
};

FileFinder::FileFinder(const std::string& pattern) : impl_(std::make_unique<Impl>()) {
  std::string host = ToHost(pattern);
  size_t slash = host.rfind('/');
  impl_->folder = slash == std::string::npos ? std::string() : host.substr(0, slash + 1);
  impl_->pattern = slash == std::string::npos ? host : host.substr(slash + 1);
  impl_->dir = ::opendir(impl_->folder.empty() ? "." : impl_->folder.c_str());
  if (!impl_->dir) SetError();
}

FileFinder::~FileFinder() = default;

bool FileFinder::Next(FindEntry& entry) {
  if (!impl_->dir) return false;
  while (struct dirent* d = ::readdir(impl_->dir)) {
    std::string name = d->d_name;
    if (name == "." || name == "..") continue;
    if (!MatchesWildcard(name, impl_->pattern)) continue;
    struct stat st;
    std::string full = impl_->folder + name;
    if (::stat(full.c_str(), &st) != 0) continue;
    uint32_t attr = 0;
    if (S_ISDIR(st.st_mode))
      attr |= faDirectory;
    else
      attr |= faArchive;
    // Natively a leading "." means hidden; no write permission means read-only.
    if (name[0] == '.') attr |= faHidden;
    if (::access(full.c_str(), W_OK) != 0) attr |= faReadOnly;
    entry.Name = FromHost(name);
    entry.Attributes = attr;
    return true;
  }
  return false;
}

}  // namespace platform
