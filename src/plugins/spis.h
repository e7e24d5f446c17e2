// The plug-in set: the one component that owns the loaded Susie plug-ins, finds them in the
// configured folders, registers the formats of import plug-ins and chooses the modules to ask
// for a given file.
#ifndef KORVALE_PLUGINS_SPIS_H
#define KORVALE_PLUGINS_SPIS_H

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "picture/graphic.h"
#include "plugins/spi.h"
#include "rtl/classes.h"
#include "rtl/exceptions.h"
#include "rtl/streams.h"

enum TSPISearchOption : uint8_t { spsSusieDir, spsAppDir, spsCurrentDir, spsSystemDir, spsWindowsDir };

// A set of search options in one byte, bit 0 for spsSusieDir.
// The plug-in helper could not be started, so no plug-in can be used; BMP still reads.
KOR_DECLARE_EXCEPTION(ESPIHelperMissing, Exception);

// Raises ESPIHelperMissing naming the helper program when an attempt to start it failed since
// the last call: once, however many plug-ins it would have served.
void RaiseMissingHelper();

class TSPISearchOptions {
 public:
  constexpr TSPISearchOptions() = default;
  constexpr TSPISearchOptions(std::initializer_list<TSPISearchOption> options) {
    for (TSPISearchOption o : options) bits_ = static_cast<uint8_t>(bits_ | (1u << o));
  }
  constexpr bool Contains(TSPISearchOption o) const { return (bits_ >> o) & 1u; }
  constexpr void Include(TSPISearchOption o) { bits_ = static_cast<uint8_t>(bits_ | (1u << o)); }
  constexpr void Exclude(TSPISearchOption o) { bits_ = static_cast<uint8_t>(bits_ & ~(1u << o)); }
  constexpr uint8_t Bits() const { return bits_; }
  constexpr bool operator==(const TSPISearchOptions& o) const { return bits_ == o.bits_; }
  constexpr bool operator!=(const TSPISearchOptions& o) const { return bits_ != o.bits_; }

 private:
  uint8_t bits_ = 0;
};

// (Sender, full path of a found file, Accept in/out): false leaves the file unloaded.
using TSPISearchingEvent = std::function<void(TObject* Sender, const std::string& FileName, bool& Accept)>;
// (Sender, new module, Accept in/out): false destroys the module instead of adding it.
using TSPISearchEvent = std::function<void(TObject* Sender, TSPI* ASPI, bool& Accept)>;
// (Sender, module, extension, description, class in/out): null leaves the extension unregistered.
using TSPIPictureRegisterEvent =
    std::function<void(TObject* Sender, TInSPI* ASPI, const std::string& AExtension,
                       const std::string& ADescription, TGraphicClass& AGraphicClass)>;
// A load-from-stream handler that also gets the name the data came from.
using TSPILoadFromStreamWithNameEvent = std::function<void(TStream& Stream, const std::string& FileName)>;

class TSPIs : public TComponent {
 public:
  // Raises ESPIDupCreateSPIs when a set already exists (the existing one stays unchanged).
  explicit TSPIs(TComponent* owner);
  // Clears the single instance, then destroys the modules first to last.  Registered formats
  // stay registered.
  ~TSPIs() override;

  // When AutoSearch is on, looks for the plug-ins of both bitnesses (*.spi and *.sph) as
  // Search does, each folder's files of both kinds in the order the folder lists them.
  void SettingsApplied() override;

  int Count() const;
  TSPI* Items(int index) const;  // bad index: EStringListError with the list-index text
  void Add(std::unique_ptr<TSPI> spi);
  // Takes ownership (null is ignored); an import module's formats are registered with the
  // picture registry.
  void Insert(int index, std::unique_ptr<TSPI> spi);
  // Destroys the module; its formats stay registered.  Clears GraphicForcedLoader if it was it.
  void Delete(int index);
  void Clear();
  // Index of the first module whose FileName equals `fileName`, A-Z case ignored; -1 if none.
  int IndexOfFile(const std::string& fileName) const;
  // Appends the modules of any of `classes` to `list`: those declaring the extension of
  // `fileName` first, in reverse set order, then the others in set order.
  void FindSPIs(const std::vector<TSPIClass>& classes, const std::string& fileName,
                std::vector<TSPI*>& list) const;
  // Looks for plug-ins: in the mask's folder if it names one, else in the folders of
  // SearchOptions in option order.
  void Search(const std::string& mask);

  static void SetDefaultGraphicClass(TGraphicClass cls);
  static TGraphicClass DefaultGraphicClass();

  TSPISearchOptions SearchOptions() const { return searchOptions_; }
  void SetSearchOptions(TSPISearchOptions v) { searchOptions_ = v; }
  bool AutoSearch() const { return autoSearch_; }
  void SetAutoSearch(bool v) { autoSearch_ = v; }
  bool MacBinary() const { return macBinary_; }
  void SetMacBinary(bool v) { macBinary_ = v; }
  bool GraphicPreview() const { return graphicPreview_; }
  void SetGraphicPreview(bool v) { graphicPreview_ = v; }
  // Not owned; a module of this set.  Deleting that module clears it.
  TInSPI* GraphicForcedLoader() const { return graphicForcedLoader_; }
  void SetGraphicForcedLoader(TInSPI* v) { graphicForcedLoader_ = v; }

  TSPISearchEvent OnSearch;
  TSPISearchingEvent OnSearching;
  TSPIPictureRegisterEvent OnPictureRegister;

  // A plug-in the search found but left out because it cannot run here (its bitness cannot, or
  // its helper cannot be started), with the reason in the system's words.
  struct TSkipped {
    std::string FileName;
    std::string Reason;
  };
  const std::vector<TSkipped>& Skipped() const { return skipped_; }

 private:
  // The folders of SearchOptions in option order, each with the files matching any of `masks`.
  void SearchFolders(const std::vector<std::string>& masks);
  void SearchDir(const std::string& folder, const std::vector<std::string>& masks);
  void RegisterFormats(TInSPI& spi);

  std::unique_ptr<std::vector<std::unique_ptr<TSPI>>> list_;
  TSPISearchOptions searchOptions_{spsSusieDir, spsAppDir};
  bool autoSearch_ = true;
  bool macBinary_ = true;
  bool graphicPreview_ = false;
  TInSPI* graphicForcedLoader_ = nullptr;
  std::vector<TSkipped> skipped_;
};

// The single plug-in set, or null when none exists.
TSPIs* GetSPIs();

#endif
