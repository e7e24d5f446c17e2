// The plug-in-aware bitmap: the plain bitmap, except that it also loads every picture a Susie
// import plug-in decodes and then holds and saves it as an ordinary bitmap.  It is the class
// registered for every extension an import plug-in declares.
#ifndef KORVALE_GRAPHICS_SPI_BITMAP_H
#define KORVALE_GRAPHICS_SPI_BITMAP_H

#include <memory>
#include <string>

#include "graphics/spi_graphic.h"
#include "picture/bitmap.h"
#include "plugins/spis.h"

class TSPIBitmap : public TBitmap {
  KOR_GRAPHIC_CLASS(TSPIBitmap)

 public:
  TSPIBitmap();

  // A TSPIGraphic source is converted through its BMP file image and keeps its picture.
  void CopyFrom(const TGraphic* source) override;
  // ".BMP" (by upper-cased extension) goes to the plain bitmap first, anything else to the
  // plug-ins first.  One ending progress step "Loaded Graphic" per load, also on failure.
  void LoadFile(const std::string& fileName) override;
  void LoadStream(TStream& stream) override;
  // Takes a loaded graphic (or none: "Susie Plugins could not decode"), copies its picture in
  // and frees it.
  virtual void TakeGraphic(std::unique_ptr<TGraphic> graphic);
  virtual void LoadFromStreamWithName(TStream& stream, const std::string& fileName);

  // The listener given to the graphic a load goes through: everything but its ending step is
  // passed on with this bitmap as Sender.
  void RelayProgress(TObject* sender, TProgressStage stage, uint8_t percentDone, bool redrawNow, TRect& r,
                     const std::string& msg);

  // Always this object's own LoadFromStreamWithName; assigning is accepted and changes nothing.
  const TSPILoadFromStreamWithNameEvent& OnLoadFromStreamWithName() const { return loadWithName_; }
  void SetOnLoadFromStreamWithName(const TSPILoadFromStreamWithNameEvent&) {}

 protected:
  // The class this object's class directly derives from (TBitmap for TSPIBitmap itself).
  TGraphicClass BaseBitmapClass() const { return ClassType()->parent; }

 private:
  TProgressEvent Relay();
  void ReportLoaded();

  TSPILoadFromStreamWithNameEvent loadWithName_;
};

// Loads `fileName` with a new graphic of each class in turn (bitmapClass first when bitmapFirst)
// and returns the first that succeeds, or none.  Each attempt's failure is dropped; when both
// fail and a plug-in faulted on the way, that fault is raised instead of returning none.
std::unique_ptr<TGraphic> TryLoadFromFile(TGraphicClass pluginClass, const std::string& fileName,
                                          TGraphicClass bitmapClass, bool bitmapFirst,
                                          const TProgressEvent& listener);
// The same for a stream: its position is noted and set back after every failed attempt; the
// plug-in graphic reads the whole stream (LoadFromStreamWithName), the bitmap from the position.
std::unique_ptr<TGraphic> TryLoadFromStream(TGraphicClass pluginClass, TStream& stream,
                                            const std::string& fileName, TGraphicClass bitmapClass,
                                            bool bitmapFirst, const TProgressEvent& listener);

// Makes sure the unit's start-up step has run (DefaultGraphicClass := TSPIBitmap) and ties the
// unit into the program; the viewer and korconv may call it first thing.  Also linked in by
// the library's own link options, so a program that never calls it gets the step all the same.
void InitSPIBitmapUnit();

#endif
