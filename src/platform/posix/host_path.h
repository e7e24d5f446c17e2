// The POSIX seams' path mapping: the core's "\" separators to the host's "/" and back, trail
// bytes of double-byte characters untouched.
#ifndef KORVALE_PLATFORM_POSIX_HOST_PATH_H
#define KORVALE_PLATFORM_POSIX_HOST_PATH_H

#include <string>

namespace platform {
std::string ToHost(const std::string& path);
std::string FromHost(const std::string& path);
}  // namespace platform

#endif
