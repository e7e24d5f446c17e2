// The abstract graphic, its class references and the progress listener type.
#ifndef KORVALE_PICTURE_GRAPHIC_H
#define KORVALE_PICTURE_GRAPHIC_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "platform/gdi.h"
#include "rtl/classes.h"
#include "rtl/streams.h"

enum class TProgressStage : uint8_t { psStarting = 0, psRunning = 1, psEnding = 2 };

// (Sender, Stage, PercentDone, RedrawNow, R, Msg); R is passed by reference.
using TProgressEvent = std::function<void(TObject* Sender, TProgressStage Stage, uint8_t PercentDone,
                                          bool RedrawNow, TRect& R, const std::string& Msg)>;

class TGraphic;

// A class reference: names a graphic class, creates instances through its constructor, and
// knows its parent so that "derives from" can be asked.
struct TGraphicMetaClass {
  const char* name;
  const TGraphicMetaClass* parent;
  TGraphic* (*create)();
};
using TGraphicClass = const TGraphicMetaClass*;

// True when `cls` is `base` or derives from it.
bool InheritsFrom(TGraphicClass cls, TGraphicClass base);
inline const char* ClassNameOf(TGraphicClass cls) { return cls ? cls->name : "nil"; }
std::unique_ptr<TGraphic> CreateGraphic(TGraphicClass cls);

// Declares the class reference of a graphic class: put KOR_GRAPHIC_CLASS(TName) in the class
// body and KOR_DEFINE_GRAPHIC_CLASS(TName, TParent) in its source file.
#define KOR_GRAPHIC_CLASS(Name)                                   \
 public:                                                          \
  static const TGraphicMetaClass Class;                           \
  TGraphicClass ClassType() const override { return &Class; }

#define KOR_DEFINE_GRAPHIC_CLASS(Name, Parent) \
  const TGraphicMetaClass Name::Class = {#Name, &Parent::Class, []() -> TGraphic* { return new Name(); }}

class TGraphic : public TObject {
 public:
  static const TGraphicMetaClass Class;  // abstract: create is null
  virtual TGraphicClass ClassType() const { return &Class; }
  const char* ClassName() const { return ClassType()->name; }
  bool InheritsFrom(TGraphicClass base) const { return ::InheritsFrom(ClassType(), base); }

  TGraphic() = default;
  ~TGraphic() override = default;
  TGraphic(const TGraphic&) = delete;
  TGraphic& operator=(const TGraphic&) = delete;

  // Persistent-object base: raises EConvertError "%s を %s に代入することはできません".
  virtual void CopyTo(TGraphic& target) const;
  // Takes another graphic's image; with none raises EConvertError ("nil", own class name);
  // the base asks source.CopyTo(*this).
  virtual void CopyFrom(const TGraphic* source);
  virtual void NotifyChanged(TObject* sender);
  virtual void DrawInRect(platform::Surface& surface, const TRect& rect) = 0;
  virtual bool SameContent(TGraphic& other);
  virtual bool IsEmpty() = 0;
  virtual int32_t Height() = 0;
  virtual platform::PaletteHandle Palette() { return nullptr; }
  virtual bool Transparent() { return transparent_; }
  virtual int32_t Width() = 0;
  virtual void ReadDesignData(TStream& stream) { LoadStream(stream); }
  virtual void SetHeight(int32_t value) = 0;
  virtual void SetPalette(platform::PaletteHandle) {}
  virtual void SetTransparent(bool value);
  virtual void SetWidth(int32_t value) = 0;
  virtual void WriteDesignData(TStream& stream) { SaveStream(stream); }
  virtual void LoadFile(const std::string& fileName);
  virtual void SaveFile(const std::string& fileName);
  virtual void LoadStream(TStream& stream) = 0;
  virtual void SaveStream(TStream& stream) = 0;
  virtual void LoadClipboard(uint16_t format, uintptr_t data, platform::PaletteHandle palette) = 0;
  virtual void SaveClipboard(uint16_t& format, uintptr_t& data, platform::PaletteHandle& palette) = 0;
  virtual void ReportProgress(TObject* sender, TProgressStage stage, uint8_t percentDone, bool redrawNow,
                              TRect& r, const std::string& msg);

  TNotifyEvent OnChange;
  TProgressEvent OnProgress;
  bool Modified() const { return modified_; }
  void SetModified(bool value) { modified_ = value; }

 private:
  bool modified_ = false;
  bool transparent_ = false;
};

#endif
