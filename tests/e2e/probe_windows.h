/* Window search shared by the end-to-end probes: UTF-8 output and waiting for a visible
 * top-level window by caption (exact or prefix) and class.  Header-only, for C probes. */
#ifndef KORVALE_TESTS_E2E_PROBE_WINDOWS_H
#define KORVALE_TESTS_E2E_PROBE_WINDOWS_H

#include <windows.h>
#include <stdio.h>
#include <wchar.h>

static void PrintUtf8(const wchar_t* text) {
  char buf[8192];
  if (WideCharToMultiByte(CP_UTF8, 0, text, -1, buf, sizeof buf, NULL, NULL) > 0) fputs(buf, stdout);
}

struct Find {
  const wchar_t* caption; /* exact caption, or a prefix when prefix is set; NULL for any */
  int prefix;
  const wchar_t* cls; /* window class, or NULL */
  HWND found;
};

static BOOL CALLBACK FindTop(HWND hwnd, LPARAM lp) {
  struct Find* f = (struct Find*)lp;
  wchar_t text[512], cls[128];
  if (!IsWindowVisible(hwnd)) return TRUE;
  GetWindowTextW(hwnd, text, 512);
  GetClassNameW(hwnd, cls, 128);
  if (f->cls && wcscmp(cls, f->cls) != 0) return TRUE;
  if (f->caption &&
      (f->prefix ? wcsncmp(text, f->caption, wcslen(f->caption)) : wcscmp(text, f->caption)) != 0)
    return TRUE;
  f->found = hwnd;
  return FALSE;
}

static HWND WaitTop(const wchar_t* caption, int prefix, const wchar_t* cls, DWORD timeout) {
  DWORD start = GetTickCount();
  do {
    struct Find f = {caption, prefix, cls, NULL};
    EnumWindows(FindTop, (LPARAM)&f);
    if (f.found) return f.found;
    Sleep(100);
  } while (GetTickCount() - start < timeout);
  return NULL;
}

#endif
