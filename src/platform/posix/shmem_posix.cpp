#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>

#include "platform/shmem.h"

namespace platform {

PeerProcess PeerProcess::Self() { return PeerProcess{static_cast<uint64_t>(::getpid()), nullptr}; }

namespace {
// Maps the descriptor, which the block owns from then on (it is closed on failure).  Every block
// is written or read whole (a picture, the data of a stream), so its pages are mapped at once
// rather than one fault at a time.
void MapDescriptor(int fd, size_t bytes, uint8_t*& data, size_t& size, intptr_t& handle) {
  void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_POPULATE, fd, 0);
  if (p == MAP_FAILED) {
    ::close(fd);
    return;
  }
  data = static_cast<uint8_t*>(p);
  size = bytes;
  handle = fd;
}
}  // namespace

SharedMemory SharedMemory::Create(size_t bytes) {
  if (bytes == 0) bytes = 1;
  SharedMemory m;
  int fd = ::memfd_create("korspi", MFD_CLOEXEC | MFD_ALLOW_SEALING);
  if (fd < 0) return m;
  // Sealed at its size: neither side can shrink a block the other has mapped (touching pages
  // past a shrunk end would fault), as a Windows section cannot shrink either.
  if (::ftruncate(fd, static_cast<off_t>(bytes)) != 0 ||
      ::fcntl(fd, F_ADD_SEALS, F_SEAL_SHRINK | F_SEAL_GROW | F_SEAL_SEAL) != 0) {
    ::close(fd);
    return m;
  }
  MapDescriptor(fd, bytes, m.data_, m.size_, m.handle_);
  return m;
}

SharedMemory SharedMemory::Open(const PeerProcess& owner, uint64_t token, size_t bytes) {
  SharedMemory m;
  if (bytes == 0 || token > 0x7FFFFFFF) return m;
  const std::string path = "/proc/" + std::to_string(owner.Id) + "/fd/" + std::to_string(token);
  int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return m;
  // The block must be one of ours, sealed so that the peer cannot shrink it under the mapping
  // (touching pages past a shrunk end would fault), and really hold what the peer claims.
  const int seals = ::fcntl(fd, F_GET_SEALS);
  off_t end = ::lseek(fd, 0, SEEK_END);
  if (seals < 0 || !(seals & F_SEAL_SHRINK) || end < 0 || static_cast<uint64_t>(end) < bytes) {
    ::close(fd);
    return m;
  }
  MapDescriptor(fd, bytes, m.data_, m.size_, m.handle_);
  return m;
}

uint64_t SharedMemory::Lend(const PeerProcess&) const { return static_cast<uint64_t>(handle_); }

void SharedMemory::Reset() {
  if (data_) ::munmap(data_, size_);
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  data_ = nullptr;
  size_ = 0;
  handle_ = -1;
}

}  // namespace platform
