// Pictures prepared ahead through the helper: what is handed over is the file as it is when it
// is asked for, failures stay unreported until the file is asked for, the budget and
// the number held are kept, and an open the caller makes itself goes ahead of a preparation,
// even one that hangs in a plug-in, with the caller's wait called back meanwhile; with the
// program's runner, preparations run in helpers of their own, which calling them off keeps.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "graphics/decode_fixtures.h"
#include "graphics/prepared.h"
#include "graphics/spi_decode.h"
#include "picture/picture.h"
#include "runner/bitness_runner.h"
#include "runner/helper_runner.h"
#include "rtl/exceptions.h"

using namespace decodefx;

namespace {

class Prepared : public ::testing::Test {
 protected:
  Prepared() {
    auto runner = std::make_unique<spirun::THelperRunner>(spirun::THelperRunner::DefaultHelperPath());
    runner_ = runner.get();
    spirun::SetCurrent(std::move(runner));
  }
  ~Prepared() override {
    set_.reset();
    spirun::SetCurrent(nullptr);
  }
  void Use(const std::vector<std::string>& fixtures) {
    set_ = std::make_unique<TSPIs>(nullptr);
    for (const std::string& f : fixtures) set_->Add(CreateSPI(f));
  }
  static Kvp Picture(int32_t width, int32_t height, uint16_t bits) {
    Kvp k;
    k.width = width;
    k.height = height;
    k.bits = bits;
    return k;
  }

