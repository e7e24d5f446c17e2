// The messages between the program and its plug-in helper.  Every message is a type and a
// payload length (two 32-bit little-endian numbers) followed by the payload: fixed-size
// little-endian integers and length-prefixed byte strings, no pointers, so that a 32-bit and a
// 64-bit program speak the same language.  Shared memory travels as 64-bit tokens.
#ifndef KORVALE_PLUGINS_PROTOCOL_H
#define KORVALE_PLUGINS_PROTOCOL_H

#include <cstddef>
#include <cstdint>
#include <string>

namespace spiproto {

enum Type : uint32_t {
  // program -> helper
  kHello = 1,        // u64 control block token
  kLoad = 2,         // str path, u32 required entry points  -> kLoaded
  kRelease = 3,      // str path (one reference)               -> no answer
  kIsSupported = 4,  // str path, str name, i32 offset, the 2176-byte header  -> kResult
  kPictureInfo = 5,  // str path, input                        -> kInfo
  kPicture = 6,      // str path, u32 preview, input           -> kPicture
  kAddRef = 7,       // str path: one more reference of a library the helper holds -> no answer
  // helper -> program
  kLoaded = 16,       // u32 loaded, u32 bound, str full name, u32 described, u32 has kind, str kind,
                      // u32 has about, str about, u32 pairs, pairs of str
  kResult = 17,       // i32 result
  kInfo = 18,         // i32 result, i32 left, top, width, height, u32 x and y density, i32 depth
  kPictureDone = 19,  // i32 result, u32 has picture, u64 token, u64 block bytes, u32 info bytes,
                      // u32 bits bytes, u32 rejected (the plug-in answered with blocks that
                      // failed the checks: the helper is not trusted for another call)
  kFault = 20,        // str entry, u32 code: the plug-in faulted; the helper ends after this
};
// input: u32 flag, str file name, i32 offset, u64 data id, u64 data token, u64 mapped bytes,
// i32 data size

// The control block the program shares with the helper at start: the abort flag the program
// sets, the latest progress call the helper saw with a counter of calls, and whether the helper
// has started (it sets Ready once it has taken the block).
struct Control {
  uint32_t Abort;
  uint32_t Calls;
  int32_t Done;
  int32_t Total;
  uint32_t Ready;
};
inline constexpr size_t kControlBytes = 64;
// Where the BMP file image of a picture starts in its block.  Its rows follow 14 bytes of file
// header and 40, 108 or 124 bytes of info header, masks and colours (4 bytes each), so two bytes
// ahead of it put them on a 4-byte boundary, and the program's bitmap can hold them in place.
inline constexpr size_t kImageOffset = 2;
inline constexpr uint32_t kHeaderBytes = 8;
// No message of ours comes near this; a longer one means the stream is broken.
inline constexpr uint32_t kMaxPayload = 64 * 1024;

class Writer {
 public:
  explicit Writer(Type type);
  Writer& U32(uint32_t v);
  Writer& I32(int32_t v) { return U32(static_cast<uint32_t>(v)); }
  Writer& U64(uint64_t v);
  Writer& Str(const std::string& s);
  Writer& Bytes(const void* data, size_t count);
  // The whole message, its length filled in.
  const std::string& Done();

 private:
  std::string buf_;
};

// Reads a payload; every read past its end gives zeros and marks the reader bad.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : p_(data), end_(data + size) {}
  uint32_t U32();
  int32_t I32() { return static_cast<int32_t>(U32()); }
  uint64_t U64();
  std::string Str();
  const uint8_t* Bytes(size_t count);  // null when not all there
  bool Ok() const { return ok_; }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
  bool ok_ = true;
};

// Splits the header of a message: false when it is not one.
bool ParseHeader(const uint8_t (&header)[kHeaderBytes], uint32_t& type, uint32_t& length);

}  // namespace spiproto

#endif
