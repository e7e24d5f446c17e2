// Unicode (UTF-8) names of the host for the core, which holds names as CP932 bytes.  A name that
// is plain ASCII is the same in both; any other is reached through a link with an ASCII name in
// a private folder, kept for the life of the process, much as Windows reaches such a name
// through its short form.
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/posix/host_path.h"
#include "platform/text.h"

namespace platform {

namespace {
bool IsAscii(const std::string& s) {
  for (unsigned char c : s)
    if (c >= 0x80) return false;
  return true;
}

// The links made so far, by the core's name of each, and the folder that holds them.
class StandIns {
 public:
  ~StandIns() {
    for (const auto& link : real_) ::unlink(ToHost(link.first).c_str());
    if (!folder_.empty()) ::rmdir(folder_.c_str());
  }

  std::string Make(const std::string& hostName) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (folder_.empty()) {
      const char* tmp = ::getenv("TMPDIR");
      std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/korvale-names-XXXXXX";
      std::vector<char> buf(pattern.begin(), pattern.end());
      buf.push_back('\0');
      if (!::mkdtemp(buf.data())) return std::string();
      folder_ = buf.data();
    }
    std::string target = hostName;
    if (target.empty() || target[0] != '/') {
      std::vector<char> cwd(PATH_MAX + 1);
      if (!::getcwd(cwd.data(), cwd.size())) return std::string();
      target = std::string(cwd.data()) + "/" + target;
    }
    // The extension stays, because the format is chosen by it; only an ASCII one fits the link.
    std::string extension;
    const size_t dot = hostName.rfind('.');
    const size_t slash = hostName.rfind('/');
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash) &&
        IsAscii(hostName.substr(dot)))
      extension = hostName.substr(dot);
    const std::string link = folder_ + "/n" + std::to_string(++count_) + extension;
    if (::symlink(target.c_str(), link.c_str()) != 0) return std::string();
    std::string coreName = FromHost(link);
    real_[coreName] = hostName;
    return coreName;
  }

  bool Find(const std::string& coreName, std::string& hostName) {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = real_.find(coreName);
    if (it == real_.end()) return false;
    hostName = it->second;
    return true;
  }

 private:
  std::mutex mutex_;
  std::string folder_;
  unsigned count_ = 0;
  std::map<std::string, std::string> real_;
};

StandIns& Links() {
  static StandIns links;
  return links;
}
}  // namespace

std::string ReachableName(const std::string& utf8Name, bool create) {
  if (utf8Name.empty()) return std::string();
  if (IsAscii(utf8Name)) return FromHost(utf8Name);
  // A link to a file that does not exist is made all the same: opening it then fails with the
  // usual message, which shows the real name.
  struct stat st;
  if (create && ::stat(utf8Name.c_str(), &st) != 0) {
    const int fd = ::open(utf8Name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) return std::string();
    ::close(fd);
  }
  return Links().Make(utf8Name);
}

// Shown with the core's "\" separators, as every other name of the core is.
std::string ShownName(const std::string& name) {
  std::string real;
  if (!Links().Find(name, real)) return AnsiToUtf8(name);
  // No byte of a UTF-8 letter beyond ASCII is a "/", so each one is a separator.
  for (char& c : real)
    if (c == '/') c = '\\';
  return real;
}

}  // namespace platform
