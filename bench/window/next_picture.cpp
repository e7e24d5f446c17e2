// Benchmark of the real window under Wine: the next-picture command on 6000 x 4000 24-bit BMPs
// (from the key to the picture held and the window fitted) against TPicture::LoadFile of the same
// files, measured in the same run and printed as a ratio.  Run by hand, never by the test run.
#include <chrono>
#include <cstdio>

#include "fixture.h"

namespace {
double Seconds(std::chrono::steady_clock::duration d) { return std::chrono::duration<double>(d).count(); }
}  // namespace

TEST_F(ViewerTest, NextPictureAgainstLoadingAlone) {
  ScratchFolder dir;
  const int files = 3, rounds = 2;
  for (int i = 0; i < files; ++i) WriteBmp(dir.File("p" + std::to_string(i) + ".bmp"), 6000, 4000, i);
  TForm1& f = Start(dir.File("p0.bmp"));
  ASSERT_EQ(f.FileListBox1->Count(), files);

  using clock = std::chrono::steady_clock;
  clock::duration load{}, next{};
  for (int r = 0; r < rounds; ++r) {
    for (int i = 0; i < files; ++i) {
      TPicture picture;
      const auto t0 = clock::now();
      picture.LoadFile(dir.File("p" + std::to_string((i + 1) % files) + ".bmp"));
      load += clock::now() - t0;
      ASSERT_EQ(picture.Width(), 6000);
    }
    for (int i = 0; i < files; ++i) {
      const auto t0 = clock::now();
      f.Action1->Execute();
      next += clock::now() - t0;
      ASSERT_EQ(f.Image1->Width(), 6000);
      ASSERT_EQ(f.Caption(), "Korvale2 - " + f.CurrentFolder + Selected());
      Pump();  // drawing is not part of the measured step
    }
  }
  const double ratio = Seconds(next) / Seconds(load);
  std::printf("next picture %.3f s, LoadFile alone %.3f s over %d files: ratio %.3f\n", Seconds(next),
              Seconds(load), files * rounds, ratio);
  RecordProperty("ratio", std::to_string(ratio));
  EXPECT_TRUE(boxes.empty());
}
