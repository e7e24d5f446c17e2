// Graphic classes for the registry and picture tests: a file holds "OK <width> <height>" (and
// optionally " PROGRESS"); anything else fails to load with EInvalidGraphic.
#ifndef KORVALE_TESTS_PICTURE_REGISTRY_TEST_GRAPHICS_H
#define KORVALE_TESTS_PICTURE_REGISTRY_TEST_GRAPHICS_H

#include <string>

#include "picture/graphic.h"

class TTextGraphic : public TGraphic {
  KOR_GRAPHIC_CLASS(TTextGraphic)

 public:
  static int liveCount;
  TTextGraphic() { ++liveCount; }
  ~TTextGraphic() override { --liveCount; }

  void CopyFrom(const TGraphic* source) override;
  void DrawInRect(platform::Surface&, const TRect&) override {}
  bool IsEmpty() override { return text_.empty(); }
  int32_t Height() override { return height_; }
  int32_t Width() override { return width_; }
  void SetHeight(int32_t v) override { height_ = v; }
  void SetWidth(int32_t v) override { width_ = v; }
  void LoadStream(TStream& stream) override;
  void SaveStream(TStream& stream) override;
  void LoadClipboard(uint16_t, uintptr_t, platform::PaletteHandle) override {}
  void SaveClipboard(uint16_t&, uintptr_t&, platform::PaletteHandle&) override {}
  // Changes the content and reports it, as a graphic edited in place would.
  void Touch() {
    ++width_;
    NotifyChanged(this);
  }
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
  int32_t width_ = 0, height_ = 0;
};

// A descendant, to test that unregistering a class also removes its descendants.
class TTextChild : public TTextGraphic {
  KOR_GRAPHIC_CLASS(TTextChild)
};

// A class whose name is longer than the stored record allows.
class TAVeryLongGraphicClassNameThatGoesOnAndOnBeyondTheSixtyThreeCharacterLimit : public TTextGraphic {
  KOR_GRAPHIC_CLASS(TAVeryLongGraphicClassNameThatGoesOnAndOnBeyondTheSixtyThreeCharacterLimit)
};

#endif
