// Which kind of program code a plug-in file holds: 32-bit or 64-bit.  A plug-in runs in a helper
// of its own bitness, so the helper is chosen by what the file is (its PE header's machine field;
// natively the ELF class), never by its extension: a 64-bit library named *.spi still runs in
// the 64-bit helper.
#ifndef KORVALE_PLUGINS_BITNESS_H
#define KORVALE_PLUGINS_BITNESS_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace spirun {

enum class TBitness : uint8_t { kUnknown, k32, k64 };

// The bitness of the running program.
constexpr TBitness OwnBitness() { return sizeof(void*) == 8 ? TBitness::k64 : TBitness::k32; }

// The bitness the first bytes of a library say (a PE file's machine: i386 or x86-64, ARM64
// counting as 64; an ELF file's class); kUnknown for anything else, a short or damaged header
// included.  `bytes` may be the whole file or only its start.
TBitness BitnessOfImage(const uint8_t* bytes, size_t size);
// The same for a file on disk (the first 4 KB are read); kUnknown when it cannot be read.
TBitness BitnessOfFile(const std::string& fileName);

// "32-bit" or "64-bit" ("" for kUnknown).
const char* BitnessText(TBitness bitness);

}  // namespace spirun

#endif
