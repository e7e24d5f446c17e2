// Benchmark of the real window under Wine: stepping with Insert through a folder of large
// photo-like PNGs opened by ifwic.spi, against the imaging codec alone decoding one of them from
// its file in the same run.  Two paces: a person reading each picture (a pause after every
// step, so the next picture can be prepared) and steps back to back (no time to prepare).  Each
// step is timed from the key to the new picture painted and the window taking messages again.
// Also a cold start: the program (KOR_VIEWER) started on a picture, to the picture painted, beside
// the codec alone started as a program (codec_once.exe) on the same picture; and what the plug-in
// helper and the plug-in search add to a cold start: the program started on a BMP, which it
// reads itself, with its plug-ins beside it against a copy without them (KOR_BARE_VIEWER).
// Run by bench/window/stepping.py, which makes the pictures and puts the plug-in beside this
// program; never part of the pass/fail run.
#include <windows.h>
// After windows.h: the process's memory counters.
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fixture.h"
#include "ifwic/bench/wic_baseline.h"
#include "median.h"
#include "graphics/prepared.h"
#include "picture/picture.h"
#include "platform/files.h"
#include "platform/localmem.h"
#include "platform/text.h"
#include "runner/bitness_runner.h"
#include "rtl/text.h"

namespace {

// What each run of `a` took beyond the run of `b` beside it.
std::vector<double> Differences(const std::vector<double>& a, const std::vector<double>& b) {
  std::vector<double> d;
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) d.push_back(a[i] - b[i]);
  return d;
}

// The process's working set now and at its peak, in MB.
void WorkingSet(double& now, double& peak) {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  ::GetProcessMemoryInfo(::GetCurrentProcess(), &counters, sizeof counters);
  now = counters.WorkingSetSize / 1048576.0;
  peak = counters.PeakWorkingSetSize / 1048576.0;
}

struct FoundWindow {
  DWORD pid;
  HWND w;
};

BOOL CALLBACK FindProcessWindow(HWND w, LPARAM data) {
  auto* found = reinterpret_cast<FoundWindow*>(data);
  DWORD pid = 0;
  ::GetWindowThreadProcessId(w, &pid);
  if (pid != found->pid || !::IsWindowVisible(w)) return TRUE;
  found->w = w;
  return FALSE;
}

// Starts `program` on `picture`; false when it could not be started.
bool Launch(const std::wstring& program, const std::wstring& picture, PROCESS_INFORMATION& pi) {
  std::wstring command = L"\"" + program + L"\" \"" + picture + L"\"";
  STARTUPINFOW si{};
  si.cb = sizeof si;
  return ::CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi) != 0;
}

// The codec alone started as a program on `picture`, timed to its end; negative when it failed.
double CodecStart(const std::wstring& program, const std::wstring& picture) {
  PROCESS_INFORMATION pi{};
  const double t0 = ifwic_bench::now();
  if (!Launch(program, picture, pi)) return -1;
  DWORD code = 1;
  if (::WaitForSingleObject(pi.hProcess, 60000) != WAIT_OBJECT_0) ::TerminateProcess(pi.hProcess, 1);
  const double t = ifwic_bench::now() - t0;
  ::GetExitCodeProcess(pi.hProcess, &code);
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  return code == 0 ? t : -1;
}

