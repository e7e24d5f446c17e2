// The plug-in runner of the program: every call goes to the korspi helper.  Pictures come back
// whole through shared memory (from files, from memory, past a MacBinary header, in blocks
// handed back and written again), progress is
// relayed, and every way a plug-in can misbehave costs only its attempt: a later plug-in still
// decodes the file, and when none does, the error names the one that faulted.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>

#include "../../../spi/decode/kvp_format.h"
#include "graphics/decode_fixtures.h"
#include "graphics/spi_bitmap.h"
#include "graphics/spi_graphic.h"
#include "picture/picture.h"
#include "reach_probe.h"
#include "platform/process.h"
#include "runner/helper_runner.h"
#include "rtl/exceptions.h"
#include "rtl/streams.h"

using namespace decodefx;

namespace {

constexpr uint32_t kTrap = 0x8000;  // the switch that makes the faulty fixtures misbehave

std::string FaultFixture(const std::string& name) {
  return Core(fs::path(KOR_BINARY_DIR) / "spi" / "faults" / (name + ".spi"));
}

class Helper : public ::testing::Test {
 protected:
  Helper() {
    auto runner = std::make_unique<spirun::THelperRunner>(spirun::THelperRunner::DefaultHelperPath());
    runner->SetTimeoutMs(1500);  // the endless plug-in is given up after this
    runner_ = runner.get();
    spirun::SetCurrent(std::move(runner));
  }
  ~Helper() override {
    set_.reset();
    spirun::SetCurrent(nullptr);
  }
  // A fresh runner with the helper program `path`; the set goes first, its modules with it.
  void UseHelper(const std::string& path) {
    set_.reset();
    auto runner = std::make_unique<spirun::THelperRunner>(path);
    runner->SetTimeoutMs(1500);
    runner_ = runner.get();
    spirun::SetCurrent(std::move(runner));
  }
  // A plug-in set (MacBinary on) of the decoding fixture kvpdec and then the named faulty ones.
  TSPIs& Set(const std::vector<std::string>& faults, bool withDecoder = true) {
    set_.reset();
    set_ = std::make_unique<TSPIs>(nullptr);
    if (withDecoder) set_->Add(CreateSPI(Fixture("kvpdec")));
    for (const std::string& f : faults) set_->Add(CreateSPI(FaultFixture(f)));
    return *set_;
  }

