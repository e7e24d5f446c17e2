#include "graphics/spi_decode.h"

#include <limits>

#include "platform/process.h"
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

// ---- TInSPIAbleData ----

TInSPIAbleData::TInSPIAbleData(TObject* owner, std::string fileName)
    : owner_(owner), fileName_(std::move(fileName)) {}

TInSPIAbleData::~TInSPIAbleData() { FreeHandles(); }

const void* TInSPIAbleData::BitmapInfo() { return picture_ ? picture_->Info() : nullptr; }

const void* TInSPIAbleData::Bits() { return picture_ ? picture_->Bits() : nullptr; }

std::shared_ptr<const uint8_t> TInSPIAbleData::SharedBits() const {
  return picture_ ? picture_->SharedBits() : nullptr;
}

const TDecodedLayout& TInSPIAbleData::Layout() const {
  static const TDecodedLayout none;
  return picture_ ? picture_->Layout() : none;
}

void TInSPIAbleData::FreeHandles() {
  picture_.reset();
  if (pictureInfo_.hInfo) platform::LocalFreeBlock(pictureInfo_.hInfo);
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

std::string PluginFaultMessage(const std::string& pluginFileName, const spirun::Fault& fault) {
  const std::string name = text::ExtractFileName(pluginFileName);
  const char* entry = fault.Entry.c_str();
  switch (fault.What) {
    case spirun::Fault::kException:
      return Format(msg::kSusiePluginFault, {name, entry, platform::FaultCodeText(fault.Code)});
    case spirun::Fault::kExited:
      return Format(msg::kSusiePluginExited, {name, entry, std::to_string(fault.Code)});
    case spirun::Fault::kRefused:
      return Format(msg::kSusiePluginRefused, {name, entry});
    default:
      return Format(msg::kSusiePluginHung, {name, entry});
  }
}

void TInSPIAbleData::Faulted(TInSPI& module, const spirun::Fault& fault) {
  if (fault.What == spirun::Fault::kAbandoned) throw EAbort("");
  if (firstFault_.empty()) firstFault_ = PluginFaultMessage(module.FileName(), fault);
}

void TInSPIAbleData::DecodePicture(TInSPI& module, bool preview, const spirun::Input& input) {
  pendingFailure_ = nullptr;
  spirun::Fault fault;
  const spirun::Progress progress = [this](int32_t done, int32_t total) {
    return ProgressCallback(done, total, reinterpret_cast<spi_len_t>(this));
  };
  std::unique_ptr<TDecodedPicture> picture;
  const int32_t result = module.RunGetPicture(preview, input, progress, picture, fault);
  if (fault) Faulted(module, fault);
  if (result == SPI_SUCCESS) picture_ = std::move(picture);
  if (pendingFailure_) {
    std::exception_ptr failure = pendingFailure_;
    pendingFailure_ = nullptr;
    std::rethrow_exception(failure);
  }
}

void TInSPIAbleData::TryPlugin(TInSPI& module, const uint8_t (&buffer)[kHeaderSize], int32_t offset) {
  spirun::Input input;
  if (!Locate(offset, input)) return;
  spirun::Fault fault;
  const int32_t supported = module.RunIsSupported(fileName_, buffer, offset, fault);
  if (fault) Faulted(module, fault);
  if (supported == 0) return;
  spirun::PictureInfo info;
  info.Record = pictureInfo_;
  module.RunGetPictureInfo(input, info, fault);
  pictureInfo_ = info.Record;
  if (fault) {
    Faulted(module, fault);
    return;
  }
  TSPIs* set = GetSPIs();
  if (set && set->GraphicPreview()) {
    try {
      DecodePicture(module, true, input);
    } catch (const ESPIInvalidAPI&) {
      picture_.reset();  // no GetPreview: nothing was returned
    }
    if (!IsEmpty()) return;
  }
  DecodePicture(module, false, input);
}

void TInSPIAbleData::Decode() {
  TSPIs* set = GetSPIs();
  const bool macBinary = set && set->MacBinary();
  DoProgress(TProgressStage::psStarting, 0, msg::kLoadingBySusie);
  try {
    FreeHandles();
    DoProgress(TProgressStage::psRunning, 1, msg::kSeekingSusie);
    const std::vector<TInSPI*> candidates = FindCandidates();
    uint8_t header[kHeaderSize] = {};
    ReadHeader(header, kHeaderSize);
    firstFault_.clear();
    const size_t count = candidates.size();
    const int offsets = macBinary ? 2 : 1;
    bool decoded = false;
    for (size_t i = 0; i < count && !decoded; ++i) {
      TInSPI& module = *candidates[i];
      for (int k = 0; k < offsets && !decoded; ++k) {
        DoProgress(TProgressStage::psRunning, 1,
                   Format(msg::kLoadingBy, {text::ExtractFileName(module.FileName())}));
        TryPlugin(module, header, kMacBinaryOffsets[k]);
        decoded = !IsEmpty();
        if (!decoded) FreeHandles();
      }
    }
    // A plug-in that crashed is named to the user rather than hidden behind "could not decode".
    if (!decoded && !firstFault_.empty()) throw ESPIPluginFault(firstFault_);
  } catch (...) {
    DoProgress(TProgressStage::psEnding, 100, msg::kLoadedBySusie);
    throw;
  }
  DoProgress(TProgressStage::psEnding, 100, msg::kLoadedBySusie);
}