// A cold start: `viewer` started on `picture`, timed until its window is visible with the
// picture's name in the caption, painted and answering (`shown`: until the window is first
// visible); the viewer is closed after.  Negative when it did not get there within 60 s.
double ColdStart(const std::wstring& viewer, const std::wstring& picture, double& shown) {
  PROCESS_INFORMATION pi{};
  const double t0 = ifwic_bench::now();
  if (!Launch(viewer, picture, pi)) return -1;
  double t = -1;
  FoundWindow found{pi.dwProcessId, nullptr};
  wchar_t caption[1024];
  while (ifwic_bench::now() - t0 < 60) {
    found.w = nullptr;
    ::EnumWindows(FindProcessWindow, reinterpret_cast<LPARAM>(&found));
    if (found.w && shown < 0) shown = ifwic_bench::now() - t0;
    if (found.w && ::GetWindowTextW(found.w, caption, 1024) > 0 &&
        std::wstring(caption).find(picture) != std::wstring::npos) {
      ::RedrawWindow(found.w, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
      DWORD_PTR result = 0;
      ::SendMessageTimeoutW(found.w, WM_NULL, 0, 0, SMTO_NORMAL, 60000, &result);
      t = ifwic_bench::now() - t0;
      break;
    }
    ::Sleep(2);
  }
  if (found.w) ::PostMessageW(found.w, WM_CLOSE, 0, 0);
  if (::WaitForSingleObject(pi.hProcess, 30000) != WAIT_OBJECT_0) ::TerminateProcess(pi.hProcess, 1);
  ::CloseHandle(pi.hThread);
  ::CloseHandle(pi.hProcess);
  return t;
}

// The plug-in helpers started so far by this process.
int HelperStarts() {
  auto* runner = dynamic_cast<spirun::TBitnessRunner*>(&spirun::Current());
  return runner ? runner->Starts() : -1;
}

}  // namespace

class SteppingBench : public ViewerTest {
 protected:
  // Takes the window's messages for `seconds`, as an idle window would.
  void Idle(double seconds) {
    const double end = ifwic_bench::now() + seconds;
    while (ifwic_bench::now() < end) {
      Pump();
      ::Sleep(10);
    }
  }

