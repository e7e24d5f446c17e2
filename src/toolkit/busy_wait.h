// The window while a plug-in call waits for the helper: the waiting runner calls back about
// every 50 ms, and the messages that keep the window alive are handled then.
#ifndef KORVALE_TOOLKIT_BUSY_WAIT_H
#define KORVALE_TOOLKIT_BUSY_WAIT_H

namespace toolkit {

// Installs the runner's wait hook for this program.  While a call waits: painting, timers,
// moving, sizing and the rest of the window's own messages are handled as usual, so the window
// repaints, moves and closes; Escape abandons the load (the previous picture stays, nothing is
// reported); other keyboard and mouse input, and dropped files, are dropped, not held for
// later, so nothing a person pressed while waiting runs against a picture they did not see
// yet.  A close or a quit that arrives abandons the load as well and is then carried out.
void InstallPluginWait();

}  // namespace toolkit

#endif
