#include "graphics/spi_decode.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "graphics/plugin_call.h"
#include "platform/files.h"
#include "plugins/spis.h"
#include "rtl/format.h"
#include "rtl/text.h"

int32_t MulDiv(int32_t number, int32_t numerator, int32_t denominator) {
  if (denominator == 0) return -1;
  int64_t product = static_cast<int64_t>(number) * numerator;
  int64_t divisor = denominator;
  if (divisor < 0) {
    product = -product;
    divisor = -divisor;
  }
  // Round the magnitude, so that halves go away from zero.
  int64_t half = divisor / 2;
  int64_t result = product >= 0 ? (product + half) / divisor : -((-product + half) / divisor);
  if (result > std::numeric_limits<int32_t>::max() || result < std::numeric_limits<int32_t>::min()) return -1;
  return static_cast<int32_t>(result);
}

bool ComputeLayout(const platform::BitmapInfoHeader& h, TDecodedLayout& out) {
  out = TDecodedLayout{};
  const uint16_t bits = h.biBitCount;
  if (h.biSize < 40) return false;
  if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 && bits != 32) return false;
  if (h.biWidth <= 0 || h.biHeight == 0) return false;
  int64_t colors = h.biClrUsed;
  if (colors == 0) colors = bits == 1 ? 2 : bits == 4 ? 16 : bits == 8 ? 256 : 0;
  // A bit-field picture keeps its three masks between the header and the colours; without them
  // the BMP file image would read the first pixels as masks.
  const int64_t masks = (h.biCompression == platform::kBI_BITFIELDS && (bits == 16 || bits == 32)) ? 12 : 0;
  const int64_t infoSize = 40 + masks + 4 * colors;
  const int64_t rowBytes = (static_cast<int64_t>(h.biWidth) * bits + 31) / 32 * 4;
  const int64_t rows = h.biHeight < 0 ? -static_cast<int64_t>(h.biHeight) : h.biHeight;
  const int64_t bitsSize = rowBytes * rows;
  const int64_t limit = std::numeric_limits<int32_t>::max();
  if (infoSize > limit || bitsSize > limit || 14 + infoSize + bitsSize > limit) return false;
  out.Width = h.biWidth;
  out.Height = h.biHeight;
  out.BitCount = bits;
  out.ColorCount = static_cast<int32_t>(colors);
  out.MaskBytes = static_cast<int32_t>(masks);
  out.InfoSize = static_cast<int32_t>(infoSize);
  out.BitsSize = static_cast<int32_t>(bitsSize);
  out.FourBitPixels = bits == 4;
  return true;
}

// ---- TInSPIAbleData ----

TInSPIAbleData::TInSPIAbleData(TObject* owner, std::string fileName)
    : owner_(owner), fileName_(std::move(fileName)) {}

TInSPIAbleData::~TInSPIAbleData() { FreeHandles(); }

const void* TInSPIAbleData::BitmapInfo() {
  if (!info_ && infoHandle_) info_ = platform::LocalLockBlock(infoHandle_);
  return info_;
}

const void* TInSPIAbleData::Bits() {
  if (!bits_ && bitsHandle_) bits_ = platform::LocalLockBlock(bitsHandle_);
  return bits_;
}

void TInSPIAbleData::FreeHandles() {
  if (info_) {
    platform::LocalUnlockBlock(infoHandle_);
    info_ = nullptr;
  }
  if (bits_) {
    platform::LocalUnlockBlock(bitsHandle_);
    bits_ = nullptr;
  }
  if (infoHandle_) platform::LocalFreeBlock(infoHandle_);
  if (bitsHandle_) platform::LocalFreeBlock(bitsHandle_);
  if (pictureInfo_.hInfo) platform::LocalFreeBlock(pictureInfo_.hInfo);
  infoHandle_ = bitsHandle_ = nullptr;
  pictureInfo_.hInfo = nullptr;
}

void TInSPIAbleData::DoProgress(TProgressStage stage, uint8_t percentDone, const std::string& msg) {
  if (!OnProgress) return;
  TRect r{};
  OnProgress(owner_, stage, percentDone, stage == TProgressStage::psEnding, r, msg);
}

