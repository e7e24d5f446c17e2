// The built-in bitmap graphic: reads the BMP variants, writes the BMP form, the stored form,
// and draws itself nearest-neighbour through the drawing seam.
#ifndef KORVALE_PICTURE_BITMAP_H
#define KORVALE_PICTURE_BITMAP_H

#include <cstdint>
#include <memory>
#include <vector>

#include "picture/graphic.h"
#include "platform/dib.h"
#include "platform/gdi.h"

// One device-independent image; bitmaps that CopyFrom each other share one until either
// changes (copy on write under one program-wide lock).
struct TBitmapImage;

class TBitmap : public TGraphic {
  KOR_GRAPHIC_CLASS(TBitmap)

 public:
  TBitmap();
  ~TBitmap() override;

  void CopyFrom(const TGraphic* source) override;
  void DrawInRect(platform::Surface& surface, const TRect& rect) override;
  bool IsEmpty() override;
  int32_t Height() override;  // absolute value of the stored height
  platform::PaletteHandle Palette() override;
  int32_t Width() override;
  void ReadDesignData(TStream& stream) override;
  void SetHeight(int32_t value) override;
  void SetPalette(platform::PaletteHandle palette) override;
  void SetWidth(int32_t value) override;
  void WriteDesignData(TStream& stream) override;
  void LoadStream(TStream& stream) override;
  // Reads the BMP file image of `bytes` bytes at `image`, as LoadStream would.  Rows that lie in
  // it exactly as the bitmap holds them stay there: the bitmap (and every bitmap that shares its
  // image) keeps the block alive instead of copying them.
  void LoadFileImage(const std::shared_ptr<const uint8_t>& image, size_t bytes);
  // Reads the BMP file image that `stream` holds from its start, as LoadStream would, where the
  // bytes from stream position `rowsAt` on are those at `rows`: the headers and colours are
  // copied from the stream, and rows that lie at `rows` as the bitmap holds them stay there.
  void LoadFileImage(TStream& stream, const std::shared_ptr<const uint8_t>& rows, int64_t rowsAt);
  void SaveStream(TStream& stream) override;
  void LoadClipboard(uint16_t format, uintptr_t data, platform::PaletteHandle palette) override;
  void SaveClipboard(uint16_t& format, uintptr_t& data, platform::PaletteHandle& palette) override;

  // The platform image handle, its mask and the handle kind; the viewer never calls them.
  virtual uintptr_t Handle();
  virtual uintptr_t MaskHandle();
  virtual int HandleType();

  // Read access for drawing, saving and tests.
  int BitCount() const;
  uint32_t Compression() const;  // as read; the held rows are always uncompressed
  bool TopDown() const;
  bool FromCoreHeader() const;
  bool KeepsFileImage() const;  // an unchanged compressed file, written back byte for byte
  const platform::BitmapInfoHeader& Header() const;  // of the held (decoded) rows
  const std::vector<platform::RgbQuad>& ColorTable() const;
  const std::vector<uint32_t>& Masks() const;  // red, green, blue for bit fields
  const uint8_t* Rows() const;                 // rows as held, each padded to 4 bytes
  size_t RowBytes() const;
  // The colour of one pixel as 0x00RRGGBB, (0, 0) the top-left corner whatever the row order.
  uint32_t PixelRGB(int32_t x, int32_t y) const;

 private:
  void Assign(std::shared_ptr<const TBitmapImage> image);
  std::shared_ptr<const TBitmapImage> image_;
  platform::OwnedPalette palette_;  // made from the colour table on first request, or set
};

#endif
