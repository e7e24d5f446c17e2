#include <windows.h>

#include "platform/cursor.h"

namespace platform {

CursorHandle CurrentCursor() { return ::GetCursor(); }

void ShowBusyCursor() { ::SetCursor(::LoadCursor(nullptr, IDC_WAIT)); }

void RestoreCursor(CursorHandle cursor) { ::SetCursor(static_cast<HCURSOR>(const_cast<void*>(cursor))); }

}  // namespace platform
