// Owners of Win32 resources, for every part of the program built for Windows (the platform's
// win32 half, the toolkit, the plug-ins and tools): kernel handles, GDI objects, device
// contexts and the objects selected into them, palettes, menus, metafiles, libraries, local
// and global memory and their locks, mapped views, file searches and COM on a thread.  Each
// releases its resource exactly once when it goes out of scope; the owners move and never copy.
#ifndef KORVALE_PLATFORM_WIN32_HANDLES_H
#define KORVALE_PLATFORM_WIN32_HANDLES_H

#include <windows.h>
#include <objbase.h>

#include <utility>

namespace platform::win {

// A resource of type H: Traits::Valid tells whether a value holds one, Traits::Release gives
// it back.
template <typename H, typename Traits>
class Unique {
 public:
  Unique() = default;
  explicit Unique(H h) : h_(h) {}
  ~Unique() { reset(); }
  Unique(const Unique&) = delete;
  Unique& operator=(const Unique&) = delete;
  Unique(Unique&& o) noexcept : h_(o.release()) {}
  Unique& operator=(Unique&& o) noexcept {
    if (this != &o) reset(o.release());
    return *this;
  }

  H get() const { return h_; }
  explicit operator bool() const { return Traits::Valid(h_); }
  // Hands the resource over: the caller releases it from now on.
  H release() { return std::exchange(h_, Traits::Empty()); }
  void reset(H h = Traits::Empty()) {
    if (Traits::Valid(h_)) Traits::Release(h_);
    h_ = h;
  }

 private:
  H h_ = Traits::Empty();
};

// Null is the only empty value.
template <typename H>
struct NullEmpty {
  static H Empty() { return nullptr; }
  static bool Valid(H h) { return h != nullptr; }
};

struct KernelTraits {
  // Some calls fail with null, others (files, pipes) with INVALID_HANDLE_VALUE.
  static HANDLE Empty() { return nullptr; }
  static bool Valid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Release(HANDLE h) { ::CloseHandle(h); }
};
template <typename H>
struct GdiObjectTraits : NullEmpty<H> {
  static void Release(H h) { ::DeleteObject(h); }
};
struct MemoryDCTraits : NullEmpty<HDC> {
  static void Release(HDC h) { ::DeleteDC(h); }
};
struct MenuTraits : NullEmpty<HMENU> {
  static void Release(HMENU h) { ::DestroyMenu(h); }
};
struct MetaFileTraits : NullEmpty<HMETAFILE> {
  static void Release(HMETAFILE h) { ::DeleteMetaFile(h); }
};
struct EnhMetaFileTraits : NullEmpty<HENHMETAFILE> {
  static void Release(HENHMETAFILE h) { ::DeleteEnhMetaFile(h); }
};
struct LibraryTraits : NullEmpty<HMODULE> {
  static void Release(HMODULE h) { ::FreeLibrary(h); }
};
struct LocalTraits : NullEmpty<HLOCAL> {
  static void Release(HLOCAL h) { ::LocalFree(h); }
};
struct GlobalTraits : NullEmpty<HGLOBAL> {
  static void Release(HGLOBAL h) { ::GlobalFree(h); }
};
struct FindTraits {
  static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
  static bool Valid(HANDLE h) { return h != INVALID_HANDLE_VALUE; }
  static void Release(HANDLE h) { ::FindClose(h); }
};
struct ViewTraits : NullEmpty<void*> {
  static void Release(void* p) { ::UnmapViewOfFile(p); }
};

using Handle = Unique<HANDLE, KernelTraits>;
template <typename H>
using GdiObject = Unique<H, GdiObjectTraits<H>>;
using Font = GdiObject<HFONT>;
using Bitmap = GdiObject<HBITMAP>;
using Palette = GdiObject<HPALETTE>;
using MemoryDC = Unique<HDC, MemoryDCTraits>;  // CreateCompatibleDC
using Menu = Unique<HMENU, MenuTraits>;
using MetaFile = Unique<HMETAFILE, MetaFileTraits>;
using EnhMetaFile = Unique<HENHMETAFILE, EnhMetaFileTraits>;
using Library = Unique<HMODULE, LibraryTraits>;   // LoadLibrary
using LocalMemory = Unique<HLOCAL, LocalTraits>;  // LocalAlloc, and blocks the system allocates so
using GlobalMemory = Unique<HGLOBAL, GlobalTraits>;
using MappedView = Unique<void*, ViewTraits>;   // MapViewOfFile
using FindHandle = Unique<HANDLE, FindTraits>;  // FindFirstFile

// A window's device context from GetDC (the screen's for a null window), released with ReleaseDC.
class WindowDC {
 public:
  explicit WindowDC(HWND wnd) : wnd_(wnd), dc_(::GetDC(wnd)) {}
  ~WindowDC() {
    if (dc_) ::ReleaseDC(wnd_, dc_);
  }
  WindowDC(const WindowDC&) = delete;
  WindowDC& operator=(const WindowDC&) = delete;
  HDC get() const { return dc_; }

