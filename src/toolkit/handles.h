// The toolkit's names for the Win32 resource owners, which live with the platform's win32 half
// (platform/win32/handles.h) so that every layer built for Windows uses the same ones.
#ifndef KORVALE_TOOLKIT_HANDLES_H
#define KORVALE_TOOLKIT_HANDLES_H

#include "platform/win32/handles.h"

namespace toolkit {

using FontHandle = platform::win::Font;
using MenuHandle = platform::win::Menu;
using platform::win::PaintDC;
using platform::win::SelectedObject;
using platform::win::WindowDC;

}  // namespace toolkit

#endif
