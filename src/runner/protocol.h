// The messages between the program and its plug-in helper.  Every message is a frame: type,
// sequence number and payload length (three 32-bit little-endian numbers) followed by the
// payload of fixed-size little-endian integers and length-prefixed byte strings, no pointers, so
// that a 32-bit and a 64-bit program speak the same language.  Shared memory travels as 64-bit
// tokens.  Each message is a type below with one encoder and one decoder that both programs use;
// a decoder takes a frame of its own type only and refuses a payload it does not use up.  An
// answer echoes the sequence number of its request.
#ifndef KORVALE_PLUGINS_PROTOCOL_H
#define KORVALE_PLUGINS_PROTOCOL_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "runner/archive_entries.h"
#include "runner/picture_block.h"
#include "runner/runner.h"

namespace spiproto {

enum Type : uint32_t {
  // program -> helper
  kHello = 1,
  kLoad = 2,  // -> kLoaded
  kRelease = 3,
  kIsSupported = 4,  // -> kResult
  kPictureInfo = 5,  // -> kInfo
  kPicture = 6,      // -> kPictureDone
  kAddRef = 7,
  kArchiveInfo = 8,  // -> kArchiveDone
  kFileInfo = 9,     // -> kFileInfoDone
  kFile = 10,        // -> kFileDone
  // helper -> program
  kLoaded = 16,
  kResult = 17,
  kInfo = 18,
  kPictureDone = 19,
  kFault = 20,  // the plug-in faulted; the helper ends after this
  kArchiveDone = 21,
  kFileInfoDone = 22,
  kFileDone = 23,
};

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
inline constexpr uint32_t kHeaderBytes = 12;
// No message of ours comes near this; a longer one means the stream is broken.
inline constexpr uint32_t kMaxPayload = 64 * 1024;
inline constexpr uint32_t kIsSupportedHeaderBytes = 2048 + 128;
// At most this many picture blocks are handed back in one request.
inline constexpr uint32_t kMaxReturned = 64;

// An archive's listing travels in a block of shared memory (a few hundred entries pass the frame
// limit): the entries one after another, as the messages write them.  Its size is bounded by
// the most entries a listing holds, each with its longest texts.
inline constexpr uint64_t kMaxListingBytes = spirun::kMaxArchiveEntries * 456;
std::string EncodeListing(const std::vector<spirun::ArchiveEntry>& entries);
// False unless `data` holds exactly `count` entries, each one a record can hold.
bool DecodeListing(const uint8_t* data, size_t size, uint32_t count,
                   std::vector<spirun::ArchiveEntry>& entries);

class Writer {
 public:
  Writer& U32(uint32_t v);
  Writer& I32(int32_t v) { return U32(static_cast<uint32_t>(v)); }
  Writer& U64(uint64_t v);
  Writer& Str(const std::string& s);
  Writer& Bytes(const void* data, size_t count);
  // The frame of `type` and `seq` around what was written.
  std::string Frame(uint32_t type, uint32_t seq) const;
  // What was written, without a frame.
  const std::string& Payload() const { return buf_; }

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
  // Every read was there and nothing is left over.
  bool Done() const { return ok_ && p_ == end_; }
  bool Ok() const { return ok_; }
  void Fail() { ok_ = false; }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
  bool ok_ = true;
};

struct Frame {
  uint32_t Type = 0;
  uint32_t Seq = 0;
  std::string Payload;
};

// Cuts frames out of the bytes of a stream as they arrive.
class FrameReader {
 public:
  void Append(const void* data, size_t count);
  enum Status { kFrame, kPartial, kBroken };
  // kFrame with `frame` filled; kPartial when more bytes are needed; kBroken when the stream
  // holds no frame (a length past kMaxPayload).
  Status Next(Frame& frame);
  bool Empty() const { return buf_.empty(); }
  void Clear() { buf_.clear(); }

