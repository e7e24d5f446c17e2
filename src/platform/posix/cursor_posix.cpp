#include <mutex>

#include "platform/cursor.h"

namespace platform {

namespace {
const char kArrowTag = 'a';
const char kBusyTag = 'b';
// The log is for tests; a program that never takes it keeps only the latest calls.
constexpr size_t kLogLimit = 4096;

struct CursorState {
  std::mutex lock;
  CursorHandle current = &kArrowTag;
  std::vector<CursorCall> log;
};

CursorState& State() {
  static CursorState state;
  return state;
}

void Log(CursorCall::Kind kind, CursorHandle cursor) {
  CursorState& s = State();
  if (s.log.size() >= kLogLimit) s.log.erase(s.log.begin(), s.log.begin() + kLogLimit / 2);
  s.log.push_back(CursorCall{kind, cursor});
}
}  // namespace

CursorHandle CurrentCursor() {
  CursorState& s = State();
  std::lock_guard<std::mutex> hold(s.lock);
  Log(CursorCall::kCurrent, s.current);
  return s.current;
}

void ShowBusyCursor() {
  CursorState& s = State();
  std::lock_guard<std::mutex> hold(s.lock);
  s.current = &kBusyTag;
  Log(CursorCall::kBusy, s.current);
}

void RestoreCursor(CursorHandle cursor) {
  CursorState& s = State();
  std::lock_guard<std::mutex> hold(s.lock);
  s.current = cursor;
  Log(CursorCall::kRestore, s.current);
}

std::vector<CursorCall> TakeCursorLog() {
  CursorState& s = State();
  std::lock_guard<std::mutex> hold(s.lock);
  std::vector<CursorCall> out;
  out.swap(s.log);
  return out;
}

CursorHandle BusyCursorTag() { return &kBusyTag; }

}  // namespace platform
