#include "plugins/spi.h"

#include <cstring>
#include <vector>

#include "rtl/format.h"

bool InheritsFrom(TSPIClass cls, TSPIClass base) {
  for (; cls; cls = cls->parent)
    if (cls == base) return true;
  return false;
}

const TSPIMetaClass TSPI::Class = {"TSPI", nullptr, []() -> TSPI* { return new TSPI(); }};
const TSPIMetaClass TLoaderSPI::Class = {"TLoaderSPI", &TSPI::Class,
                                         []() -> TSPI* { return new TLoaderSPI(); }};
const TSPIMetaClass TInSPI::Class = {"TInSPI", &TLoaderSPI::Class, []() -> TSPI* { return new TInSPI(); }};
const TSPIMetaClass TAmSPI::Class = {"TAmSPI", &TLoaderSPI::Class, []() -> TSPI* { return new TAmSPI(); }};
const TSPIMetaClass TXnSPI::Class = {"TXnSPI", &TSPI::Class, []() -> TSPI* { return new TXnSPI(); }};

std::unique_ptr<TSPI> TSPI::Create(TSPIClass cls, const std::string& fileName) {
  std::unique_ptr<TSPI> spi(cls->create());
  spi->Construct(fileName);  // on error the unique_ptr frees the lists and the library
  return spi;
}

TSPI::~TSPI() {
  extensions_.reset();
  descriptions_.reset();
  if (module_) spirun::Current().Release(module_);
  module_ = 0;
}

void TSPI::Construct(const std::string& fileName) {
  spirun::Runner& runner = spirun::Current();
  spirun::LoadResult loaded = runner.Load(fileName, RequiredProcs());
  if (!loaded.Id) throw ESPIFOpenErrorSPI(Format(msg::kSPIFOpenError, {fileName}));
  module_ = loaded.Id;
  fileName_ = loaded.FullName.empty() ? fileName : loaded.FullName;

  // The runner bound the nine entry points in construction order; the addresses exist only when
  // the library is in this process.
  bound_ = loaded.Bound;
  for (int slot = 0; slot < psSlotCount; ++slot)
    if (Bound(static_cast<TProcSlot>(slot))) procs_[slot] = runner.Proc(module_, spirun::kEntryNames[slot]);

  CheckAPI();

  if (loaded.HasKind) apiVersion_ = loaded.Kind;
  if (loaded.HasAbout) about_ = loaded.About;
  for (auto& pair : loaded.Pairs) {
    extensions_->Add(pair.first);
    descriptions_->Add(pair.second);
  }

  usable_ = IsUsable();
}

void* TSPI::GetProc(const char* name) const {
  return module_ ? spirun::Current().Proc(module_, name) : nullptr;
}

void TSPI::BindProc(TProcSlot slot, const char* name) { procs_[slot] = GetProc(name); }

void TSPI::RequireProc(TProcSlot slot, const char* name) const {
  if (!Bound(slot)) throw ESPIInvalidAPI(Format(msg::kSPIInvalidAPI, {name, fileName_}));
}

void TSPI::CheckAPI() { RequireProc(psGetPluginInfo, "GetPluginInfo"); }

int32_t TSPI::GetPluginInfo(int32_t infoNo, char* buffer, int32_t bufferLength) {
  return Proc<SPI_GetPluginInfo>(psGetPluginInfo, "GetPluginInfo")(infoNo, buffer, bufferLength);
}

int32_t TLoaderSPI::RunIsSupported(const std::string& name, const uint8_t (&header)[spirun::kHeaderBytes],
                                   int32_t offset, spirun::Fault& fault) {
  RequireProc(psIsSupported, "IsSupported");
  return spirun::Current().IsSupported(Module(), name, header, offset, fault);
}

void TLoaderSPI::CheckAPI() {
  TSPI::CheckAPI();
  RequireProc(psIsSupported, "IsSupported");
}

int32_t TLoaderSPI::IsSupported(const char* fileName, spi_dw_t dw) {
  return Proc<SPI_IsSupported>(psIsSupported, "IsSupported")(fileName, dw);
}

void TInSPI::CheckAPI() {
  TLoaderSPI::CheckAPI();
  RequireProc(psGetPictureInfo, "GetPictureInfo");
  RequireProc(psGetPicture, "GetPicture");
}

