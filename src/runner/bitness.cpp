#include "runner/bitness.h"

#include <vector>

#include "platform/files.h"

namespace spirun {

namespace {
uint32_t Le(const uint8_t* p, int bytes) {
  uint32_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
  return v;
}
}  // namespace

TBitness BitnessOfImage(const uint8_t* bytes, size_t size) {
  if (!bytes) return TBitness::kUnknown;
  // ELF: the class byte follows the magic.
  if (size >= 5 && bytes[0] == 0x7F && bytes[1] == 'E' && bytes[2] == 'L' && bytes[3] == 'F')
    return bytes[4] == 1 ? TBitness::k32 : bytes[4] == 2 ? TBitness::k64 : TBitness::kUnknown;
  // PE: the DOS header's e_lfanew (at 60) points at "PE\0\0", followed by the machine.
  if (size < 64 || bytes[0] != 'M' || bytes[1] != 'Z') return TBitness::kUnknown;
  const uint64_t pe = Le(bytes + 60, 4);
  if (pe + 6 > size) return TBitness::kUnknown;
  const uint8_t* h = bytes + pe;
  if (h[0] != 'P' || h[1] != 'E' || h[2] != 0 || h[3] != 0) return TBitness::kUnknown;
  switch (Le(h + 4, 2)) {
    case 0x014C:  // i386
      return TBitness::k32;
    case 0x8664:  // x86-64
    case 0xAA64:  // ARM64
      return TBitness::k64;
    default:
      return TBitness::kUnknown;
  }
}

TBitness BitnessOfFile(const std::string& fileName) {
  const platform::File file(platform::FileOpenRead(fileName));
  if (!file) return TBitness::kUnknown;
  std::vector<uint8_t> head(4096);
  const int64_t got = platform::FileRead(file.Get(), head.data(), static_cast<int64_t>(head.size()));
  if (got <= 0) return TBitness::kUnknown;
  return BitnessOfImage(head.data(), static_cast<size_t>(got));
}

const char* BitnessText(TBitness bitness) {
  switch (bitness) {
    case TBitness::k32:
      return "32-bit";
    case TBitness::k64:
      return "64-bit";
    default:
      return "";
  }
}

}  // namespace spirun
