#include "byte_stream.h"

#include <cstring>
#include <new>

namespace ifwic {

IStream* ByteStream::create(const BYTE* data, ULONGLONG size) {
  return new (std::nothrow) ByteStream(data, size, 0);
}

HRESULT ByteStream::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IStream) ||
      IsEqualIID(iid, IID_ISequentialStream)) {
    *out = static_cast<IStream*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG ByteStream::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&refs_)); }

ULONG ByteStream::Release() {
  const LONG left = InterlockedDecrement(&refs_);
  if (left == 0) delete this;
  return static_cast<ULONG>(left);
}

HRESULT ByteStream::Read(void* buffer, ULONG count, ULONG* done) {
  if (!buffer && count) return STG_E_INVALIDPOINTER;
  const ULONGLONG left = position_ < size_ ? size_ - position_ : 0;
  const ULONG n = left < count ? static_cast<ULONG>(left) : count;
  if (n) std::memcpy(buffer, data_ + position_, n);
  position_ += n;
  if (done) *done = n;
  return n == count ? S_OK : S_FALSE;
}

HRESULT ByteStream::Write(const void*, ULONG, ULONG* done) {
  if (done) *done = 0;
  return STG_E_ACCESSDENIED;
}

HRESULT ByteStream::Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) {
  LONGLONG base;
  switch (origin) {
    case STREAM_SEEK_SET:
      base = 0;
      break;
    case STREAM_SEEK_CUR:
      base = static_cast<LONGLONG>(position_);
      break;
    case STREAM_SEEK_END:
      base = static_cast<LONGLONG>(size_);
      break;
    default:
      return STG_E_INVALIDFUNCTION;
  }
  const LONGLONG target = base + move.QuadPart;
  if (target < 0) return STG_E_INVALIDFUNCTION;
  position_ = static_cast<ULONGLONG>(target);  // past the end is allowed; reads then return 0
  if (position) position->QuadPart = position_;
  return S_OK;
}

HRESULT ByteStream::SetSize(ULARGE_INTEGER) { return STG_E_ACCESSDENIED; }

HRESULT ByteStream::CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                           ULARGE_INTEGER* written) {
  if (!target) return STG_E_INVALIDPOINTER;
  const ULONGLONG left = position_ < size_ ? size_ - position_ : 0;
  ULONGLONG n = count.QuadPart < left ? count.QuadPart : left;
  ULONGLONG total = 0;
  HRESULT hr = S_OK;
  while (n > 0) {
    const ULONG chunk = n > 0x10000000 ? 0x10000000 : static_cast<ULONG>(n);
    ULONG w = 0;
    hr = target->Write(data_ + position_, chunk, &w);
    position_ += w;
    total += w;
    if (FAILED(hr) || w < chunk) break;
    n -= chunk;
  }
  if (read) read->QuadPart = total;
  if (written) written->QuadPart = total;
  return FAILED(hr) ? hr : S_OK;
}

HRESULT ByteStream::Commit(DWORD) { return S_OK; }
HRESULT ByteStream::Revert() { return S_OK; }
HRESULT ByteStream::LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return STG_E_INVALIDFUNCTION; }
HRESULT ByteStream::UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) { return STG_E_INVALIDFUNCTION; }

HRESULT ByteStream::Stat(STATSTG* stat, DWORD) {
  if (!stat) return STG_E_INVALIDPOINTER;
  std::memset(stat, 0, sizeof *stat);
  stat->type = STGTY_STREAM;
  stat->cbSize.QuadPart = size_;
  stat->grfMode = STGM_READ;
  return S_OK;
}

HRESULT ByteStream::Clone(IStream** out) {
  if (!out) return STG_E_INVALIDPOINTER;
  *out = new (std::nothrow) ByteStream(data_, size_, position_);
  return *out ? S_OK : E_OUTOFMEMORY;
}

}  // namespace ifwic