 private:
  std::string buf_;
};

// Where the data of an attempt is: a file by name, or shared memory the program lent.
struct InputFields {
  uint32_t Flag = 0;
  std::string FileName;
  int32_t Offset = 0;
  uint64_t DataId = 0, Token = 0, Mapped = 0;
  int32_t Size = 0;
};

// program -> helper
struct Hello {
  static constexpr Type kType = kHello;
  uint64_t ControlToken = 0;
};
struct Load {
  static constexpr Type kType = kLoad;
  std::string Path;
  uint32_t Required = 0;
};
struct Release {
  static constexpr Type kType = kRelease;
  std::string Path;
};
struct AddRef {
  static constexpr Type kType = kAddRef;
  std::string Path;
};
struct IsSupported {
  static constexpr Type kType = kIsSupported;
  std::string Path, Name;
  int32_t Offset = 0;
  std::string Header;  // kIsSupportedHeaderBytes bytes
};
struct PictureInfoRequest {
  static constexpr Type kType = kPictureInfo;
  std::string Path;
  InputFields Input;
};
struct PictureRequest {
  static constexpr Type kType = kPicture;
  std::string Path;
  bool Preview = false;
  InputFields Input;
  // The blocks of earlier pictures (their BlockId) that the program no longer maps: the helper
  // may write the next pictures into them.
  std::vector<uint32_t> Returned;
  // The block this picture is expected to need, from what the plug-in said of it (0: unknown).
  // When no block handed back fits, the helper makes it while the plug-in decodes.
  uint64_t ExpectedBytes = 0;
};
// helper -> program
struct Loaded {
  static constexpr Type kType = kLoaded;
  bool Ok = false;  // a library was loaded; Load holds what identifying it answered (no Id)
  spirun::LoadResult Load;
};
struct Result {
  static constexpr Type kType = kResult;
  int32_t Value = 0;
};
struct Info {
  static constexpr Type kType = kInfo;
  int32_t Value = 0;
  int32_t Left = 0, Top = 0, Width = 0, Height = 0;
  uint32_t XDensity = 0, YDensity = 0;
  int32_t Depth = 0;
};
struct PictureDone {
  static constexpr Type kType = kPictureDone;
  int32_t Value = 0;
  bool Has = false;
  uint64_t Token = 0;
  TPictureBlock Block;
  // The block's number, handed back in a later request once the program no longer maps it; 0
  // for a block the helper will not use again.
  uint32_t BlockId = 0;
  // The plug-in answered with blocks that failed the checks: the helper is not trusted for
  // another call.
  bool Rejected = false;
};
// An archive plug-in's calls.  The archive is a file by name (or data lent, as for pictures);
// an entry comes back in a block of shared memory.
struct ArchiveRequest {
  static constexpr Type kType = kArchiveInfo;
  std::string Path;
  InputFields Input;
};
struct FileInfoRequest {
  static constexpr Type kType = kFileInfo;
  std::string Path;
  InputFields Input;
  std::string Name;
  uint32_t Flag = 0;  // SPI_IGNORE_CASE or 0
};
struct FileRequest {
  static constexpr Type kType = kFile;
  std::string Path;
  InputFields Input;
  uint64_t Position = 0;  // the entry's, as its record gave it
  uint64_t Expected = 0;  // the entry's size as its record gave it (0: unknown)
  uint64_t Limit = 0;     // an entry larger than this is refused before it is copied
};
struct ArchiveDone {
  static constexpr Type kType = kArchiveDone;
  int32_t Value = 0;
  bool Cut = false;  // the records ran past their block or the limit: the listing is cut
  uint32_t Count = 0;
  uint64_t Token = 0, Bytes = 0;  // the listing's block (none when Count is 0)
};
struct FileInfoDone {
  static constexpr Type kType = kFileInfoDone;
  int32_t Value = 0;
  spirun::ArchiveEntry Entry;  // when Value is 0
};
struct FileDone {
  static constexpr Type kType = kFileDone;
  int32_t Value = 0;
  bool Has = false;
  uint64_t Token = 0, Bytes = 0;  // the entry's bytes, exactly Bytes of the block
};
struct FaultReport {
  static constexpr Type kType = kFault;
  std::string Entry;
  uint32_t Code = 0;
};

// One encoder and one decoder per message.  Decode is false for a frame of another type or a
// payload that does not hold exactly the message.
#define KOR_PROTOCOL_MESSAGES(X)                                                                \
  X(Hello)                                                                                      \
  X(Load)                                                                                       \
  X(Release)                                                                                    \
  X(AddRef)                                                                                     \
  X(IsSupported)                                                                                \
  X(PictureInfoRequest)                                                                         \
  X(PictureRequest) X(Loaded) X(Result) X(Info) X(PictureDone) X(FaultReport) X(ArchiveRequest) \
      X(FileInfoRequest) X(FileRequest) X(ArchiveDone) X(FileInfoDone) X(FileDone)
// NOLINTBEGIN(bugprone-macro-parentheses): M names a type
#define KOR_PROTOCOL_MESSAGE(M)                 \
  std::string Encode(const M& m, uint32_t seq); \
  bool Decode(const Frame& frame, M& m);
KOR_PROTOCOL_MESSAGES(KOR_PROTOCOL_MESSAGE)
#undef KOR_PROTOCOL_MESSAGE
// NOLINTEND(bugprone-macro-parentheses)

}  // namespace spiproto

#endif
