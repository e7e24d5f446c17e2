#include "platform/system.h"

namespace platform {

// Native plug-ins are shared objects of the program's own kind; there is no helper of another.
bool SystemRunsBits(int bits) { return bits == static_cast<int>(8 * sizeof(void*)); }

}  // namespace platform