int32_t TInSPI::GetPictureInfo(const char* buffer, spi_len_t length, uint32_t flag, SPI_PICTINFO* info) {
  return Proc<SPI_GetPictureInfo>(psGetPictureInfo, "GetPictureInfo")(buffer, length, flag, info);
}

int32_t TInSPI::GetPicture(const char* buffer, spi_len_t length, uint32_t flag, spi_hlocal_t* infoHandle,
                           spi_hlocal_t* bitsHandle, SPI_PROGRESS progress, spi_len_t data) {
  return Proc<SPI_GetPicture>(psGetPicture, "GetPicture")(buffer, length, flag, infoHandle, bitsHandle,
                                                          progress, data);
}

int32_t TInSPI::GetPreview(const char* buffer, spi_len_t length, uint32_t flag, spi_hlocal_t* infoHandle,
                           spi_hlocal_t* bitsHandle, SPI_PROGRESS progress, spi_len_t data) {
  return Proc<SPI_GetPreview>(psGetPreview, "GetPreview")(buffer, length, flag, infoHandle, bitsHandle,
                                                          progress, data);
}

int32_t TInSPI::RunGetPictureInfo(const spirun::Input& input, spirun::PictureInfo& info,
                                  spirun::Fault& fault) {
  RequireProc(psGetPictureInfo, "GetPictureInfo");
  return spirun::Current().GetPictureInfo(Module(), input, info, fault);
}

int32_t TInSPI::RunGetPicture(bool preview, const spirun::Input& input, const spirun::Progress& progress,
                              std::unique_ptr<TDecodedPicture>& picture, spirun::Fault& fault) {
  if (preview)
    RequireProc(psGetPreview, "GetPreview");
  else
    RequireProc(psGetPicture, "GetPicture");
  return spirun::Current().GetPicture(Module(), preview, input, progress, picture, fault);
}

void TAmSPI::CheckAPI() {
  TLoaderSPI::CheckAPI();
  RequireProc(psGetArchiveInfo, "GetArchiveInfo");
  RequireProc(psGetFileInfo, "GetFileInfo");
  RequireProc(psGetFile, "GetFile");
}

int32_t TAmSPI::RunGetArchiveInfo(const spirun::Input& input, std::vector<spirun::ArchiveEntry>& entries,
                                  bool& cut, spirun::Fault& fault) {
  RequireProc(psGetArchiveInfo, "GetArchiveInfo");
  return spirun::Current().GetArchiveInfo(Module(), input, entries, cut, fault);
}

int32_t TAmSPI::RunGetFileInfo(const spirun::Input& input, const std::string& name, uint32_t flag,
                               spirun::ArchiveEntry& entry, spirun::Fault& fault) {
  RequireProc(psGetFileInfo, "GetFileInfo");
  return spirun::Current().GetFileInfo(Module(), input, name, flag, entry, fault);
}

int32_t TAmSPI::RunGetFile(const spirun::Input& input, const spirun::ArchiveEntry& entry, uint64_t limit,
                           const spirun::Progress& progress, std::vector<uint8_t>& bytes, spirun::Fault& fault) {
  RequireProc(psGetFile, "GetFile");
  return spirun::Current().GetFile(Module(), input, entry.Position, entry.FileSize, limit, progress, bytes, fault);
}

namespace {
TSPIClass ClassOfKind(const std::string& apiVersion) {
  if (apiVersion == "00IN") return &TInSPI::Class;
  if (apiVersion == "00AM") return &TAmSPI::Class;
  if (apiVersion == "00XN") return &TXnSPI::Class;
  return &TSPI::Class;
}
}  // namespace

std::unique_ptr<TSPI> CreateSPI(const std::string& fileName) {
  try {
    // The plain module lives until the final one is built, so the library is loaded twice
    // and the final module's reference keeps it in memory after the plain one is gone.
    std::unique_ptr<TSPI> plain = TSPI::Create(&TSPI::Class, fileName);
    return TSPI::Create(ClassOfKind(plain->APIVersion()), fileName);
  } catch (const ESPIFOpenErrorSPI&) {
    return nullptr;
  } catch (const ESPIInvalidSPI&) {
    return nullptr;
  }
}
