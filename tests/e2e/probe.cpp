// A small Win32 helper for the end-to-end tests: finds the viewer's main window, reports its
// caption, client size, client origin on the screen and the picture control's size, sends keys
// to it and closes it.  Output is one line of UTF-8 per command.
//   probe find SECONDS        wait for the window; prints caption|cw|ch|ox|oy|iw|ih|ww|wh
//   probe key VK [ctrl|alt]   a key press (with Ctrl or Alt held) as real keyboard input
//   probe close               asks the window to close
//   probe box SECONDS         waits for a message box of the viewer; prints caption|text, presses OK
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {
HWND FindViewer() {
  HWND w = ::FindWindowW(L"KorvaleForm", nullptr);
  return w && ::IsWindowVisible(w) ? w : nullptr;
}

std::string Utf8(const wchar_t* s) {
  int n = ::WideCharToMultiByte(CP_UTF8, 0, s, -1, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 1), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, s, -1, &out[0], n, nullptr, nullptr);
  out.resize(out.size() - 1);
  return out;
}

int Report(HWND w) {
  wchar_t caption[1024] = {};
  ::GetWindowTextW(w, caption, 1024);
  RECT rc;
  ::GetClientRect(w, &rc);
  POINT o{0, 0};
  ::ClientToScreen(w, &o);
  RECT ir{0, 0, 0, 0};
  if (HWND image = ::FindWindowExW(w, nullptr, L"KorvaleImage", nullptr)) ::GetWindowRect(image, &ir);
  RECT wr;
  ::GetWindowRect(w, &wr);
  std::printf("%s|%ld|%ld|%ld|%ld|%ld|%ld|%ld|%ld\n", Utf8(caption).c_str(), rc.right, rc.bottom, o.x, o.y,
              ir.right - ir.left, ir.bottom - ir.top, wr.right - wr.left, wr.bottom - wr.top);
  return 0;
}

struct BoxSearch {
  DWORD process;
  HWND found;
};

BOOL CALLBACK FindBox(HWND w, LPARAM lp) {
  auto* search = reinterpret_cast<BoxSearch*>(lp);
  wchar_t cls[64] = {};
  ::GetClassNameW(w, cls, 64);
  DWORD process = 0;
  ::GetWindowThreadProcessId(w, &process);
  if (process != search->process || !::IsWindowVisible(w) || std::wstring(cls) != L"#32770") return TRUE;
  search->found = w;
  return FALSE;
}

// Waits for a message box the viewer's process shows, reports its caption and text and closes
// it with its OK button.
int Box(HWND viewer, int seconds) {
  BoxSearch search{0, nullptr};
  ::GetWindowThreadProcessId(viewer, &search.process);
  for (int i = 0; i < seconds * 10 && !search.found; ++i) {
    ::EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
    if (!search.found) ::Sleep(100);
  }
  if (!search.found) {
    std::printf("no box\n");
    return 1;
  }
  wchar_t caption[256] = {}, text[1024] = {};
  ::GetWindowTextW(search.found, caption, 256);
  ::GetDlgItemTextW(search.found, 0xFFFF, text, 1024);
  std::printf("%s|%s\n", Utf8(caption).c_str(), Utf8(text).c_str());
  ::PostMessageW(search.found, WM_COMMAND, IDOK, 0);
  return 0;
}

void Press(WORD vk, bool up) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  if (vk == VK_INSERT || vk == VK_DELETE) in.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
  ::SendInput(1, &in, sizeof in);
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string cmd = argv[1];
  if (cmd == "find") {
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 20;
    for (int i = 0; i < seconds * 10; ++i) {
      if (HWND w = FindViewer()) return Report(w);
      ::Sleep(100);
    }
    std::printf("no window\n");
    return 1;
  }
  HWND w = FindViewer();
  if (!w) {
    std::printf("no window\n");
    return 1;
  }
  if (cmd == "key" && argc > 2) {
    const WORD vk = static_cast<WORD>(std::strtol(argv[2], nullptr, 0));
    const std::string mod = argc > 3 ? argv[3] : "";
    const bool ctrl = mod == "ctrl", alt = mod == "alt";
    ::SetForegroundWindow(w);
    ::Sleep(200);
    if (ctrl) Press(VK_CONTROL, false);
    if (alt) Press(VK_MENU, false);
    Press(vk, false);
    Press(vk, true);
    if (alt) Press(VK_MENU, true);
    if (ctrl) Press(VK_CONTROL, true);
    ::Sleep(300);
    return Report(w);
  }
  if (cmd == "box") return Box(w, argc > 2 ? std::atoi(argv[2]) : 20);
  if (cmd == "close") {
    ::PostMessageW(w, WM_CLOSE, 0, 0);
    std::printf("closed\n");
    return 0;
  }
  return 2;
}
