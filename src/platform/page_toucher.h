// Makes the pages of a fresh block on a thread of its own while the caller does other work:
// one byte of each page is written, so that the block's later filling finds its pages made.
// The first write to a fresh page is much of what filling a large block costs (under Wine on a
// virtual machine about 10 microseconds a page: 190 ms for the 72 MB of a 24-megapixel
// picture), and a plug-in decoding a picture leaves the other processor free.  Header-only: the
// plug-in helper and ifwic.spi both use it.
#ifndef KORVALE_PLATFORM_PAGE_TOUCHER_H
#define KORVALE_PLATFORM_PAGE_TOUCHER_H

#include <cstddef>
#include <cstdint>
#include <system_error>
#include <thread>

namespace platform {

class PageToucher {
 public:
  // Blocks smaller than this are filled at once: a thread would not pay.
  static constexpr uint64_t kWorthTouching = uint64_t(4) << 20;

  PageToucher() = default;
  PageToucher(const PageToucher&) = delete;
  PageToucher& operator=(const PageToucher&) = delete;
  ~PageToucher() { Finish(); }

  // Starts on `size` bytes at `data`, which stay valid until Finish().  Without a thread to be
  // had (an address space capped tight) nothing is touched: the block is filled as it is.
  void Start(void* data, size_t size) {
    Finish();
    if (!data) return;
    try {
      thread_ = std::thread([data, size] {
        constexpr size_t kPage = 4096;
        for (size_t at = 0; at < size; at += kPage) static_cast<volatile uint8_t*>(data)[at] = 0;
      });
    } catch (const std::system_error&) {
    }
  }
  // Waits for the thread: the block is the caller's alone again.
  void Finish() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::thread thread_;
};

}  // namespace platform

#endif