int32_t SPI_CALL TInSPIAbleData::ProgressCallback(int32_t done, int32_t total, spi_len_t data) {
  // Nothing may propagate through the plug-in's frames: the abort request becomes 1, any other
  // failure is kept and rethrown once the plug-in has returned.
  auto* self = reinterpret_cast<TInSPIAbleData*>(data);
  if (!self || !self->OnProgress) return 0;
  if (self->pendingFailure_) return 1;
  try {
    const uint8_t percent = static_cast<uint8_t>(MulDiv(done, 97, total) + 2);
    self->DoProgress(TProgressStage::psRunning, percent, std::string());
  } catch (const EAbort&) {
    return 1;
  } catch (...) {
    self->pendingFailure_ = std::current_exception();
    return 1;
  }
  return 0;
}

std::vector<TInSPI*> TInSPIAbleData::FindCandidates() const {
  std::vector<TInSPI*> list;
  TSPIs* set = GetSPIs();
  if (!set) return list;
  if (TInSPI* forced = set->GraphicForcedLoader()) {
    list.push_back(forced);
    return list;
  }
  std::vector<TSPI*> found;
  set->FindSPIs({&TInSPI::Class}, fileName_, found);
  for (TSPI* m : found) list.push_back(static_cast<TInSPI*>(m));
  return list;
}

void TInSPIAbleData::Faulted(TInSPI& module, const char* entry, const TPluginFault& fault) {
  char code[16];
  std::snprintf(code, sizeof code, "%08X", static_cast<unsigned>(fault.Code));
  throw ESPIPluginFault(
      Format(msg::kSusiePluginFault, {text::ExtractFileName(module.FileName()), entry, code}));
}

int32_t TInSPIAbleData::QueryInfo(TInSPI& module, const char* buf, spi_len_t len, uint32_t flag) {
  int32_t result = -1;
  TPluginFault fault;
  if (!GuardedCall([&] { result = module.GetPictureInfo(buf, len, flag, &pictureInfo_); }, fault)) {
    FreeHandles();  // a text handle it may have left in the record
    Faulted(module, "GetPictureInfo", fault);
  }
  return result;
}

int32_t TInSPIAbleData::DecodePicture(TInSPI& module, bool preview, const char* buf, spi_len_t len,
                                      uint32_t flag) {
  spi_hlocal_t info = nullptr;
  spi_hlocal_t bits = nullptr;
  int32_t result = -1;
  pendingFailure_ = nullptr;
  TPluginFault fault;
  const spi_len_t data = reinterpret_cast<spi_len_t>(this);
  bool returned = GuardedCall(
      [&] {
        result = preview ? module.GetPreview(buf, len, flag, &info, &bits, &ProgressCallback, data)
                         : module.GetPicture(buf, len, flag, &info, &bits, &ProgressCallback, data);
      },
      fault);
  if (!returned) {
    // Whatever it handed over before the fault is freed.
    infoHandle_ = info;
    bitsHandle_ = bits;
    FreeHandles();
    Faulted(module, preview ? "GetPreview" : "GetPicture", fault);
  }
  if (result == 0) {
    infoHandle_ = info;
    bitsHandle_ = bits;
  } else {
    infoHandle_ = bitsHandle_ = nullptr;
  }
  if (pendingFailure_) {
    std::exception_ptr failure = pendingFailure_;
    pendingFailure_ = nullptr;
    CheckPicture();
    std::rethrow_exception(failure);
  }
  return result;
}

void TInSPIAbleData::CheckPicture() {
  if (IsEmpty()) return;
  bool fits = false;
  const size_t infoBytes = platform::LocalBlockSize(infoHandle_);
  const size_t bitsBytes = platform::LocalBlockSize(bitsHandle_);
  if (infoBytes >= sizeof(platform::BitmapInfoHeader)) {
    const void* info = BitmapInfo();
    platform::BitmapInfoHeader header;
    TDecodedLayout layout;
    if (info) {
      std::memcpy(&header, info, sizeof header);
      fits = ComputeLayout(header, layout) && static_cast<size_t>(layout.InfoSize) <= infoBytes &&
             static_cast<size_t>(layout.BitsSize) <= bitsBytes && Bits() != nullptr;
    }
  }
  if (!fits) FreeHandles();
}

