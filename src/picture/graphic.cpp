// The base operations of every graphic: assignment errors, change and progress reports, the
// designer data round-trip, and loading from and saving to files.
#include "picture/graphic.h"

#include <cstring>

#include "rtl/exceptions.h"
#include "rtl/format.h"
#include "rtl/messages.h"

const TGraphicMetaClass TGraphic::Class = {"TGraphic", nullptr, nullptr};

bool InheritsFrom(TGraphicClass cls, TGraphicClass base) {
  if (!base) return false;
  for (TGraphicClass c = cls; c; c = c->parent)
    if (c == base) return true;
  return false;
}

std::unique_ptr<TGraphic> CreateGraphic(TGraphicClass cls) {
  if (!cls || !cls->create) return nullptr;  // none, or an abstract class
  return std::unique_ptr<TGraphic>(cls->create());
}

void TGraphic::CopyTo(TGraphic& target) const {
  throw EConvertError(Format(msg::kAssignError, {ClassName(), target.ClassName()}));
}

void TGraphic::CopyFrom(const TGraphic* source) {
  if (!source) throw EConvertError(Format(msg::kAssignError, {"nil", ClassName()}));
  source->CopyTo(*this);
}

void TGraphic::NotifyChanged(TObject*) {
  modified_ = true;
  if (OnChange) OnChange(this);
}

bool TGraphic::SameContent(TGraphic& other) {
  bool selfEmpty = IsEmpty();
  bool otherEmpty = other.IsEmpty();
  if (selfEmpty && otherEmpty) return true;
  if (selfEmpty != otherEmpty) return false;
  if (other.ClassType() != ClassType()) return false;
  TMemoryStream mine, theirs;
  WriteDesignData(mine);
  other.WriteDesignData(theirs);
  if (mine.Size() != theirs.Size()) return false;
  if (mine.Size() == 0) return true;
  return std::memcmp(mine.Memory(), theirs.Memory(), static_cast<size_t>(mine.Size())) == 0;
}

void TGraphic::SetTransparent(bool value) {
  if (value == transparent_) return;
  transparent_ = value;
  NotifyChanged(this);
}

void TGraphic::LoadFile(const std::string& fileName) {
  TFileStream file(fileName, fmOpenRead | fmShareDenyWrite);
  LoadStream(file);
}

void TGraphic::SaveFile(const std::string& fileName) {
  TFileStream file(fileName, fmCreate);
  SaveStream(file);
}

void TGraphic::ReportProgress(TObject* sender, TProgressStage stage, uint8_t percentDone, bool redrawNow,
                              TRect& r, const std::string& msg) {
  if (OnProgress) OnProgress(sender, stage, percentDone, redrawNow, r, msg);
}
