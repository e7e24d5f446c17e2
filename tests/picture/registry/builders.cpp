#include "builders.h"

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>

void Put16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}
void Set32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + static_cast<size_t>(i)) = static_cast<uint8_t>(v >> (8 * i));
}

namespace {

size_t Stride(int w, int bits) { return static_cast<size_t>((w * bits + 31) / 32 * 4); }

Bytes IconImageBytes(const IconImageSpec& s) {
  Bytes b;
  if (s.png) {
    const uint8_t sig[] = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
    b.assign(sig, sig + 16);
    for (int side : {s.width, s.height})
      for (int shift = 24; shift >= 0; shift -= 8)
        b.push_back(static_cast<uint8_t>((side ? side : 256) >> shift));
    b.push_back(8);  // bits per sample
    b.push_back(6);  // RGBA
    b.resize(64, 0);
    return b;
  }
  Put32(b, 40);
  Put32(b, static_cast<uint32_t>(s.width));
  Put32(b, static_cast<uint32_t>(s.height * 2));
  Put16(b, 1);
  Put16(b, static_cast<uint32_t>(s.bits));
  for (int i = 0; i < 6; ++i) Put32(b, 0);  // compression .. important: all 0
  if (s.bits <= 8) {
    size_t n = size_t{1} << s.bits;
    for (size_t i = 0; i < n; ++i) Put32(b, i < s.palette.size() ? s.palette[i] : 0);
  }
  size_t stride = Stride(s.width, s.bits);
  for (int y = s.height - 1; y >= 0; --y) {  // bottom-up
    Bytes row(stride, 0);
    for (int x = 0; x < s.width; ++x) {
      uint32_t v = s.pixels[static_cast<size_t>(y * s.width + x)];
      switch (s.bits) {
        case 32:
          for (int k = 0; k < 4; ++k)
            row[static_cast<size_t>(x * 4 + k)] = static_cast<uint8_t>(v >> (8 * k));
          break;
        case 24:
          for (int k = 0; k < 3; ++k)
            row[static_cast<size_t>(x * 3 + k)] = static_cast<uint8_t>(v >> (8 * k));
          break;
        default: {
          size_t bit = static_cast<size_t>(x * s.bits);
          row[bit / 8] |= static_cast<uint8_t>(v << (8 - s.bits - bit % 8));
        }
      }
    }
    b.insert(b.end(), row.begin(), row.end());
  }
  if (s.omitMask) return b;
  size_t maskStride = Stride(s.width, 1);
  for (int y = s.height - 1; y >= 0; --y) {
    Bytes row(maskStride, 0);
    for (int x = 0; x < s.width; ++x)
      if (!s.mask.empty() && s.mask[static_cast<size_t>(y * s.width + x)])
        row[static_cast<size_t>(x / 8)] |= static_cast<uint8_t>(0x80 >> (x % 8));
    b.insert(b.end(), row.begin(), row.end());
  }
  return b;
}

}  // namespace

Bytes BuildIcon(const std::vector<IconImageSpec>& images) {
  Bytes out;
  Put16(out, 0);
  Put16(out, 1);
  Put16(out, static_cast<uint32_t>(images.size()));
  std::vector<Bytes> data;
  for (const auto& s : images) data.push_back(IconImageBytes(s));
  size_t offset = 6 + 16 * images.size();
  for (size_t i = 0; i < images.size(); ++i) {
    const auto& s = images[i];
    out.push_back(static_cast<uint8_t>(s.width & 0xFF));
    out.push_back(static_cast<uint8_t>(s.height & 0xFF));
    out.push_back(static_cast<uint8_t>(s.bits <= 8 ? (1 << s.bits) & 0xFF : 0));
    out.push_back(0);
    Put16(out, 1);
    Put16(out, static_cast<uint32_t>(s.bits));
    Put32(out, static_cast<uint32_t>(data[i].size()));
    Put32(out, static_cast<uint32_t>(offset));
    offset += data[i].size();
  }
  for (const auto& d : data) out.insert(out.end(), d.begin(), d.end());
  return out;
}

IconImageSpec SolidImage(int w, int h, int bits, uint32_t argb) {
  IconImageSpec s;
  s.width = w;
  s.height = h;
  s.bits = bits;
  if (bits <= 8) {
    s.palette = {0x000000, argb & 0xFFFFFF};
    s.pixels.assign(static_cast<size_t>(w * h), 1);
  } else {
    s.pixels.assign(static_cast<size_t>(w * h), argb);
  }
  return s;
}

