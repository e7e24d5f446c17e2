#include "wic_picture.h"

#include <cstring>
#include <new>
#include <vector>

#include "byte_stream.h"
#include "colour.h"
#include "icc.h"
#include "pixels.h"
#include "platform/dib_layout.h"
#include "plugins/spare_rows_api.h"

namespace ifwic {

namespace {

// Strips of source rows are about this many bytes; progress is reported once per strip.
constexpr uint64_t kStripBytes = 1u << 20;
// The largest bits block we hand out: a 32-bit host cannot map more in one piece.
constexpr uint64_t kMaxBitsBytes = 0x7FFFFFFFu;
// The most pixels a picture may have: 8 bytes each still fit a 31-bit size.
constexpr uint64_t kMaxPixels = 1u << 28;
// The largest embedded colour profile taken (real ones are a few kilobytes, rarely a megabyte).
constexpr UINT kMaxProfileBytes = 16u << 20;
// The most colour contexts of a frame looked at.
constexpr UINT kMaxColourContexts = 8;

struct LayoutOf {
  const GUID* format;
  SourceLayout layout;
};

const LayoutOf kLayouts[] = {
    {&GUID_WICPixelFormat1bppIndexed, SourceLayout::Indexed1},
    {&GUID_WICPixelFormat2bppIndexed, SourceLayout::Indexed2},
    {&GUID_WICPixelFormat4bppIndexed, SourceLayout::Indexed4},
    {&GUID_WICPixelFormat8bppIndexed, SourceLayout::Indexed8},
    {&GUID_WICPixelFormatBlackWhite, SourceLayout::Gray1},
    {&GUID_WICPixelFormat2bppGray, SourceLayout::Gray2},
    {&GUID_WICPixelFormat4bppGray, SourceLayout::Gray4},
    {&GUID_WICPixelFormat8bppGray, SourceLayout::Gray8},
    {&GUID_WICPixelFormat16bppGray, SourceLayout::Gray16},
    {&GUID_WICPixelFormat24bppBGR, SourceLayout::Bgr24},
    {&GUID_WICPixelFormat24bppRGB, SourceLayout::Rgb24},
    {&GUID_WICPixelFormat32bppBGR, SourceLayout::Bgrx32},
    {&GUID_WICPixelFormat32bppBGRA, SourceLayout::Bgra32},
    {&GUID_WICPixelFormat32bppRGBA, SourceLayout::Rgba32},
    {&GUID_WICPixelFormat32bppPBGRA, SourceLayout::Pbgra32},
    {&GUID_WICPixelFormat32bppPRGBA, SourceLayout::Prgba32},
    {&GUID_WICPixelFormat48bppRGB, SourceLayout::Rgb48},
    {&GUID_WICPixelFormat48bppBGR, SourceLayout::Bgr48},
    {&GUID_WICPixelFormat64bppRGBA, SourceLayout::Rgba64},
    {&GUID_WICPixelFormat64bppBGRA, SourceLayout::Bgra64},
    {&GUID_WICPixelFormat64bppPRGBA, SourceLayout::Prgba64},
};

bool layoutOf(const WICPixelFormatGUID& format, SourceLayout& layout) {
  for (const LayoutOf& l : kLayouts) {
    if (IsEqualGUID(format, *l.format)) {
      layout = l.layout;
      return true;
    }
  }
  return false;
}

const GUID* containerGuid(Container c) {
  switch (c) {
    case Container::Png:
      return &GUID_ContainerFormatPng;
    case Container::Jpeg:
      return &GUID_ContainerFormatJpeg;
    case Container::Gif:
      return &GUID_ContainerFormatGif;
    case Container::Tiff:
      return &GUID_ContainerFormatTiff;
    case Container::JpegXr:
      return &GUID_ContainerFormatWmp;
    default:
      return nullptr;
  }
}

bool formatHasTransparency(IWICImagingFactory* factory, const WICPixelFormatGUID& format) {
  ComPtr<IWICComponentInfo> info;
  if (FAILED(factory->CreateComponentInfo(format, info.put()))) return true;
  ComPtr<IWICPixelFormatInfo2> pixel;
  if (FAILED(info->QueryInterface(IID_IWICPixelFormatInfo2, pixel.putVoid()))) return true;
  BOOL transparency = TRUE;
  if (FAILED(pixel->SupportsTransparency(&transparency))) return true;
  return transparency != FALSE;
}

LONG pelsPerMetre(uint16_t dpi) { return static_cast<LONG>(dpi / 0.0254 + 0.5); }

// Every row of the picture in one colour (an index for palette pictures), padding zeroed.
void fillRows(BYTE* bits, uint64_t dibRow, UINT width, UINT height, OutputKind out, uint8_t index,
              const PaletteEntry& colour) {
  for (UINT y = 0; y < height; ++y) {
    BYTE* row = bits + y * dibRow;
    std::memset(row, 0, static_cast<size_t>(dibRow));
    if (out != OutputKind::Bgr24) {
      std::memset(row, index, width);
      continue;
    }
    for (UINT x = 0; x < width; ++x) {
      row[3 * x] = colour.b;
      row[3 * x + 1] = colour.g;
      row[3 * x + 2] = colour.r;
    }
  }
}

// A big-endian TIFF of one 16-bit grey pixel holding 0x0102, uncompressed, in one strip.
const BYTE kBigEndianGreyProbe[] = {
    0x4D, 0x4D, 0x00, 0x2A, 0x00, 0x00, 0x00, 0x08, 0x00, 0x09,              // header
    0x01, 0x00, 0x00, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00,  // width 1
    0x01, 0x01, 0x00, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00,  // height 1
    0x01, 0x02, 0x00, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x10, 0x00, 0x00,  // 16 bits
    0x01, 0x03, 0x00, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00,  // no compression
    0x01, 0x06, 0x00, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00,  // black is zero
    0x01, 0x11, 0x00, 0x04, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x7A,  // strip at 122
    0x01, 0x15, 0x00, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00,  // one sample
    0x01, 0x16, 0x00, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00,  // one row a strip
    0x01, 0x17, 0x00, 0x04, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x02,  // two bytes
    0x00, 0x00, 0x00, 0x00, 0x01, 0x02};

// Whether the codec hands out the 16-bit samples of a big-endian TIFF in the file's byte order
// rather than in the little-endian order its pixel formats promise (some versions do): the
// probe above, decoded by the same codec, tells.
bool codecKeepsBigEndianSamples(IWICImagingFactory* factory) {
  ComPtr<IStream> stream;
  stream.attach(ByteStream::create(kBigEndianGreyProbe, sizeof kBigEndianGreyProbe));
  ComPtr<IWICBitmapDecoder> decoder;
  ComPtr<IWICBitmapFrameDecode> frame;
  WICPixelFormatGUID format;
  BYTE sample[2] = {0, 0};
  if (!stream || FAILED(factory->CreateDecoder(GUID_ContainerFormatTiff, nullptr, decoder.put())) ||
      FAILED(decoder->Initialize(stream.get(), WICDecodeMetadataCacheOnDemand)) ||
      FAILED(decoder->GetFrame(0, frame.put())) || FAILED(frame->GetPixelFormat(&format)) ||
      !IsEqualGUID(format, GUID_WICPixelFormat16bppGray) ||
      FAILED(frame->CopyPixels(nullptr, sizeof sample, sizeof sample, sample)))
    return false;
  return sample[0] == 0x01 && sample[1] == 0x02;
}

}  // namespace

int resultFor(HRESULT hr) {
  if (hr == E_OUTOFMEMORY) return SPI_NO_MEMORY;
  if (hr == STG_E_READFAULT || hr == HRESULT_FROM_WIN32(ERROR_READ_FAULT)) return SPI_FILE_READ_ERROR;
  return SPI_BROKEN_DATA;
}

int InputBytes::open(const char* buf, spi_len_t len, uint32_t flag, size_t limit) {
  if (!buf) return (flag & 7) == SPI_INPUT_MEMORY ? SPI_BROKEN_DATA : SPI_FILE_READ_ERROR;
  switch (flag & 7) {
    case SPI_INPUT_FILE:
      return readFile(buf, len, limit);
    case SPI_INPUT_MEMORY:
      if (len < 0) return SPI_BROKEN_DATA;
      data_ = reinterpret_cast<const BYTE*>(buf);
      size_ = static_cast<size_t>(len);
      return SPI_SUCCESS;
    default:
      return SPI_INTERNAL_ERROR;
  }
}

int InputBytes::readFile(const char* name, spi_len_t offset, size_t limit) {
  if (offset < 0) return SPI_FILE_READ_ERROR;
  // A whole file is mapped rather than read: its pages come from the system's file cache as
  // the codec reaches them, where a buffer of our own is fresh memory, each page written once
  // (under Wine about 120 ms for a 29 MB file, against 1 ms to map it).
  if (limit == static_cast<size_t>(-1) && mapFile(name, offset)) return SPI_SUCCESS;
  const platform::win::Handle file(CreateFileA(name, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                               nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  if (!file) return SPI_FILE_READ_ERROR;
  LARGE_INTEGER fileSize;
  if (!GetFileSizeEx(file.get(), &fileSize)) return SPI_FILE_READ_ERROR;
  const ULONGLONG total = static_cast<ULONGLONG>(fileSize.QuadPart);
  ULONGLONG want = total > static_cast<ULONGLONG>(offset) ? total - offset : 0;
  if (want > 0x7FFFFFFFu) return SPI_NO_MEMORY;  // no 32-bit process holds it in one piece
  if (want > limit) {
    want = limit;
    partial_ = true;
  }
  LARGE_INTEGER at;
  at.QuadPart = offset;
  if (!SetFilePointerEx(file.get(), at, nullptr, FILE_BEGIN)) return SPI_FILE_READ_ERROR;
  owned_.reset(new (std::nothrow) BYTE[want ? want : 1]);
  if (!owned_) return SPI_NO_MEMORY;
  size_t got = 0;
  while (got < want) {
    const DWORD chunk = want - got > (1u << 24) ? (1u << 24) : static_cast<DWORD>(want - got);
    DWORD n = 0;
    if (!ReadFile(file.get(), owned_.get() + got, chunk, &n, nullptr)) return SPI_FILE_READ_ERROR;
    if (n == 0) break;  // the file shrank meanwhile: decode what is there
    got += n;
  }
  data_ = owned_.get();
  size_ = got;
  return SPI_SUCCESS;
}

bool InputBytes::mapFile(const char* name, spi_len_t offset) {
  // Opened so that no one may write to it while it is mapped: its bytes are checked and then
  // read where they lie, and must not change in between.  A file that someone is writing
  // cannot be opened so; it is read into our own buffer, as it stands at that moment.
  platform::win::Handle file(CreateFileA(name, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
  LARGE_INTEGER fileSize;
  if (!file || !GetFileSizeEx(file.get(), &fileSize)) return false;
  const ULONGLONG total = static_cast<ULONGLONG>(fileSize.QuadPart);
  const ULONGLONG from = static_cast<ULONGLONG>(offset);
  // Empty ranges and those no 32-bit process holds in one piece take the reading path.
  if (total <= from || total - from > 0x7FFFFFFFu || total > static_cast<ULONGLONG>(static_cast<SIZE_T>(-1)))
    return false;
  platform::win::Handle mapping(CreateFileMappingA(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping) return false;
  platform::win::MappedView view(
      MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(total)));
  if (!view) return false;  // no room for it in one piece
  file_ = std::move(file);
  mapping_ = std::move(mapping);
  view_ = std::move(view);
  data_ = static_cast<const BYTE*>(view_.get()) + from;
  size_ = static_cast<size_t>(total - from);
  return true;
}

// The rows' block our plug-in helper kept from the last picture (plugins/spare_rows_api.h), when
// it has exactly `bytes`; null otherwise and under any other host.  Asking for 0 bytes lets the
// helper's block go.
static HLOCAL spareOfHost(SIZE_T bytes) {
  const auto offer = reinterpret_cast<KorSpareRowsFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(nullptr), KOR_SPARE_ROWS_EXPORT)));
  if (!offer) return nullptr;
  HLOCAL block = static_cast<HLOCAL>(offer(bytes));
  if (block && (bytes == 0 || LocalSize(block) != bytes)) {
    LocalFree(block);
    return nullptr;
  }
  return block;
}

void TouchedBlock::start(SIZE_T bytes) {
  finish();
  block_.reset();  // before the next one: two are never held at once
  block_.reset(spareOfHost(bytes));
  if (block_) {
    bytes_ = bytes;  // its pages are made: nothing to touch
    return;
  }
  block_.reset(LocalAlloc(LMEM_MOVEABLE, bytes));
  if (!block_) return;
  bytes_ = bytes;
  data_ = LocalLock(block_.get());
  toucher_.Start(data_, bytes);
}

void TouchedBlock::finish() {
  toucher_.Finish();
  if (data_) {
    LocalUnlock(block_.get());
    data_ = nullptr;
  }
}

HLOCAL TouchedBlock::take(SIZE_T bytes) {
  finish();
  if (block_ && bytes_ == bytes) return block_.release();
  block_.reset();  // before the new one: the two are never held at once
  return LocalAlloc(LMEM_MOVEABLE, bytes);
}

bool jpegXrDecodable(IWICImagingFactory* factory) {
  ComPtr<IWICBitmapDecoder> decoder;
  return SUCCEEDED(factory->CreateDecoder(GUID_ContainerFormatWmp, nullptr, decoder.put()));
}

int WicPicture::open(const BYTE* data, size_t size, bool decoding) {
  const Container container = identify(data, size);
  container_ = container;
  bigEndianTiff_ = container == Container::Tiff && data[0] == 'M';
  const GUID* guid = containerGuid(container);
  if (!guid) return SPI_UNKNOWN_FORMAT;
  // A JPEG that stops before its end marker would come back as success with grey rows.
  if (container == Container::Jpeg && !jpegComplete(data, size)) return SPI_BROKEN_DATA;
  if (container == Container::Png && !pngChunksIntact(data, size)) return SPI_BROKEN_DATA;
  // The codecs allocate the whole picture, at up to 8 bytes a pixel, in 32-bit sizes when they
  // open it: a header announcing more is refused before any codec sees it.
  header_ = readHeaderInfo(container, data, size);
  if (header_.known && static_cast<uint64_t>(header_.width) * header_.height > kMaxPixels)
    return SPI_NO_MEMORY;
  orientation_ = readOrientation(container, data, size);
  if (container == Container::Png) key_ = readPngColourKey(data, size);
  bytes_ = data;
  byteCount_ = size;
  // The codec reaches for a GIF's global colour table even where the frame brings its own: a
  // file without one is given the frame's table (and one with neither table is broken).
  if (container == Container::Gif && size >= 13 && !(data[10] & 0x80)) {
    try {
      patched_ = gifWithGlobalTable(data, size);
    } catch (const std::bad_alloc&) {
      return SPI_NO_MEMORY;
    }
    if (patched_.empty()) return SPI_BROKEN_DATA;
    data = patched_.data();
    size = patched_.size();
  }
  // The header foretells the rows of most large pictures: 24-bit rows of the upright picture for
  // every colour picture.  Their block is made while the codec decodes; a picture that comes
  // out otherwise (grey, a palette, a partial GIF frame) has its block made afterwards.
  if (decoding) {
    uint64_t bytes = 0;
    if (header_.known && header_.depth >= 24) {
      uint32_t width, height;
      uprightSize(orientation_, header_.width, header_.height, width, height);
      if (static_cast<uint64_t>(width) * height <= kMaxPixels) bytes = KorDibRowBytes(width, 24) * height;
    }
    if (bytes >= platform::PageToucher::kWorthTouching && bytes <= kMaxBitsBytes)
      rows_.start(static_cast<SIZE_T>(bytes));
    else
      spareOfHost(0);  // a block of another kind is made afterwards: the helper's goes first
  }
  HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IWICImagingFactory, factory_.putVoid());
  if (FAILED(hr)) return SPI_INTERNAL_ERROR;
  stream_.attach(ByteStream::create(data, size));
  if (!stream_) return SPI_NO_MEMORY;
  hr = factory_->CreateDecoder(*guid, nullptr, decoder_.put());
  if (FAILED(hr)) return container == Container::JpegXr ? SPI_UNKNOWN_FORMAT : SPI_INTERNAL_ERROR;
  hr = decoder_->Initialize(stream_.get(), WICDecodeMetadataCacheOnDemand);
  if (FAILED(hr)) return resultFor(hr);
  UINT frames = 0;
  hr = decoder_->GetFrameCount(&frames);
  if (FAILED(hr) || frames == 0) return SPI_BROKEN_DATA;
  hr = decoder_->GetFrame(0, frame_.put());
  return FAILED(hr) ? resultFor(hr) : SPI_SUCCESS;
}

Density WicPicture::uprightDensity(const Density& stored) const {
  if (orientation_ < 5) return stored;
  return Density{stored.y, stored.x};
}

Density WicPicture::densityOf(const Density& parsed) const {
  // JPEG XR always records its resolution, and only the codec reads that container.
  if (container_ != Container::JpegXr) return parsed;
  double dx = 0, dy = 0;
  Density d;
  if (SUCCEEDED(frame_->GetResolution(&dx, &dy)) && dx > 0 && dy > 0 && dx < 65535 && dy < 65535) {
    d.x = static_cast<uint16_t>(dx + 0.5);
    d.y = static_cast<uint16_t>(dy + 0.5);
  }
  return d;
}

std::vector<BYTE> WicPicture::storedProfile() const {
  try {
    return readIccProfile(container_, bytes_, byteCount_);
  } catch (const std::bad_alloc&) {
    return {};  // as stored
  }
}

std::vector<BYTE> WicPicture::embeddedProfile() const {
  UINT count = 0;
  if (FAILED(frame_->GetColorContexts(0, nullptr, &count)) || count == 0) return storedProfile();
  if (count > kMaxColourContexts) count = kMaxColourContexts;
  ComPtr<IWICColorContext> owners[kMaxColourContexts];
  IWICColorContext* contexts[kMaxColourContexts] = {};
  for (UINT i = 0; i < count; ++i) {
    if (FAILED(factory_->CreateColorContext(owners[i].put()))) return {};
    contexts[i] = owners[i].get();
  }
  UINT got = 0;
  if (FAILED(frame_->GetColorContexts(count, contexts, &got))) return {};
  for (UINT i = 0; i < got && i < count; ++i) {
    WICColorContextType type;
    UINT size = 0;
    if (FAILED(contexts[i]->GetType(&type)) || type != WICColorContextProfile ||
        FAILED(contexts[i]->GetProfileBytes(0, nullptr, &size)) || size == 0 || size > kMaxProfileBytes)
      continue;
    std::vector<BYTE> bytes;
    try {
      bytes.resize(size);
    } catch (const std::bad_alloc&) {
      return {};
    }
    UINT read = 0;
    if (SUCCEEDED(contexts[i]->GetProfileBytes(size, bytes.data(), &read)) && read <= size) {
      bytes.resize(read);
      return bytes;
    }
  }
  return storedProfile();
}

bool WicPicture::frameShape(UINT& width, UINT& height, WICPixelFormatGUID& format) const {
  width = height = 0;
  const HRESULT hr = frame_->GetSize(&width, &height);
  if (FAILED(hr) || width == 0 || height == 0 || width > 0x7FFFFFFF || height > 0x7FFFFFFF) return false;
  return SUCCEEDED(frame_->GetPixelFormat(&format));
}

int WicPicture::describe(SPI_PICTINFO* info, const Density& density) {
  UINT width, height;
  WICPixelFormatGUID format;
  if (!frameShape(width, height, format)) return SPI_BROKEN_DATA;
  SourceLayout layout = SourceLayout::Bgra32;
  int depth = 24;
  if (layoutOf(format, layout)) {
    if (isGray(layout)) depth = 8;
    if (isIndexed(layout)) {
      ComPtr<IWICPalette> palette;
      BOOL alpha = TRUE;
      if (SUCCEEDED(factory_->CreatePalette(palette.put())) &&
          (SUCCEEDED(frame_->CopyPalette(palette.get())) ||
           SUCCEEDED(decoder_->CopyPalette(palette.get()))) &&
          SUCCEEDED(palette->HasAlpha(&alpha)) && !alpha)
        depth = 8;
    }
  }
  const Density d = uprightDensity(densityOf(density));
  uprightSize(orientation_, width, height, width, height);
  info->left = 0;
  info->top = 0;
  info->width = static_cast<int32_t>(width);
  info->height = static_cast<int32_t>(height);
  info->x_density = d.x;
  info->y_density = d.y;
  info->colorDepth = static_cast<int16_t>(depth);
  info->hInfo = nullptr;
  return SPI_SUCCESS;
}

int WicPicture::decode(HLOCAL* infoHandle, HLOCAL* bitsHandle, SPI_PROGRESS progress, spi_len_t lData,
                       const Density& density) {
  UINT width, height;
  WICPixelFormatGUID format;
  if (!frameShape(width, height, format)) return SPI_BROKEN_DATA;
  HRESULT hr;

  // Layouts we do not convert ourselves go through the codec's converter to 32-bit BGRA, the
  // target it supports for the most sources; its alpha counts only where the source has one.
  IWICBitmapSource* source = frame_.get();
  ComPtr<IWICFormatConverter> converter;
  SourceLayout layout;
  if (!layoutOf(format, layout)) {
    if (FAILED(factory_->CreateFormatConverter(converter.put()))) return SPI_NO_MEMORY;
    hr = converter->Initialize(frame_.get(), GUID_WICPixelFormat32bppBGRA, WICBitmapDitherTypeNone, nullptr,
                               0, WICBitmapPaletteTypeCustom);
    if (FAILED(hr)) return SPI_UNKNOWN_FORMAT;
    layout = formatHasTransparency(factory_.get(), format) ? SourceLayout::Bgra32 : SourceLayout::Bgrx32;
    source = converter.get();
  }

  PaletteEntry palette[256];
  int paletteCount = 0;
  if (isIndexed(layout)) {
    ComPtr<IWICPalette> wicPalette;
    if (FAILED(factory_->CreatePalette(wicPalette.put()))) return SPI_NO_MEMORY;
    if (FAILED(frame_->CopyPalette(wicPalette.get())) && FAILED(decoder_->CopyPalette(wicPalette.get())))
      return SPI_BROKEN_DATA;
    WICColor colours[256];
    UINT n = 0;
    if (FAILED(wicPalette->GetColors(256, colours, &n)) || n == 0) return SPI_BROKEN_DATA;
    for (UINT i = 0; i < n; ++i) {
      const WICColor c = colours[i];
      palette[i] = {static_cast<uint8_t>(c), static_cast<uint8_t>(c >> 8), static_cast<uint8_t>(c >> 16),
                    static_cast<uint8_t>(c >> 24)};
    }
    paletteCount = static_cast<int>(n);
  }

  // Samples the codec left big-endian are put in its promised order before they are converted.
  const bool swapSamples =
      bigEndianTiff_ && !converter && hasWideSamples(layout) && codecKeepsBigEndianSamples(factory_.get());

  // A keyed grey picture handed out as indices into its grey ramp: the key's entry is transparent.
  if (key_.present && key_.grey && isIndexed(layout) && isGreyRamp(palette, paletteCount, key_.depth) &&
      key_.value[0] < paletteCount)
    palette[key_.value[0]].a = 0;

  OutputKind out = outputFor(layout, palette, paletteCount);
  // Grey and colour pictures whose key the codec left in place: the keyed pixels are made white.
  const bool keyed = key_.present && keyable(layout, key_.grey, key_.depth);
  uint16_t key[3] = {key_.value[0], key_.value[1], key_.value[2]};
  if (keyed && key_.grey) key[0] = greyKeyFor(layout, key_.depth, key[0]);
  if (keyed) out = OutputKind::Bgr24;

  // Colour pictures with an embedded profile other than sRGB are converted to sRGB: palettes
  // through their table, the rest row by row.  Without one nothing is loaded or converted.
  ColourTransform colour;
  if (out != OutputKind::Gray8) {
    const std::vector<BYTE> profile = embeddedProfile();
    if (profileUse(profile.data(), profile.size()) == ProfileUse::Apply)
      colour.open(profile.data(), profile.size());
  }
  if (colour.active() && paletteCount > 0) {
    BYTE colours[256 * 3];
    for (int i = 0; i < paletteCount; ++i) {
      colours[3 * i] = palette[i].b;
      colours[3 * i + 1] = palette[i].g;
      colours[3 * i + 2] = palette[i].r;
    }
    if (colour.apply(colours, static_cast<UINT>(paletteCount))) {
      for (int i = 0; i < paletteCount; ++i)
        palette[i] = {colours[3 * i], colours[3 * i + 1], colours[3 * i + 2], palette[i].a};
    }
  }
  // Rows of colour converted by this plug-in or the codec; palette pictures were done above.
  const bool convertRows = colour.active() && out == OutputKind::Bgr24 && paletteCount == 0;
  // The system's conversion is slow per pixel; a large picture goes through a grid of colours it
  // converted once (a few times fewer than the picture's pixels), interpolated between them.
  std::vector<uint8_t> grid;
  if (convertRows && static_cast<uint64_t>(width) * height >= 4 * kGridColours) {
    try {
      grid.resize(kGridColours * 3);
      fillColourGrid(grid.data());
      if (!colour.apply(grid.data(), static_cast<UINT>(kGridColours))) grid.clear();
    } catch (const std::bad_alloc&) {
      grid.clear();
    }
  }
  const auto convertColours = [&](BYTE* row) {
    if (!grid.empty())
      applyColourGrid(grid.data(), row, width);
    else
      colour.apply(row, width);
  };

  // A GIF frame that covers only part of its logical screen is placed on the screen, and the
  // rest shows the background colour (or white), as every viewer shows the first frame.
  UINT canvasWidth = width, canvasHeight = height, left = 0, top = 0;
  uprightSize(orientation_, width, height, canvasWidth, canvasHeight);
  const bool canvas = container_ == Container::Gif && header_.known && header_.framePartial &&
                      header_.frameWidth == width && header_.frameHeight == height;
  uint8_t fillIndex = 0;
  PaletteEntry fill = {255, 255, 255, 255};
  if (canvas) {
    canvasWidth = header_.width;
    canvasHeight = header_.height;
    left = header_.frameLeft;
    top = header_.frameTop;
    if (header_.background >= 0 && !header_.localTable && header_.background < paletteCount) {
      fillIndex = static_cast<uint8_t>(header_.background);
      fill = palette[fillIndex];
    } else if (out == OutputKind::Palette8) {
      out = OutputKind::Bgr24;  // white is not in the table
    }
  }

  const int bitCount = outputBits(out);
  const int tableCount = out == OutputKind::Palette8 ? paletteCount : out == OutputKind::Gray8 ? 256 : 0;
  const uint64_t dibRow = KorDibRowBytes(canvasWidth, bitCount);
  const uint64_t bitsBytes = dibRow * canvasHeight;
  const uint64_t srcRow = sourceRowBytes(layout, width);
  if (bitsBytes > kMaxBitsBytes || static_cast<uint64_t>(canvasWidth) * canvasHeight > kMaxPixels ||
      srcRow > 0xFFFFFFFFu / 2)
    return SPI_NO_MEMORY;

  platform::win::LocalMemory infoBlock(
      LocalAlloc(LMEM_MOVEABLE, sizeof(BITMAPINFOHEADER) + tableCount * sizeof(RGBQUAD)));
  platform::win::LocalMemory bitsBlock(rows_.take(static_cast<SIZE_T>(bitsBytes)));
  if (!infoBlock || !bitsBlock) return SPI_NO_MEMORY;
  {
    const platform::win::LocalLocked lock(infoBlock.get());
    if (!lock.get()) return SPI_NO_MEMORY;
    BITMAPINFOHEADER* header = reinterpret_cast<BITMAPINFOHEADER*>(lock.get());
    std::memset(header, 0, sizeof *header);
    header->biSize = sizeof(BITMAPINFOHEADER);
    header->biWidth = static_cast<LONG>(canvasWidth);
    header->biHeight = static_cast<LONG>(canvasHeight);  // positive: bottom-up
    header->biPlanes = 1;
    header->biBitCount = static_cast<WORD>(bitCount);
    header->biCompression = BI_RGB;
    header->biSizeImage = static_cast<DWORD>(bitsBytes);
    const Density d = uprightDensity(densityOf(density));
    header->biXPelsPerMeter = pelsPerMetre(d.x);
    header->biYPelsPerMeter = pelsPerMetre(d.y);
    header->biClrUsed = static_cast<DWORD>(tableCount);
    RGBQUAD* table = reinterpret_cast<RGBQUAD*>(header + 1);
    for (int i = 0; i < tableCount; ++i) {
      if (out == OutputKind::Gray8)
        table[i] = {static_cast<BYTE>(i), static_cast<BYTE>(i), static_cast<BYTE>(i), 0};
      else
        table[i] = {palette[i].b, palette[i].g, palette[i].r, 0};
    }
  }

  const platform::win::LocalLocked bitsLock(bitsBlock.get());
  BYTE* bits = bitsLock.get();
  if (!bits) return SPI_NO_MEMORY;
  if (progress && progress(0, static_cast<int32_t>(height), lData)) return SPI_ABORT;
  if (canvas) fillRows(bits, dibRow, canvasWidth, canvasHeight, out, fillIndex, fill);
  const uint64_t leftBytes = static_cast<uint64_t>(left) * bitCount / 8;
  // A turned or mirrored picture: each strip of converted rows is spread over the DIB, whose row
  // padding is zeroed first.
  const bool turned = orientation_ != 1;
  if (turned) {
    const uint64_t used = static_cast<uint64_t>(canvasWidth) * bitCount / 8;
    for (UINT y = 0; y < canvasHeight; ++y)
      std::memset(bits + y * dibRow + used, 0, static_cast<size_t>(dibRow - used));
  }

  // 24-bit sources go straight into their DIB rows (or, turned, from the codec's strip); the
  // rest are converted through a strip buffer.
  const bool bgr = layout == SourceLayout::Bgr24 && out == OutputKind::Bgr24 && !keyed;
  const bool direct = bgr && !turned;
  const uint64_t outBytes = (static_cast<uint64_t>(width) * bitCount + 7) / 8;
  std::vector<BYTE> turnedStrip;  // converted rows as stored, before they are turned
  UINT stripRows = static_cast<UINT>(kStripBytes / (srcRow ? srcRow : 1));
  if (stripRows < 1) stripRows = 1;
  if (stripRows > height) stripRows = height;
  std::vector<BYTE> strip;
  if (!direct) {
    try {
      strip.resize(static_cast<size_t>(srcRow * stripRows));
      if (turned && !bgr) turnedStrip.resize(static_cast<size_t>(outBytes * stripRows));
    } catch (const std::bad_alloc&) {
      return SPI_NO_MEMORY;
    }
  }
  for (UINT y0 = 0; y0 < height; y0 += stripRows) {
    const UINT rows = height - y0 < stripRows ? height - y0 : stripRows;
    if (!direct) {
      const WICRect rect = {0, static_cast<INT>(y0), static_cast<INT>(width), static_cast<INT>(rows)};
      hr = source->CopyPixels(&rect, static_cast<UINT>(srcRow), static_cast<UINT>(srcRow * rows),
                              strip.data());
      if (FAILED(hr)) return resultFor(hr);
      if (swapSamples) swapSampleBytes(strip.data(), static_cast<size_t>(srcRow * rows));
    }
    for (UINT r = 0; r < rows && !(turned && bgr); ++r) {
      const UINT y = y0 + r;
      const BYTE* src = strip.data() + r * srcRow;
      BYTE* row = turned ? turnedStrip.data() + r * outBytes
                         : bits + (canvasHeight - 1 - (top + y)) * dibRow + leftBytes;
      if (direct) {
        const WICRect rect = {0, static_cast<INT>(y), static_cast<INT>(width), 1};
        hr = source->CopyPixels(&rect, static_cast<UINT>(dibRow), static_cast<UINT>(outBytes), row);
        if (FAILED(hr)) return resultFor(hr);
      } else if (keyed) {
        convertKeyedRow(layout, src, row, width, key);
      } else {
        convertRow(layout, out, src, row, width, palette, paletteCount);
      }
      if (convertRows) convertColours(row);
      if (!turned && !canvas) std::memset(row + outBytes, 0, static_cast<size_t>(dibRow - outBytes));
    }
    if (convertRows && turned && bgr) {
      for (UINT r = 0; r < rows; ++r) convertColours(strip.data() + r * srcRow);
    }
    if (turned && bgr)
      placeRows(orientation_, strip.data(), srcRow, y0, rows, width, height, 3, bits, dibRow);
    else if (turned)
      placeRows(orientation_, turnedStrip.data(), outBytes, y0, rows, width, height, bitCount / 8, bits,
                dibRow);
    if (progress && progress(static_cast<int32_t>(y0 + rows), static_cast<int32_t>(height), lData))
      return SPI_ABORT;
  }
  *infoHandle = infoBlock.release();
  *bitsHandle = bitsBlock.release();
  return SPI_SUCCESS;
}

}  // namespace ifwic
