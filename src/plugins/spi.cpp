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

namespace {
// Every GetPluginInfo answer lands in a buffer one byte longer than the length the plug-in is
// told, and the host writes the final NUL itself, so a plug-in that fills all it was given
// never makes the host read past the buffer.
constexpr int32_t kInfoLength = 255;
constexpr size_t kInfoBufferSize = 257;
// A plug-in that answers every number would otherwise keep the host asking for ever; no real
// plug-in declares anywhere near this many formats.
constexpr int32_t kMaxFormatPairs = 1024;
}  // namespace

std::unique_ptr<TSPI> TSPI::Create(TSPIClass cls, const std::string& fileName) {
  std::unique_ptr<TSPI> spi(cls->create());
  spi->Construct(fileName);  // on error the unique_ptr frees the lists and the library
  return spi;
}

TSPI::~TSPI() {
  extensions_.reset();
  descriptions_.reset();
  library_.Reset();
}

void TSPI::Construct(const std::string& fileName) {
  library_ = platform::DynamicLibrary(fileName);
  if (!library_) throw ESPIFOpenErrorSPI(Format(msg::kSPIFOpenError, {fileName}));
  std::string full = library_.FileName(255);
  fileName_ = full.empty() ? fileName : full;

  BindProc(psGetPluginInfo, "GetPluginInfo");
  BindProc(psConfigurationDlg, "ConfigurationDlg");
  BindProc(psIsSupported, "IsSupported");
  BindProc(psGetPictureInfo, "GetPictureInfo");
  BindProc(psGetPicture, "GetPicture");
  BindProc(psGetPreview, "GetPreview");
  BindProc(psGetArchiveInfo, "GetArchiveInfo");
  BindProc(psGetFileInfo, "GetFileInfo");
  BindProc(psGetFile, "GetFile");

  CheckAPI();

  Info(0, apiVersion_);
  Info(1, about_);

  for (int32_t n = 2; n < 2 + 2 * kMaxFormatPairs; n += 2) {
    std::string ext, desc;
    if (!Info(n, ext) || !Info(n + 1, desc)) break;
    extensions_->Add(ext);
    descriptions_->Add(desc);
  }

  usable_ = IsUsable();
}

bool TSPI::Info(int32_t infoNo, std::string& text) {
  std::vector<char> buffer(kInfoBufferSize, '\0');
  int32_t r = GetPluginInfo(infoNo, buffer.data(), kInfoLength);
  if (r <= 0) return false;
  buffer[kInfoLength] = '\0';
  text.assign(buffer.data(), std::strlen(buffer.data()));
  return true;
}

void* TSPI::GetProc(const char* name) const { return library_.Proc(name); }

void TSPI::BindProc(TProcSlot slot, const char* name) { procs_[slot] = GetProc(name); }

void TSPI::RequireProc(TProcSlot slot, const char* name) const {
  if (!procs_[slot]) throw ESPIInvalidAPI(Format(msg::kSPIInvalidAPI, {name, fileName_}));
}

void TSPI::CheckAPI() { RequireProc(psGetPluginInfo, "GetPluginInfo"); }

int32_t TSPI::GetPluginInfo(int32_t infoNo, char* buffer, int32_t bufferLength) {
  return Proc<SPI_GetPluginInfo>(psGetPluginInfo, "GetPluginInfo")(infoNo, buffer, bufferLength);
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

void TAmSPI::CheckAPI() {
  TLoaderSPI::CheckAPI();
  RequireProc(psGetArchiveInfo, "GetArchiveInfo");
  RequireProc(psGetFileInfo, "GetFileInfo");
  RequireProc(psGetFile, "GetFile");
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
