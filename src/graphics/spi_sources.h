// The two sources of a picture for the decode loop: a file the plug-ins open by its name, and a
// stream whose contents the plug-ins get in memory.
#ifndef KORVALE_GRAPHICS_SPI_SOURCES_H
#define KORVALE_GRAPHICS_SPI_SOURCES_H

#include <cstdint>
#include <memory>
#include <string>

#include "graphics/spi_decode.h"
#include "runner/runner.h"
#include "rtl/streams.h"

// The plug-ins open the file themselves, by its name.
class TInSPIAbleFromFile : public TInSPIAbleData {
 public:
  TInSPIAbleFromFile(TObject* owner, const std::string& fileName);

 protected:
  void ReadHeader(uint8_t* buffer, int32_t count) override;
  bool Locate(int32_t offset, spirun::Input& input) override;
};

// The plug-ins get the stream's whole contents in memory: a memory stream's own buffer (or the
// memory a pointer stream views), any other stream copied once.
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
  bool Locate(int32_t offset, spirun::Input& input) override;

 private:
  const uint8_t* memory_ = nullptr;
  int32_t size_ = 0;
  std::unique_ptr<TMemoryStream> ownedCopy_;
};

#endif
