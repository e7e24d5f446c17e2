// The metafile graphic: placeable and plain Windows metafiles and enhanced metafiles, kept as
// read, measured in pixels at 96 dots per inch, played through GDI.
#ifndef KORVALE_PICTURE_METAFILE_H
#define KORVALE_PICTURE_METAFILE_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "picture/kept_image.h"
#include "platform/gdi.h"

enum class TMetafileKind { mkNone, mkPlaceable, mkWindows, mkEnhanced };

struct TMetafileData;

class TMetafile : public TKeptImageGraphic {
  KOR_GRAPHIC_CLASS(TMetafile)

 public:
  // No side of a metafile's picture is reported larger than this: sizes computed from a
  // file's frame are scaled down to it, keeping their proportions, so that drawing and
  // rendering stay within what GDI and memory allow.
  static constexpr int32_t kMaxSide = 8192;
  // The side of a plain Windows metafile that names no window extent and whose drawing gives
  // no size either.
  static constexpr int32_t kDefaultSide = 256;

  TMetafile();
  ~TMetafile() override;

  void DrawInRect(platform::Surface& surface, const TRect& rect) override;
  int32_t Height() override;
  int32_t Width() override;
  // LoadStream reads a metafile; bad data raises EInvalidGraphic "メタファイルが不正です".
  // SaveStream writes its bytes back as read.

  TMetafileKind Kind() const;
  bool Enhanced() const { return Kind() == TMetafileKind::mkEnhanced; }
  // The logical window a Windows metafile is played in (placeable: its bounding box; plain:
  // the last window origin and extent its records set, else the default size).
  const platform::MetafileWindow& Window() const;
  // Plays the metafile into a white picture of its own size: 24-bit rows, bottom-up, each
  // padded to 4 bytes, rowBytes apart.  False where metafiles cannot be played (the rows stay
  // white).
  bool RenderRows(uint8_t* rows, size_t rowBytes) const;

 protected:
  std::shared_ptr<const TKeptImageGraphic::Image> Parse(std::vector<uint8_t> bytes) const override;

 private:
  const TMetafileData* Data() const;
};

#endif
