// korspi's work: it takes the program's requests from its channel, runs each call into a plug-in
// through the in-process runner, checks each picture before handing it over, copies it once into
// a block of shared memory as the picture-block contract describes it (a block the program
// handed back when one fits, block_pool.h), and frees the plug-in's blocks itself (the rows'
// block it may keep for the next picture, spare_rows.h).  A fault it catches is
// reported and ends it: nothing of a plug-in that stopped half-way is trusted for another call.
#ifndef KORVALE_TOOLS_KORSPI_HELPER_H
#define KORVALE_TOOLS_KORSPI_HELPER_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "block_pool.h"
#include "platform/process.h"
#include "platform/shmem.h"
#include "runner/protocol.h"
#include "runner/runner.h"

namespace korspi {

class Helper {
 public:
  Helper();
  virtual ~Helper() = default;
  Helper(const Helper&) = delete;
  Helper& operator=(const Helper&) = delete;
  // Serves requests until the channel closes; the process's exit code.
  int Run();

 protected:
  // Sends bytes to the program; false when the channel broke.
  bool SendBytes(const std::string& bytes) { return channel_.Write(bytes.data(), bytes.size()); }
  // The file name of the picture request being answered.
  const std::string& PictureName() const { return pictureName_; }
  // Answers a picture request whose picture lies in `image` (empty when there is none).
  virtual void AnswerPicture(const spiproto::PictureDone& done, uint32_t seq,
                             platform::SharedMemory& /*image*/) {
    SendBytes(spiproto::Encode(done, seq));
  }

 private:
  [[noreturn]] void Fault(const spirun::Fault& fault, uint32_t seq);
  spirun::ModuleId ModuleFor(const std::string& path);
  bool ReadInput(const spiproto::InputFields& fields, spirun::Input& input);
  void Load(const spiproto::Frame& frame);
  void AddRef(const spiproto::Frame& frame);
  void Release(const spiproto::Frame& frame);
  void IsSupported(const spiproto::Frame& frame);
  void PictureInfo(const spiproto::Frame& frame);
  void Picture(const spiproto::Frame& frame);
  void ArchiveInfo(const spiproto::Frame& frame);
  void FileInfo(const spiproto::Frame& frame);
  void File(const spiproto::Frame& frame);
  // A block lent with an answer, kept until the next request (the program has opened it by then).
  uint64_t LendBlock(const void* data, size_t bytes);
  int32_t ProgressCall(int32_t done, int32_t total);

  platform::ParentChannel channel_;
  platform::PeerProcess parent_;
  spirun::TInProcessRunner runner_;
  platform::SharedMemory control_;
  std::map<std::string, std::vector<spirun::ModuleId>> loads_;  // references of Load
  std::map<std::string, spirun::ModuleId> reloaded_;            // loaded for a call
  platform::SharedMemory data_;
  uint64_t dataId_ = 0;
  TBlockPool pool_;  // the blocks of the pictures lent
  std::string pictureName_;
  platform::SharedMemory lent_;
};

}  // namespace korspi

#endif
