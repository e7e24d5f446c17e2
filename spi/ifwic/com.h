// A COM interface pointer owner.  The other resources of a plug-in call (COM on the thread,
// files, local memory and its locks) use the owners of platform/win32/handles.h.
#ifndef KORVALE_SPI_IFWIC_COM_H
#define KORVALE_SPI_IFWIC_COM_H

#include <windows.h>
#include <objbase.h>

#include "platform/win32/handles.h"

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

}  // namespace ifwic

#endif