 private:
  HWND wnd_;
  HDC dc_;
};

// BeginPaint / EndPaint.
class PaintDC {
 public:
  explicit PaintDC(HWND wnd) : wnd_(wnd) { dc_ = ::BeginPaint(wnd, &ps_); }
  ~PaintDC() { ::EndPaint(wnd_, &ps_); }
  PaintDC(const PaintDC&) = delete;
  PaintDC& operator=(const PaintDC&) = delete;
  HDC get() const { return dc_; }
  const RECT& Area() const { return ps_.rcPaint; }

 private:
  HWND wnd_;
  HDC dc_;
  PAINTSTRUCT ps_{};
};

// An object selected into a device context, the previous one put back on scope exit.
class SelectedObject {
 public:
  SelectedObject(HDC dc, HGDIOBJ obj) : dc_(dc), previous_(::SelectObject(dc, obj)) {}
  ~SelectedObject() {
    if (previous_) ::SelectObject(dc_, previous_);
  }
  SelectedObject(const SelectedObject&) = delete;
  SelectedObject& operator=(const SelectedObject&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

// A device context's state (mapping mode, origins, selected objects) restored on scope exit.
class SavedDC {
 public:
  explicit SavedDC(HDC dc) : dc_(dc), id_(::SaveDC(dc)) {}
  ~SavedDC() {
    if (id_) ::RestoreDC(dc_, id_);
  }
  SavedDC(const SavedDC&) = delete;
  SavedDC& operator=(const SavedDC&) = delete;

 private:
  HDC dc_;
  int id_;
};

// A memory block locked for the life of this object (LocalLock or GlobalLock), unlocked again
// before it goes.  get() is null when the block is null or cannot be locked.
template <typename H, typename Traits>
class Locked {
 public:
  explicit Locked(H h) : h_(h), p_(h ? static_cast<BYTE*>(Traits::Lock(h)) : nullptr) {}
  ~Locked() {
    if (p_) Traits::Unlock(h_);
  }
  Locked(const Locked&) = delete;
  Locked& operator=(const Locked&) = delete;
  BYTE* get() const { return p_; }

 private:
  H h_;
  BYTE* p_;
};
struct LocalLockTraits {
  static void* Lock(HLOCAL h) { return ::LocalLock(h); }
  static void Unlock(HLOCAL h) { ::LocalUnlock(h); }
};
struct GlobalLockTraits {
  static void* Lock(HGLOBAL h) { return ::GlobalLock(h); }
  static void Unlock(HGLOBAL h) { ::GlobalUnlock(h); }
};
using LocalLocked = Locked<HLOCAL, LocalLockTraits>;
using GlobalLocked = Locked<HGLOBAL, GlobalLockTraits>;

// COM initialised on the calling thread for the life of this object.  Where the thread already
// had it, CoInitializeEx answers S_FALSE (same model: one more reference, given back here) or
// RPC_E_CHANGED_MODE (another model: nothing to give back, and COM is usable all the same).
class ComInit {
 public:
  explicit ComInit(DWORD model = COINIT_APARTMENTTHREADED) : hr_(::CoInitializeEx(nullptr, model)) {}
  ~ComInit() {
    if (hr_ == S_OK || hr_ == S_FALSE) ::CoUninitialize();
  }
  ComInit(const ComInit&) = delete;
  ComInit& operator=(const ComInit&) = delete;
  bool Usable() const { return SUCCEEDED(hr_) || hr_ == RPC_E_CHANGED_MODE; }

 private:
  HRESULT hr_;
};

}  // namespace platform::win

#endif