  spirun::THelperRunner* runner_;
  std::unique_ptr<TSPIs> set_;
  ScratchDir dir;
  ProgressLog log;
};

TEST_F(Helper, PicturesComeBackWholeFromFilesMemoryAndPastAMacBinaryHeader) {
  Set({});
  // A helper's first picture is announced by the size the plug-in gave for it; a large one goes
  // into a block the helper made and touched while the plug-in decoded.
  Kvp large;
  large.width = 1100;
  large.height = 1000;
  large.bits = 24;
  {
    TSPIBitmap first;
    first.LoadFile(dir.Write("large.kvp", large.File()));
    ExpectPicture(first, large);
  }
  Kvp k;
  k.width = 37;
  k.height = 11;
  k.bits = 8;
  k.switches = KVP_PROGRESS;
  TPicture picture;
  picture.OnProgress = log.Listener();
  picture.LoadFile(dir.Write("photo.kvp", k.File()));
  ExpectPicture(*picture.AsBitmap(), k);
  // The plug-in's progress reached the listener between the seeking and the ending steps.
  const std::string steps = log.Text();
  EXPECT_NE(steps.find("R1:Loading by [kvpdec.spi]"), std::string::npos) << steps;
  EXPECT_NE(steps.find("|R99:|"), std::string::npos) << steps;

  Kvp top;
  top.height = -5;
  top.bits = 24;
  TMemoryStream stream;
  const std::string bytes = top.File(true);
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  TSPIBitmap fromMemory;
  fromMemory.LoadFromStreamWithName(stream, "photo.kvp");
  ExpectPicture(fromMemory, top);

  TSPIBitmap fromFile;
  fromFile.LoadFile(dir.Write("mac.kvp", top.File(true)));
  ExpectPicture(fromFile, top);

  // The block of a picture let go is written again for a later picture that fits in it; a
  // picture still held keeps its block to itself.  (Both pictures take blocks of one size.)
  Kvp wide, tall;
  wide.width = tall.height = 16;
  wide.height = tall.width = 8;
  const std::string wideName = dir.Write("wide.kvp", wide.File());
  const std::string tallName = dir.Write("tall.kvp", tall.File());
  auto held = std::make_unique<TSPIBitmap>();
  held->LoadFile(wideName);
  for (int i = 0; i < 4; ++i) {
    auto next = std::make_unique<TSPIBitmap>();
    next->LoadFile(i % 2 ? wideName : tallName);
    ExpectPicture(*held, i % 2 ? tall : wide);
    held = std::move(next);
  }
  ExpectPicture(*held, wide);
  EXPECT_EQ(runner_->Starts(), 1);
}

struct Misdeed {
  const char* fixture;
  // 1: the helper faults; 0: the plug-in returns nonsense, which counts as "cannot" without a
  // fault; -1: either (whether a broken heap ends the process is the heap's choice: glibc's
  // always does, Wine's may carry on).  Faulted or answered nonsense, the helper is replaced.
  int faults;
  const char* happened;  // what the error says, natively and on Windows
};

class Misbehaving : public Helper, public ::testing::WithParamInterface<Misdeed> {};

TEST_P(Misbehaving, CostsOnlyItsAttemptAndIsNamedWhenNothingDecodes) {
  const Misdeed& m = GetParam();
  // The faulty plug-in declares .kvp and comes later in the set, so it is asked first.
  Set({m.fixture});
  Kvp k;
  k.switches = kTrap;
  TPicture picture;
  picture.LoadFile(dir.Write("trap.kvp", k.File()));
  ExpectPicture(*picture.AsBitmap(), k);
  if (m.faults >= 0) {
    EXPECT_EQ(runner_->Starts(), 2);
  }

  // Alone, it decodes nothing; the previous picture stays and the error says who and where.
  Set({m.fixture}, false);
  Kvp other;
  other.width = 5;
  other.switches = kTrap;
  try {
    picture.LoadFile(dir.Write("alone.kvp", other.File()));
    FAIL() << "no failure";
  } catch (const ESPIPluginFault& e) {
    EXPECT_NE(m.faults, 0) << e.Message();
    EXPECT_NE(e.Message().find(std::string(m.fixture) + ".spi:"), std::string::npos) << e.Message();
    EXPECT_NE(e.Message().find("GetPicture"), std::string::npos) << e.Message();
    EXPECT_NE(e.Message().find(m.happened), std::string::npos) << e.Message();
  } catch (const EInvalidGraphic& e) {
    EXPECT_NE(m.faults, 1) << e.Message();
    EXPECT_EQ(e.Message(), "Susie Plugins could not decode");
  }
  ExpectPicture(*picture.AsBitmap(), k);
}

INSTANTIATE_TEST_SUITE_P(
    Fixtures, Misbehaving,
    ::testing::Values(Misdeed{"fault_null", 1, "("}, Misdeed{"fault_heap", -1, "("},
                      Misdeed{"fault_stack", 1, "("}, Misdeed{"fault_endless", 1, "応答しなくなりました"},
                      Misdeed{"fault_exit", 1, "(終了コード 7)"}, Misdeed{"fault_sameblock", 0, ""}),
    [](const ::testing::TestParamInfo<Misdeed>& info) { return std::string(info.param.fixture); });

TEST_F(Helper, AbandonedWaitEndsTheLoadSilentlyAndKeepsThePicture) {
  Set({"fault_endless"});
  Kvp good;
  TPicture picture;
  picture.LoadFile(dir.Write("good.kvp", good.File()));
  int waits = 0;
  spirun::SetWaitHook([&] { return ++waits < 3; });
  Kvp trap;
  trap.switches = kTrap;
  EXPECT_THROW(picture.LoadFile(dir.Write("trap.kvp", trap.File())), EAbort);
  spirun::SetWaitHook(nullptr);
  EXPECT_EQ(waits, 3);
  ExpectPicture(*picture.AsBitmap(), good);
  // The next load starts a fresh helper.
  picture.LoadFile(dir.Write("again.kvp", good.File()));
  EXPECT_EQ(runner_->Starts(), 2);
}

TEST_F(Helper, PluginsThatFaultWhileBeingIdentifiedAreSkippedAtTheSearch) {
  EXPECT_EQ(CreateSPI(FaultFixture("fault_load")), nullptr);
  EXPECT_EQ(CreateSPI(FaultFixture("fault_info")), nullptr);
  set_.reset();
  set_ = std::make_unique<TSPIs>(nullptr);
  set_->SetSearchOptions({});
  const std::string folder = dir.Core();
  for (const char* name : {"fault_load", "fault_info", "fault_null"})
    fs::copy_file(fs::path(KOR_BINARY_DIR) / "spi" / "faults" / (std::string(name) + ".spi"),
                  dir.Path() / (std::string(name) + ".spi"));
  set_->Search(folder + "*.spi");
  ASSERT_EQ(set_->Count(), 1);
  EXPECT_NE(set_->Items(0)->FileName().find("fault_null.spi"), std::string::npos);
  EXPECT_EQ(set_->Items(0)->APIVersion(), "00IN");

  // Of loads sent ahead, one that nobody then asks for and that ends the helper costs the next
  // one nothing: it goes to a fresh helper.
  runner_->Expect({FaultFixture("fault_info"), FaultFixture("fault_null")}, 1);
  const spirun::LoadResult loaded = runner_->Load(FaultFixture("fault_null"), 1);
  EXPECT_NE(loaded.Id, 0u);
  EXPECT_EQ(loaded.Kind, "00IN");
  runner_->Release(loaded.Id);
}

// The helper inherits no handle of the program but its channel, and natively gets no more
// address space than its cap: the reaching fixture refuses the picture, which the decoder after
// it then shows.  (Wine accepts the job's process, memory and interface limits without
// enforcing them, so those are not asked here.)
TEST_F(Helper, RunsWithOnlyItsChannelAndWithinItsLimits) {
  const InheritableProbe probe;
  ASSERT_FALSE(probe.Name().empty());
  SetEnv("KORVALE_REACH", probe.Name());
  const uint64_t cap = platform::HelperAddressLimit();
  SetEnv("KORVALE_REACH_BYTES", cap ? std::to_string(cap + (uint64_t(1) << 30)) : "");
  Set({"fault_reach"});
  Kvp k;
  k.switches = kTrap;
  TPicture picture;
  picture.LoadFile(dir.Write("trap.kvp", k.File()));
  SetEnv("KORVALE_REACH", "");
  SetEnv("KORVALE_REACH_BYTES", "");
  ExpectPicture(*picture.AsBitmap(), k);
  EXPECT_FALSE(probe.Reached());
}

// The lying helper (liar.cpp) relays to kvpdec but lies, as KORVALE_LIE says, in its answer
// about a file named "lie": each lie is refused, says so, names the plug-in and costs only its
// attempt; the next call gets a fresh helper and its picture.  A header rewritten in the block after the
// answer changes nothing the program holds.
TEST_F(Helper, LiesInPictureAnswersCostOnlyTheirAttempt) {
  const std::string helper = spirun::THelperRunner::DefaultHelperPath();
#if defined(_WIN32)
  const std::string liarPath = helper.substr(0, helper.rfind("korspi")) + "korspi_liar.exe";
#else
  const std::string liarPath = helper.substr(0, helper.rfind("korspi")) + "korspi_liar";
#endif
  auto lie = [](const char* how) {
#if defined(_WIN32)
    _putenv_s("KORVALE_LIE", how);
#else
    setenv("KORVALE_LIE", how, 1);
#endif
  };
  Kvp good;
  good.width = 9;
  good.bits = 8;
  Kvp other;
  other.width = 6;
  other.height = 3;
  other.bits = 24;
  for (const char* how : {"wrap", "small", "extra", "unsolicited", "kind", "handle", "garbage", "cut"}) {
    SCOPED_TRACE(how);
    lie(how);
    UseHelper(liarPath);
    Set({});
    TPicture picture;
    picture.LoadFile(dir.Write("good.kvp", good.File()));
    try {
      picture.LoadFile(dir.Write("lie.kvp", other.File()));
      ADD_FAILURE() << "the lie was taken";
    } catch (const ESPIPluginFault& e) {
      EXPECT_NE(e.Message().find("kvpdec.spi:"), std::string::npos) << e.Message();
      // Every lie is a refused answer; only the helper that ends itself halfway through its
      // answer has ended its process.
      const std::string happened =
          std::string(how) == "cut" ? "(終了コード 0)" : "GetPictureの結果が不正なため拒否しました";
      EXPECT_NE(e.Message().find(happened), std::string::npos) << e.Message();
    }
    ExpectPicture(*picture.AsBitmap(), good);
    picture.LoadFile(dir.Write("again.kvp", other.File()));
    ExpectPicture(*picture.AsBitmap(), other);
    EXPECT_EQ(runner_->Starts(), 2);
  }

  lie("rewrite");
  UseHelper(liarPath);
  Set({});
  TSPIGraphic honest, rewritten;
  honest.LoadFile(dir.Write("good.kvp", good.File()));
  rewritten.LoadFile(dir.Write("lie.kvp", good.File()));
  std::this_thread::sleep_for(std::chrono::milliseconds(800));  // the helper rewrites after 300 ms
  TMemoryStream a, b;
  honest.SaveStream(a);
  rewritten.SaveStream(b);
  ASSERT_EQ(a.Size(), b.Size());
  EXPECT_EQ(std::memcmp(a.Memory(), b.Memory(), static_cast<size_t>(a.Size())), 0);
  std::unique_ptr<TGraphic> bitmap = rewritten.MakeBitmapAndRelease(&TBitmap::Class);
  ExpectPicture(*bitmap, good);
  // A block past this thread's limit is refused before it is mapped, without a fault.
  const spirun::TThreadPictureLimit limit(64);
  EXPECT_THROW(honest.LoadFile(dir.Write("good.kvp", good.File())), EInvalidGraphic);
  lie("");
}

}  // namespace
