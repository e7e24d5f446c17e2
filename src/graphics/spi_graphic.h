// The graphic whose picture a Susie import plug-in decoded: it owns the decode source, derives
// size and palette from the decoded BITMAPINFO, draws the decoded bits and writes them out as a
// BMP file image.  Read-only: it cannot be resized and has no clipboard form.
#ifndef KORVALE_GRAPHICS_SPI_GRAPHIC_H
#define KORVALE_GRAPHICS_SPI_GRAPHIC_H

#include <memory>
#include <string>

#include "graphics/spi_decode.h"
#include "platform/gdi.h"
#include "picture/graphic.h"

class TSPIGraphic : public TGraphic {
  KOR_GRAPHIC_CLASS(TSPIGraphic)

 public:
  TSPIGraphic() = default;
  ~TSPIGraphic() override;

  void DrawInRect(platform::Surface& surface, const TRect& rect) override;
  bool IsEmpty() override;
  int32_t Height() override;  // as stored: negative for top-down rows
  platform::PaletteHandle Palette() override;
  int32_t Width() override;
  void SetHeight(int32_t) override {}
  void SetWidth(int32_t) override {}
  void LoadFile(const std::string& fileName) override;
  void LoadStream(TStream& stream) override;
  // "BM" header, then InfoSize bytes of the info block and BitsSize bytes of the bits.  An
  // empty graphic writes nothing.
  void SaveStream(TStream& stream) override;
  void LoadClipboard(uint16_t, uintptr_t, platform::PaletteHandle) override {}
  void SaveClipboard(uint16_t&, uintptr_t&, platform::PaletteHandle&) override {}
  // Decodes the stream's whole contents; fileName is what the plug-ins see and are ordered by.
  virtual void LoadFromStreamWithName(TStream& stream, const std::string& fileName);

  bool FourBitPixels();
  int32_t InfoSize();
  int32_t BitsSize();
  int32_t ColorCount();

  // A new bitmap of `bitmapClass` holding this picture, built from its BMP file image.
  std::unique_ptr<TGraphic> MakeBitmap(TGraphicClass bitmapClass);
  // The same, with the plug-in's memory released before the bitmap builds its copy; the graphic
  // is empty afterwards, whether or not the bitmap could load.
  std::unique_ptr<TGraphic> MakeBitmapAndRelease(TGraphicClass bitmapClass);
  void ReleasePicture();

  TInSPIAbleData* Source() const { return source_.get(); }

 private:
  // A read-only view of the BMP file image over the decoded blocks.
  class TFileImageStream : public TStream {
   public:
    explicit TFileImageStream(TSPIGraphic& graphic);
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void*, int64_t) override { return 0; }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return size_; }

   private:
    struct Part {
      const uint8_t* data = nullptr;
      int64_t size = 0;
    };
    uint8_t head_[14] = {};
    Part parts_[3];
    int64_t size_ = 0;
    int64_t position_ = 0;
  };

  void DecodeSource();
  void UpdateInfo();
  void FileHeader(uint8_t (&head)[14]);
  std::unique_ptr<TGraphic> BuildBitmap(TGraphicClass bitmapClass, bool release);

  std::unique_ptr<TInSPIAbleData> source_;
  TDecodedLayout layout_;
  platform::OwnedPalette cachedPalette_;
  bool infoReady_ = false;
};

#endif
