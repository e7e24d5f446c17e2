// The mouse cursor seam: remember the cursor shown, show the busy one, show the remembered one
// again.  Win32: the thread's cursor (GetCursor/SetCursor with the system's IDC_WAIT).  POSIX:
// there is no pointer to change, so the calls move a recorded "current cursor" and are logged,
// which lets tests follow exactly when the busy cursor came on and went off.
#ifndef KORVALE_PLATFORM_CURSOR_H
#define KORVALE_PLATFORM_CURSOR_H

#include <vector>

namespace platform {

using CursorHandle = const void*;  // HCURSOR; natively an opaque tag

CursorHandle CurrentCursor();
void ShowBusyCursor();
void RestoreCursor(CursorHandle cursor);

// Native build only: the log of the calls above since the last TakeCursorLog(), and the tag
// that stands for the busy cursor.
struct CursorCall {
  enum Kind { kCurrent, kBusy, kRestore };
  Kind What;
  CursorHandle Cursor;  // the cursor reported (kCurrent) or shown (kBusy, kRestore)
};
std::vector<CursorCall> TakeCursorLog();
CursorHandle BusyCursorTag();

// Remembers the cursor at construction and shows it again at destruction, on every path;
// Busy() shows the busy cursor (once, however often it is called).
class CursorKeeper {
 public:
  CursorKeeper() : saved_(CurrentCursor()) {}
  ~CursorKeeper() { RestoreCursor(saved_); }
  CursorKeeper(const CursorKeeper&) = delete;
  CursorKeeper& operator=(const CursorKeeper&) = delete;
  void Busy() {
    if (busy_) return;
    busy_ = true;
    ShowBusyCursor();
  }

 private:
  CursorHandle saved_;
  bool busy_ = false;
};

}  // namespace platform

#endif
