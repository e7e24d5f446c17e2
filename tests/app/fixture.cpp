#include "fixture.h"

#include <shlobj.h>

#include <cstdio>
#include <cstring>

#include "platform/files.h"
#include "toolkit/application.h"

namespace {
void RemoveTree(const std::string& dir) {
  WIN32_FIND_DATAA fd;
  HANDLE h = ::FindFirstFileA((dir + "*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      const std::string name = fd.cFileName;
      if (name == "." || name == "..") continue;
      if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
        RemoveTree(dir + name + "\\");
      else
        ::DeleteFileA((dir + name).c_str());
    } while (::FindNextFileA(h, &fd));
    ::FindClose(h);
  }
  ::RemoveDirectoryA(dir.c_str());
}

void Put16(std::string& s, uint32_t v) { s.append({char(v), char(v >> 8)}); }
void Put32(std::string& s, uint32_t v) { s.append({char(v), char(v >> 8), char(v >> 16), char(v >> 24)}); }

std::string InfoHeader(int w, int h, int bits, uint32_t imageSize) {
  std::string s;
  Put32(s, 40);
  Put32(s, static_cast<uint32_t>(w));
  Put32(s, static_cast<uint32_t>(h));
  Put16(s, 1);
  Put16(s, static_cast<uint32_t>(bits));
  Put32(s, 0);
  Put32(s, imageSize);
  Put32(s, 3779);
  Put32(s, 3779);
  Put32(s, 0);
  Put32(s, 0);
  return s;
}

void WriteFile(const std::string& name, const std::string& bytes) {
  FILE* f = std::fopen(name.c_str(), "wb");
  ASSERT_NE(f, nullptr) << name;
  std::fwrite(bytes.data(), 1, bytes.size(), f);
  std::fclose(f);
}
}  // namespace

ScratchFolder::ScratchFolder(const std::string& leaf) {
  static int counter = 0;
  char tmp[MAX_PATH];
  ::GetTempPathA(sizeof tmp, tmp);
  path_ = std::string(tmp) + "kortest" + std::to_string(::GetCurrentProcessId()) + "_" +
          std::to_string(++counter) + "\\";
  ::CreateDirectoryA(path_.c_str(), nullptr);
  if (!leaf.empty()) {
    path_ += leaf + "\\";
    ::CreateDirectoryA(path_.c_str(), nullptr);
  }
}

ScratchFolder::~ScratchFolder() {
  // Remove the whole scratch root, whatever leaf was made under it.
  std::string root = path_;
  const size_t mark = root.find("kortest");
  const size_t end = root.find('\\', mark);
  RemoveTree(root.substr(0, end + 1));
}

uint32_t PixelOf(int x, int y, int seed) {
  const uint32_t r = static_cast<uint32_t>(x * 7 + seed * 31) & 255;
  const uint32_t g = static_cast<uint32_t>(y * 5 + seed * 17) & 255;
  const uint32_t b = static_cast<uint32_t>((x + y) * 3 + seed * 11) & 255;
  return r << 16 | g << 8 | b;
}

void WriteBmp(const std::string& name, int w, int h, int seed) {
  const uint32_t row = (static_cast<uint32_t>(w) * 3 + 3) & ~3u;
  const uint32_t size = row * static_cast<uint32_t>(h);
  std::string s = "BM";
  Put32(s, 54 + size);
  Put32(s, 0);
  Put32(s, 54);
  s += InfoHeader(w, h, 24, size);
  std::string pixels(size, '\0');
  for (int y = 0; y < h; ++y) {
    char* line = &pixels[row * static_cast<uint32_t>(h - 1 - y)];
    for (int x = 0; x < w; ++x) {
      const uint32_t p = PixelOf(x, y, seed);
      line[x * 3] = char(p);
      line[x * 3 + 1] = char(p >> 8);
      line[x * 3 + 2] = char(p >> 16);
    }
  }
  WriteFile(name, s + pixels);
}

