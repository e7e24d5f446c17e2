// Helper processes: start a program of ours with one duplex byte channel to it, read from the
// channel with a time limit, and learn how the process ended.  The helper finds its end of the
// channel as its standard input and output (Helper* below hand them over and park the standard
// handles on the null device, so that nothing a plug-in prints can reach the channel).
// The helper runs other people's code, so it gets only its end of the channel and runs with
// limits.  Win32: CreateProcessW with an overlapped named pipe, the pipe the only handle it
// inherits, in a job of its own that ends it with the program, lets it start no process, caps
// its memory and keeps it off the clipboard, other desktops and the system's settings.  POSIX:
// posix_spawn with a socket pair, every other descriptor closed, its address space capped.
#ifndef KORVALE_PLATFORM_PROCESS_H
#define KORVALE_PLATFORM_PROCESS_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace platform {

// How a process ended: an exit code, or (Signal) the signal (POSIX) or unhandled exception code
// (Win32, any code of the 0xC0000000 class) that ended it.
struct ProcessEnd {
  bool Signal = false;
  uint32_t Code = 0;
};

enum class ReadStatus { kData, kTimeout, kClosed };
enum class WriteStatus { kDone, kTimeout, kClosed };

// The memory a helper may commit: three pictures of the largest size the program holds (the
// plug-in's blocks, the helper's copy for the program, a decoder's own full-size frame) and
// 512 MiB for the rest of its work.  Natively the cap is on address space, 1 GiB above this
// for libraries and reserved but unused ranges.
inline constexpr uint64_t kHelperMemoryLimit = (uint64_t(3) << 30) + (uint64_t(512) << 20);
// The address-space cap a helper gets natively; 0 where there is none (Win32, whose job caps
// committed memory instead, and builds with a sanitizer, whose shadow memory exceeds any cap).
uint64_t HelperAddressLimit();

class ChildProcess {
 public:
  ChildProcess();
  ~ChildProcess();  // ends the process if it still runs and reaps it
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Starts `program` (a core path) with no arguments; false when it cannot be started.
  bool Start(const std::string& program);
  bool Running() const;
  // Writes all bytes within timeoutMs: a helper that stops reading cannot hold the writer.
  // After kTimeout the channel is in an unknown state and the process is to be ended.
  WriteStatus Write(const void* data, size_t count, int timeoutMs);
  // Waits at most timeoutMs for bytes and reads what is there (at most `capacity`).
  ReadStatus ReadSome(void* data, size_t capacity, size_t& got, int timeoutMs);
  // Ends the process (if it runs) and waits for it; returns how it ended.
  ProcessEnd Finish();
  // The process id, and (Win32) the process handle, for shared memory lent to or taken from it.
  uint64_t Id() const;
  void* NativeHandle() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The helper's side: the channel to the program that started it.
class ParentChannel {
 public:
  ParentChannel();  // takes standard input and output over, parks them on the null device
  ~ParentChannel();
  ParentChannel(const ParentChannel&) = delete;
  ParentChannel& operator=(const ParentChannel&) = delete;
  bool Write(const void* data, size_t count);
  // Blocks until `count` bytes arrived; false when the channel closed first.
  bool Read(void* data, size_t count);
  // Waits up to `ms` for bytes to read: false when none came in that time (true when some came
  // or the channel closed, which the next Read finds).
  bool Await(int ms);
  uint64_t ParentId() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The code of a fault as people read it: the exception code in hex (Win32, e.g. "C0000005"),
// the signal's name (POSIX, e.g. "SIGSEGV").
std::string FaultCodeText(uint32_t code);

// Milliseconds of a monotonic clock.
int64_t MonotonicMs();

// Ends the calling process at once with `code`, running nothing of its own (no destructors, no
// library detach code).
[[noreturn]] void EndProcessNow(uint32_t code);

// The helper's start: faults that nothing catches end the process quietly with their code
// instead of a crash dialog or a debugger.
void QuietFaultEnd();

}  // namespace platform

#endif
