/* Drives the real viewer through plug-in pictures, run beside Korvale2.exe in the same Wine
 * prefix and display:
 *
 *   decode_probe TIMEOUT_MS STEPS OUT_BMP
 *
 * waits for the main window, prints its caption and client size, then presses Insert STEPS
 * times (printing the same after each step), zooms in once (Ctrl+W) and prints the sizes of the
 * window's children, saves the shown picture through the File menu's save dialog as OUT_BMP
 * (a Windows path) and closes the window.  Lines are UTF-8:
 *   caption <text>
 *   client <width> <height>
 *   child <width> <height>
 * Exit status 0 when done, 2 when something did not appear in time. */
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

static DWORD g_timeout = 30000;

#include "../probe_windows.h"

static void Key(WORD vk, int up) {
  INPUT in;
  memset(&in, 0, sizeof in);
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  SendInput(1, &in, sizeof in);
}

static void Press(HWND main, WORD modifier, WORD vk) {
  SetForegroundWindow(main);
  Sleep(200);
  if (modifier) Key(modifier, 0);
  Key(vk, 0);
  Key(vk, 1);
  if (modifier) Key(modifier, 1);
}

static void Report(HWND main) {
  wchar_t caption[512];
  RECT r;
  GetWindowTextW(main, caption, 512);
  GetClientRect(main, &r);
  fputs("caption ", stdout);
  PrintUtf8(caption);
  printf("\nclient %ld %ld\n", r.right - r.left, r.bottom - r.top);
}

static BOOL CALLBACK PrintChild(HWND hwnd, LPARAM lp) {
  RECT r;
  (void)lp;
  GetClientRect(hwnd, &r);
  printf("child %ld %ld\n", r.right - r.left, r.bottom - r.top);
  return TRUE;
}

/* Waits until the caption differs from `before`. */
static int WaitCaptionChange(HWND main, const wchar_t* before) {
  DWORD start = GetTickCount();
  wchar_t now[512];
  do {
    GetWindowTextW(main, now, 512);
    if (wcscmp(now, before) != 0) return 1;
    Sleep(100);
  } while (GetTickCount() - start < g_timeout);
  return 0;
}

static int Save(HWND main, const wchar_t* out) {
  HWND dialog;
  DWORD start;
  /* Alt+Z opens the File menu ("ファイル(&Z)"); Y writes the picture. */
  Press(main, VK_MENU, 'Z');
  Sleep(500);
  Key('Y', 0);
  Key('Y', 1);
  dialog = WaitTop(NULL, 0, L"#32770", g_timeout);
  if (!dialog) return 0;
  Sleep(500);
  /* The file name box of the explorer-style dialog (cmb13), or the old style's edit (edt1). */
  if (!SetDlgItemTextW(dialog, 0x47C, out)) SetDlgItemTextW(dialog, 0x480, out);
  PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  for (start = GetTickCount(); GetTickCount() - start < g_timeout; Sleep(100)) {
    if (GetFileAttributesW(out) != INVALID_FILE_ATTRIBUTES && !IsWindow(dialog)) return 1;
  }
  return 0;
}

int main(int argc, char** argv) {
  HWND main;
  int steps, i;
  wchar_t out[1024], caption[512];
  if (argc < 4) {
    fputs("usage: decode_probe TIMEOUT_MS STEPS OUT_BMP\n", stderr);
    return 1;
  }
  setvbuf(stdout, NULL, _IONBF, 0);
  g_timeout = (DWORD)strtoul(argv[1], NULL, 10);
  steps = atoi(argv[2]);
  MultiByteToWideChar(CP_UTF8, 0, argv[3], -1, out, 1024);
  main = WaitTop(L"Korvale2 - ", 1, NULL, g_timeout);
  if (!main) return 2;
  Sleep(500);
  Report(main);
  for (i = 0; i < steps; ++i) {
    GetWindowTextW(main, caption, 512);
    Press(main, 0, VK_INSERT);
    if (!WaitCaptionChange(main, caption)) return 2;
    Sleep(300);
    Report(main);
  }
  Press(main, VK_CONTROL, 'W');
  Sleep(800);
  EnumChildWindows(main, PrintChild, 0);
  if (!Save(main, out)) return 2;
  PostMessageW(main, WM_CLOSE, 0, 0);
  return 0;
}
