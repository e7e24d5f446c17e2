#include "graphics/spi_bitmap.h"

#include <vector>

#include "picture/picture.h"
#include "platform/gdi.h"
#include "rtl/text.h"

KOR_DEFINE_GRAPHIC_CLASS(TSPIBitmap, TBitmap);

namespace {

enum class LoadKind { kFile, kStream };

std::unique_ptr<TGraphic> TryLoad(LoadKind kind, TGraphicClass pluginClass, TStream* stream,
                                  const std::string& fileName, TGraphicClass bitmapClass, bool bitmapFirst,
                                  const TProgressEvent& listener) {
  const TGraphicClass order[2] = {bitmapFirst ? bitmapClass : pluginClass,
                                  bitmapFirst ? pluginClass : bitmapClass};
  const int32_t position = stream ? static_cast<int32_t>(stream->Position()) : 0;
  std::exception_ptr fault;
  for (TGraphicClass cls : order) {
    try {
      std::unique_ptr<TGraphic> g = CreateGraphic(cls);
      if (!g) continue;
      g->OnProgress = listener;
      if (kind == LoadKind::kFile) {
        g->LoadFile(fileName);
      } else if (cls == pluginClass && g->InheritsFrom(&TSPIGraphic::Class)) {
        static_cast<TSPIGraphic*>(g.get())->LoadFromStreamWithName(*stream, fileName);
      } else {
        g->LoadStream(*stream);
      }
      // When the plug-ins came first, an empty bitmap (the plain reader takes no data at all
      // for an empty picture) means nothing was read: a zero-length photo.png is no picture.
      if (!bitmapFirst && cls == bitmapClass && g->IsEmpty()) {
        if (stream) stream->SetPosition(position);
        continue;
      }
      return g;
    } catch (const ESPIPluginFault&) {
      if (!fault) fault = std::current_exception();
    } catch (const EAbort&) {
      throw;  // the person abandoned the load: no other reader is asked, nothing is reported
    } catch (...) {
    }
    if (stream) stream->SetPosition(position);
  }
  // A plug-in that crashed is named to the user rather than hidden behind "could not decode".
  if (fault) std::rethrow_exception(fault);
  return nullptr;
}

// The unit's start-up and shut-down steps.
struct SPIBmpUnit {
  SPIBmpUnit() { TSPIs::SetDefaultGraphicClass(&TSPIBitmap::Class); }
  ~SPIBmpUnit() { TPicture::UnregisterFormatClass(&TSPIBitmap::Class); }
};
const SPIBmpUnit g_unit;

}  // namespace

// Referenced by the library's link options (-u), so the unit's object file, and with it the
// start-up step, is in every program that links the plug-in graphics.
extern "C" {
const void* kor_spibmp_unit_anchor = &g_unit;
}

void InitSPIBitmapUnit() {
  if (!TSPIs::DefaultGraphicClass()) TSPIs::SetDefaultGraphicClass(&TSPIBitmap::Class);
}

std::unique_ptr<TGraphic> TryLoadFromFile(TGraphicClass pluginClass, const std::string& fileName,
                                          TGraphicClass bitmapClass, bool bitmapFirst,
                                          const TProgressEvent& listener) {
  return TryLoad(LoadKind::kFile, pluginClass, nullptr, fileName, bitmapClass, bitmapFirst, listener);
}

std::unique_ptr<TGraphic> TryLoadFromStream(TGraphicClass pluginClass, TStream& stream,
                                            const std::string& fileName, TGraphicClass bitmapClass,
                                            bool bitmapFirst, const TProgressEvent& listener) {
  return TryLoad(LoadKind::kStream, pluginClass, &stream, fileName, bitmapClass, bitmapFirst, listener);
}

TSPIBitmap::TSPIBitmap()
    : loadWithName_([this](TStream& stream, const std::string& fileName) {
        LoadFromStreamWithName(stream, fileName);
      }) {}

TProgressEvent TSPIBitmap::Relay() {
  return [this](TObject* sender, TProgressStage stage, uint8_t percentDone, bool redrawNow, TRect& r,
                const std::string& msg) { RelayProgress(sender, stage, percentDone, redrawNow, r, msg); };
}

void TSPIBitmap::RelayProgress(TObject*, TProgressStage stage, uint8_t percentDone, bool redrawNow, TRect& r,
                               const std::string& msg) {
  if (stage == TProgressStage::psEnding) return;
  ReportProgress(this, stage, percentDone, redrawNow, r, msg);
}

void TSPIBitmap::ReportLoaded() {
  TRect r{0, 0, Width(), Height()};
  ReportProgress(this, TProgressStage::psEnding, 100, true, r, msg::kLoadedGraphic);
}

static bool IsBmpName(const std::string& fileName) {
  return text::UpperCaseAscii(text::ExtractFileExt(fileName)) == ".BMP";
}

void TSPIBitmap::LoadFile(const std::string& fileName) {
  try {
    TakeGraphic(
        TryLoadFromFile(&TSPIGraphic::Class, fileName, BaseBitmapClass(), IsBmpName(fileName), Relay()));
  } catch (...) {
    ReportLoaded();
    throw;
  }
  ReportLoaded();
}

void TSPIBitmap::LoadStream(TStream& stream) { LoadFromStreamWithName(stream, std::string()); }

void TSPIBitmap::LoadFromStreamWithName(TStream& stream, const std::string& fileName) {
  try {
    TakeGraphic(TryLoadFromStream(&TSPIGraphic::Class, stream, fileName, BaseBitmapClass(),
                                  IsBmpName(fileName), Relay()));
  } catch (...) {
    ReportLoaded();
    throw;
  }
  ReportLoaded();
}

void TSPIBitmap::TakeGraphic(std::unique_ptr<TGraphic> graphic) {
  if (!graphic) throw EInvalidGraphic(msg::kSusieCouldNotDecode);
  if (graphic->InheritsFrom(&TSPIGraphic::Class)) {
    auto* spi = static_cast<TSPIGraphic*>(graphic.get());
    platform::OwnedPalette palette(platform::CopyPalette(spi->FourBitPixels() ? spi->Palette() : nullptr));
    std::unique_ptr<TGraphic> bitmap = spi->MakeBitmapAndRelease(BaseBitmapClass());
    CopyFrom(bitmap.get());
    if (palette) SetPalette(palette.release());
  } else {
    CopyFrom(graphic.get());
  }
}

void TSPIBitmap::CopyFrom(const TGraphic* source) {
  if (source && source->InheritsFrom(&TSPIGraphic::Class)) {
    auto* spi = const_cast<TSPIGraphic*>(static_cast<const TSPIGraphic*>(source));
    std::unique_ptr<TGraphic> bitmap = spi->MakeBitmap(BaseBitmapClass());
    TBitmap::CopyFrom(bitmap.get());
    if (spi->FourBitPixels()) {
      platform::OwnedPalette palette(platform::CopyPalette(spi->Palette()));
      if (palette) SetPalette(palette.release());
    }
    return;
  }
  TBitmap::CopyFrom(source);
}
