// The common ground of the icon and metafile graphics: they keep their file image as read,
// parsed once and never changed, shared between copies, and write it back unchanged.
#ifndef KORVALE_PICTURE_KEPT_IMAGE_H
#define KORVALE_PICTURE_KEPT_IMAGE_H

#include <cstdint>
#include <memory>
#include <vector>

#include "picture/graphic.h"

class TKeptImageGraphic : public TGraphic {
 public:
  // Another graphic of the very same class shares its image; none makes this one empty.
  void CopyFrom(const TGraphic* source) override;
  bool IsEmpty() override { return !image_; }
  // The size comes from the file: setting it does nothing.
  void SetHeight(int32_t) override {}
  void SetWidth(int32_t) override {}
  // Reads the file image from the stream's position to its end and parses it; the stream is
  // left after the bytes the format used.  Nothing left to read makes the graphic empty.  A
  // failed parse leaves the graphic as it was.
  void LoadStream(TStream& stream) override;
  void SaveStream(TStream& stream) override;
  // There is no clipboard form.
  void LoadClipboard(uint16_t, uintptr_t, platform::PaletteHandle) override {}
  void SaveClipboard(uint16_t& format, uintptr_t& data, platform::PaletteHandle& palette) override;

  // What a format keeps of its file: the bytes, and whatever it parsed from them.
  struct Image {
    virtual ~Image() = default;
    std::vector<uint8_t> bytes;  // the file image as kept and written back
  };

 protected:
  // Parses a file image; the result keeps the bytes the format uses (trailing ones cut off).
  virtual std::shared_ptr<const Image> Parse(std::vector<uint8_t> bytes) const = 0;
  const Image* KeptImage() const { return image_.get(); }

 private:
  std::shared_ptr<const Image> image_;
};

#endif
