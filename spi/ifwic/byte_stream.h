// A read-only IStream over bytes that the caller keeps alive for as long as the stream lives,
// so the codecs read the host's memory block (or our copy of a file range) in place.
#ifndef KORVALE_SPI_IFWIC_BYTE_STREAM_H
#define KORVALE_SPI_IFWIC_BYTE_STREAM_H

#include <windows.h>
#include <objidl.h>

namespace ifwic {

class ByteStream final : public IStream {
 public:
  // A new stream with one reference, or null when out of memory.
  static IStream* create(const BYTE* data, ULONGLONG size);

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE Read(void* buffer, ULONG count, ULONG* done) override;
  HRESULT STDMETHODCALLTYPE Write(const void* buffer, ULONG count, ULONG* done) override;
  HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) override;
  HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override;
  HRESULT STDMETHODCALLTYPE CopyTo(IStream* target, ULARGE_INTEGER count, ULARGE_INTEGER* read,
                                   ULARGE_INTEGER* written) override;
  HRESULT STDMETHODCALLTYPE Commit(DWORD flags) override;
  HRESULT STDMETHODCALLTYPE Revert() override;
  HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type) override;
  HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER count, DWORD type) override;
  HRESULT STDMETHODCALLTYPE Stat(STATSTG* stat, DWORD flags) override;
  HRESULT STDMETHODCALLTYPE Clone(IStream** out) override;

 private:
  ByteStream(const BYTE* data, ULONGLONG size, ULONGLONG position)
      : data_(data), size_(size), position_(position) {}
  ~ByteStream() = default;

  LONG refs_ = 1;
  const BYTE* data_;
  ULONGLONG size_;
  ULONGLONG position_;
};

}  // namespace ifwic

#endif
