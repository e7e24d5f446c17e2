// The native build's file reading: open(2) and pread(2), the host's "\" separators turned into "/".
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "../plugin_info.h"
#include "source.h"

namespace korzip {

bool FileSource::OpenFile(const char* name) {
  std::vector<char> path(std::strlen(name) + 1);
  if (!KorSpiHostPath(name, path.data(), path.size())) return false;
  const int fd = ::open(path.data(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) {
    ::close(fd);
    return false;
  }
  handle_ = fd;
  size_ = static_cast<uint64_t>(st.st_size);
  return true;
}

bool FileSource::ReadDirect(uint64_t at, void* out, size_t n) {
  auto* p = static_cast<uint8_t*>(out);
  while (n > 0) {
    const ssize_t got = ::pread(static_cast<int>(handle_), p, n, static_cast<off_t>(at));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;  // an error, or the file became shorter since it was opened
    p += got;
    at += static_cast<uint64_t>(got);
    n -= static_cast<size_t>(got);
  }
  return true;
}

void FileSource::Close() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
  size_ = 0;
  window_.clear();
}

}  // namespace korzip
