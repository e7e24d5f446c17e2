// The window while a plug-in call waits for the helper: the waiting runner calls back about
// every 50 ms, and the messages that keep the window alive are handled then.
#ifndef KORVALE_TOOLKIT_BUSY_WAIT_H
#define KORVALE_TOOLKIT_BUSY_WAIT_H

#include <cstdint>
#include <functional>

#include "platform/cursor.h"

namespace toolkit {

// Installs the runner's wait hook for this program.  While a call waits: painting, timers,
// moving, sizing and the rest of the window's own messages are handled as usual, so the window
// repaints, moves and closes; Escape abandons the load (the previous picture stays, nothing is
// reported); other keyboard and mouse input, and dropped files, are dropped, not held for
// later, so nothing a person pressed while waiting runs against a picture they did not see
// yet.  A close or a quit that arrives abandons the load as well and is then carried out.
void InstallPluginWait();

// A load the person waits for.  Called as a wait hook, it keeps the window alive as above; once
// the load has taken longer than a moment (kBusyAfterMs), the busy cursor shows, and `shown`
// says so until this object is gone and the cursor before it is back.
class TLoadWait {
 public:
  static constexpr int64_t kBusyAfterMs = 250;
  explicit TLoadWait(bool& shown);
  ~TLoadWait();
  TLoadWait(const TLoadWait&) = delete;
  TLoadWait& operator=(const TLoadWait&) = delete;
  bool operator()();
  // Shows the busy cursor now: a load that cannot call back while it runs.
  void Busy();

 private:
  platform::CursorKeeper cursor_;
  bool& shown_;
  int64_t start_;
};

}  // namespace toolkit

#endif