  spirun::THelperRunner* runner_;
  std::unique_ptr<TSPIs> set_;
  ScratchDir dir;
};

TEST_F(Prepared, HandsOverTheFileAsItIsAndLeavesFailuresToTheCaller) {
  Use({Fixture("kvpdec")});
  const Kvp a = Picture(40, 30, 24), b = Picture(17, -9, 8);
  const std::string nameA = dir.Write("a.kvp", a.File()), nameB = dir.Write("b.kvp", b.File());
  const std::string bad = dir.Write("bad.kvp", "KVP1 but nothing after it");
  TPicturePreparer preparer;
  preparer.Prepare({nameA, nameB, bad});  // two at the most: the third is not taken up
  preparer.WaitIdle();
  EXPECT_TRUE(preparer.Holds(nameA));
  EXPECT_TRUE(preparer.Holds(nameB));
  EXPECT_FALSE(preparer.Holds(bad));
  EXPECT_EQ(preparer.HeldBytes(), a.DibRows().size() + b.DibRows().size());

  platform::FileStamp stampA;
  std::unique_ptr<TGraphic> shown = preparer.Take(nameA, nullptr, &stampA);
  ASSERT_TRUE(shown);
  ExpectPicture(*shown, a);
  EXPECT_FALSE(preparer.Holds(nameA));
  // Stepped away from, the picture is kept for a step back and handed over again unread.
  preparer.Keep(nameA, stampA, std::move(shown));
  ASSERT_TRUE(preparer.Holds(nameA));
  shown = preparer.Take(nameA, nullptr);
  ASSERT_TRUE(shown);
  ExpectPicture(*shown, a);

  // Changed on disk since it was prepared: not handed over, the caller reads it again.
  const Kvp changed = Picture(18, 9, 8);
  dir.Write("b.kvp", changed.File());
  EXPECT_EQ(preparer.Take(nameB, nullptr), nullptr);

  // A file no plug-in decodes is not reported by the preparer: the caller's load reports it.
  preparer.Prepare({bad});
  preparer.WaitIdle();
  EXPECT_EQ(preparer.Take(bad, nullptr), nullptr);
  TPicture picture;
  EXPECT_THROW(picture.LoadFile(bad), EInvalidGraphic);

  // Over the budget: loaded when asked, never held.
  TPicturePreparer small(a.DibRows().size() - 1);
  small.Prepare({nameA});
  small.WaitIdle();
  EXPECT_FALSE(small.Holds(nameA));
  EXPECT_EQ(small.HeldBytes(), 0u);
}

TEST_F(Prepared, APluginFaultIsRaisedForTheUnchangedFileWithoutAskingThePluginAgain) {
  constexpr uint32_t kTrap = 0x8000;  // makes the faulty fixture end its process
  Use({Core(fs::path(KOR_BINARY_DIR) / "spi" / "faults" / "fault_exit.spi")});
  Kvp trap = Picture(5, 5, 24);
  trap.switches = kTrap;
  const std::string trapName = dir.Write("trap.kvp", trap.File());
  TPicturePreparer preparer;
  preparer.Prepare({trapName});
  preparer.WaitIdle();
  const int starts = runner_->Starts();
  try {
    preparer.Take(trapName, nullptr);
    ADD_FAILURE() << "no fault raised";
  } catch (const ESPIPluginFault& e) {
    EXPECT_NE(std::string(e.what()).find("fault_exit.spi"), std::string::npos) << e.what();
  }
  EXPECT_EQ(runner_->Starts(), starts);  // the plug-in was not asked again

  // Changed since: the caller loads it anew.
  preparer.Prepare({trapName});
  preparer.WaitIdle();
  trap.width = 6;
  dir.Write("trap.kvp", trap.File());
  EXPECT_EQ(preparer.Take(trapName, nullptr), nullptr);
}

TEST_F(Prepared, AnOpenGoesAheadOfAPreparationThatHangs) {
  constexpr uint32_t kTrap = 0x8000;  // makes the faulty fixture loop for ever
  Use({Fixture("kvpdec"), Core(fs::path(KOR_BINARY_DIR) / "spi" / "faults" / "fault_endless.spi")});
  Kvp trap = Picture(5, 5, 24);
  trap.switches = kTrap;
  const Kvp good = Picture(6, 4, 24);
  const std::string trapName = dir.Write("trap.kvp", trap.File());
  const std::string goodName = dir.Write("good.kvp", good.File());

  // Waiting for the hanging preparation and giving up: EAbort, and the preparation is called
  // off; the wait goes on being called back until the preparation has let go.
  TPicturePreparer preparer;
  preparer.Prepare({trapName});
  int waits = 0;
  EXPECT_THROW(preparer.Take(trapName, [&] { return ++waits < 3; }), EAbort);
  EXPECT_GT(waits, 3);

  // Asking for a file that is not prepared calls off the hanging preparation at once; the
  // caller's own load then runs alone, in a fresh helper.  (The preparation is under way once
  // it has started its helper.)
  preparer.Prepare({trapName});
  for (int i = 0; i < 1000 && runner_->Starts() < 2; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(runner_->Starts(), 2);
  // The wait for the called-off preparation to let go keeps calling back (the window pumps
  // its messages there), whatever the callback answers.
  waits = 0;
  EXPECT_EQ(preparer.Take(goodName, [&] { return ++waits < 0; }), nullptr);
  EXPECT_GT(waits, 0);
  TPicture picture;
  picture.LoadFile(goodName);
  ExpectPicture(*picture.Graphic(), good);
  EXPECT_EQ(runner_->Starts(), 3);
}

TEST_F(Prepared, PreparationsRunInHelpersOfTheirOwnAndCallingOffKeepsThem) {
  constexpr uint32_t kTrap = 0x8000;  // makes the slow fixture work until it is asked to stop
  // The program's runner: preparations go to helpers of their own, one a thread.
  set_.reset();
  auto both =
      std::make_unique<spirun::TBitnessRunner>([](spirun::TBitness b) -> std::unique_ptr<spirun::Runner> {
        if (b != spirun::OwnBitness()) return nullptr;
        auto helper = std::make_unique<spirun::THelperRunner>(spirun::THelperRunner::DefaultHelperPath());
        helper->SetTimeoutMs(1500);
        return helper;
      });
  spirun::TBitnessRunner* runner = both.get();
  spirun::SetCurrent(std::move(both));
  Use({Fixture("kvpdec"), Core(fs::path(KOR_BINARY_DIR) / "spi" / "faults" / "fault_slow.spi")});
  std::vector<std::string> slow, good;
  for (int i = 0; i < 2; ++i) {
    Kvp k = Picture(5 + i, 5, 24);
    k.switches = kTrap;
    slow.push_back(dir.Write("slow" + std::to_string(i) + ".kvp", k.File()));
    good.push_back(dir.Write("good" + std::to_string(i) + ".kvp", Picture(6 + i, 4, 24).File()));
  }

  // Every preparing thread is under way in its own helper, beside the one that identified the
  // plug-ins.
  TPicturePreparer preparer;
  preparer.Prepare(slow);
  const int threads =
      static_cast<int>(std::min<size_t>(std::max(1u, std::thread::hardware_concurrency()), 2));
  for (int i = 0; i < 1000 && runner->Starts() < 1 + threads; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  ASSERT_EQ(runner->Starts(), 1 + threads);
  // The caller's own load goes ahead at once, while the preparations still run.
  TPicture picture;
  picture.LoadFile(good[0]);
  ExpectPicture(*picture.Graphic(), Picture(6, 4, 24));
  EXPECT_TRUE(preparer.Working());
  // Called off, the plug-in is given up after a grace period: it stops at its first progress
  // call, seconds later, in its helper, and the same helpers prepare the next pictures.
  preparer.Prepare(good);
  preparer.WaitIdle();
  EXPECT_TRUE(preparer.Holds(good[0]));
  EXPECT_TRUE(preparer.Holds(good[1]));
  EXPECT_EQ(runner->Starts(), 1 + threads);
  ExpectPicture(*preparer.Take(good[1], nullptr), Picture(7, 4, 24));
}

}  // namespace
