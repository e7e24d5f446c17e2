// Files and folders.  Paths are the system's 8-bit texts with "\" as separator on both builds:
// the POSIX implementation turns "\" into "/" on the way in and "/" into "\" on the way out
// (trail bytes of double-byte characters untouched), so the core splits paths one way only.
#ifndef KORVALE_PLATFORM_FILES_H
#define KORVALE_PLATFORM_FILES_H

#include <cstdint>
#include <memory>
#include <string>

namespace platform {

using FileHandle = intptr_t;
constexpr FileHandle kInvalidFile = -1;

// Windows error codes; the POSIX build maps errno onto them.
enum : int {
  kErrorFileNotFound = 2,
  kErrorPathNotFound = 3,
  kErrorTooManyOpenFiles = 4,
  kErrorAccessDenied = 5,
  kErrorNotEnoughMemory = 8,
  kErrorSharingViolation = 32,
  kErrorDiskFull = 112,
};

// Opens for reading; others may read meanwhile, nobody may write.
FileHandle FileOpenRead(const std::string& name);
// Creates (or truncates) for writing with exclusive access.
FileHandle FileCreate(const std::string& name);
// Reads/writes up to count bytes; returns the bytes moved, -1 on error.
int64_t FileRead(FileHandle f, void* buffer, int64_t count);
int64_t FileWrite(FileHandle f, const void* buffer, int64_t count);
// origin 0 begin, 1 current, 2 end; returns the new position or -1.
int64_t FileSeek(FileHandle f, int64_t offset, int origin);
void FileClose(FileHandle f);

// Owns an open file and closes it with itself.
class File {
 public:
  explicit File(FileHandle f = kInvalidFile) : f_(f) {}
  ~File() { FileClose(f_); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  FileHandle Get() const { return f_; }
  explicit operator bool() const { return f_ != kInvalidFile; }

 private:
  FileHandle f_;
};

// The error code of the last failed call on this thread.
int LastError();
// The system's text for an error code.
std::string SysErrorMessage(int code);

bool FileExists(const std::string& name);  // an existing file; a folder does not count
// What tells one state of a file from the next: its size and last-write time (in the
// system's units).  Invalid (Size -1) when the file cannot be asked.
struct FileStamp {
  int64_t Size = -1;
  int64_t WriteTime = 0;
  bool Valid() const { return Size >= 0; }
  bool operator==(const FileStamp& o) const { return Size == o.Size && WriteTime == o.WriteTime; }
  bool operator!=(const FileStamp& o) const { return !(*this == o); }
};
FileStamp StampOf(const std::string& name);
bool DirectoryExists(const std::string& name);
std::string GetCurrentDir();                          // absolute, without trailing "\" (but "C:\")
bool SetCurrentDir(const std::string& dir);           // false with LastError() set
std::string ExpandFileName(const std::string& name);  // absolute form of a relative name

// The program's own executable, full path.
std::string ExeFileName();
// The system and Windows folders, asked with a buffer of 255 characters; empty when the
// platform answers 0.  Natively: /usr/lib and /usr (see the notes of the plug-in search).
std::string SystemDirectory();
std::string WindowsDirectory();

// File attributes as the Windows search reports them.
enum : uint32_t {
  faReadOnly = 0x01,
  faHidden = 0x02,
  faSysFile = 0x04,
  faVolumeID = 0x08,
  faDirectory = 0x10,
  faArchive = 0x20,
};

struct FindEntry {
  std::string Name;     // the name as stored, without folder
  uint32_t Attributes;  // fa* bits
};

// Directory search by wildcard ("folder\*.bmp"), the way FindFirstFile/FindNextFile work:
// "*" any run, "?" one character, letter case ignored, "*.*" matches names without a dot.
// "." and ".." are never reported.
class FileFinder {
 public:
  explicit FileFinder(const std::string& pattern);
  ~FileFinder();
  FileFinder(const FileFinder&) = delete;
  FileFinder& operator=(const FileFinder&) = delete;
  bool Next(FindEntry& entry);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Names that come in full Unicode (as UTF-8: a wide command line, a drop, a dialog) meet the
// core's 8-bit names here.  ReachableName gives a form that the core's functions and the
// plug-ins can open: the name itself in the system's code page when that writes it exactly,
// else a stand-in (Win32: the short 8.3 form; natively: a link with an ASCII name in a private
// folder).  With `create` an absent file is created empty first, so that a stand-in exists to
// write through.  Empty when no form reaches the file.
std::string ReachableName(const std::string& utf8Name, bool create);
// The real name behind a name of the core, in UTF-8, for what is shown: a short form or a stand-in
// becomes the name it stands for; any other name is converted from the system's code page.
std::string ShownName(const std::string& name);

// The wildcard matcher with Windows rules (used by the POSIX FileFinder; exposed for tests).
bool MatchesWildcard(const std::string& name, const std::string& pattern);

}  // namespace platform

#endif
