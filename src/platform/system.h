// What the running system is able to run.
#ifndef KORVALE_PLATFORM_SYSTEM_H
#define KORVALE_PLATFORM_SYSTEM_H

namespace platform {

// Whether the system can run programs of `bits` (32 or 64) at all: 64-bit programs need a 64-bit
// system.  A system that could may still refuse one when started (Windows without its 32-bit
// subsystem): only starting it tells.  Natively only the program's own kind runs.
bool SystemRunsBits(int bits);

}  // namespace platform

#endif
