// One loaded Susie plug-in (a module) and the identification that picks its class.
//
// Module classes:  TSPI (plain; any unknown API kind)
//                  +- TLoaderSPI (can test data; never built by identification)
//                  |    +- TInSPI  ("00IN", import)
//                  |    +- TAmSPI  ("00AM", archive)
//                  +- TXnSPI ("00XN")
// A TSPIClass names one of them; TSPI::Create(cls, name) builds an object of that class and
// then runs the construction steps through the object's own virtual CheckAPI/IsUsable.
// The library itself is the plug-in runner's (runner.h): in the program it lives in the helper
// process, and a module holds the runner's number for it, the set of entry points it exports and
// the texts it gave.
#ifndef KORVALE_PLUGINS_SPI_H
#define KORVALE_PLUGINS_SPI_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/dynlib.h"
#include "runner/runner.h"
#include "plugins/spi_api.h"
#include "rtl/classes.h"
#include "rtl/exceptions.h"
#include "rtl/format.h"

namespace msg {
inline constexpr const char kSPIFOpenError[] = "%s:Susie Pluginがロードできませんでした";
inline constexpr const char kSPIInvalidAPI[] = "%sは[%s]では使えないSusie Plugin APIです";
inline constexpr const char kSPIDupCreateSPIs[] = "TSPIs は複数生成できません";
}  // namespace msg

// The library cannot be loaded: kSPIFOpenError with the name passed to Create.
KOR_DECLARE_EXCEPTION(ESPIFOpenErrorSPI, Exception);
// An entry point that a check or a call needs is not bound: kSPIInvalidAPI with the entry
// point's name first and the module's FileName second.
KOR_DECLARE_EXCEPTION(ESPIInvalidAPI, Exception);
// Raised by nothing in the host; identification treats it like ESPIFOpenErrorSPI.
KOR_DECLARE_EXCEPTION(ESPIInvalidSPI, Exception);
// A second plug-in set: kSPIDupCreateSPIs.
KOR_DECLARE_EXCEPTION(ESPIDupCreateSPIs, Exception);

class TSPI;

// A class reference to TSPI or a descendant.
struct TSPIMetaClass {
  const char* name;
  const TSPIMetaClass* parent;
  TSPI* (*create)();  // an unconstructed object of the class; TSPI::Create finishes it
};
using TSPIClass = const TSPIMetaClass*;

// True when `cls` is `base` or derives from it.
bool InheritsFrom(TSPIClass cls, TSPIClass base);

#define KOR_SPI_CLASS(Name)                               \
 public:                                                  \
  static const TSPIMetaClass Class;                       \
  TSPIClass ClassType() const override { return &Class; } \
                                                          \
 protected:                                               \
  Name() = default;                                       \
                                                          \
 public:

class TSPI : public TObject {
 public:
  static const TSPIMetaClass Class;
  virtual TSPIClass ClassType() const { return &Class; }
  const char* ClassName() const { return ClassType()->name; }
  // Is this module of class `cls` or of a descendant?
  bool InheritsFrom(TSPIClass cls) const { return ::InheritsFrom(ClassType(), cls); }

  // Builds a module of class `cls` on `fileName`: load, full path, bind the nine entry points,
  // CheckAPI, the information texts, Usable (the runner loads, binds and asks the texts in one
  // step; the texts are asked only when the kind's required entry points are there).  Raises
  // ESPIFOpenErrorSPI or ESPIInvalidAPI; the partly built module is destroyed (library released) before the
  // error passes on.
  static std::unique_ptr<TSPI> Create(TSPIClass cls, const std::string& fileName);

  ~TSPI() override;  // frees the lists, then releases the library
  TSPI(const TSPI&) = delete;
  TSPI& operator=(const TSPI&) = delete;

  // The runner's number of the library as a handle; null when none is held.
  platform::LibraryHandle Handle() const {
    return reinterpret_cast<platform::LibraryHandle>(static_cast<uintptr_t>(module_));
  }
  const std::string& FileName() const { return fileName_; }
  const std::string& APIVersion() const { return apiVersion_; }
  const std::string& About() const { return about_; }
  const TStringList& Extensions() const { return *extensions_; }
  const TStringList& Descriptions() const { return *descriptions_; }
  bool Usable() const { return usable_; }

  // The library's export of that name, or null (always null when the library is in the helper).
  void* GetProc(const char* name) const;

  // Entry-point wrappers: RequireProc on the slot, then the call with the arguments unchanged.
  // They call into this process and so work only with the in-process runner; with the library
  // in the helper they raise ESPIInvalidAPI.  The decode sources use the runner calls below.
  int32_t GetPluginInfo(int32_t infoNo, char* buffer, int32_t bufferLength);

  // The nine entry-point slots, in declaration order.
  enum TProcSlot : int {
    psGetPluginInfo,
    psIsSupported,
    psGetPictureInfo,
    psGetPicture,
    psGetPreview,
    psGetArchiveInfo,
    psGetFileInfo,
    psGetFile,
    psConfigurationDlg,
    psSlotCount
  };
  void* Slot(TProcSlot slot) const { return procs_[slot]; }
  bool Bound(TProcSlot slot) const { return (bound_ >> slot) & 1u; }
  spirun::ModuleId Module() const { return module_; }

