// The picture container and the registry of file formats.
#ifndef KORVALE_PICTURE_PICTURE_H
#define KORVALE_PICTURE_PICTURE_H

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "picture/graphic.h"

struct TFileFormat {
  TGraphicClass GraphicClass;
  std::string Extension;  // without dot, lower-cased when added
  std::string Description;
  int32_t DescriptionId = 0;
};

// The one registry of the program: created on first use with its four built-in entries
// (wmf, emf, ico, bmp), alive until the program ends.
class TFileFormatsList {
 public:
  TFileFormatsList();
  void Add(const std::string& extension, const std::string& description, int32_t descriptionId,
           TGraphicClass graphicClass);
  void Remove(TGraphicClass graphicClass);  // this class and its descendants, last to first
  TGraphicClass FindByExtension(const std::string& extension) const;
  TGraphicClass FindByClassName(const std::string& name) const;
  const std::vector<TFileFormat>& Entries() const { return entries_; }

 private:
  std::vector<TFileFormat> entries_;
};

TFileFormatsList& FileFormats();
bool FileFormatsExist();

// A new, empty graphic of the class registered for the file name's extension;
// EInvalidGraphic when no class is.
std::unique_ptr<TGraphic> NewGraphicFor(const std::string& fileName);

class IChangeNotifier {
 public:
  virtual ~IChangeNotifier() = default;
  virtual void Changed() = 0;
};

class TPicture : public TObject {
 public:
  TPicture();
  ~TPicture() override;
  TPicture(const TPicture&) = delete;
  TPicture& operator=(const TPicture&) = delete;

  // Registry operations on the class.
  static void RegisterFormat(const std::string& extension, const std::string& description,
                             TGraphicClass graphicClass);
  static void UnregisterFormatClass(TGraphicClass graphicClass);

  // Replaces the graphic only on success, and hands back the one it held.
  std::unique_ptr<TGraphic> LoadFile(const std::string& fileName);
  // Makes a graphic loaded elsewhere this picture's own, as a load would have, and hands back
  // the one it held, no longer tied to this picture.
  std::unique_ptr<TGraphic> Exchange(std::unique_ptr<TGraphic> graphic);
  class TBitmap* AsBitmap();
  TGraphic* Graphic() const { return graphic_.get(); }
  void SetGraphic(TGraphic* value);  // copies value (none: empty)
  void CopyFrom(const TPicture* source);
  void CopyFrom(const TGraphic* source) { SetGraphic(const_cast<TGraphic*>(source)); }
  int32_t Width() const;
  int32_t Height() const;
  void NotifyChanged(TObject* sender);
  void ReportProgress(TObject* sender, TProgressStage stage, uint8_t percentDone, bool redrawNow, TRect& r,
                      const std::string& msg);

  // The stored picture record (designer property "Data"): the class name's length in one
  // byte, the name (at most kMaxStoredClassName characters; a longer one is rejected with
  // EReadError), then the graphic's own stored data.
  static constexpr size_t kMaxStoredClassName = 63;
  void ReadData(TStream& stream);
  void WriteData(TStream& stream);

  TNotifyEvent OnChange;
  TProgressEvent OnProgress;
  IChangeNotifier* Notify = nullptr;

 private:
  void TakeOwnership(std::unique_ptr<TGraphic> g);  // listeners set, previous destroyed, notify
  std::unique_ptr<TGraphic> graphic_;
};

#endif