Bytes BuildWmf(const std::vector<WmfRecord>& records) {
  Bytes b;
  Put16(b, 1);       // in memory
  Put16(b, 9);       // header words
  Put16(b, 0x0300);  // version
  size_t sizeAt = b.size();
  Put32(b, 0);  // size in words, set below
  Put16(b, 4);  // objects
  size_t maxAt = b.size();
  Put32(b, 0);
  Put16(b, 0);
  uint32_t maxRecord = 3;
  auto add = [&](uint16_t fn, const std::vector<int16_t>& params) {
    uint32_t words = 3 + static_cast<uint32_t>(params.size());
    if (words > maxRecord) maxRecord = words;
    Put32(b, words);
    Put16(b, fn);
    for (int16_t p : params) Put16(b, static_cast<uint16_t>(p));
  };
  for (const auto& r : records) add(r.function, r.params);
  add(0x0000, {});
  Set32(b, sizeAt, static_cast<uint32_t>(b.size() / 2));
  Set32(b, maxAt, maxRecord);
  return b;
}

Bytes BuildPlaceable(int16_t left, int16_t top, int16_t right, int16_t bottom, uint16_t inch,
                     const std::vector<WmfRecord>& records) {
  Bytes h;
  Put32(h, 0x9AC6CDD7);
  Put16(h, 0);
  for (int16_t v : {left, top, right, bottom}) Put16(h, static_cast<uint16_t>(v));
  Put16(h, inch);
  Put32(h, 0);
  uint16_t sum = 0;
  for (size_t i = 0; i < h.size(); i += 2) sum ^= static_cast<uint16_t>(h[i] | h[i + 1] << 8);
  Put16(h, sum);
  Bytes body = BuildWmf(records);
  h.insert(h.end(), body.begin(), body.end());
  return h;
}

Bytes BuildEmf(const int32_t bounds[4], const int32_t frame[4], const std::vector<EmfRecord>& records) {
  Bytes b;
  Put32(b, 1);    // EMR_HEADER
  Put32(b, 108);  // header size
  for (int i = 0; i < 4; ++i) Put32(b, static_cast<uint32_t>(bounds[i]));
  for (int i = 0; i < 4; ++i) Put32(b, static_cast<uint32_t>(frame[i]));
  Put32(b, 0x464D4520);
  Put32(b, 0x10000);
  Put32(b, 0);  // bytes, set below
  Put32(b, 0);  // records, set below
  Put16(b, 4);  // handles
  Put16(b, 0);
  Put32(b, 0);  // description
  Put32(b, 0);
  Put32(b, 0);     // palette entries
  Put32(b, 1024);  // device pixels
  Put32(b, 768);
  Put32(b, 320);  // device millimetres
  Put32(b, 240);
  Put32(b, 0);  // pixel format
  Put32(b, 0);
  Put32(b, 0);       // OpenGL
  Put32(b, 320000);  // micrometres
  Put32(b, 240000);
  uint32_t count = 1;
  auto add = [&](uint32_t type, const std::vector<uint32_t>& params) {
    Put32(b, type);
    Put32(b, 8 + 4 * static_cast<uint32_t>(params.size()));
    for (uint32_t p : params) Put32(b, p);
    ++count;
  };
  for (const auto& r : records) add(r.type, r.params);
  add(14, {0, 16, 20});  // EMR_EOF: no palette, offset, size
  Set32(b, 48, static_cast<uint32_t>(b.size()));
  Set32(b, 52, count);
  return b;
}

std::vector<WmfRecord> WmfFilledRect(int16_t l, int16_t t, int16_t r, int16_t b, uint32_t colorref) {
  return {
      {0x02FC,
       {0, static_cast<int16_t>(colorref & 0xFFFF), static_cast<int16_t>(colorref >> 16), 0}},  // brush
      {0x012D, {0}},                                                                            // select
      {0x02FA, {5, 0, 0, 0, 0}},  // null pen: style PS_NULL, width, colour
      {0x012D, {1}},
      {0x041B, {b, r, t, l}},  // Rectangle(l, t, r, b)
  };
}

std::vector<EmfRecord> EmfFilledRect(int32_t l, int32_t t, int32_t r, int32_t b, uint32_t colorref) {
  return {
      {39, {1, 0, colorref, 0}},  // EMR_CREATEBRUSHINDIRECT: solid
      {37, {1}},                  // EMR_SELECTOBJECT
      {37, {0x80000008}},         // NULL_PEN
      {43,
       {static_cast<uint32_t>(l), static_cast<uint32_t>(t), static_cast<uint32_t>(r),
        static_cast<uint32_t>(b)}},  // EMR_RECTANGLE
  };
}

namespace fs = std::filesystem;

namespace {
std::string CoreForm(std::string p) {
  for (char& c : p)
    if (c == '/') c = '\\';
  return p;
}
}  // namespace

TempDir::TempDir() {
  static std::atomic<int> serial{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  fs::path p =
      fs::temp_directory_path() / ("kor-registry-" + std::to_string(stamp) + "-" + std::to_string(serial++));
  fs::create_directories(p);
  dir_ = p.string();
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(dir_, ec);
}

std::string TempDir::Path(const std::string& name) const { return CoreForm(dir_ + "/" + name); }

std::string TempDir::Write(const std::string& name, const Bytes& bytes) const {
  std::ofstream f(fs::path(dir_) / name, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return Path(name);
}

Bytes TempDir::Read(const std::string& name) const {
  std::ifstream f(fs::path(dir_) / name, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}
