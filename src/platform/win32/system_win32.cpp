#include <windows.h>

#include "platform/system.h"

namespace platform {

bool SystemRunsBits(int bits) {
  if (bits == 32) return true;
  if (bits != 64) return false;
  // A 32-bit program on 64-bit Windows sees the machine's own processor here.
  SYSTEM_INFO info{};
  ::GetNativeSystemInfo(&info);
  switch (info.wProcessorArchitecture) {
    case PROCESSOR_ARCHITECTURE_AMD64:
    case PROCESSOR_ARCHITECTURE_IA64:
    case 12:  // PROCESSOR_ARCHITECTURE_ARM64
      return true;
    default:
      return false;
  }
}

}  // namespace platform
