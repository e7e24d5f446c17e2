// The icon graphic: every image of an .ico file, the largest of them shown; images stored as
// PNG are decoded by the graphic class the format registry names for PNG files.
#ifndef KORVALE_PICTURE_ICON_H
#define KORVALE_PICTURE_ICON_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "picture/kept_image.h"

// One image of an icon file, described by offsets into the kept file image.  A PNG-stored
// image has its size and depth from its header and only HeaderOffset and Size besides.
struct TIconImage {
  int32_t Width = 0;
  int32_t Height = 0;  // the picture's height, half of the header's doubled one
  int BitCount = 0;
  bool Png = false;  // stored as a PNG stream of Size bytes at HeaderOffset
  size_t Size = 0;
  bool HasAlpha = false;    // 32 bits with some non-zero alpha: alpha decides, not the mask
  size_t HeaderOffset = 0;  // BITMAPINFOHEADER
  size_t ColorsOffset = 0;  // colour table, ColorCount entries of 4 bytes
  uint32_t ColorCount = 0;
  size_t XorOffset = 0;  // colour rows, bottom-up, each padded to 4 bytes
  size_t AndOffset = 0;  // 1-bit mask rows, bottom-up, padded to 4 bytes; 1 = transparent
  bool HasMask = true;   // false when the entry ends right after the colour rows: all opaque
  size_t XorRowBytes() const;
  size_t AndRowBytes() const;
};

struct TIconData;

class TIcon : public TKeptImageGraphic {
  KOR_GRAPHIC_CLASS(TIcon)

 public:
  TIcon();
  ~TIcon() override;

  // The shown image scaled into rect: the mask with SRCAND, then the colours with SRCINVERT.
  void DrawInRect(platform::Surface& surface, const TRect& rect) override;
  int32_t Height() override;
  int32_t Width() override;
  // LoadStream reads an .ico file image; malformed data raises EInvalidGraphic
  // "アイコンイメージが不正です".  SaveStream writes it back as read, every entry included.
  // A PNG image is shown when it is the largest and the registry's PNG class reads it (its
  // progress goes to OnProgress, and a load called off there goes on up as EAbort); otherwise
  // the largest BMP image is, and an icon without one is malformed.

  int ImageCount() const;
  const TIconImage& Image(int index) const;
  int ShownIndex() const;  // -1 when empty
  int BitCount() const;    // of the shown image; 0 when empty
  // The shown image's pixel (0, 0 the top-left corner) composed over `background`, both
  // 0x00RRGGBB: alpha blending for images with alpha, mask and XOR otherwise; a PNG image's
  // pixel as its decoder gave it.
  uint32_t PixelOver(int32_t x, int32_t y, uint32_t background) const;

 protected:
  std::shared_ptr<const TKeptImageGraphic::Image> Parse(std::vector<uint8_t> bytes) const override;

 private:
  const TIconData* Data() const;
};

#endif
