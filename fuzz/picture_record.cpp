// libFuzzer target: TPicture::ReadData, the stored picture record (class name, then the
// graphic's own stored data).  Reading succeeds or raises a system exception, and a picture
// that read a bitmap writes a record that reads back to the same size.
#include <cstddef>
#include <cstdint>

#include "picture/bitmap.h"
#include "picture/picture.h"
#include "rtl/exceptions.h"
#include "rtl/streams.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TPicture picture;
  try {
    TPointerStream in(data, static_cast<int64_t>(size));
    picture.ReadData(in);
  } catch (const Exception&) {
    return 0;
  }
  // Bitmaps must write a record that reads back; other classes are only read.
  if (!picture.Graphic() || !picture.Graphic()->InheritsFrom(&TBitmap::Class)) return 0;
  TMemoryStream out;
  picture.WriteData(out);
  TPicture again;
  out.SetPosition(0);
  again.ReadData(out);
  if (!picture.Graphic()->IsEmpty() &&
      (again.Width() != picture.Width() || again.Height() != picture.Height()))
    __builtin_trap();
  return 0;
}
