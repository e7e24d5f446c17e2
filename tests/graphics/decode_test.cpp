// The decode sources: the loop over candidates and offsets, its progress steps, the two kinds of
// source, the plug-ins' failure paths and the blocks they leave behind.
#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "../../spi/decode/kvp_format.h"
#include "graphics/decode_fixtures.h"
#include "graphics/spi_decode.h"
#include "graphics/spi_sources.h"
#include "rtl/exceptions.h"
#include "rtl/streams.h"

using namespace decodefx;

namespace {

const std::string kStart = "S0:Loading Graphic by Susie Plugin|R1:Seeking enabled Susie Plugins";
const std::string kEnd = "E100*:Loaded Graphic by Susie Plugin";
std::string LoadingBy(const std::string& name) { return "R1:Loading by [" + name + "]"; }

TEST(MulDivRule, RoundsHalvesAwayFromZeroAndFlagsBadResults) {
  EXPECT_EQ(MulDiv(1, 1, 2), 1);
  EXPECT_EQ(MulDiv(-1, 1, 2), -1);
  EXPECT_EQ(MulDiv(3, 1, 2), 2);
  EXPECT_EQ(MulDiv(-3, 1, 2), -2);
  EXPECT_EQ(MulDiv(1, 1, -2), -1);
  EXPECT_EQ(MulDiv(1, 97, 3), 32);
  EXPECT_EQ(MulDiv(2, 97, 3), 65);
  EXPECT_EQ(MulDiv(5, 97, 0), -1);
  EXPECT_EQ(MulDiv(INT_MAX, 2, 1), -1);
  EXPECT_EQ(MulDiv(INT_MAX, 2, 2), INT_MAX);
  EXPECT_EQ(MulDiv(INT_MIN, 1, 1), INT_MIN);
}

// The callback as a plug-in calls it, with the source as its user value.
class Callback : public ::testing::Test {
 protected:
  TObject owner;
  TInSPIAbleFromFile source{&owner, "x.kvp"};
  ProgressLog log;
  int32_t Call(int32_t done, int32_t total) {
    return TInSPIAbleData::ProgressCallback(done, total, reinterpret_cast<spi_len_t>(&source));
  }
};

TEST_F(Callback, PercentagesFollowMulDiv) {
  source.OnProgress = log.Listener();
  EXPECT_EQ(Call(0, 10), 0);
  EXPECT_EQ(Call(10, 10), 0);
  EXPECT_EQ(Call(3, 0), 0);
  EXPECT_EQ(Call(1, 2), 0);
  EXPECT_EQ(log.Text(), "R2:|R99:|R1:|R51:");
  for (const Step& s : log.steps) EXPECT_EQ(s.sender, &owner);
}

TEST_F(Callback, WithoutListenerOrSourceNothingIsReported) {
  EXPECT_EQ(Call(1, 2), 0);
  EXPECT_EQ(TInSPIAbleData::ProgressCallback(1, 2, 0), 0);
}

TEST_F(Callback, AbortAsksThePluginToStop) {
  log.abortAt = 0;
  source.OnProgress = log.Listener();
  EXPECT_EQ(Call(0, 4), 1);
  EXPECT_EQ(Call(1, 4), 0);
}

// ---- progress sequences ----

class Decoding : public ::testing::Test {
 protected:
  void SetUp() override { baseline_ = LiveBlocks(); }
  void TearDown() override { EXPECT_EQ(LiveBlocks(), baseline_) << "a plug-in block was not freed"; }
  TObject owner;
  ScratchDir dir;
  ProgressLog log;
  long baseline_ = 0;
};

TEST_F(Decoding, WithoutPluginSetNothingIsAsked) {
  const std::string name = dir.Write("photo.kvp", Kvp{}.File());
  TInSPIAbleFromFile source(&owner, name);
  source.OnProgress = log.Listener();
  source.Decode();
  EXPECT_TRUE(source.IsEmpty());
  EXPECT_EQ(log.Text(), kStart + "|" + kEnd);
}

TEST_F(Decoding, SuccessReportsThePluginsProgress) {
  PluginSet set({"kvpdec"});
  Kvp k;
  k.height = 4;
  k.switches = KVP_PROGRESS;
  TInSPIAbleFromFile source(&owner, dir.Write("photo.kvp", k.File()));
  source.OnProgress = log.Listener();
  source.Decode();
  ASSERT_FALSE(source.IsEmpty());
  EXPECT_EQ(log.Text(), kStart + "|" + LoadingBy("kvpdec.spi") + "|R2:|R51:|R99:|" + kEnd);
  EXPECT_EQ(set.Trace(0), "IS:1 GPI:f0 GP:f0 PR:0/4=0 PR:2/4=0 PR:4/4=0");
  for (const Step& s : log.steps) {
    EXPECT_EQ(s.sender, &owner);
    EXPECT_EQ(s.rect, TRect{});
  }
  EXPECT_EQ(0, std::memcmp(source.Bits(), k.DibRows().data(), k.DibRows().size()));
}

TEST_F(Decoding, MacBinaryPrefixedFileIsDecodedAtTheSecondOffset) {
  PluginSet set({"kvpdec"});
  Kvp k;
  TInSPIAbleFromFile source(&owner, dir.Write("photo.kvp", k.File(true)));
  source.OnProgress = log.Listener();
  source.Decode();
  ASSERT_FALSE(source.IsEmpty());
  EXPECT_EQ(log.Text(), kStart + "|" + LoadingBy("kvpdec.spi") + "|" + LoadingBy("kvpdec.spi") + "|" + kEnd);
  EXPECT_EQ(set.Trace(0), "IS:0 IS:1 GPI:f128 GP:f128");
}

TEST_F(Decoding, MacBinaryOffTriesOnlyTheStart) {
  PluginSet set({"kvpdec"});
  set.Set().SetMacBinary(false);
  TInSPIAbleFromFile source(&owner, dir.Write("photo.kvp", Kvp{}.File(true)));
  source.Decode();
  EXPECT_TRUE(source.IsEmpty());
  EXPECT_EQ(set.Trace(0), "IS:0");
}

TEST_F(Decoding, AbortFailsTheAttemptAndTheLoopGoesOn) {
  PluginSet set({"kvpdec", "kvp_png"});
  Kvp k;
  k.height = 4;
  k.switches = KVP_PROGRESS;
  log.abortAt = 0;
  TInSPIAbleFromFile source(&owner, dir.Write("photo.kvp", k.File()));
  source.OnProgress = log.Listener();
  source.Decode();
  // The second plug-in decodes it: the listener aborts only once.
  ASSERT_FALSE(source.IsEmpty());
  EXPECT_EQ(set.Trace(0), "IS:1 GPI:f0 GP:f0 PR:0/4=1 IS:0");
  EXPECT_EQ(set.Trace(1), "IS:1 GPI:f0 GP:f0 PR:0/4=0 PR:2/4=0 PR:4/4=0");
  EXPECT_EQ(log.Text(), kStart + "|" + LoadingBy("kvpdec.spi") + "|R2:|" + LoadingBy("kvpdec.spi") + "|" +
                            LoadingBy("kvp_png.spi") + "|R2:|R51:|R99:|" + kEnd);
}

TEST_F(Decoding, OtherListenerFailureIsRethrownAfterThePluginReturned) {
  PluginSet set({"kvpdec"});
  Kvp k;
  k.height = 4;
  k.switches = KVP_PROGRESS;
  log.abortAt = 0;
  log.abortOther = true;
  TInSPIAbleFromFile source(&owner, dir.Write("photo.kvp", k.File()));
  source.OnProgress = log.Listener();
  EXPECT_THROW(source.Decode(), EInvalidOperation);
  EXPECT_EQ(set.Trace(0), "IS:1 GPI:f0 GP:f0 PR:0/4=1");
  EXPECT_EQ(log.steps.back().msg, "Loaded Graphic by Susie Plugin");
  EXPECT_TRUE(source.IsEmpty());
}

TEST_F(Decoding, FailureOfTheStartingStepPrecedesTheEndingGuard) {
  PluginSet set({"kvpdec"});
  TInSPIAbleFromFile source(&owner, dir.Write("photo.kvp", Kvp{}.File()));
  source.OnProgress = [](TObject*, TProgressStage stage, uint8_t, bool, TRect&, const std::string&) {
    if (stage != TProgressStage::psEnding) throw EInvalidOperation("no");
    FAIL() << "ending step reported";
  };
  EXPECT_THROW(source.Decode(), EInvalidOperation);
  EXPECT_EQ(set.Trace(0), "");
}

// ---- candidates ----

class Candidates : public Decoding {
 protected:
  // Every plug-in refuses, so every candidate is asked at both offsets.
  std::vector<std::string> Asked(const std::string& fileName) {
    Kvp k;
    k.switches = KVP_REFUSE;
    TInSPIAbleFromFile source(&owner, dir.Write(fileName, k.File()));
    ProgressLog l;
    source.OnProgress = l.Listener();
    source.Decode();
    std::vector<std::string> out;
    for (const Step& s : l.steps)
      if (s.msg.rfind("Loading by [", 0) == 0) out.push_back(s.msg.substr(12, s.msg.size() - 13));
    return out;
  }
};

TEST_F(Candidates, DeclaringModulesComeFirstInReverseSetOrder) {
  PluginSet set({"kvp_lower", "kvp_png", "kvp_upper"});
  EXPECT_EQ(Asked("photo.JPG"), (std::vector<std::string>{"kvp_upper.spi", "kvp_upper.spi", "kvp_lower.spi",
                                                          "kvp_lower.spi", "kvp_png.spi", "kvp_png.spi"}));
  EXPECT_EQ(Asked("photo.png"),
            (std::vector<std::string>{"kvp_png.spi", "kvp_png.spi", "kvp_lower.spi", "kvp_lower.spi",
                                      "kvp_upper.spi", "kvp_upper.spi"}));
}

TEST_F(Candidates, NameWithoutExtensionAsksTheSetInOrder) {
  PluginSet set({"kvp_png", "kvp_lower"});
  EXPECT_EQ(Asked("photo"),
            (std::vector<std::string>{"kvp_png.spi", "kvp_png.spi", "kvp_lower.spi", "kvp_lower.spi"}));
}

TEST_F(Candidates, ForcedLoaderIsTheOnlyOneAskedAndStillTestsTheData) {
  PluginSet set({"kvp_lower", "kvp_png"});
  set.Set().SetGraphicForcedLoader(set.Module(1));
  EXPECT_EQ(Asked("photo.jpg"), (std::vector<std::string>{"kvp_png.spi", "kvp_png.spi"}));
  EXPECT_EQ(set.Trace(0), "");
  EXPECT_EQ(set.Trace(1), "IS:0 IS:0");
  set.Set().SetGraphicForcedLoader(nullptr);
}

TEST_F(Candidates, RefusalMeansNoOtherCallAtThatOffset) {
  PluginSet set({"kvpdec"});
  Asked("photo.kvp");
  EXPECT_EQ(set.Trace(0), "IS:0 IS:0");
}

// ---- the two sources ----

TEST_F(Decoding, UnreadableFileStillAsksThePluginsWithZeros) {
  PluginSet set({"kvpdec"});
  TInSPIAbleFromFile source(&owner, dir.Write("gone.kvp", "") + "-missing");
  source.Decode();
  EXPECT_TRUE(source.IsEmpty());
  EXPECT_EQ(set.Trace(0), "IS:0 IS:0");
}

TEST_F(Decoding, MemoryStreamIsUsedInPlaceFromItsFirstByte) {
  PluginSet set({"kvpdec"});
  const std::string bytes = Kvp{}.File();
  TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  stream.SetPosition(7);
  TInSPIAbleFromStream source(&owner, stream, "photo.kvp");
  EXPECT_FALSE(source.OwnsCopy());
  EXPECT_EQ(source.Memory(), stream.Memory());
  EXPECT_EQ(source.Size(), static_cast<int32_t>(bytes.size()));
  source.Decode();
  EXPECT_FALSE(source.IsEmpty());
  EXPECT_EQ(set.Trace(0),
            "IS:1 GPI:m" + std::to_string(bytes.size()) + " GP:m" + std::to_string(bytes.size()));
}

TEST_F(Decoding, OtherStreamIsCopiedOnceAndLeftAtItsEnd) {
  PluginSet set({"kvpdec"});
  const std::string bytes = Kvp{}.File(true);
  const std::string name = dir.Write("photo.kvp", bytes);
  TFileStream stream(name, fmOpenRead | fmShareDenyWrite);
  stream.SetPosition(200);
  TInSPIAbleFromStream source(&owner, stream, name);
  EXPECT_TRUE(source.OwnsCopy());
  EXPECT_EQ(stream.Position(), stream.Size());
  source.Decode();
  EXPECT_FALSE(source.IsEmpty());
  const std::string rest = std::to_string(bytes.size() - 128);
  EXPECT_EQ(set.Trace(0), "IS:0 IS:1 GPI:m" + rest + " GP:m" + rest);
}

TEST_F(Decoding, MemoryShorterThanTheOffsetSkipsThatAttempt) {
  PluginSet set({"kvpdec"});
  Kvp k;
  k.switches = KVP_FAIL;
  const std::string bytes = k.File();
  ASSERT_LT(bytes.size(), 128u);
  TMemoryStream stream;
  stream.WriteBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
  TInSPIAbleFromStream source(&owner, stream, "");
  source.OnProgress = log.Listener();
  source.Decode();
  EXPECT_TRUE(source.IsEmpty());
  const std::string n = std::to_string(bytes.size());
  EXPECT_EQ(set.Trace(0), "IS:1 GPI:m" + n + " GP:m" + n);
  EXPECT_EQ(log.Text(), kStart + "|" + LoadingBy("kvpdec.spi") + "|" + LoadingBy("kvpdec.spi") + "|" + kEnd);
}

TEST_F(Decoding, EmptyStreamIsOfferedAtTheStartOnly) {
  PluginSet set({"kvpdec"});
  TMemoryStream stream;
  TInSPIAbleFromStream source(&owner, stream, "");
  source.Decode();
  EXPECT_TRUE(source.IsEmpty());
  EXPECT_EQ(set.Trace(0), "IS:0");
}

// ---- what plug-ins return ----

struct Outcome {
  const char* name;
  uint32_t switches;
  uint16_t bits;
  int32_t width;
};

class Returned : public Decoding, public ::testing::WithParamInterface<Outcome> {};

TEST_P(Returned, CountsAsNotDecodedAndFreesEverything) {
  PluginSet set({"kvpdec", "kvp_png"});
  Kvp k;
  k.switches = GetParam().switches;
  k.bits = GetParam().bits;
  k.width = GetParam().width;
  TInSPIAbleFromFile source(&owner, dir.Write("photo.kvp", k.File()));
  source.Decode();
  EXPECT_TRUE(source.IsEmpty());
  EXPECT_EQ(source.InfoHandle(), nullptr);
  EXPECT_EQ(source.BitsHandle(), nullptr);
  // Each plug-in was tried in turn at the start and found nothing at 128.
  EXPECT_EQ(set.Trace(1).substr(0, 17), "IS:1 GPI:f0 GP:f0");
}

INSTANTIATE_TEST_SUITE_P(
    Failures, Returned,
    ::testing::Values(Outcome{"NonZeroResult", KVP_FAIL, 24, 3},
                      Outcome{"BitsHandleUnset", KVP_NO_BITS, 24, 3},
                      Outcome{"InfoHandleUnset", KVP_NO_INFO, 8, 3},
                      Outcome{"BitsBlockTooSmall", KVP_SHORT_BITS, 24, 3},
                      Outcome{"ColourTableMissing", KVP_SHORT_INFO, 8, 3}, Outcome{"OddBitCount", 0, 7, 3},
                      Outcome{"MasksMissing", KVP_BITFIELDS | KVP_SHORT_INFO, 16, 3},
                      Outcome{"ZeroWidth", 0, 24, 0}, Outcome{"NegativeWidth", 0, 8, -5}),
    [](const ::testing::TestParamInfo<Outcome>& info) { return std::string(info.param.name); });

TEST_F(Decoding, HeaderSizeAboveFortyIsAccepted) {
  PluginSet set({"kvpdec"});
  Kvp k;
  k.switches = KVP_BIG_BISIZE;
  TInSPIAbleFromFile source(&owner, dir.Write("photo.kvp", k.File()));
  source.Decode();
  EXPECT_FALSE(source.IsEmpty());
}

TEST_F(Decoding, TextHandleLivesUntilTheSourceIsDestroyed) {
  PluginSet set({"kvpdec"});
  Kvp k;
  k.switches = KVP_TEXT;
  const long before = LiveBlocks();
  {
    TInSPIAbleFromFile source(&owner, dir.Write("photo.kvp", k.File()));
    source.Decode();
    ASSERT_FALSE(source.IsEmpty());
    EXPECT_NE(source.PictureInfo().hInfo, nullptr);
#if !defined(_WIN32)
    EXPECT_EQ(LiveBlocks(), before + 3);
#endif
  }
  EXPECT_EQ(LiveBlocks(), before);
}

TEST_F(Decoding, DecodingAgainStartsOver) {
  PluginSet set({"kvpdec"});
  TInSPIAbleFromFile source(&owner, dir.Write("photo.kvp", Kvp{}.File()));
  source.Decode();
  const long held = LiveBlocks();
  source.Decode();
  EXPECT_FALSE(source.IsEmpty());
  EXPECT_EQ(LiveBlocks(), held);
  EXPECT_EQ(set.Trace(0), "IS:1 GPI:f0 GP:f0 IS:1 GPI:f0 GP:f0");
}

TEST_F(Decoding, BlocksAreLockedOnceAndKept) {
  PluginSet set({"kvpdec"});
  TInSPIAbleFromFile source(&owner, dir.Write("photo.kvp", Kvp{}.File()));
  source.Decode();
  const void* info = source.BitmapInfo();
  EXPECT_EQ(source.BitmapInfo(), info);
  EXPECT_EQ(source.Bits(), source.Bits());
  EXPECT_NE(info, nullptr);
}

// ---- previews ----

TEST_F(Decoding, PreviewFirstWhenAsked) {
  PluginSet set({"kvpdec"});
  set.Set().SetGraphicPreview(true);
  Kvp k;
  k.switches = KVP_PREVIEW;
  TInSPIAbleFromFile source(&owner, dir.Write("photo.kvp", k.File()));
  source.Decode();
  EXPECT_FALSE(source.IsEmpty());
  EXPECT_EQ(set.Trace(0), "IS:1 GPI:f0 PV:f0");
}

TEST_F(Decoding, PictureWhenThePreviewGivesNothing) {
  PluginSet set({"kvpdec"});
  set.Set().SetGraphicPreview(true);
  TInSPIAbleFromFile source(&owner, dir.Write("photo.kvp", Kvp{}.File()));
  source.Decode();
  EXPECT_FALSE(source.IsEmpty());
  EXPECT_EQ(set.Trace(0), "IS:1 GPI:f0 PV:f0 GP:f0");
}

TEST_F(Decoding, PictureWhenThePluginHasNoPreview) {
  PluginSet set({"kvp_nopreview"});
  set.Set().SetGraphicPreview(true);
  TInSPIAbleFromFile source(&owner, dir.Write("photo.kvp", Kvp{}.File()));
  source.Decode();
  EXPECT_FALSE(source.IsEmpty());
  EXPECT_EQ(set.Trace(0), "IS:1 GPI:f0 GP:f0");
}

#if defined(_WIN32)
// ---- plug-ins that crash ----

TEST_F(Decoding, CrashInGetPictureIsNamedWhenNoPluginDecodes) {
  PluginSet set({"kvpdec", "kvp_png"});
  Kvp k;
  k.switches = KVP_CRASH;
  TInSPIAbleFromFile source(&owner, dir.Write("photo.kvp", k.File()));
  source.OnProgress = log.Listener();
  try {
    source.Decode();
    FAIL() << "no failure";
  } catch (const ESPIPluginFault& e) {
    EXPECT_NE(e.Message().find("kvpdec.spi"), std::string::npos) << e.Message();
    EXPECT_NE(e.Message().find("GetPicture"), std::string::npos) << e.Message();
    EXPECT_NE(e.Message().find("C0000005"), std::string::npos) << e.Message();
  }
  EXPECT_TRUE(source.IsEmpty());
  EXPECT_EQ(log.steps.back().msg, "Loaded Graphic by Susie Plugin");
  // The fault cost only kvpdec's attempt: the next plug-in was asked (and crashed as well).
  EXPECT_EQ(set.Trace(1).substr(0, 17), "IS:1 GPI:f0 GP:f0");
  // The program goes on, and so does the plug-in.
  TInSPIAbleFromFile again(&owner, dir.Write("good.kvp", Kvp{}.File()));
  again.Decode();
  EXPECT_FALSE(again.IsEmpty());
}

TEST_F(Decoding, CrashInGetPictureInfoNamesThatEntryPoint) {
  PluginSet set({"kvpdec"});
  Kvp k;
  k.switches = KVP_CRASH_INFO;
  TInSPIAbleFromFile source(&owner, dir.Write("photo.kvp", k.File()));
  try {
    source.Decode();
    FAIL() << "no failure";
  } catch (const ESPIPluginFault& e) {
    EXPECT_NE(e.Message().find("GetPictureInfo"), std::string::npos) << e.Message();
  }
}
#endif

}  // namespace
