// Small owners for the COM and local-memory resources of one plug-in call.
#ifndef KORVALE_SPI_IFWIC_COM_H
#define KORVALE_SPI_IFWIC_COM_H

#include <windows.h>
#include <objbase.h>

namespace ifwic {

// A COM interface pointer released when it goes out of scope.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ~ComPtr() { reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }
  // Address for an out-parameter; releases what was held first.
  T** put() {
    reset();
    return &p_;
  }
  void** putVoid() { return reinterpret_cast<void**>(put()); }
  void reset() {
    if (p_) p_->Release();
    p_ = nullptr;
  }
  // Takes over a pointer that already carries a reference.
  void attach(T* p) {
    reset();
    p_ = p;
  }

 private:
  T* p_ = nullptr;
};

// COM initialised for the calling thread for the length of one call.  When the host already
// initialised the thread, CoInitializeEx answers S_FALSE (same model: one more reference, which
// we give back) or RPC_E_CHANGED_MODE (other model: nothing to give back, and COM is usable).
class ComScope {
 public:
  ComScope() : hr_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {}
  ~ComScope() {
    if (hr_ == S_OK || hr_ == S_FALSE) CoUninitialize();
  }
  ComScope(const ComScope&) = delete;
  ComScope& operator=(const ComScope&) = delete;
  bool usable() const { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }

 private:
  HRESULT hr_;
};

// A movable local-memory block, freed unless it is handed over with release().
class LocalBlock {
 public:
  explicit LocalBlock(SIZE_T size) : h_(LocalAlloc(LMEM_MOVEABLE, size)) {}
  ~LocalBlock() {
    if (h_) LocalFree(h_);
  }
  LocalBlock(const LocalBlock&) = delete;
  LocalBlock& operator=(const LocalBlock&) = delete;
  HLOCAL get() const { return h_; }
  HLOCAL release() {
    HLOCAL h = h_;
    h_ = nullptr;
    return h;
  }

 private:
  HLOCAL h_;
};

// The block locked for the life of this object; unlocked again before it is returned.
class LocalLockGuard {
 public:
  explicit LocalLockGuard(HLOCAL h) : h_(h), p_(h ? static_cast<BYTE*>(LocalLock(h)) : nullptr) {}
  ~LocalLockGuard() {
    if (p_) LocalUnlock(h_);
  }
  LocalLockGuard(const LocalLockGuard&) = delete;
  LocalLockGuard& operator=(const LocalLockGuard&) = delete;
  BYTE* get() const { return p_; }

 private:
  HLOCAL h_;
  BYTE* p_;
};

// A kernel handle closed when it goes out of scope.
class FileHandle {
 public:
  explicit FileHandle(HANDLE h) : h_(h) {}
  ~FileHandle() {
    if (valid()) CloseHandle(h_);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE get() const { return h_; }

 private:
  HANDLE h_;
};

}  // namespace ifwic

#endif
