#include "picture/readers.h"

#include "rtl/exceptions.h"
#include "rtl/messages.h"

const uint8_t* ByteReader::Check(size_t at, size_t count) const {
  if (!Has(at, count)) {
    if (fail_) fail_();
    throw EReadError(msg::kReadError);  // a reader without a failure function of its own
  }
  return data_ + at;
}
