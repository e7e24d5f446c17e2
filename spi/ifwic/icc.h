// What the plug-in reads from an embedded ICC colour profile before it asks the system to apply
// it: whether the bytes hold a well-formed profile of RGB data, and whether that profile is
// sRGB, whose pixels need no conversion.  Plain C++, tested natively.
#ifndef KORVALE_SPI_IFWIC_ICC_H
#define KORVALE_SPI_IFWIC_ICC_H

#include <cstddef>
#include <cstdint>

namespace ifwic {

enum class ProfileUse {
  None,   // no profile, a broken one, or one for other data than RGB: the pixels stay as stored
  Srgb,   // sRGB already: nothing to do
  Apply,  // an RGB profile to convert from
};

ProfileUse profileUse(const uint8_t* data, size_t size);

}  // namespace ifwic

#endif