void WriteIcon(const std::string& name, uint32_t rgb) {
  const int n = 16;
  std::string image = InfoHeader(n, n * 2, 24, 0);
  for (int i = 0; i < n * n; ++i) image.append({char(rgb), char(rgb >> 8), char(rgb >> 16)});
  image.append(static_cast<size_t>(4 * n), '\0');  // AND mask: all opaque
  std::string s;
  Put16(s, 0);
  Put16(s, 1);
  Put16(s, 1);
  s.append({char(n), char(n), 0, 0});
  Put16(s, 1);
  Put16(s, 24);
  Put32(s, static_cast<uint32_t>(image.size()));
  Put32(s, 22);
  WriteFile(name, s + image);
}

void ViewerTest::SetUp() {
  if (!std::getenv("DISPLAY")) GTEST_SKIP() << "no display";
  originalDir = platform::GetCurrentDir();
  toolkit::SetMessageBoxHook([this](const std::string& text, const std::string& caption, UINT type) {
    boxes.push_back({text, caption, type});
    return IDOK;
  });
  // The pointer stays off the window, so no move the system makes up reaches the picture.
  ::SetCursorPos(0, 0);
}

void ViewerTest::TearDown() {
  form_.reset();
  Application().ResetTerminated();
  toolkit::SetMessageBoxHook(nullptr);
  TFileDialog::SetHook(nullptr);
  TScreen::SetSizeOverride(0, 0);
  TScreen::SetMonitorOverride(RECT{0, 0, 0, 0});
  if (!originalDir.empty()) platform::SetCurrentDir(originalDir);
}

TForm1& ViewerTest::Start(const std::string& args) {
  form_.reset();  // one plug-in set at a time
  form_ = std::make_unique<TForm1>(nullptr, "Korvale2.exe " + args);
  Application().SetMainForm(form_.get());
  Pump();
  return *form_;
}

void ViewerTest::Pump() { Application().ProcessMessages(); }

void ViewerTest::Key(WORD vk, bool ctrl) {
  BYTE state[256];
  ::GetKeyboardState(state);
  state[VK_CONTROL] = ctrl ? 0x80 : 0;
  ::SetKeyboardState(state);
  ::PostMessageW(form_->Handle(), WM_KEYDOWN, vk, 1);
  Pump();
  ::PostMessageW(form_->Handle(), WM_KEYUP, vk, 0xC0000001);
  Pump();
  state[VK_CONTROL] = 0;
  ::SetKeyboardState(state);
}

void ViewerTest::Wheel(int delta) {
  ::SendMessageW(form_->Handle(), WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(static_cast<short>(delta))),
                 MAKELPARAM(300, 300));
}

void ViewerTest::Mouse(UINT msg, int x, int y, WPARAM keys) {
  ::SendMessageW(
      form_->Image1->Handle(), msg, keys,
      MAKELPARAM(static_cast<WORD>(static_cast<short>(x)), static_cast<WORD>(static_cast<short>(y))));
}

HGLOBAL ViewerTest::Drop(const std::vector<std::string>& files) {
  std::string names;
  for (const std::string& f : files) names += f + '\0';
  names += '\0';
  HGLOBAL h = ::GlobalAlloc(GHND, sizeof(DROPFILES) + names.size());
  auto* df = static_cast<DROPFILES*>(::GlobalLock(h));
  df->pFiles = sizeof(DROPFILES);
  df->fWide = FALSE;
  std::memcpy(reinterpret_cast<char*>(df) + sizeof(DROPFILES), names.data(), names.size());
  ::GlobalUnlock(h);
  ::SendMessageW(form_->Handle(), WM_DROPFILES, reinterpret_cast<WPARAM>(h), 0);
  return h;
}

std::string ViewerTest::Selected() {
  const int i = form_->FileListBox1->ItemIndex();
  return i < 0 ? "" : form_->FileListBox1->Items()[i];
}
