// Shared memory between the program and its plug-in helper: an anonymous block that another
// process opens by a token.  A token names the block inside one process (POSIX: a descriptor of
// that process, opened through /proc; Win32: a handle valid in that process).
#ifndef KORVALE_PLATFORM_SHMEM_H
#define KORVALE_PLATFORM_SHMEM_H

#include <cstddef>
#include <cstdint>

namespace platform {

// The process a token belongs to: its id and (Win32) a handle of it with duplicate access;
// Self() for tokens that are already the caller's.
struct PeerProcess {
  uint64_t Id = 0;
  void* Handle = nullptr;
  static PeerProcess Self();
};

class SharedMemory {
 public:
  SharedMemory() = default;
  ~SharedMemory() { Reset(); }
  SharedMemory(const SharedMemory&) = delete;
  SharedMemory& operator=(const SharedMemory&) = delete;
  SharedMemory(SharedMemory&& o) noexcept { *this = static_cast<SharedMemory&&>(o); }
  SharedMemory& operator=(SharedMemory&& o) noexcept {
    if (this != &o) {
      Reset();
      data_ = o.data_;
      size_ = o.size_;
      handle_ = o.handle_;
      o.data_ = nullptr;
      o.size_ = 0;
      o.handle_ = -1;
    }
    return *this;
  }

  // A new zero-filled block of `bytes` (at least 1), mapped read-write; empty on failure.
  static SharedMemory Create(size_t bytes);
  // Maps `bytes` of the block that `token` names in `owner`; empty on failure.  Tokens of Self()
  // are taken over (Win32: the handle is this object's afterwards).
  static SharedMemory Open(const PeerProcess& owner, uint64_t token, size_t bytes);
  // A token by which `to` opens this block (Win32: a handle made in `to`; POSIX: the descriptor).
  uint64_t Lend(const PeerProcess& to) const;

  uint8_t* Data() const { return data_; }
  size_t Size() const { return size_; }
  explicit operator bool() const { return data_ != nullptr; }
  void Reset();

 private:
  uint8_t* data_ = nullptr;
  size_t size_ = 0;
  intptr_t handle_ = -1;  // POSIX descriptor or Win32 mapping handle
};

}  // namespace platform

#endif
