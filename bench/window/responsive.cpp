// Steps the running viewer (Korvale2.exe, started by bench/window/responsive.py) with Insert at a
// fixed pace and watches it meanwhile: how long the window takes to answer a probe message
// (WM_NULL, every 20 ms from a thread of its own), how much memory the viewer's process holds
// after chosen steps, and how many plug-in helpers run at once.  Prints the figures; asserts
// nothing (a measured run, not a test).
//   bench_responsive.exe STEPS PACE_MS REPORT_AT...
#include <windows.h>
// After windows.h.
#include <psapi.h>
#include <tlhelp32.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {
HWND FindViewer() {
  HWND w = ::FindWindowW(L"KorvaleForm", nullptr);
  return w && ::IsWindowVisible(w) ? w : nullptr;
}

// The plug-in helpers that run now.
int Helpers() {
  HANDLE snap = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snap == INVALID_HANDLE_VALUE) return -1;
  PROCESSENTRY32W e{};
  e.dwSize = sizeof e;
  int n = 0;
  for (BOOL ok = ::Process32FirstW(snap, &e); ok; ok = ::Process32NextW(snap, &e))
    if (::lstrcmpiW(e.szExeFile, L"korspi32.exe") == 0 || ::lstrcmpiW(e.szExeFile, L"korspi64.exe") == 0) ++n;
  ::CloseHandle(snap);
  return n;
}

// The viewer's committed (pagefile-backed) bytes and working set, in MB.
void PrintMemory(HANDLE process) {
  PROCESS_MEMORY_COUNTERS c{};
  c.cb = sizeof c;
  if (!::GetProcessMemoryInfo(process, &c, sizeof c)) {
    std::printf("memory unknown");
    return;
  }
  std::printf("%.1f MB committed, %.1f MB working set", static_cast<double>(c.PagefileUsage) / 1048576.0,
              static_cast<double>(c.WorkingSetSize) / 1048576.0);
}

void Press(WORD vk, bool up) {
  INPUT in{};
  in.type = INPUT_KEYBOARD;
  in.ki.wVk = vk;
  in.ki.dwFlags = KEYEVENTF_EXTENDEDKEY | (up ? KEYEVENTF_KEYUP : 0);
  ::SendInput(1, &in, sizeof in);
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) return 2;
  const int steps = std::atoi(argv[1]), pace = std::atoi(argv[2]);
  std::vector<int> reportAt;
  for (int i = 3; i < argc; ++i) reportAt.push_back(std::atoi(argv[i]));
  HWND w = nullptr;
  for (int i = 0; i < 600 && !w; ++i, ::Sleep(100)) w = FindViewer();
  if (!w) {
    std::printf("no window\n");
    return 1;
  }
  DWORD pid = 0;
  ::GetWindowThreadProcessId(w, &pid);
  HANDLE process = ::OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, pid);
  std::atomic<bool> done{false};
  std::atomic<DWORD> longest{0};
  std::atomic<int> unanswered{0};
  std::thread prober([&] {
    while (!done) {
      const DWORD start = ::GetTickCount();
      DWORD_PTR result = 0;
      if (!::SendMessageTimeoutW(w, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &result)) ++unanswered;
      const DWORD took = ::GetTickCount() - start;
      if (took > longest) longest = took;
      ::Sleep(20);
    }
  });
  int mostHelpers = Helpers();
  ::SetForegroundWindow(w);
  ::Sleep(500);
  // The steps that showed up: the caption changed since the step before (a key that did not
  // reach the window would measure an idle viewer).
  wchar_t caption[512] = {}, seen[512] = {};
  ::GetWindowTextW(w, seen, 512);
  int changes = 0;
  for (int step = 1; step <= steps; ++step) {
    Press(VK_INSERT, false);
    Press(VK_INSERT, true);
    ::Sleep(static_cast<DWORD>(pace));
    mostHelpers = std::max(mostHelpers, Helpers());
    ::GetWindowTextW(w, caption, 512);
    if (::lstrcmpW(caption, seen) != 0) {
      ++changes;
      ::lstrcpyW(seen, caption);
    }
    if (std::find(reportAt.begin(), reportAt.end(), step) != reportAt.end()) {
      ::Sleep(2000);  // the preparation that the last step started settles
      std::printf("after %d steps: ", step);
      PrintMemory(process);
      std::printf(", %d helper(s) running\n", Helpers());
      std::fflush(stdout);
    }
  }
  done = true;
  prober.join();
  std::printf("steps after which the caption had changed: %d of %d\n", changes, steps);
  std::printf("helpers at most at once: %d\n", mostHelpers);
  std::printf("longest time the window did not answer: %lu ms (%d probes unanswered in 60 s)\n",
              static_cast<unsigned long>(longest.load()), unanswered.load());
  ::PostMessageW(w, WM_CLOSE, 0, 0);
  const bool ended = ::WaitForSingleObject(process, 30000) == WAIT_OBJECT_0;
  int left = Helpers();
  for (int i = 0; i < 100 && left > 0; ++i, ::Sleep(100)) left = Helpers();
  std::printf("viewer %s; helpers 10 s after: %d\n", ended ? "ended" : "still running", left);
  ::CloseHandle(process);
  return 0;
}
