#include "test_graphics.h"

#include <sstream>
#include <vector>

#include "rtl/exceptions.h"
#include "rtl/messages.h"

KOR_DEFINE_GRAPHIC_CLASS(TTextGraphic, TGraphic);
KOR_DEFINE_GRAPHIC_CLASS(TTextChild, TTextGraphic);
KOR_DEFINE_GRAPHIC_CLASS(TAVeryLongGraphicClassNameThatGoesOnAndOnBeyondTheSixtyThreeCharacterLimit,
                         TTextGraphic);

int TTextGraphic::liveCount = 0;

void TTextGraphic::CopyFrom(const TGraphic* source) {
  auto* t = dynamic_cast<const TTextGraphic*>(source);
  if (!t) return TGraphic::CopyFrom(source);
  text_ = t->text_;
  width_ = t->width_;
  height_ = t->height_;
  NotifyChanged(this);
}

void TTextGraphic::LoadStream(TStream& stream) {
  int64_t n = stream.Size() - stream.Position();
  std::string s(static_cast<size_t>(n), '\0');
  stream.ReadBuffer(&s[0], n);
  std::istringstream in(s);
  std::string tag, extra;
  int32_t w = 0, h = 0;
  in >> tag >> w >> h >> extra;
  if (tag != "OK") throw EInvalidGraphic(msg::kInvalidBitmap);
  if (extra == "PROGRESS") {
    TRect r{0, 0, w, h};
    ReportProgress(this, TProgressStage::psStarting, 0, false, r, "loading");
    ReportProgress(this, TProgressStage::psEnding, 100, true, r, "loaded");
  }
  text_ = s;
  width_ = w;
  height_ = h;
  NotifyChanged(this);
}

void TTextGraphic::SaveStream(TStream& stream) {
  stream.WriteBuffer(text_.data(), static_cast<int64_t>(text_.size()));
}
