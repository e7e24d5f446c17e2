// The metafile graphic.  Three forms are read:
// - placeable Windows metafiles: a 22-byte header (key 0x9AC6CDD7, bounding box in logical
//   units, units per inch) before the Windows metafile records;
// - plain Windows metafiles: an 18-byte header and 16-bit records, with no size in the file;
//   the size is the last window extent the records set (SetWindowExt), else the reach of the
//   drawing records' points, else a default;
// - enhanced metafiles: 32-bit records beginning with the ENHMETAHEADER, whose frame (in
//   0.01 mm) gives the size at 96 dots per inch, or its device bounds when the frame is empty.
// Every record is walked and bounds-checked once at load; the bytes are kept as read.
#include "picture/metafile.h"

#include <algorithm>
#include <cstdlib>

#include "picture/readers.h"
#include "rtl/exceptions.h"
#include "rtl/messages.h"

KOR_DEFINE_GRAPHIC_CLASS(TMetafile, TGraphic);

struct TMetafileData : TKeptImageGraphic::Image {
  TMetafileKind kind = TMetafileKind::mkNone;
  size_t playOffset = 0;  // where the records GDI plays begin (past a placeable header)
  platform::MetafileWindow window;
  int32_t width = 0, height = 0;
};

namespace {

constexpr uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr size_t kPlaceableSize = 22;
constexpr size_t kWmfHeaderSize = 18;
constexpr uint16_t kMetaEof = 0x0000;
constexpr uint16_t kMetaSetWindowOrg = 0x020B;
constexpr uint16_t kMetaSetWindowExt = 0x020C;
constexpr uint32_t kEmrHeader = 1;
constexpr uint32_t kEmrEof = 14;
constexpr uint32_t kEmfSignature = 0x464D4520;  // " EMF"
constexpr size_t kEmfHeaderMin = 88;

[[noreturn]] void Invalid() { throw EInvalidGraphic(msg::kInvalidMetafile); }

// value * num / den rounded half away from zero, in 64 bits.
int64_t Scale(int64_t value, int64_t num, int64_t den) {
  int64_t p = value * num;
  int64_t q = (std::llabs(p) + den / 2) / den;
  return p < 0 ? -q : q;
}

// The size in pixels, at least 1 and at most kMaxSide on each side, proportions kept.
void SetSize(TMetafileData& d, int64_t w, int64_t h) {
  w = std::max<int64_t>(std::llabs(w), 1);
  h = std::max<int64_t>(std::llabs(h), 1);
  int64_t side = std::max(w, h);
  if (side > TMetafile::kMaxSide) {
    w = std::max<int64_t>(Scale(w, TMetafile::kMaxSide, side), 1);
    h = std::max<int64_t>(Scale(h, TMetafile::kMaxSide, side), 1);
  }
  d.width = static_cast<int32_t>(w);
  d.height = static_cast<int32_t>(h);
}

// What a walk over Windows metafile records learns: the last window origin and extent the
// records set and, for metafiles that set none, how far their drawing reaches.
struct WindowsScan {
  platform::MetafileWindow window;
  bool sawExt = false;
  int maxX = 0, maxY = 0;  // of the drawing records' points, from the origin

