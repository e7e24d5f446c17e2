#include "plugins/protocol.h"

#include <cstring>

namespace spiproto {

Writer::Writer(Type type) {
  U32(type);
  U32(0);
}

Writer& Writer::U32(uint32_t v) {
  for (int i = 0; i < 4; ++i) buf_ += static_cast<char>((v >> (8 * i)) & 0xFF);
  return *this;
}

Writer& Writer::U64(uint64_t v) {
  U32(static_cast<uint32_t>(v));
  return U32(static_cast<uint32_t>(v >> 32));
}

Writer& Writer::Str(const std::string& s) {
  U32(static_cast<uint32_t>(s.size()));
  buf_ += s;
  return *this;
}

Writer& Writer::Bytes(const void* data, size_t count) {
  buf_.append(static_cast<const char*>(data), count);
  return *this;
}

const std::string& Writer::Done() {
  const uint32_t length = static_cast<uint32_t>(buf_.size() - kHeaderBytes);
  for (int i = 0; i < 4; ++i)
    buf_[4 + static_cast<size_t>(i)] = static_cast<char>((length >> (8 * i)) & 0xFF);
  return buf_;
}

const uint8_t* Reader::Bytes(size_t count) {
  if (!ok_ || static_cast<size_t>(end_ - p_) < count) {
    ok_ = false;
    return nullptr;
  }
  const uint8_t* at = p_;
  p_ += count;
  return at;
}

uint32_t Reader::U32() {
  const uint8_t* b = Bytes(4);
  if (!b) return 0;
  return uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
}

uint64_t Reader::U64() {
  const uint64_t lo = U32();
  return lo | uint64_t(U32()) << 32;
}

std::string Reader::Str() {
  const uint32_t n = U32();
  const uint8_t* b = Bytes(n);
  return b ? std::string(reinterpret_cast<const char*>(b), n) : std::string();
}

bool ParseHeader(const uint8_t (&header)[kHeaderBytes], uint32_t& type, uint32_t& length) {
  Reader r(header, kHeaderBytes);
  type = r.U32();
  length = r.U32();
  return length <= kMaxPayload;
}

}  // namespace spiproto
