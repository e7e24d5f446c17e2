// An offer only our plug-in helper makes to the plug-ins it runs: the rows' block of the last
// picture a plug-in handed it, kept instead of freed, for the next picture of exactly the same
// size.  Its pages are made already; a fresh block of a 24-megapixel picture costs about 190 ms
// of first writes under Wine on a virtual machine, on a processor that paging quickly through a
// folder needs for the next decode.
//
// A plug-in finds the offer as an export of the program it runs in (GetProcAddress on the
// program's own module); no other host exports it, and a plug-in that does not look for it is
// never handed anything.  The call takes the kept block out of the helper:
//   bytes > 0  the block, now the caller's (as from LocalAlloc with LMEM_MOVEABLE), when it has
//              exactly `bytes`; otherwise the helper frees it and the call returns null;
//   bytes == 0 the helper frees what it keeps (the caller will need a block of another kind),
//              and the call returns null.
// The block holds the rows of an earlier picture: the caller writes every byte it hands on.
//
// Plain C, so that a plug-in may be written in either language.
#ifndef KORVALE_PLUGINS_SPARE_ROWS_API_H
#define KORVALE_PLUGINS_SPARE_ROWS_API_H

#include <stddef.h>

#define KOR_SPARE_ROWS_EXPORT "KorvaleSpareRows"

#if defined(_WIN32)
#define KOR_SPARE_ROWS_CALL __cdecl
#else
#define KOR_SPARE_ROWS_CALL
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef void*(KOR_SPARE_ROWS_CALL* KorSpareRowsFn)(size_t bytes);

#ifdef __cplusplus
}
#endif

#endif
