// Calling off long reads in the thread that makes them.  A thread that reads pictures no person
// is waiting for (the preparation of the next one) marks its work with a TCallOffScope over its
// call-off flag; the readers check it between strips of their work (rows of a BMP file, strips
// of run-length decoding, the copy of a large block), and CheckCallOff() raises EAbort once the
// flag is set.  Without a scope in the thread the check does nothing.
#ifndef KORVALE_PICTURE_CALL_OFF_H
#define KORVALE_PICTURE_CALL_OFF_H

#include <atomic>
#include <cstddef>

// The bytes of work between two checks.
inline constexpr size_t kCallOffStripBytes = size_t(1) << 20;

class TCallOffScope {
 public:
  explicit TCallOffScope(const std::atomic<bool>& flag);
  ~TCallOffScope();
  TCallOffScope(const TCallOffScope&) = delete;
  TCallOffScope& operator=(const TCallOffScope&) = delete;

 private:
  const std::atomic<bool>* previous_;
};

// Raises EAbort when the work of this thread has been called off.
void CheckCallOff();

#endif
