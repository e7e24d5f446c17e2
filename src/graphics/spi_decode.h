// The decode loop: asks the Susie import plug-ins in turn to decode one picture and holds the
// picture that passed the checks (its blocks, which the source owns and frees).  Where the
// picture's data comes from is the job of the two sources (graphics/spi_sources.h).
#ifndef KORVALE_GRAPHICS_SPI_DECODE_H
#define KORVALE_GRAPHICS_SPI_DECODE_H

#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "picture/graphic.h"
#include "platform/dib.h"
#include "platform/localmem.h"
#include "runner/decoded.h"
#include "runner/runner.h"
#include "plugins/spi.h"
#include "plugins/spi_api.h"
#include "rtl/exceptions.h"

namespace msg {
inline constexpr const char kLoadingBySusie[] = "Loading Graphic by Susie Plugin";
inline constexpr const char kSeekingSusie[] = "Seeking enabled Susie Plugins";
inline constexpr const char kLoadingBy[] = "Loading by [%s]";
inline constexpr const char kLoadedBySusie[] = "Loaded Graphic by Susie Plugin";
inline constexpr const char kSusieCouldNotDecode[] = "Susie Plugins could not decode";
inline constexpr const char kLoadedGraphic[] = "Loaded Graphic";
// A plug-in faulted inside one of its entry points: its file name, the entry point, the code.
inline constexpr const char kSusiePluginFault[] = "%s:Susie Pluginが%sの実行中に異常終了しました (例外 %s)";
// A plug-in ended the helper process inside an entry point: file name, entry point, exit code.
inline constexpr const char kSusiePluginExited[] =
    "%s:Susie Pluginが%sの実行中にプロセスを終了しました (終了コード %s)";
// The helper's answer for a plug-in's entry point failed the checks and was not taken: file
// name, entry point.
inline constexpr const char kSusiePluginRefused[] = "%s:Susie Pluginの%sの結果が不正なため拒否しました";
// A plug-in showed no sign of life inside an entry point for the time limit.
inline constexpr const char kSusiePluginHung[] = "%s:Susie Pluginが%sの実行中に応答しなくなりました";
}  // namespace msg

// The message of a plug-in's fault inside one of its entry points (kSusiePluginFault and the
// like), naming the plug-in by its file name.
std::string PluginFaultMessage(const std::string& pluginFileName, const spirun::Fault& fault);

// No plug-in decoded the file and at least one of them faulted on the way (crashed, ended its
// process, stopped answering, gave an answer the checks refused): the message names the first
// that did, the entry point and what happened.  Whatever it had handed over is freed.
KOR_DECLARE_EXCEPTION(ESPIPluginFault, EInvalidGraphic);

// Windows' MulDiv: number * numerator / denominator with a 64-bit intermediate, rounded to the
// nearest integer with halves away from zero; -1 when denominator is 0 or the result does not
// fit in 32 bits.
int32_t MulDiv(int32_t number, int32_t numerator, int32_t denominator);

class TInSPIAbleData : public TObject {
 public:
  static constexpr int32_t kHeaderSize = 2048 + 128;
  static constexpr int32_t kMacBinaryOffsets[2] = {0, 128};

  TInSPIAbleData(TObject* owner, std::string fileName);
  ~TInSPIAbleData() override;
  TInSPIAbleData(const TInSPIAbleData&) = delete;
  TInSPIAbleData& operator=(const TInSPIAbleData&) = delete;

  // Asks the candidates in turn; returns with the source holding a picture or empty.  A picture
  // whose blocks are smaller than its header claims counts as not decoded, and so does an
  // attempt in which the plug-in faulted; when nothing decoded and a plug-in faulted,
  // ESPIPluginFault names it.  A wait the person abandoned raises EAbort.
  void Decode();
  // True unless a picture is held (it is held only once it passed the checks).
  bool IsEmpty() const { return !picture_; }
  // The held picture's layout (sizes, colours, header size).
  const TDecodedLayout& Layout() const;
  // The blocks' addresses (a plug-in's own blocks are locked on first request).
  const void* BitmapInfo();
  const void* Bits();
  // The rows when they lie in a block that may outlive the source (the helper's), sharing in
  // it; null otherwise.
  std::shared_ptr<const uint8_t> SharedBits() const;
  // Frees the picture and the text handle of the picture information record.
  void FreeHandles();

  const std::string& FileName() const { return fileName_; }
  TObject* Owner() const { return owner_; }
  const SPI_PICTINFO& PictureInfo() const { return pictureInfo_; }
  // The plug-in's own handles while the picture is still in them (in-process runner); null
  // otherwise.
  platform::LocalHandle InfoHandle() const { return picture_ ? picture_->InfoHandle() : nullptr; }
  platform::LocalHandle BitsHandle() const { return picture_ ? picture_->BitsHandle() : nullptr; }

  TProgressEvent OnProgress;

  // The callback handed to GetPicture and GetPreview; `data` is the source.
  static int32_t SPI_CALL ProgressCallback(int32_t done, int32_t total, spi_len_t data);

 protected:
  // Copies up to count leading bytes of the data into buffer (which is zero-filled).
  virtual void ReadHeader(uint8_t* buffer, int32_t count) = 0;
  // Where the data of an attempt at `offset` is; false when there is nothing at that offset to
  // decode.
  virtual bool Locate(int32_t offset, spirun::Input& input) = 0;

 private:
  std::vector<TInSPI*> FindCandidates() const;
  void TryPlugin(TInSPI& module, const uint8_t (&buffer)[kHeaderSize], int32_t offset);
  void DecodePicture(TInSPI& module, bool preview, const spirun::Input& input);
  // A fault costs only its attempt; the first one is kept for the error when nothing decodes.
  // The person's abandoning the wait ends the decode at once.
  void Faulted(TInSPI& module, const spirun::Fault& fault);
  void DoProgress(TProgressStage stage, uint8_t percentDone, const std::string& msg);

  TObject* owner_;
  std::string fileName_;
  std::unique_ptr<TDecodedPicture> picture_;
  SPI_PICTINFO pictureInfo_{};
  std::string firstFault_;  // the message of the first fault of this decode
  // A failure of the progress listener other than EAbort, carried across the plug-in's frames
  // and rethrown once the plug-in has returned.
  std::exception_ptr pendingFailure_;
};

#endif
