#include "rtl/streams.h"

#include <gtest/gtest.h>

#include <cstdio>

#include "rtl/exceptions.h"
#include "rtl/format.h"
#include "rtl/messages.h"

TEST(MemoryStream, WritesGrowAndReadsStopAtTheEnd) {
  TMemoryStream s;
  const char data[] = "abcdef";
  s.WriteBuffer(data, 6);
  EXPECT_EQ(s.Size(), 6);
  s.SetPosition(4);
  char out[8] = {};
  EXPECT_EQ(s.Read(out, 8), 2);
  EXPECT_STREQ(out, "ef");
  s.SetPosition(5);
  EXPECT_THROW(s.ReadBuffer(out, 2), EReadError);
}

TEST(MemoryStream, LoadFromStreamReadsFromByteZeroAndLeavesSourceAtItsEnd) {
  TMemoryStream src;
  src.WriteBuffer("0123456789", 10);
  src.SetPosition(3);
  TMemoryStream copy;
  copy.LoadFromStream(src);
  EXPECT_EQ(copy.Size(), 10);
  EXPECT_EQ(src.Position(), 10);
  EXPECT_EQ(static_cast<const char*>(copy.Memory())[0], '0');
}

TEST(FileStream, OpenAndCreateErrorsNameTheFile) {
  const std::string missing = "no-such-dir\\missing.bmp";
  try {
    TFileStream f(missing, fmOpenRead | fmShareDenyWrite);
    FAIL();
  } catch (const EFOpenError& e) {
    EXPECT_EQ(e.Message(), Format(msg::kFOpenError, {missing}));
  }
  EXPECT_THROW(TFileStream(missing, fmCreate), EFCreateError);
}

TEST(FileStream, RoundTrip) {
  const std::string name = "stream-roundtrip.bin";
  {
    TFileStream f(name, fmCreate);
    f.WriteBuffer("hello", 5);
  }
  {
    TFileStream f(name, fmOpenRead | fmShareDenyWrite);
    EXPECT_EQ(f.Size(), 5);
    char buf[5];
    f.ReadBuffer(buf, 5);
    EXPECT_EQ(std::string(buf, 5), "hello");
    EXPECT_THROW(f.ReadBuffer(buf, 1), EReadError);
  }
  std::remove(name.c_str());
}