 protected:
  TSPI() = default;

  // Ensures the kind's required entry points are bound, in order; the first missing one
  // raises ESPIInvalidAPI.
  virtual void CheckAPI();
  // Whether the host uses this kind (import and archive modules).
  virtual bool IsUsable() { return false; }
  // The entry points CheckAPI requires, as a set of slots.
  virtual uint32_t RequiredProcs() const { return 1u << psGetPluginInfo; }

  void BindProc(TProcSlot slot, const char* name);
  void RequireProc(TProcSlot slot, const char* name) const;

  template <typename Fn>
  Fn Proc(TProcSlot slot, const char* name) const {
    RequireProc(slot, name);
    if (!procs_[slot]) throw ESPIInvalidAPI(Format(msg::kSPIInvalidAPI, {name, fileName_}));
    return reinterpret_cast<Fn>(procs_[slot]);
  }

 private:
  void Construct(const std::string& fileName);

  spirun::ModuleId module_ = 0;
  uint32_t bound_ = 0;
  std::string fileName_;
  std::string apiVersion_;
  std::string about_;
  std::unique_ptr<TStringList> extensions_ = std::make_unique<TStringList>();
  std::unique_ptr<TStringList> descriptions_ = std::make_unique<TStringList>();
  bool usable_ = false;
  void* procs_[psSlotCount] = {};
};

class TLoaderSPI : public TSPI {
  KOR_SPI_CLASS(TLoaderSPI)
  int32_t IsSupported(const char* fileName, spi_dw_t dw);
  // IsSupported through the runner with the name and the header buffer at `offset`.
  int32_t RunIsSupported(const std::string& name, const uint8_t (&header)[spirun::kHeaderBytes],
                         int32_t offset, spirun::Fault& fault);

 protected:
  void CheckAPI() override;
  uint32_t RequiredProcs() const override { return TSPI::RequiredProcs() | 1u << psIsSupported; }
};

class TInSPI : public TLoaderSPI {
  KOR_SPI_CLASS(TInSPI)
  int32_t GetPictureInfo(const char* buffer, spi_len_t length, uint32_t flag, SPI_PICTINFO* info);
  int32_t GetPicture(const char* buffer, spi_len_t length, uint32_t flag, spi_hlocal_t* infoHandle,
                     spi_hlocal_t* bitsHandle, SPI_PROGRESS progress, spi_len_t data);
  // Required of no kind: raises ESPIInvalidAPI ("GetPreview" first) when the library lacks it.
  int32_t GetPreview(const char* buffer, spi_len_t length, uint32_t flag, spi_hlocal_t* infoHandle,
                     spi_hlocal_t* bitsHandle, SPI_PROGRESS progress, spi_len_t data);

  // GetPictureInfo, GetPicture and GetPreview through the runner, after RequireProc (so a
  // missing GetPreview raises ESPIInvalidAPI as its wrapper does).
  int32_t RunGetPictureInfo(const spirun::Input& input, spirun::PictureInfo& info, spirun::Fault& fault);
  int32_t RunGetPicture(bool preview, const spirun::Input& input, const spirun::Progress& progress,
                        std::unique_ptr<TDecodedPicture>& picture, spirun::Fault& fault);

 protected:
  void CheckAPI() override;
  bool IsUsable() override { return true; }
  uint32_t RequiredProcs() const override {
    return TLoaderSPI::RequiredProcs() | 1u << psGetPictureInfo | 1u << psGetPicture;
  }
};

class TAmSPI : public TLoaderSPI {
  KOR_SPI_CLASS(TAmSPI)
  // GetArchiveInfo, GetFileInfo and GetFile (memory output only) through the runner, after
  // RequireProc.
  int32_t RunGetArchiveInfo(const spirun::Input& input, std::vector<spirun::ArchiveEntry>& entries, bool& cut,
                            spirun::Fault& fault);
  int32_t RunGetFileInfo(const spirun::Input& input, const std::string& name, uint32_t flag,
                         spirun::ArchiveEntry& entry, spirun::Fault& fault);
  int32_t RunGetFile(const spirun::Input& input, const spirun::ArchiveEntry& entry, uint64_t limit,
                     const spirun::Progress& progress, std::vector<uint8_t>& bytes, spirun::Fault& fault);

 protected:
  void CheckAPI() override;
  bool IsUsable() override { return true; }
  uint32_t RequiredProcs() const override {
    return TLoaderSPI::RequiredProcs() | 1u << psGetArchiveInfo | 1u << psGetFileInfo | 1u << psGetFile;
  }
};

class TXnSPI : public TSPI {
  KOR_SPI_CLASS(TXnSPI)
};

// Identifies the file's kind: a plain module first, then a module of the class its API kind
// names ("00IN", "00AM", "00XN", case significant; anything else a plain TSPI).  Returns null
// when either creation raises ESPIFOpenErrorSPI or ESPIInvalidSPI; every other error passes on.
std::unique_ptr<TSPI> CreateSPI(const std::string& fileName);

#endif
