// korspi: the plug-in helper.  The viewer and korconv start it and send it every call into a
// Susie plug-in (plugins/protocol.h); it loads the plug-ins into its own process, so whatever a
// plug-in does (crash, break its heap, overflow its stack, end the process, never return) ends
// at most this process.
#include "platform/dynlib.h"
#include "platform/process.h"
#include "helper.h"
#include "plugins/spare_rows_api.h"
#include "spare_rows.h"

#if defined(_WIN32)
// The offer of plugins/spare_rows_api.h: this program alone exports it.
extern "C" __declspec(dllexport) void* KOR_SPARE_ROWS_CALL KorvaleSpareRows(size_t bytes) {
  return korspi::SpareRows().Take(bytes);
}
#endif

int main() {
  platform::RestrictLibrarySearch();
  platform::QuietFaultEnd();
  korspi::Helper helper;
  return helper.Run();
}
