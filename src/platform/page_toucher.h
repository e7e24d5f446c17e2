// Makes the pages of a fresh block on a thread of its own while the caller does other work:
// one byte of each page is written, so that the block's later filling finds its pages made.
// The first write to a fresh page is much of what filling a large block costs (under Wine on a
// virtual machine about 10 microseconds a page: 190 ms for the 72 MB of a 24-megapixel
// picture), and a plug-in decoding a picture leaves the other processor free.  A caller may
// also fill the block right behind the thread.  Header-only: ifwic.spi and the bitmap reader
// both use it.
#ifndef KORVALE_PLATFORM_PAGE_TOUCHER_H
#define KORVALE_PLATFORM_PAGE_TOUCHER_H

#include <atomic>
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
  ~PageToucher() { Stop(); }

  // Starts on `size` bytes at `data`, which stay valid until Finish().  Without a thread to be
  // had (an address space capped tight) nothing is touched: the block is filled as it is.
  void Start(void* data, size_t size) {
    Finish();
    if (!data) return;
    stop_.store(false);
    made_.store(0);
    try {
      thread_ = std::thread([this, data, size] {
        constexpr size_t kPage = 4096;
        size_t at = 0;
        for (; at < size && !stop_.load(std::memory_order_relaxed); at += kPage) {
          static_cast<volatile uint8_t*>(data)[at] = 0;
          if ((at + kPage) % kStep == 0) made_.store(at + kPage, std::memory_order_release);
        }
        made_.store(kAll, std::memory_order_release);
      });
    } catch (const std::system_error&) {
      made_.store(kAll);
    }
  }
  // Returns once the pages of the first `bytes` are made (at once when nothing is being made),
  // so that a caller filling the block behind the thread never meets a fresh page itself.
  void WaitFor(size_t bytes) const {
    while (made_.load(std::memory_order_acquire) < bytes) std::this_thread::yield();
  }
  // Waits for the thread: the block is the caller's alone again.
  void Finish() {
    if (thread_.joinable()) thread_.join();
  }
  // Stops the thread at its next page and waits for it (the block is no longer wanted).
  void Stop() {
    stop_.store(true);
    Finish();
  }

 private:
  static constexpr size_t kStep = size_t(1) << 20;  // how often the thread says how far it is
  static constexpr size_t kAll = ~size_t(0);

  std::atomic<bool> stop_{false};
  std::atomic<size_t> made_{kAll};
  std::thread thread_;
};

}  // namespace platform

#endif
