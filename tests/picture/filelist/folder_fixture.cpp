#include "folder_fixture.h"

#include "platform/files.h"
#include "platform/text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#endif

namespace {

#ifdef _WIN32
void RemoveTree(const std::string& dir) {
  WIN32_FIND_DATAA d;
  HANDLE h = ::FindFirstFileA((dir + "\\*").c_str(), &d);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      std::string name = d.cFileName;
      if (name == "." || name == "..") continue;
      std::string full = dir + "\\" + name;
      ::SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
      if (d.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(full);
      else
        ::DeleteFileA(full.c_str());
    } while (::FindNextFileA(h, &d));
    ::FindClose(h);
  }
  ::RemoveDirectoryA(dir.c_str());
}
#else
// The core's "\" form to the host's "/" form; a 0x5C that is a trail byte stays.
std::string Host(const std::string& path) {
  std::string out = path;
  for (size_t i = 0; i < out.size(); ++i) {
    if (platform::IsDBCSLeadByte(static_cast<unsigned char>(out[i])) && i + 1 < out.size())
      ++i;
    else if (out[i] == '\\')
      out[i] = '/';
  }
  return out;
}
#endif

}  // namespace

void FolderFixture::SetUp() {
  saved_dir_ = platform::GetCurrentDir();
  static int serial = 0;
#ifdef _WIN32
  char temp[MAX_PATH + 1];
  DWORD n = ::GetTempPathA(sizeof temp, temp);
  ASSERT_GT(n, 0u);
  std::string base(temp, n);
  if (base.back() != '\\') base += '\\';
  root_ = base + "korfl-" + std::to_string(::GetCurrentProcessId()) + "-" + std::to_string(++serial);
  ASSERT_TRUE(::CreateDirectoryA(root_.c_str(), nullptr)) << root_;
  // The list reports folders the way the system does; take the root in that form too.
  ASSERT_TRUE(platform::SetCurrentDir(root_));
  root_ = platform::GetCurrentDir();
#else
  (void)serial;
  char templ[] = "/tmp/korfl-XXXXXX";
  ASSERT_NE(::mkdtemp(templ), nullptr);
  ASSERT_TRUE(platform::SetCurrentDir(templ));
  root_ = platform::GetCurrentDir();
#endif
  ASSERT_TRUE(platform::SetCurrentDir(saved_dir_));
}

void FolderFixture::TearDown() {
  platform::SetCurrentDir(saved_dir_);
  if (root_.empty()) return;
#ifdef _WIN32
  RemoveTree(root_);
#else
  std::error_code ignored;
  std::filesystem::permissions(Host(root_), std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(Host(root_), ignored);
#endif
}

std::string FolderFixture::Path(const std::string& relative) const {
  return relative.empty() ? root_ : root_ + "\\" + relative;
}

std::string FolderFixture::MakeDir(const std::string& relative) {
  const std::string full = Path(relative);
#ifdef _WIN32
  EXPECT_TRUE(::CreateDirectoryA(full.c_str(), nullptr)) << full;
#else
  EXPECT_EQ(::mkdir(Host(full).c_str(), 0755), 0) << full;
#endif
  return full;
}

std::string FolderFixture::MakeFile(const std::string& relative) {
  const std::string full = Path(relative);
#ifdef _WIN32
  HANDLE h =
      ::CreateFileA(full.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  EXPECT_NE(h, INVALID_HANDLE_VALUE) << full;
  if (h != INVALID_HANDLE_VALUE) ::CloseHandle(h);
#else
  int fd = ::open(Host(full).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
  EXPECT_GE(fd, 0) << full;
  if (fd >= 0) ::close(fd);
#endif
  return full;
}

std::string FolderFixture::MakeFiles(const std::string& folder, const std::vector<std::string>& names) {
  for (const std::string& name : names) MakeFile(folder.empty() ? name : folder + "\\" + name);
  return Path(folder);
}

std::string FolderFixture::MakeHiddenFile(const std::string& relative) {
  const std::string full = MakeFile(relative);
#ifdef _WIN32
  EXPECT_TRUE(::SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_HIDDEN));
#endif
  return full;
}

bool FolderFixture::MakeReadOnlyFile(const std::string& relative) {
  const std::string full = MakeFile(relative);
#ifdef _WIN32
  return ::SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_READONLY) &&
         (::GetFileAttributesA(full.c_str()) & FILE_ATTRIBUTE_READONLY);
#else
  return ::chmod(Host(full).c_str(), 0444) == 0 && ::access(Host(full).c_str(), W_OK) != 0;
#endif
}

bool FolderFixture::MakeSystemFile(const std::string& relative) {
  const std::string full = MakeFile(relative);
#ifdef _WIN32
  return ::SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_SYSTEM) &&
         (::GetFileAttributesA(full.c_str()) & FILE_ATTRIBUTE_SYSTEM);
#else
  return false;
#endif
}

void FolderFixture::RemoveFile(const std::string& relative) {
  const std::string full = Path(relative);
#ifdef _WIN32
  EXPECT_TRUE(::DeleteFileA(full.c_str())) << full;
#else
  EXPECT_EQ(::unlink(Host(full).c_str()), 0) << full;
#endif
}

void FolderFixture::RemoveDir(const std::string& relative) {
  const std::string full = Path(relative);
#ifdef _WIN32
  EXPECT_TRUE(::RemoveDirectoryA(full.c_str())) << full;
#else
  EXPECT_EQ(::rmdir(Host(full).c_str()), 0) << full;
#endif
}
