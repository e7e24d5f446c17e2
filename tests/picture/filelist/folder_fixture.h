// A scratch folder tree for the file list's tests, made with the system's own calls (the "A"
// functions on Windows, so Shift-JIS names reach the file system as bytes).  Paths are the
// core's: "\" separated on both builds.  The process's current directory is restored and the
// tree removed when the fixture ends.
#ifndef KORVALE_TESTS_FOLDER_FIXTURE_H
#define KORVALE_TESTS_FOLDER_FIXTURE_H

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "picture/filelist.h"

using Names = std::vector<std::string>;

inline Names Entries(TFileListBox& list) { return list.Items().Items(); }

class FolderFixture : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Full path of `relative` inside the scratch root ("" for the root itself).
  std::string Path(const std::string& relative = std::string()) const;
  // Each returns the full path of what it made.
  std::string MakeDir(const std::string& relative);
  std::string MakeFile(const std::string& relative);
  std::string MakeFiles(const std::string& folder, const std::vector<std::string>& names);
  // A hidden file: its name must begin with "." (natively that is what hidden means; on
  // Windows the hidden attribute is set as well).
  std::string MakeHiddenFile(const std::string& relative);
  // Read-only natively means no write permission; returns false when that cannot be observed
  // (the super-user may write anyway).
  bool MakeReadOnlyFile(const std::string& relative);
  // Windows only: the system attribute; false when the file system does not keep it.
  bool MakeSystemFile(const std::string& relative);
  void RemoveFile(const std::string& relative);
  void RemoveDir(const std::string& relative);

 private:
  std::string saved_dir_;
  std::string root_;
};

#endif
