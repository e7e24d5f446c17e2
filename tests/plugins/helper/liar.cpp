// A plug-in helper that lies: it serves every request as korspi does, but answers the picture of
// a file whose name holds "lie" the way the environment variable KORVALE_LIE says.  The program
// must end each lie with a clean refusal and a fresh helper.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>

#include "helper.h"
#include "platform/dynlib.h"
#if defined(_WIN32)
#include <io.h>
#endif

namespace {

class Liar : public korspi::Helper {
 protected:
  void AnswerPicture(const spiproto::PictureDone& done, uint32_t seq,
                     platform::SharedMemory& image) override {
    const char* lie = std::getenv("KORVALE_LIE");
    const std::string how = lie ? lie : "";
    if (!done.Has || how.empty() || PictureName().find("lie") == std::string::npos) {
      Helper::AnswerPicture(done, seq, image);
      return;
    }
    spiproto::PictureDone told = done;
    uint8_t* info = image.Data() + done.Block.InfoAt();
    if (how == "wrap") {
      // A 124-byte header claiming 65535 colours, and sizes whose sum passes 4 GB by 11 bytes.
      Put32(info, 124);
      Put32(info + 32, 65535);
      told.Block.InfoBytes = 0x7FFFFFFF;
      told.Block.MappedBytes = 0x100000000ull + 11;
      told.Block.BitsBytes = told.Block.MappedBytes - 16 - told.Block.InfoBytes;
    } else if (how == "small") {
      told.Block.BitsBytes += 1 << 20;
      told.Block.MappedBytes += 1 << 20;
    } else if (how == "extra") {
      SendBytes(spiproto::Encode(told, seq) + spiproto::Encode(told, seq));
      return;
    } else if (how == "unsolicited") {
      SendBytes(spiproto::Encode(told, seq + 7) + spiproto::Encode(told, seq));
      return;
    } else if (how == "kind") {
      spiproto::Result result;
      SendBytes(spiproto::Encode(result, seq));
      return;
    } else if (how == "handle") {
      // A file holding the very same bytes: a handle of another kind than a shared block.
      std::FILE* file = std::tmpfile();
      std::fwrite(image.Data(), 1, image.Size(), file);
      std::fflush(file);
#if defined(_WIN32)
      told.Token = static_cast<uint64_t>(_get_osfhandle(_fileno(file)));
#else
      told.Token = static_cast<uint64_t>(fileno(file));
#endif
    } else if (how == "garbage") {
      std::string frame = spiproto::Encode(told, seq);
      frame[8] = frame[9] = frame[10] = frame[11] = '\xF0';
      SendBytes(frame);
      return;
    } else if (how == "cut") {
      const std::string frame = spiproto::Encode(told, seq);
      SendBytes(frame.substr(0, frame.size() / 2));
      platform::EndProcessNow(0);
    } else if (how == "rewrite") {
      // The true answer, then, once the program has had time to take it, another header.
      Helper::AnswerPicture(done, seq, image);
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
      Put32(info + 4, 0x7FFFFFF);
      Put32(info + 32, 65535);
      std::memset(info + 40, 0xEE, done.Block.InfoBytes - 40);
      return;
    }
    SendBytes(spiproto::Encode(told, seq));
  }

 private:
  static void Put32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
  }
};

}  // namespace

int main() {
  platform::RestrictLibrarySearch();
  platform::QuietFaultEnd();
  Liar liar;
  return liar.Run();
}
