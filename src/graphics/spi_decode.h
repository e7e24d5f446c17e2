// Decode sources: the origin of one picture (a file by its path, or a stream's contents with a
// name), the loop that asks the Susie import plug-ins to decode it, and the two local-memory
// blocks of the decoded picture, which the source owns and frees.
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
#include "plugins/spi.h"
#include "plugins/spi_api.h"
#include "rtl/exceptions.h"
#include "rtl/streams.h"

namespace msg {
inline constexpr const char kLoadingBySusie[] = "Loading Graphic by Susie Plugin";
inline constexpr const char kSeekingSusie[] = "Seeking enabled Susie Plugins";
inline constexpr const char kLoadingBy[] = "Loading by [%s]";
inline constexpr const char kLoadedBySusie[] = "Loaded Graphic by Susie Plugin";
inline constexpr const char kSusieCouldNotDecode[] = "Susie Plugins could not decode";
inline constexpr const char kLoadedGraphic[] = "Loaded Graphic";
// A plug-in faulted inside one of its entry points: its file name, the entry point, the code.
inline constexpr const char kSusiePluginFault[] = "%s:Susie Pluginが%sの実行中に異常終了しました (例外 %s)";
}  // namespace msg

// A plug-in faulted inside a call (Win32: access violation and the like).  Whatever it had
// handed over is freed; the message names the plug-in.
KOR_DECLARE_EXCEPTION(ESPIPluginFault, EInvalidGraphic);

// Windows' MulDiv: number * numerator / denominator with a 64-bit intermediate, rounded to the
// nearest integer with halves away from zero; -1 when denominator is 0 or the result does not
// fit in 32 bits.
int32_t MulDiv(int32_t number, int32_t numerator, int32_t denominator);

// The geometry and sizes of a decoded BITMAPINFO, computed in 64 bits.  The BMP file image and
// the drawing use exactly InfoSize bytes of the info block and BitsSize bytes of the bits.
struct TDecodedLayout {
  int32_t Width = 0;
  int32_t Height = 0;  // as stored: negative for top-down rows
  uint16_t BitCount = 0;
  int32_t ColorCount = 0;
  int32_t MaskBytes = 0;  // 12 for a bit-field picture: the three masks follow the header
  int32_t InfoSize = 0;   // 40 + MaskBytes + 4 * ColorCount
  int32_t BitsSize = 0;   // padded row bytes * |Height|
  bool FourBitPixels = false;
};

// Fills `layout` from a header; false when the header is not one a picture can be made of
// (biSize below 40, a bit count other than 1, 4, 8, 16, 24, 32, a width or height of 0, a
// negative width, or a BMP file image larger than 2 GB).
bool ComputeLayout(const platform::BitmapInfoHeader& header, TDecodedLayout& layout);

class TInSPIAbleData : public TObject {
 public:
  static constexpr int32_t kHeaderSize = 2048 + 128;
  static constexpr int32_t kMacBinaryOffsets[2] = {0, 128};

  TInSPIAbleData(TObject* owner, std::string fileName);
  ~TInSPIAbleData() override;
  TInSPIAbleData(const TInSPIAbleData&) = delete;
  TInSPIAbleData& operator=(const TInSPIAbleData&) = delete;

  // Asks the candidates in turn; returns with the source holding a picture or empty.  A picture
  // whose blocks are smaller than its header claims counts as not decoded.
  void Decode();
  // True unless both blocks are held (they are held only once they passed the checks).
  bool IsEmpty() const { return !infoHandle_ || !bitsHandle_; }
  // The blocks' addresses, locked on first request.
  const void* BitmapInfo();
  const void* Bits();
  // Unlocks, then frees both blocks and the text handle of the picture information record.
  void FreeHandles();

  const std::string& FileName() const { return fileName_; }
  TObject* Owner() const { return owner_; }
  const SPI_PICTINFO& PictureInfo() const { return pictureInfo_; }
  platform::LocalHandle InfoHandle() const { return infoHandle_; }
  platform::LocalHandle BitsHandle() const { return bitsHandle_; }

  TProgressEvent OnProgress;

  // The callback handed to GetPicture and GetPreview; `data` is the source.
  static int32_t SPI_CALL ProgressCallback(int32_t done, int32_t total, spi_len_t data);

 protected:
  // Copies up to count leading bytes of the data into buffer (which is zero-filled).
  virtual void ReadHeader(uint8_t* buffer, int32_t count) = 0;
  // The buf, len and flag arguments for an attempt at `offset`; false when there is nothing at
  // that offset to decode.
  virtual bool Locate(int32_t offset, const char*& buf, spi_len_t& len, uint32_t& flag) = 0;

 private:
  std::vector<TInSPI*> FindCandidates() const;
  void TryPlugin(TInSPI& module, const uint8_t* buffer, int32_t offset);
  int32_t QueryInfo(TInSPI& module, const char* buf, spi_len_t len, uint32_t flag);
  int32_t DecodePicture(TInSPI& module, bool preview, const char* buf, spi_len_t len, uint32_t flag);
  // Keeps the blocks only when the header is sane and fits them; frees them otherwise.
  void CheckPicture();
  void DoProgress(TProgressStage stage, uint8_t percentDone, const std::string& msg);
  [[noreturn]] void Faulted(TInSPI& module, const char* entry, const struct TPluginFault& fault);

  TObject* owner_;
  std::string fileName_;
  platform::LocalHandle infoHandle_ = nullptr;
  platform::LocalHandle bitsHandle_ = nullptr;
  void* info_ = nullptr;  // locked addresses
  void* bits_ = nullptr;
  SPI_PICTINFO pictureInfo_{};
  // A failure of the progress listener other than EAbort, carried across the plug-in's frames
  // and rethrown once the plug-in has returned.
  std::exception_ptr pendingFailure_;
};

// The plug-ins open the file themselves, by its name.
class TInSPIAbleFromFile : public TInSPIAbleData {
 public:
  TInSPIAbleFromFile(TObject* owner, const std::string& fileName);

 protected:
  void ReadHeader(uint8_t* buffer, int32_t count) override;
  bool Locate(int32_t offset, const char*& buf, spi_len_t& len, uint32_t& flag) override;
};

// The plug-ins get the stream's whole contents in memory: a memory stream's own buffer, any
// other stream copied once.
class TInSPIAbleFromStream : public TInSPIAbleData {
 public:
  TInSPIAbleFromStream(TObject* owner, TStream& stream, const std::string& fileName);
  ~TInSPIAbleFromStream() override;

  const uint8_t* Memory() const { return memory_; }
  int32_t Size() const { return size_; }
  bool OwnsCopy() const { return ownedCopy_ != nullptr; }

 protected:
  void ReadHeader(uint8_t* buffer, int32_t count) override;
  // A memory source shorter than the offset has nothing there: the attempt is skipped.
  bool Locate(int32_t offset, const char*& buf, spi_len_t& len, uint32_t& flag) override;

 private:
  const uint8_t* memory_ = nullptr;
  int32_t size_ = 0;
  std::unique_ptr<TMemoryStream> ownedCopy_;
};

#endif
