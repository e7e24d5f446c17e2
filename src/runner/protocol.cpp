#include "runner/protocol.h"

#include <cstring>

namespace spiproto {

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

std::string Writer::Frame(uint32_t type, uint32_t seq) const {
  Writer head;
  head.U32(type).U32(seq).U32(static_cast<uint32_t>(buf_.size()));
  return head.buf_ + buf_;
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

void FrameReader::Append(const void* data, size_t count) {
  buf_.append(static_cast<const char*>(data), count);
}

FrameReader::Status FrameReader::Next(Frame& frame) {
  if (buf_.size() < kHeaderBytes) return kPartial;
  Reader head(reinterpret_cast<const uint8_t*>(buf_.data()), kHeaderBytes);
  const uint32_t type = head.U32();
  const uint32_t seq = head.U32();
  const uint32_t length = head.U32();
  if (length > kMaxPayload) return kBroken;
  if (buf_.size() < kHeaderBytes + length) return kPartial;
  frame.Type = type;
  frame.Seq = seq;
  frame.Payload.assign(buf_, kHeaderBytes, length);
  buf_.erase(0, kHeaderBytes + length);
  return kFrame;
}

namespace {

// The fields of each message, visited in wire order by the encoder and the decoder alike, so
// that the two cannot disagree.
struct Out {
  Writer w;
  void operator()(uint32_t v) { w.U32(v); }
  void operator()(int32_t v) { w.I32(v); }
  void operator()(uint64_t v) { w.U64(v); }
  void operator()(bool v) { w.U32(v ? 1 : 0); }
  void operator()(const std::string& s) { w.Str(s); }
  void Fixed(const std::string& s, size_t n) {
    std::string b = s;
    b.resize(n, '\0');
    w.Bytes(b.data(), n);
  }
  void operator()(const std::vector<std::pair<std::string, std::string>>& pairs) {
    w.U32(static_cast<uint32_t>(pairs.size()));
    for (const auto& p : pairs) w.Str(p.first).Str(p.second);
  }
  void operator()(const std::vector<uint32_t>& ids) {
    w.U32(static_cast<uint32_t>(ids.size()));
    for (uint32_t id : ids) w.U32(id);
  }
  void operator()(const spirun::ArchiveEntry& e) {
    w.Str(e.Method).U64(e.Position).U64(e.CompSize).U64(e.FileSize).U64(static_cast<uint64_t>(e.Timestamp));
    w.Str(e.Path).Str(e.FileName).U32(e.Crc);
  }
};

struct In {
  Reader r;
  void operator()(uint32_t& v) { v = r.U32(); }
  void operator()(int32_t& v) { v = r.I32(); }
  void operator()(uint64_t& v) { v = r.U64(); }
  void operator()(bool& v) {
    const uint32_t x = r.U32();
    if (x > 1) r.Fail();  // neither 0 nor 1: no message of ours
    v = x != 0;
  }
  void operator()(std::string& s) { s = r.Str(); }
  void Fixed(std::string& s, size_t n) {
    const uint8_t* b = r.Bytes(n);
    s = b ? std::string(reinterpret_cast<const char*>(b), n) : std::string();
  }
  void operator()(std::vector<std::pair<std::string, std::string>>& pairs) {
    const uint32_t n = r.U32();
    pairs.clear();
    // A count past the payload stops at its end.
    for (uint32_t i = 0; i < n && r.Ok(); ++i) {
      std::string a = r.Str();
      std::string b = r.Str();
      pairs.emplace_back(std::move(a), std::move(b));
    }
    if (pairs.size() != n) r.Fail();
  }
  void operator()(std::vector<uint32_t>& ids) {
    const uint32_t n = r.U32();
    ids.clear();
    if (n > kMaxReturned) {
      r.Fail();
      return;
    }
    for (uint32_t i = 0; i < n && r.Ok(); ++i) ids.push_back(r.U32());
  }
  // An entry no record could hold (texts too long, a NUL inside one, no method) is no answer.
  void operator()(spirun::ArchiveEntry& e) {
    e.Method = r.Str();
    e.Position = r.U64();
    e.CompSize = r.U64();
    e.FileSize = r.U64();
    e.Timestamp = static_cast<int64_t>(r.U64());
    e.Path = r.Str();
    e.FileName = r.Str();
    e.Crc = r.U32();
    if (!spirun::PlausibleEntry(e)) r.Fail();
  }
};

template <typename M, typename Io>
void InputOf(M& m, Io& io) {
  io(m.Flag);
  io(m.FileName);
  io(m.Offset);
  io(m.DataId);
  io(m.Token);
  io(m.Mapped);
  io(m.Size);
}

template <typename Io>
void Fields(Hello& m, Io& io) {
  io(m.ControlToken);
}
template <typename Io>
void Fields(Load& m, Io& io) {
  io(m.Path), io(m.Required);
}
template <typename Io>
void Fields(Release& m, Io& io) {
  io(m.Path);
}
template <typename Io>
void Fields(AddRef& m, Io& io) {
  io(m.Path);
}
template <typename Io>
void Fields(IsSupported& m, Io& io) {
  io(m.Path), io(m.Name), io(m.Offset), io.Fixed(m.Header, kIsSupportedHeaderBytes);
}
template <typename Io>
void Fields(PictureInfoRequest& m, Io& io) {
  io(m.Path), InputOf(m.Input, io);
}
template <typename Io>
void Fields(PictureRequest& m, Io& io) {
  io(m.Path), io(m.Preview), InputOf(m.Input, io), io(m.Returned), io(m.ExpectedBytes);
}
template <typename Io>
void Fields(Loaded& m, Io& io) {
  spirun::LoadResult& r = m.Load;
  io(m.Ok), io(r.Bound), io(r.FullName), io(r.Described), io(r.HasKind), io(r.Kind), io(r.HasAbout),
      io(r.About), io(r.Pairs);
}

template <typename Io>
void Fields(Result& m, Io& io) {
  io(m.Value);
}
template <typename Io>
void Fields(Info& m, Io& io) {
  io(m.Value), io(m.Left), io(m.Top), io(m.Width), io(m.Height), io(m.XDensity), io(m.YDensity), io(m.Depth);
}
template <typename Io>
void Fields(PictureDone& m, Io& io) {
  io(m.Value), io(m.Has), io(m.Token), io(m.Block.Offset), io(m.Block.InfoBytes), io(m.Block.BitsBytes),
      io(m.Block.MappedBytes), io(m.BlockId), io(m.Rejected);
}
template <typename Io>
void Fields(ArchiveRequest& m, Io& io) {
  io(m.Path), InputOf(m.Input, io);
}
template <typename Io>
void Fields(FileInfoRequest& m, Io& io) {
  io(m.Path), InputOf(m.Input, io), io(m.Name), io(m.Flag);
}
template <typename Io>
void Fields(FileRequest& m, Io& io) {
  io(m.Path), InputOf(m.Input, io), io(m.Position), io(m.Expected), io(m.Limit);
}
template <typename Io>
void Fields(ArchiveDone& m, Io& io) {
  io(m.Value), io(m.Cut), io(m.Count), io(m.Token), io(m.Bytes);
}
// The entry of a failed call is not sent: nothing of it is read.
template <typename Io>
void Fields(FileInfoDone& m, Io& io) {
  io(m.Value);
  if (m.Value == 0) io(m.Entry);
}
template <typename Io>
void Fields(FileDone& m, Io& io) {
  io(m.Value), io(m.Has), io(m.Token), io(m.Bytes);
}
template <typename Io>
void Fields(FaultReport& m, Io& io) {
  io(m.Entry), io(m.Code);
}

template <typename M>
std::string EncodeAny(const M& m, uint32_t seq) {
  Out out;
  M copy = m;  // the visitor walks a mutable message; the encoder only reads it
  Fields(copy, out);
  return out.w.Frame(M::kType, seq);
}

template <typename M>
bool DecodeAny(const Frame& frame, M& m) {
  if (frame.Type != M::kType) return false;
  In in{Reader(reinterpret_cast<const uint8_t*>(frame.Payload.data()), frame.Payload.size())};
  M read;
  Fields(read, in);
  if (!in.r.Done()) return false;
  m = std::move(read);
  return true;
}

}  // namespace

std::string EncodeListing(const std::vector<spirun::ArchiveEntry>& entries) {
  Out out;
  for (const spirun::ArchiveEntry& e : entries) out(e);
  return out.w.Payload();
}

bool DecodeListing(const uint8_t* data, size_t size, uint32_t count,
                   std::vector<spirun::ArchiveEntry>& entries) {
  entries.clear();
  if (count > spirun::kMaxArchiveEntries || !data) return count == 0 && size == 0;
  In in{Reader(data, size)};
  for (uint32_t i = 0; i < count && in.r.Ok(); ++i) {
    spirun::ArchiveEntry e;
    in(e);
    entries.push_back(std::move(e));
  }
  if (!in.r.Done()) entries.clear();
  return in.r.Done();
}

// NOLINTBEGIN(bugprone-macro-parentheses): M names a type
#define KOR_PROTOCOL_MESSAGE(M)                                              \
  std::string Encode(const M& m, uint32_t seq) { return EncodeAny(m, seq); } \
  bool Decode(const Frame& frame, M& m) { return DecodeAny(frame, m); }
KOR_PROTOCOL_MESSAGES(KOR_PROTOCOL_MESSAGE)
#undef KOR_PROTOCOL_MESSAGE
// NOLINTEND(bugprone-macro-parentheses)

}  // namespace spiproto