  void Point(int x, int y) {
    maxX = std::max(maxX, x);
    maxY = std::max(maxY, y);
  }
};

// Notes one record; its 16-bit parameters are read only inside the record.
void NoteRecord(const ByteReader& r, size_t pos, uint64_t words, uint16_t function, WindowsScan& scan) {
  const uint64_t count = words - 3;
  auto param = [&](uint64_t i) { return i < count ? static_cast<int>(r.I16(pos + 6 + 2 * i)) : 0; };
  auto rect = [&](uint64_t at) {  // bottom, right, top, left
    if (at + 4 > count) return;
    scan.Point(param(at + 3), param(at + 2));
    scan.Point(param(at + 1), param(at));
  };
  auto points = [&](uint64_t at, uint64_t n) {  // x, y pairs
    for (uint64_t i = 0; i < n && at + 2 * i + 1 < count; ++i)
      scan.Point(param(at + 2 * i), param(at + 2 * i + 1));
  };
  switch (function) {
    case kMetaSetWindowExt:
      if (count < 2) return;
      scan.window.extX = param(1);
      scan.window.extY = param(0);
      scan.sawExt = true;
      return;
    case kMetaSetWindowOrg:
      if (count < 2) return;
      scan.window.orgX = param(1);
      scan.window.orgY = param(0);
      return;
    case 0x0213:  // LineTo (y, x)
    case 0x0214:  // MoveTo
      if (count >= 2) scan.Point(param(1), param(0));
      return;
    case 0x041B:  // Rectangle
    case 0x0418:  // Ellipse
      return rect(0);
    case 0x061C:  // RoundRect: corner height and width first
      return rect(2);
    case 0x0817:  // Arc, Pie, Chord: end and start points first
    case 0x081A:
    case 0x0830:
      return rect(4);
    case 0x0324:  // Polygon, Polyline: point count, points
    case 0x0325:
      return points(1, static_cast<uint16_t>(param(0)));
    case 0x0538: {  // PolyPolygon: polygon count, point counts, points
      uint64_t polygons = static_cast<uint16_t>(param(0)), total = 0;
      for (uint64_t i = 0; i < polygons; ++i) total += static_cast<uint16_t>(param(1 + i));
      return points(1 + polygons, total);
    }
    default:
      return;
  }
}

// Walks the Windows metafile records from `at`; returns the end of the EOF record.
size_t WalkWindowsRecords(const ByteReader& r, size_t at, WindowsScan& scan) {
  uint16_t type = r.U16(at), headerWords = r.U16(at + 2), version = r.U16(at + 4);
  if ((type != 1 && type != 2) || headerWords != kWmfHeaderSize / 2 ||
      (version != 0x0100 && version != 0x0300))
    Invalid();
  size_t pos = at + kWmfHeaderSize;
  for (;;) {
    uint64_t words = r.U32(pos);
    uint16_t function = r.U16(pos + 4);
    if (words < 3 || !r.Has(pos, words * 2)) Invalid();
    size_t next = pos + static_cast<size_t>(words * 2);
    if (function == kMetaEof) return next;
    NoteRecord(r, pos, words, function, scan);
    pos = next;
  }
}

void ReadWindows(const ByteReader& r, TMetafileData& d) {
  WindowsScan scan;
  if (r.U32(0) == kPlaceableKey) {
    d.kind = TMetafileKind::mkPlaceable;
    int left = r.I16(6), top = r.I16(8), right = r.I16(10), bottom = r.I16(12);
    uint16_t inch = r.U16(14);
    if (inch == 0) Invalid();
    d.playOffset = kPlaceableSize;
    size_t end = WalkWindowsRecords(r, kPlaceableSize, scan);
    d.bytes.assign(r.Data(), r.Data() + end);
    d.window = {left, top, right - left, bottom - top};
    if (right == left || bottom == top) Invalid();
    SetSize(d, Scale(right - left, 96, inch), Scale(bottom - top, 96, inch));
    return;
  }
  d.kind = TMetafileKind::mkWindows;
  size_t end = WalkWindowsRecords(r, 0, scan);
  d.bytes.assign(r.Data(), r.Data() + end);
  d.window = scan.window;
  if (!scan.sawExt || d.window.extX == 0 || d.window.extY == 0) {
    // No window extent: the drawing is in device units from the window origin, and reaches
    // as far as its points do.
    int w = scan.maxX - d.window.orgX, h = scan.maxY - d.window.orgY;
    d.window.extX = w > 0 ? w : TMetafile::kDefaultSide;
    d.window.extY = h > 0 ? h : TMetafile::kDefaultSide;
  }
  SetSize(d, d.window.extX, d.window.extY);
}

void ReadEnhanced(const ByteReader& r, TMetafileData& d) {
  d.kind = TMetafileKind::mkEnhanced;
  uint32_t headerSize = r.U32(4);
  if (headerSize < kEmfHeaderMin || r.U32(40) != kEmfSignature) Invalid();
  uint32_t total = r.U32(48);
  if (total < headerSize || !r.Has(0, total) || total % 4 != 0) Invalid();
  size_t pos = 0;
  for (bool eof = false; !eof;) {
    if (pos + 8 > total) Invalid();
    uint32_t type = r.U32(pos), size = r.U32(pos + 4);
    if (size < 8 || size % 4 != 0 || size > total - pos) Invalid();
    if (pos == 0 && type != kEmrHeader) Invalid();
    eof = type == kEmrEof;
    pos += size;
  }
  d.bytes.assign(r.Data(), r.Data() + total);
  int64_t bl = r.I32(8), bt = r.I32(12), br = r.I32(16), bb = r.I32(20);
  int64_t fl = r.I32(24), ft = r.I32(28), fr = r.I32(32), fb = r.I32(36);
  if (fr > fl && fb > ft)
    SetSize(d, Scale(fr - fl, 96, 2540), Scale(fb - ft, 96, 2540));
  else if (br >= bl && bb >= bt)
    SetSize(d, br - bl + 1, bb - bt + 1);
  else
    Invalid();
}

std::shared_ptr<TMetafileData> ParseMetafile(const std::vector<uint8_t>& bytes) {
  ByteReader r(bytes.data(), bytes.size(), Invalid);
  auto d = std::make_shared<TMetafileData>();
  if (r.Has(0, 44) && r.U32(0) == kEmrHeader && r.U32(40) == kEmfSignature)
    ReadEnhanced(r, *d);
  else
    ReadWindows(r, *d);
  return d;
}

}  // namespace

TMetafile::TMetafile() = default;
TMetafile::~TMetafile() = default;

const TMetafileData* TMetafile::Data() const { return static_cast<const TMetafileData*>(KeptImage()); }

std::shared_ptr<const TKeptImageGraphic::Image> TMetafile::Parse(std::vector<uint8_t> bytes) const {
  return ParseMetafile(bytes);
}

int32_t TMetafile::Width() { return Data() ? Data()->width : 0; }
int32_t TMetafile::Height() { return Data() ? Data()->height : 0; }
TMetafileKind TMetafile::Kind() const { return Data() ? Data()->kind : TMetafileKind::mkNone; }

const platform::MetafileWindow& TMetafile::Window() const {
  static const platform::MetafileWindow kNone;
  return Data() ? Data()->window : kNone;
}

void TMetafile::DrawInRect(platform::Surface& surface, const TRect& rect) {
  const TMetafileData* d = Data();
  if (!d) return;
  const uint8_t* records = d->bytes.data() + d->playOffset;
  size_t size = d->bytes.size() - d->playOffset;
  if (d->kind == TMetafileKind::mkEnhanced)
    platform::PlayEnhancedMetafile(surface, records, size, rect.Left, rect.Top, rect.Right, rect.Bottom);
  else
    platform::PlayWindowsMetafile(surface, records, size, d->window, rect.Left, rect.Top, rect.Right,
                                  rect.Bottom);
}

bool TMetafile::RenderRows(uint8_t* rows, size_t rowBytes) const {
  const TMetafileData* d = Data();
  if (!d) return false;
  const platform::MetafileWindow* window = d->kind == TMetafileKind::mkEnhanced ? nullptr : &d->window;
  return platform::RenderMetafileToRows(d->bytes.data() + d->playOffset, d->bytes.size() - d->playOffset,
                                        window, d->width, d->height, rows, rowBytes);
}
