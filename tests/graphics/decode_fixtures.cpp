#include "graphics/decode_fixtures.h"

#include <gtest/gtest.h>

#include "../../spi/decode/kvp_format.h"
#include "picture/bitmap.h"
#include "rtl/exceptions.h"

#if !defined(_WIN32)
#include "platform/posix/localmem/localmem.h"
#endif

namespace decodefx {

namespace {
void Put32(std::string& s, uint32_t v) {
  for (int i = 0; i < 4; ++i) s += static_cast<char>((v >> (8 * i)) & 0xFF);
}
void Put16(std::string& s, uint32_t v) {
  s += static_cast<char>(v & 0xFF);
  s += static_cast<char>((v >> 8) & 0xFF);
}

// The pattern's raw value at (x, row): a colour index, a 16-bit value or B, G, R bytes.
uint32_t Raw(const Kvp& k, int32_t x, size_t row) {
  const uint32_t r = static_cast<uint32_t>(row);
  const uint32_t ux = static_cast<uint32_t>(x);
  if (k.bits <= 8) return (ux * 3 + r * 5) % (k.Colors() ? k.Colors() : 1);
  if (k.bits == 16) return (ux * 1021 + r * 331) & 0x7FFF;
  const uint32_t b = (ux * 7 + r) & 0xFF, g = (ux + r * 5) & 0xFF, red = ((ux * 13) ^ r) & 0xFF;
  return b | g << 8 | red << 16;
}

std::string Row(const Kvp& k, size_t row) {
  std::string out(k.RowBytes(), '\0');
  for (int32_t x = 0; x < k.width; ++x) {
    const uint32_t v = Raw(k, x, row);
    const size_t bit = static_cast<size_t>(x) * k.bits;
    if (k.bits < 8) {
      if (8 % k.bits) continue;  // odd depths are only for refusal: their rows stay zero
      const int shift = 8 - k.bits - static_cast<int>(bit % 8);
      out[bit / 8] = static_cast<char>(static_cast<uint8_t>(out[bit / 8]) | (v << shift));
    } else {
      for (int i = 0; i < k.bits / 8; ++i)
        out[bit / 8 + static_cast<size_t>(i)] = static_cast<char>((v >> (8 * i)) & 0xFF);
      if (k.bits == 32) out[bit / 8 + 3] = static_cast<char>(0x80);
    }
  }
  return out;
}
}  // namespace

uint32_t Kvp::Colors() const { return KvpColors(bits, clrUsed); }

size_t Kvp::RowBytes() const {
  return static_cast<size_t>(KvpRowBytes(width, bits) < 0 ? 0 : KvpRowBytes(width, bits));
}

uint32_t Kvp::ColorQuad(uint32_t i) const {
  return ((i * 7) & 0xFF) | ((255 - i) & 0xFF) << 8 | ((i * 31) & 0xFF) << 16;
}

std::string Kvp::File(bool macBinary) const {
  std::string s;
  if (macBinary) {
    s.assign(128, '\0');
    s[1] = 5;
    s.replace(2, 5, "photo");
  }
  s += KVP_MAGIC;
  Put32(s, static_cast<uint32_t>(width));
  Put32(s, static_cast<uint32_t>(height));
  Put16(s, bits);
  Put16(s, 0);
  Put32(s, switches);
  Put32(s, clrUsed);
  if (switches & KVP_BITFIELDS)
    for (uint32_t m : masks) Put32(s, m);
  for (uint32_t i = 0; i < Colors(); ++i) Put32(s, ColorQuad(i));
  for (size_t r = 0; r < Rows(); ++r) s += Row(*this, r);
  return s;
}

std::string Kvp::DibRows() const {
  std::string out;
  for (size_t d = 0; d < Rows(); ++d) out += Row(*this, height > 0 ? Rows() - 1 - d : d);
  return out;
}

std::string Kvp::Bmp() const {
  const std::string rows = DibRows();
  const uint32_t info = 40 + 4 * Colors();
  std::string s = "BM";
  Put32(s, 14 + info + static_cast<uint32_t>(rows.size()));
  Put32(s, 0);
  Put32(s, 14 + info);
  Put32(s, 40);
  Put32(s, static_cast<uint32_t>(width));
  Put32(s, static_cast<uint32_t>(height));
  Put16(s, 1);
  Put16(s, bits);
  Put32(s, 0);
  Put32(s, static_cast<uint32_t>(rows.size()));
  Put32(s, 0);
  Put32(s, 0);
  Put32(s, clrUsed);
  Put32(s, 0);
  for (uint32_t i = 0; i < Colors(); ++i) Put32(s, ColorQuad(i));
  return s + rows;
}

uint32_t Kvp::RGB(int32_t x, int32_t y) const {
  const uint32_t v = Raw(*this, x, static_cast<size_t>(y));
  // Both the B, G, R bytes and a colour quad read as 0x00RRGGBB.
  return (bits > 8 ? v : ColorQuad(v)) & 0xFFFFFF;
}

std::string Fixture(const std::string& name) {
  return Core(fs::path(KOR_BINARY_DIR) / "spi" / "decode" / (name + ".spi"));
}

PluginSet::PluginSet(const std::vector<std::string>& fixtures) : set_(std::make_unique<TSPIs>(nullptr)) {
  for (const std::string& name : fixtures) {
    std::unique_ptr<TSPI> m = CreateSPI(Fixture(name));
    if (!m) throw Exception("fixture plug-in not loadable: " + Fixture(name));
    set_->Add(std::move(m));
  }
  ClearTraces();
}

PluginSet::~PluginSet() = default;

TInSPI* PluginSet::Module(size_t i) const { return static_cast<TInSPI*>(set_->Items(static_cast<int>(i))); }

namespace {
using TraceFn = int32_t(SPI_CALL*)(char*, int32_t);
using ClearFn = void(SPI_CALL*)();
}  // namespace

std::string PluginSet::Trace(size_t i) const {
  auto fn = reinterpret_cast<TraceFn>(Module(i)->GetProc("KvpTrace"));
  if (!fn) return "<no trace>";
  std::vector<char> buf(8192);
  fn(buf.data(), static_cast<int32_t>(buf.size()));
  return buf.data();
}

void PluginSet::ClearTraces() const {
  for (int i = 0; i < set_->Count(); ++i)
    if (auto fn = reinterpret_cast<ClearFn>(set_->Items(i)->GetProc("KvpTraceClear"))) fn();
}

TProgressEvent ProgressLog::Listener() {
  return [this](TObject* sender, TProgressStage stage, uint8_t percent, bool redraw, TRect& r,
                const std::string& m) {
    steps.push_back({sender, stage, percent, redraw, r, m});
    if (stage == TProgressStage::psRunning && m.empty() && running_++ == abortAt) {
      if (abortOther) throw EInvalidOperation("listener failed");
      throw EAbort("");
    }
  };
}

std::string ProgressLog::Text() const {
  std::string out;
  for (const Step& s : steps) {
    if (!out.empty()) out += '|';
    out += s.stage == TProgressStage::psStarting ? 'S' : s.stage == TProgressStage::psRunning ? 'R' : 'E';
    out += std::to_string(s.percent);
    if (s.redraw) out += '*';
    out += ':' + s.msg;
  }
  return out;
}

void ExpectPicture(TGraphic& g, const Kvp& k) {
  auto* bitmap = dynamic_cast<TBitmap*>(&g);
  ASSERT_NE(bitmap, nullptr);
  ASSERT_EQ(bitmap->Width(), k.width);
  ASSERT_EQ(bitmap->Height(), static_cast<int32_t>(k.Rows()));
  for (int32_t y = 0; y < bitmap->Height(); ++y)
    for (int32_t x = 0; x < bitmap->Width(); ++x)
      ASSERT_EQ(bitmap->PixelRGB(x, y), k.RGB(x, y)) << x << "," << y;
}

long LiveBlocks() {
#if defined(_WIN32)
  return 0;
#else
  return KorLocalLiveBlocks();
#endif
}

}  // namespace decodefx
