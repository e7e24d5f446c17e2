/* A small Win32 probe for the viewer's plug-in start-up checks, run beside Korvale2.exe in the
 * same Wine prefix and display.
 *
 *   spi_probe fatal TIMEOUT_MS    waits for the fatal error box, prints its text as UTF-8 and
 *                                 presses its OK button
 *   spi_probe open|save TIMEOUT   waits for the main window, opens the open or the save dialog
 *                                 through the File menu, prints the names its file list shows
 *                                 (one a line, UTF-8), cancels it and closes the window
 *
 * Exit status 0 when done, 2 when nothing appeared in time. */
#include <windows.h>
#include <commctrl.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include "../probe_windows.h"

static int Fatal(DWORD timeout) {
  wchar_t text[4096];
  HWND box = WaitTop(L"アプリケーション エラー", 0, L"#32770", timeout);
  if (!box) return 2;
  GetDlgItemTextW(box, 0xFFFF, text, 4096);
  PrintUtf8(text);
  fputs("\n", stdout);
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  return 0;
}

static BOOL CALLBACK FindChildClass(HWND hwnd, LPARAM lp) {
  struct Find* f = (struct Find*)lp;
  wchar_t cls[128];
  GetClassNameW(hwnd, cls, 128);
  if (wcscmp(cls, f->cls) != 0) return TRUE;
  f->found = hwnd;
  return FALSE;
}

static HWND Child(HWND parent, const wchar_t* cls) {
  struct Find f = {NULL, 0, cls, NULL};
  EnumChildWindows(parent, FindChildClass, (LPARAM)&f);
  return f.found;
}

/* The texts of a list view in another process, read through memory of that process. */
static void PrintListItems(HWND list) {
  DWORD pid = 0;
  HANDLE process;
  char* remote;
  int count, i;
  GetWindowThreadProcessId(list, &pid);
  process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!process) return;
  remote = (char*)VirtualAllocEx(process, NULL, 4096, MEM_COMMIT, PAGE_READWRITE);
  count = (int)SendMessageW(list, LVM_GETITEMCOUNT, 0, 0);
  for (i = 0; i < count; ++i) {
    LVITEMW item;
    wchar_t text[260];
    SIZE_T moved = 0;
    memset(&item, 0, sizeof item);
    item.iSubItem = 0;
    item.cchTextMax = 260;
    item.pszText = (LPWSTR)(remote + 1024);
    WriteProcessMemory(process, remote, &item, sizeof item, &moved);
    SendMessageW(list, LVM_GETITEMTEXTW, (WPARAM)i, (LPARAM)remote);
    ReadProcessMemory(process, remote + 1024, text, sizeof text, &moved);
    text[259] = 0;
    PrintUtf8(text);
    fputs("\n", stdout);
  }
  VirtualFreeEx(process, remote, 0, MEM_RELEASE);
  CloseHandle(process);
}

static void Key(WORD vk, int up) {
  INPUT in;
  memset(&in, 0, sizeof in);
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
  SendInput(1, &in, sizeof in);
}

/* item: the File menu's accelerator letter of the dialog's command. */
static int Filter(WORD item, DWORD timeout) {
  HWND main = WaitTop(L"Korvale2", 1, NULL, timeout), dialog, list = NULL;
  DWORD start;
  if (!main) return 2;
  SetForegroundWindow(main);
  Sleep(300);
  /* Alt+Z opens the File menu ("ファイル(&Z)"); X reads a picture, Y writes one. */
  Key(VK_MENU, 0);
  Key('Z', 0);
  Key('Z', 1);
  Key(VK_MENU, 1);
  Sleep(500);
  Key(item, 0);
  Key(item, 1);
  dialog = WaitTop(NULL, 0, L"#32770", timeout);
  if (!dialog) return 2;
  /* The list fills in after the dialog shows. */
  for (start = GetTickCount(); GetTickCount() - start < timeout; Sleep(200)) {
    list = Child(dialog, L"SysListView32");
    if (list && SendMessageW(list, LVM_GETITEMCOUNT, 0, 0) > 0) break;
  }
  if (list) PrintListItems(list);
  PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  Sleep(300);
  PostMessageW(main, WM_CLOSE, 0, 0);
  return list ? 0 : 2;
}

int main(int argc, char** argv) {
  DWORD timeout = argc > 2 ? (DWORD)strtoul(argv[2], NULL, 10) : 20000;
  setvbuf(stdout, NULL, _IONBF, 0);
  if (argc > 1 && strcmp(argv[1], "fatal") == 0) return Fatal(timeout);
  if (argc > 1 && strcmp(argv[1], "open") == 0) return Filter('X', timeout);
  if (argc > 1 && strcmp(argv[1], "save") == 0) return Filter('Y', timeout);
  fputs("usage: spi_probe fatal|open|save [TIMEOUT_MS]\n", stderr);
  return 1;
}