void TInSPIAbleData::TryPlugin(TInSPI& module, const uint8_t* buffer, int32_t offset) {
  const char* buf = nullptr;
  spi_len_t len = 0;
  uint32_t flag = 0;
  if (!Locate(offset, buf, len, flag)) return;
  int32_t supported = 0;
  TPluginFault fault;
  const spi_dw_t dw = static_cast<spi_dw_t>(reinterpret_cast<uintptr_t>(buffer + offset));
  if (!GuardedCall([&] { supported = module.IsSupported(fileName_.c_str(), dw); }, fault))
    Faulted(module, "IsSupported", fault);
  if (supported == 0) return;
  QueryInfo(module, buf, len, flag);
  TSPIs* set = GetSPIs();
  if (set && set->GraphicPreview()) {
    try {
      DecodePicture(module, true, buf, len, flag);
    } catch (const ESPIInvalidAPI&) {
      infoHandle_ = bitsHandle_ = nullptr;  // no GetPreview: nothing was returned
    }
    CheckPicture();
    if (!IsEmpty()) return;
    FreeHandles();
  }
  DecodePicture(module, false, buf, len, flag);
  CheckPicture();
}

void TInSPIAbleData::Decode() {
  TSPIs* set = GetSPIs();
  const bool macBinary = set && set->MacBinary();
  DoProgress(TProgressStage::psStarting, 0, msg::kLoadingBySusie);
  try {
    FreeHandles();
    DoProgress(TProgressStage::psRunning, 1, msg::kSeekingSusie);
    const std::vector<TInSPI*> candidates = FindCandidates();
    std::vector<uint8_t> header(kHeaderSize, 0);
    ReadHeader(header.data(), kHeaderSize);
    const size_t count = candidates.size();
    const int offsets = macBinary ? 2 : 1;
    bool decoded = false;
    for (size_t i = 0; i < count && !decoded; ++i) {
      TInSPI& module = *candidates[i];
      for (int k = 0; k < offsets && !decoded; ++k) {
        DoProgress(TProgressStage::psRunning, 1,
                   Format(msg::kLoadingBy, {text::ExtractFileName(module.FileName())}));
        TryPlugin(module, header.data(), kMacBinaryOffsets[k]);
        decoded = !IsEmpty();
        if (!decoded) FreeHandles();
      }
    }
  } catch (...) {
    DoProgress(TProgressStage::psEnding, 100, msg::kLoadedBySusie);
    throw;
  }
  DoProgress(TProgressStage::psEnding, 100, msg::kLoadedBySusie);
}

// ---- TInSPIAbleFromFile ----

TInSPIAbleFromFile::TInSPIAbleFromFile(TObject* owner, const std::string& fileName)
    : TInSPIAbleData(owner, fileName) {}

void TInSPIAbleFromFile::ReadHeader(uint8_t* buffer, int32_t count) {
  // Any failure leaves the zeros: the plug-ins are asked all the same.
  platform::FileHandle f = platform::FileOpenRead(FileName());
  if (f == platform::kInvalidFile) return;
  int64_t done = 0;
  while (done < count) {
    int64_t n = platform::FileRead(f, buffer + done, count - done);
    if (n <= 0) break;
    done += n;
  }
  platform::FileClose(f);
}

bool TInSPIAbleFromFile::Locate(int32_t offset, const char*& buf, spi_len_t& len, uint32_t& flag) {
  buf = FileName().c_str();
  len = offset;
  flag = SPI_INPUT_FILE;
  return true;
}

// ---- TInSPIAbleFromStream ----

TInSPIAbleFromStream::TInSPIAbleFromStream(TObject* owner, TStream& stream, const std::string& fileName)
    : TInSPIAbleData(owner, fileName) {
  TCustomMemoryStream* memory = dynamic_cast<TMemoryStream*>(&stream);
  if (!memory) {
    ownedCopy_ = std::make_unique<TMemoryStream>();
    ownedCopy_->LoadFromStream(stream);
    memory = ownedCopy_.get();
  }
  memory_ = static_cast<const uint8_t*>(memory->Memory());
  // Plug-ins take a 32-bit length: a larger stream is offered as its first 2 GB.
  size_ = static_cast<int32_t>(std::min<int64_t>(memory->Size(), std::numeric_limits<int32_t>::max()));
}

// The copy goes first, then the base frees the plug-in's blocks.
TInSPIAbleFromStream::~TInSPIAbleFromStream() { ownedCopy_.reset(); }

void TInSPIAbleFromStream::ReadHeader(uint8_t* buffer, int32_t count) {
  const int32_t n = std::min(size_, count);
  if (n > 0 && memory_) std::memcpy(buffer, memory_, static_cast<size_t>(n));
}

bool TInSPIAbleFromStream::Locate(int32_t offset, const char*& buf, spi_len_t& len, uint32_t& flag) {
  if (size_ < offset) return false;
  buf = reinterpret_cast<const char*>(memory_) + (memory_ ? offset : 0);
  len = size_ - offset;
  flag = SPI_INPUT_MEMORY;
  return true;
}