  // The baseline: the imaging codec alone decoding the first three photos of `dir` from their files.
  static void DecodeAlone(const std::string& dir, std::vector<double>& codec) {
    IWICImagingFactory* factory = ifwic_bench::startCodecs();
    ASSERT_NE(factory, nullptr);
    for (int i = 0; i < 3; ++i) {
      const std::string name = dir + "p" + std::to_string(i) + ".png";
      codec.push_back(ifwic_bench::timed([&] { return ifwic_bench::wicDecode(factory, {}, name.c_str()); }));
      if (codec.back() <= 0) break;
    }
    factory->Release();
    for (double t : codec) ASSERT_GT(t, 0);
  }
  // One step: Insert, then the new picture painted and a message answered.
  double Step(TForm1& f) {
    const std::string before = f.Caption();
    const double t0 = ifwic_bench::now();
    Key(VK_INSERT);
    ::RedrawWindow(f.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    ::SendMessageW(f.Handle(), WM_NULL, 0, 0);
    const double t = ifwic_bench::now() - t0;
    EXPECT_NE(f.Caption(), before);
    return t;
  }
};

TEST_F(SteppingBench, PreparedAndColdStepsAgainstTheCodecAlone) {
  const char* folder = std::getenv("KOR_PHOTOS");
  ASSERT_NE(folder, nullptr) << "KOR_PHOTOS names the folder of pictures";
  const std::string dir = std::string(folder) + "\\";
  const double pace = std::getenv("KOR_PACE") ? std::atof(std::getenv("KOR_PACE")) : 1.5;
  const int files = 8;

  std::vector<double> codec;
  ASSERT_NO_FATAL_FAILURE(DecodeAlone(dir, codec));
  const double base = Median(codec);

  TForm1& f = Start(dir + "p0.png");
  ASSERT_TRUE(boxes.empty()) << boxes[0].text;
  ASSERT_EQ(f.FileListBox1->Count(), files);
  ASSERT_EQ(f.Image1->Picture().Width(), 6000);

  // A person reading: the first step comes `pace` seconds after the start, every later one
  // `pace` seconds after the last picture was shown.
  std::vector<double> read;
  for (int i = 0; i < files; ++i) {
    Idle(pace);
    read.push_back(Step(f));
  }
  const double held = f.Preparer()->HeldBytes() / 1048576.0;
  // What the preparation may hold: it is asked anew for every picture, from the address space.
  const double freeBlock = platform::LargestFreeBlock() / 1048576.0;
  const double budget = TPicturePreparer::DefaultBudget() / 1048576.0;
  const double shown = 6000.0 * 4000 * 3 / 1048576.0;
  double workingSet = 0, peak = 0;
  WorkingSet(workingSet, peak);
  // One paint of the picture shown, for comparison with a step.
  std::vector<double> paint;
  for (int i = 0; i < 3; ++i) {
    const double t0 = ifwic_bench::now();
    ::RedrawWindow(f.Handle(), nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
    paint.push_back(ifwic_bench::now() - t0);
  }

  // The same files loaded alone through the plug-in helper, as a step that was not prepared
  // loads them (none is being prepared meanwhile).
  f.Preparer()->Pause();
  std::vector<double> alone;
  for (int i = 0; i < 3; ++i) {
    TPicture picture;
    const double t0 = ifwic_bench::now();
    picture.LoadFile(dir + "p" + std::to_string(i) + ".png");
    alone.push_back(ifwic_bench::now() - t0);
  }

  // No time to prepare: each step as soon as the last is shown, twice through the folder.  A
  // preparation called off that
  // does not stop in time costs its helper: the helpers started meanwhile count them.
  const int startsBefore = HelperStarts();
  std::vector<double> cold;
  for (int i = 0; i < 2 * files; ++i) cold.push_back(Step(f));
  const int coldStarts = HelperStarts() - startsBefore;

  // Cold starts of the real program on pictures not opened before in this run (the files are
  // in the system's cache by now, as a picture just saved or viewed is).
  // Each against the codec alone started as a program on the same picture, turn about; nothing
  // of this window is being prepared meanwhile.
  f.Preparer()->Pause();
  const char* viewer = std::getenv("KOR_VIEWER");
  std::vector<double> starts, windows, codecStarts;
  if (viewer) {
    const std::wstring codecOnce =
        platform::AnsiToWide(text::ExtractFilePath(platform::ExeFileName())) + L"codec_once.exe";
    for (int i = 0; i < 5; ++i) {
      const std::wstring picture = platform::AnsiToWide(dir + "p" + std::to_string(files - 1 - i) + ".png");
      codecStarts.push_back(CodecStart(codecOnce, picture));
      EXPECT_GT(codecStarts.back(), 0) << "codec start " << i;
      double shown = -1;
      starts.push_back(ColdStart(platform::AnsiToWide(viewer), picture, shown));
      windows.push_back(shown);
      EXPECT_GT(starts.back(), 0) << "cold start " << i;
    }
  }

  // The helper and the plug-in search at a cold start: the same BMP, turn about, by the program
  // with its plug-ins (a helper started, the plug-ins asked) and by a copy without any.  Nine
  // pairs: a start wanders by a tenth of a second either way, as much as what is measured.
  std::vector<double> withPlugins, withoutPlugins;
  double pluginsAdd = 0;
  const char* bare = std::getenv("KOR_BARE_VIEWER");
  const char* bmp = std::getenv("KOR_BMP");
  if (viewer && bare && bmp) {
    for (int i = 0; i < 9; ++i) {
      double shown = -1;
      withPlugins.push_back(ColdStart(platform::AnsiToWide(viewer), platform::AnsiToWide(bmp), shown));
      withoutPlugins.push_back(ColdStart(platform::AnsiToWide(bare), platform::AnsiToWide(bmp), shown));
      EXPECT_GT(withPlugins.back(), 0) << "cold start on the BMP " << i;
      EXPECT_GT(withoutPlugins.back(), 0) << "cold start without plug-ins " << i;
    }
    pluginsAdd = Median(Differences(withPlugins, withoutPlugins));
  }

  std::printf("codec alone %.0f ms (median of %zu)\n", base * 1000, codec.size());
  if (!starts.empty()) {
    std::printf("cold start, the program started to the picture painted:");
    for (double t : starts) std::printf(" %.0f", t * 1000);
    std::printf(" ms\n  median %.0f ms = %.3f x the codec alone (its window first visible after %.0f ms)\n",
                Median(starts) * 1000, Median(starts) / base, Median(windows) * 1000);
    std::printf("  the codec alone started as a program, to its end:");
    for (double t : codecStarts) std::printf(" %.0f", t * 1000);
    std::printf(" ms\n  the program adds %.0f ms = %.3f x the codec alone (median of the differences)\n",
                Median(Differences(starts, codecStarts)) * 1000,
                Median(Differences(starts, codecStarts)) / base);
  }
  if (!withPlugins.empty()) {
    std::printf("cold start on a BMP of the same picture, with the plug-ins:");
    for (double t : withPlugins) std::printf(" %.0f", t * 1000);
    std::printf(" ms\n  without any:");
    for (double t : withoutPlugins) std::printf(" %.0f", t * 1000);
    std::printf(
        " ms\n  the helper and the plug-in search add %.0f ms = %.3f x the codec alone (median of the "
        "differences)\n",
        pluginsAdd * 1000, pluginsAdd / base);
  }
  std::printf("reading pace (%.1f s):", pace);
  for (double t : read) std::printf(" %.0f", t * 1000);
  std::printf(" ms\n  median %.0f ms = %.3f x the codec alone\n", Median(read) * 1000, Median(read) / base);
  std::printf("one paint of the shown picture: %.0f ms\n", Median(paint) * 1000);
  std::printf("a load through the plug-in helper alone: %.0f ms = %.3f x the codec alone\n",
              Median(alone) * 1000, Median(alone) / base);
  std::printf("back to back:");
  for (double t : cold) std::printf(" %.0f", t * 1000);
  std::printf(" ms\n  median %.0f ms = %.3f x the codec alone; helpers started meanwhile: %d\n",
              Median(cold) * 1000, Median(cold) / base, coldStarts);
  std::printf(
      "memory after the reading pace: shown %.0f MB + prepared %.0f MB; the window's process: working set "
      "%.0f MB, peak %.0f MB\n",
      shown, held, workingSet, peak);
  std::printf("then: largest free block of the address space %.0f MB, a prepared picture's budget %.0f MB\n",
              freeBlock, budget);
  RecordProperty("read_ratio", std::to_string(Median(read) / base));
  RecordProperty("cold_ratio", std::to_string(Median(cold) / base));
  if (!starts.empty()) {
    RecordProperty("start_ratio", std::to_string(Median(starts) / base));
    RecordProperty("start_added_ratio", std::to_string(Median(Differences(starts, codecStarts)) / base));
  }
  if (!withPlugins.empty()) RecordProperty("start_plugins_ratio", std::to_string(pluginsAdd / base));
  EXPECT_TRUE(boxes.empty());
}

// A book of the same photos (a ZIP whose entries are the PNGs, stored, as archives of pictures
// hold them) read at a person's pace: each page is taken out of the archive by the archive
// plug-in in the helper and decoded from memory while the person reads the one before.
TEST_F(SteppingBench, BookPagesAtAReadingPaceAgainstTheCodecAlone) {
  const char* folder = std::getenv("KOR_PHOTOS");
  const char* book = std::getenv("KOR_BOOK");
  ASSERT_NE(folder, nullptr) << "KOR_PHOTOS names the folder of pictures";
  ASSERT_NE(book, nullptr) << "KOR_BOOK names the ZIP of the same pictures";
  const std::string dir = std::string(folder) + "\\";
  const double pace = std::getenv("KOR_PACE") ? std::atof(std::getenv("KOR_PACE")) : 1.5;
  std::vector<double> codec;
  ASSERT_NO_FATAL_FAILURE(DecodeAlone(dir, codec));
  const double base = Median(codec);
  TForm1& f = Start(book);
  ASSERT_TRUE(boxes.empty()) << boxes[0].text;
  ASSERT_EQ(f.Caption(), std::string("Korvale2 - ") + book + "\\p0.png");
  ASSERT_EQ(f.Image1->Picture().Width(), 6000);
  std::vector<double> read;
  for (int i = 1; i < 8; ++i) {
    Idle(pace);
    read.push_back(Step(f));
    EXPECT_EQ(f.Caption(), std::string("Korvale2 - ") + book + "\\p" + std::to_string(i) + ".png");
  }
  std::printf("book, codec alone %.0f ms; pages at a reading pace (%.1f s):", base * 1000, pace);
  for (double t : read) std::printf(" %.0f", t * 1000);
  std::printf(" ms\n  median %.0f ms = %.3f x the codec alone\n", Median(read) * 1000, Median(read) / base);
  RecordProperty("book_read_ratio", std::to_string(Median(read) / base));
  EXPECT_TRUE(boxes.empty());
}
