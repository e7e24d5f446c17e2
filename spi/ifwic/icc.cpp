#include "icc.h"

#include <cstring>

namespace ifwic {

namespace {

constexpr size_t kHeaderBytes = 128;

uint32_t be32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
         static_cast<uint32_t>(p[2]) << 8 | p[3];
}

bool signatureIs(const uint8_t* p, const char* sig) { return std::memcmp(p, sig, 4) == 0; }

// Whether the text of the profile's description ('desc' tag, as an ASCII 'desc' record or a
// UTF-16 'mluc' one) begins with "sRGB", as every common sRGB profile's does.
bool describedAsSrgb(const uint8_t* tag, size_t size) {
  static const char kName[] = "sRGB";
  if (size >= 16 && signatureIs(tag, "desc")) {
    const uint32_t count = be32(tag + 8);
    return count >= 4 && count <= size - 12 && std::memcmp(tag + 12, kName, 4) == 0;
  }
  if (size >= 28 && signatureIs(tag, "mluc")) {
    const uint32_t records = be32(tag + 8);
    if (records == 0 || be32(tag + 12) != 12 || records > (size - 16) / 12) return false;
    const uint32_t length = be32(tag + 16 + 4), offset = be32(tag + 16 + 8);
    if (length < 8 || offset > size || length > size - offset) return false;
    for (int i = 0; i < 4; ++i)
      if (tag[offset + 2 * i] != 0 || tag[offset + 2 * i + 1] != static_cast<uint8_t>(kName[i])) return false;
    return true;
  }
  return false;
}

}  // namespace

ProfileUse profileUse(const uint8_t* data, size_t size) {
  if (!data || size < kHeaderBytes + 4) return ProfileUse::None;
  const uint32_t declared = be32(data);
  if (declared < kHeaderBytes + 4 || declared > size) return ProfileUse::None;
  size = declared;
  if (!signatureIs(data + 36, "acsp") || !signatureIs(data + 16, "RGB ")) return ProfileUse::None;
  if (!signatureIs(data + 20, "XYZ ") && !signatureIs(data + 20, "Lab ")) return ProfileUse::None;
  const uint32_t tags = be32(data + kHeaderBytes);
  if (tags == 0 || tags > (size - kHeaderBytes - 4) / 12) return ProfileUse::None;
  for (uint32_t i = 0; i < tags; ++i) {
    const uint8_t* entry = data + kHeaderBytes + 4 + size_t{12} * i;
    const uint32_t offset = be32(entry + 4), length = be32(entry + 8);
    if (offset > size || length > size - offset) return ProfileUse::None;
    if (signatureIs(entry, "desc") && describedAsSrgb(data + offset, length)) return ProfileUse::Srgb;
  }
  return ProfileUse::Apply;
}

}  // namespace ifwic
