// The registry of file formats and the picture container.
#include "picture/picture.h"

#include <cstring>
#include <utility>

#include "picture/bitmap.h"
#include "picture/icon.h"
#include "picture/metafile.h"
#include "rtl/exceptions.h"
#include "rtl/format.h"
#include "rtl/messages.h"
#include "rtl/text.h"

// ---------------------------------------------------------------------------------------------
// The registry.

namespace {

// The registry is reached through a plain pointer, which stays valid (null) after the holder
// has destroyed the registry at program end: a unit that unregisters its class from a static
// destructor that runs later then finds no registry instead of a destroyed one.
TFileFormatsList* g_formats = nullptr;

struct FormatsHolder {
  ~FormatsHolder() {
    delete g_formats;
    g_formats = nullptr;
  }
};

}  // namespace

TFileFormatsList::TFileFormatsList() {
  Add("wmf", "メタファイル", 0, &TMetafile::Class);
  Add("emf", "エンハンス メタファイル", 0, &TMetafile::Class);
  Add("ico", "アイコン", 0, &TIcon::Class);
  Add("bmp", "ビットマップ", 0, &TBitmap::Class);
}

void TFileFormatsList::Add(const std::string& extension, const std::string& description,
                           int32_t descriptionId, TGraphicClass graphicClass) {
  entries_.push_back({graphicClass, text::AnsiLowerCase(extension), description, descriptionId});
}

void TFileFormatsList::Remove(TGraphicClass graphicClass) {
  for (size_t i = entries_.size(); i-- > 0;)
    if (::InheritsFrom(entries_[i].GraphicClass, graphicClass))
      entries_.erase(entries_.begin() + static_cast<ptrdiff_t>(i));
}

TGraphicClass TFileFormatsList::FindByExtension(const std::string& extension) const {
  std::string key = text::AnsiLowerCase(extension);
  for (size_t i = entries_.size(); i-- > 0;)
    if (entries_[i].Extension == key) return entries_[i].GraphicClass;
  return nullptr;
}

TGraphicClass TFileFormatsList::FindByClassName(const std::string& name) const {
  for (size_t i = entries_.size(); i-- > 0;) {
    TGraphicClass cls = entries_[i].GraphicClass;
    if (cls && name == cls->name) return cls;
  }
  return nullptr;
}

TFileFormatsList& FileFormats() {
  static FormatsHolder holder;
  if (!g_formats) g_formats = new TFileFormatsList();
  return *g_formats;
}

bool FileFormatsExist() { return g_formats != nullptr; }

// ---------------------------------------------------------------------------------------------
// The picture.

TPicture::TPicture() { FileFormats(); }

TPicture::~TPicture() = default;

void TPicture::RegisterFormat(const std::string& extension, const std::string& description,
                              TGraphicClass graphicClass) {
  FileFormats().Add(extension, description, 0, graphicClass);
}

void TPicture::UnregisterFormatClass(TGraphicClass graphicClass) {
  if (FileFormatsExist()) FileFormats().Remove(graphicClass);
}

void TPicture::TakeOwnership(std::unique_ptr<TGraphic> g) {
  if (g) {
    g->OnChange = [this](TObject* sender) { NotifyChanged(sender); };
    g->OnProgress = [this](TObject* sender, TProgressStage stage, uint8_t percent, bool redraw, TRect& r,
                           const std::string& msg) {
      ReportProgress(sender, stage, percent, redraw, r, msg);
    };
  }
  graphic_.reset();
  graphic_ = std::move(g);
  NotifyChanged(this);
}

std::unique_ptr<TGraphic> NewGraphicFor(const std::string& fileName) {
  std::string ext = text::ExtractFileExt(fileName);
  if (!ext.empty()) ext.erase(0, 1);
  std::unique_ptr<TGraphic> g = CreateGraphic(FileFormats().FindByExtension(ext));
  if (!g) throw EInvalidGraphic(FormatMixed(msg::kUnknownExtension, {ext}));
  return g;
}

std::unique_ptr<TGraphic> TPicture::LoadFile(const std::string& fileName) {
  std::unique_ptr<TGraphic> g = NewGraphicFor(fileName);
  g->OnProgress = [this](TObject* sender, TProgressStage stage, uint8_t percent, bool redraw, TRect& r,
                         const std::string& msg) { ReportProgress(sender, stage, percent, redraw, r, msg); };
  g->LoadFile(fileName);  // on failure g is destroyed and the picture keeps what it had
  return Exchange(std::move(g));
}

std::unique_ptr<TGraphic> TPicture::Exchange(std::unique_ptr<TGraphic> graphic) {
  std::unique_ptr<TGraphic> previous = std::move(graphic_);
  if (previous) {
    previous->OnChange = nullptr;
    previous->OnProgress = nullptr;
  }
  TakeOwnership(std::move(graphic));
  return previous;
}

TBitmap* TPicture::AsBitmap() {
  if (graphic_ && graphic_->InheritsFrom(&TBitmap::Class)) {
    if (auto* bitmap = dynamic_cast<TBitmap*>(graphic_.get())) return bitmap;
  }
  auto bitmap = std::make_unique<TBitmap>();
  TBitmap* result = bitmap.get();
  TakeOwnership(std::move(bitmap));
  return result;
}

void TPicture::SetGraphic(TGraphic* value) {
  std::unique_ptr<TGraphic> copy;
  if (value) {
    copy = CreateGraphic(value->ClassType());
    if (!copy) throw EConvertError(Format(msg::kAssignError, {value->ClassName(), "TPicture"}));
    copy->CopyFrom(value);
  }
  try {
    TakeOwnership(std::move(copy));
  } catch (...) {
    // The listener failed after the copy became current: drop it rather than keep a graphic
    // whose change was never taken in.
    graphic_.reset();
    throw;
  }
}

void TPicture::CopyFrom(const TPicture* source) { SetGraphic(source ? source->Graphic() : nullptr); }

int32_t TPicture::Width() const { return graphic_ ? graphic_->Width() : 0; }
int32_t TPicture::Height() const { return graphic_ ? graphic_->Height() : 0; }

void TPicture::NotifyChanged(TObject*) {
  if (OnChange) OnChange(this);
  if (Notify) Notify->Changed();
}

void TPicture::ReportProgress(TObject* sender, TProgressStage stage, uint8_t percentDone, bool redrawNow,
                              TRect& r, const std::string& msg) {
  if (OnProgress) OnProgress(sender, stage, percentDone, redrawNow, r, msg);
}

void TPicture::ReadData(TStream& stream) {
  uint8_t length = 0;
  stream.ReadBuffer(&length, 1);
  // Class names are stored with at most 63 characters; a longer one is no record this
  // program wrote, and no graphic class is looked up or created for it.
  if (length > kMaxStoredClassName) throw EReadError(msg::kReadError);
  char name[kMaxStoredClassName];
  stream.ReadBuffer(name, length);
  std::unique_ptr<TGraphic> g = CreateGraphic(FileFormats().FindByClassName(std::string(name, length)));
  if (g) g->ReadDesignData(stream);  // on failure g is destroyed, the picture unchanged
  TakeOwnership(std::move(g));
}

void TPicture::WriteData(TStream& stream) {
  std::string name = graphic_ ? graphic_->ClassName() : "";
  if (name.size() > kMaxStoredClassName) name.resize(kMaxStoredClassName);
  uint8_t length = static_cast<uint8_t>(name.size());
  stream.WriteBuffer(&length, 1);
  stream.WriteBuffer(name.data(), length);
  if (graphic_) graphic_->WriteDesignData(stream);
}
