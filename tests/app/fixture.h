// Shared set-up of the window tests: scratch folders with BMP files, the real main window, and
// the window messages a user's input produces.
#ifndef KORVALE_TESTS_APP_FIXTURE_H
#define KORVALE_TESTS_APP_FIXTURE_H

#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/korvale02.h"

// A folder under the temporary folder, removed with its files at the end.
class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& leaf = "");
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  // The folder with its trailing "\".
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + name; }

 private:
  std::string path_;
};

// A 24-bit BMP of w x h whose pixel (x, y) is PixelOf(x, y, seed).
void WriteBmp(const std::string& name, int w, int h, int seed = 0);
uint32_t PixelOf(int x, int y, int seed);  // 0x00RRGGBB
// A 16 x 16 icon, 24 bits, every pixel `rgb`, all opaque.
void WriteIcon(const std::string& name, uint32_t rgb);

struct Box {
  std::string text, caption;
  UINT type;
};

class ViewerTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // The main window as the program builds it, with `args` after the program's name.
  TForm1& Start(const std::string& args = "");
  TForm1& form() { return *form_; }
  void Pump();

  // Input as the system delivers it.
  void Key(WORD vk, bool ctrl = false);
  void Wheel(int delta);
  void Mouse(UINT msg, int x, int y, WPARAM keys = 0);
  // A real drop handle holding `files`, sent as WM_DROPFILES; returns the handle (freed by then).
  HGLOBAL Drop(const std::vector<std::string>& files);

  std::string Selected();  // the list's selected entry, "" for none
  std::vector<Box> boxes;
  std::string originalDir;

 private:
  std::unique_ptr<TForm1> form_;
};

#endif
