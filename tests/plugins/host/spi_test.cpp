// Modules: identification by API kind, the information numbers, entry-point checks, wrappers.
#include "plugins/spi.h"

#include <gtest/gtest.h>

#include "plugins/host/host_fixtures.h"
#include "rtl/format.h"
#include "rtl/text.h"

using hostfx::CoreFixture;

namespace {

struct KindCase {
  const char* fixture;
  const char* className;
  const char* apiVersion;
  bool usable;
};

class Identification : public ::testing::TestWithParam<KindCase> {};

TEST_P(Identification, KindPicksTheClass) {
  const KindCase& c = GetParam();
  std::unique_ptr<TSPI> spi = CreateSPI(CoreFixture(c.fixture));
  ASSERT_TRUE(spi);
  EXPECT_STREQ(spi->ClassName(), c.className);
  EXPECT_EQ(spi->APIVersion(), c.apiVersion);
  EXPECT_EQ(spi->Usable(), c.usable);
  EXPECT_NE(spi->Handle(), nullptr);
  EXPECT_TRUE(text::SameFileName(spi->FileName(), CoreFixture(c.fixture))) << spi->FileName();
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, Identification,
    ::testing::Values(KindCase{"fx_in", "TInSPI", "00IN", true}, KindCase{"fx_am", "TAmSPI", "00AM", true},
                      KindCase{"fx_xn", "TXnSPI", "00XN", false}, KindCase{"fx_other", "TSPI", "00EX", false},
                      KindCase{"fx_lowercase", "TSPI", "00in", false},
                      KindCase{"fx_emptykind", "TSPI", "", false}, KindCase{"fx_nokind", "TSPI", "", false}),
    [](const auto& info) { return std::string(info.param.fixture); });

TEST(Identification, ClassTree) {
  EXPECT_TRUE(InheritsFrom(&TInSPI::Class, &TLoaderSPI::Class));
  EXPECT_TRUE(InheritsFrom(&TAmSPI::Class, &TSPI::Class));
  EXPECT_FALSE(InheritsFrom(&TXnSPI::Class, &TLoaderSPI::Class));
  EXPECT_FALSE(InheritsFrom(&TSPI::Class, &TInSPI::Class));
  EXPECT_FALSE(InheritsFrom(&TAmSPI::Class, &TInSPI::Class));
}

TEST(Identification, CreatingThroughAClassBuildsThatClassWithItsCheck) {
  // The check is the class's own: a library without GetPicture passes as an archive module
  // but not as an import module.
  std::unique_ptr<TSPI> xn = TSPI::Create(&TXnSPI::Class, CoreFixture("fx_in"));
  EXPECT_STREQ(xn->ClassName(), "TXnSPI");
  EXPECT_FALSE(xn->Usable());
  std::unique_ptr<TSPI> am = TSPI::Create(&TAmSPI::Class, CoreFixture("fx_in_nopicture"));
  EXPECT_STREQ(am->ClassName(), "TAmSPI");
  EXPECT_TRUE(am->Usable());
  EXPECT_THROW(TSPI::Create(&TInSPI::Class, CoreFixture("fx_in_nopicture")), ESPIInvalidAPI);
}

TEST(Identification, NotALibraryIsNoModule) {
  const std::string path = CoreFixture("fx_notalib");
  EXPECT_EQ(CreateSPI(path), nullptr);
  EXPECT_EQ(CreateSPI(CoreFixture("fx_does_not_exist")), nullptr);
  try {
    TSPI::Create(&TSPI::Class, path);
    FAIL() << "loading a text file succeeded";
  } catch (const ESPIFOpenErrorSPI& e) {
    EXPECT_EQ(e.Message(), Format(msg::kSPIFOpenError, {path}));
    EXPECT_STREQ(e.ClassName(), "ESPIFOpenErrorSPI");
  }
}

// The fixture counts its GetPluginInfo calls per number; the test holds its own reference so
// the counters survive between the two creations and are read afterwards.
class InfoCalls : public ::testing::Test {
 protected:
  int32_t Calls(int32_t n) {
    return reinterpret_cast<int32_t(SPI_CALL*)(int32_t)>(lib_.Proc("FixtureInfoCalls"))(n);
  }
  void Load(const std::string& fixture) {
    lib_ = platform::DynamicLibrary(CoreFixture(fixture));
    ASSERT_TRUE(lib_);
    reinterpret_cast<void(SPI_CALL*)()>(lib_.Proc("FixtureReset"))();
  }
  int32_t LastLength() {
    return reinterpret_cast<int32_t(SPI_CALL*)()>(lib_.Proc("FixtureLastBufferLength"))();
  }
  platform::DynamicLibrary lib_;
};

TEST_F(InfoCalls, EachNumberIsAskedOncePerCreation) {
  Load("fx_in");
  std::unique_ptr<TSPI> spi = CreateSPI(CoreFixture("fx_in"));
  ASSERT_TRUE(spi);
  // 0, 1, the pairs (2,3) and (4,5), then 6 is refused and 7 never asked.
  for (int32_t n = 0; n <= 6; ++n) EXPECT_EQ(Calls(n), 2) << "information number " << n;
  EXPECT_EQ(Calls(7), 0);
  EXPECT_EQ(LastLength(), 255);
  EXPECT_EQ(spi->About(), "fixture plug-in");
  ASSERT_EQ(spi->Extensions().Count(), 2);
  EXPECT_EQ(spi->Extensions()[1], "*.fx2;*.fx3");
  EXPECT_EQ(spi->Descriptions()[1], "FX two");
}

TEST_F(InfoCalls, AnswersStopAtTheFirstIncompletePair) {
  Load("fx_stop");
  std::unique_ptr<TSPI> spi = CreateSPI(CoreFixture("fx_stop"));
  ASSERT_TRUE(spi);
  // 6 and 7 would answer, but 4 does not, so 5 and everything after are never asked.
  ASSERT_EQ(spi->Extensions().Count(), 1);
  ASSERT_EQ(spi->Descriptions().Count(), 1);
  EXPECT_EQ(spi->Extensions()[0], "*.one");
  EXPECT_EQ(spi->Descriptions()[0], "first");
  EXPECT_EQ(Calls(4), 2);
  EXPECT_EQ(Calls(5), 0);
  EXPECT_EQ(Calls(6), 0);
}

TEST_F(InfoCalls, NumberTwoWithoutThreeGivesEmptyLists) {
  Load("fx_no3");
  std::unique_ptr<TSPI> spi = CreateSPI(CoreFixture("fx_no3"));
  ASSERT_TRUE(spi);
  EXPECT_EQ(spi->Extensions().Count(), 0);
  EXPECT_EQ(spi->Descriptions().Count(), 0);
  EXPECT_EQ(Calls(3), 2);
  EXPECT_EQ(Calls(4), 0);
}

TEST(InfoTexts, PluginFillingTheWholeBufferIsCutAt255) {
  std::unique_ptr<TSPI> spi = CreateSPI(CoreFixture("fx_fill"));
  ASSERT_TRUE(spi);
  EXPECT_EQ(spi->APIVersion(), std::string(255, 'A'));
  EXPECT_EQ(spi->About(), std::string(255, 'A'));
  EXPECT_STREQ(spi->ClassName(), "TSPI");
}

TEST(InfoTexts, PluginAnsweringEveryNumberIsAskedABoundedNumberOfTimes) {
  std::unique_ptr<TSPI> spi = CreateSPI(CoreFixture("fx_endless"));
  ASSERT_TRUE(spi);
  EXPECT_EQ(spi->Extensions().Count(), 1024);
  EXPECT_EQ(spi->Descriptions().Count(), 1024);
  EXPECT_EQ(spi->Descriptions()[1023], "endless");
}

TEST(InfoTexts, SeveralItemsKeepTheirPatternsWhole) {
  std::unique_ptr<TSPI> spi = CreateSPI(CoreFixture("fx_multi"));
  ASSERT_TRUE(spi);
  EXPECT_EQ(spi->Extensions().Items(),
            (std::vector<std::string>{"*.jpg;*.jpeg", "*.tif;*.tiff;*.tf", "*.png"}));
  EXPECT_EQ(spi->Descriptions().Items(),
            (std::vector<std::string>{"JPEG picture", "TIFF picture", "PNG picture"}));
}

struct MissingCase {
  const char* fixture;
  const char* entry;
};

class MissingEntryPoint : public ::testing::TestWithParam<MissingCase> {};

TEST_P(MissingEntryPoint, NamesTheEntryThenTheFile) {
  const std::string path = CoreFixture(GetParam().fixture);
  try {
    CreateSPI(path);
    FAIL() << "a plug-in without " << GetParam().entry << " was accepted";
  } catch (const ESPIInvalidAPI& e) {
    EXPECT_EQ(e.Message(), Format(msg::kSPIInvalidAPI, {GetParam().entry, path}));
    EXPECT_EQ(e.Message().rfind(GetParam().entry, 0), 0u) << "the entry point's name comes first";
    EXPECT_STREQ(e.ClassName(), "ESPIInvalidAPI");
  }
}

INSTANTIATE_TEST_SUITE_P(Entries, MissingEntryPoint,
                         ::testing::Values(MissingCase{"fx_nogpi", "GetPluginInfo"},
                                           MissingCase{"fx_in_noissupported", "IsSupported"},
                                           MissingCase{"fx_in_nopictureinfo", "GetPictureInfo"},
                                           MissingCase{"fx_in_nopicture", "GetPicture"},
                                           MissingCase{"fx_am_noissupported", "IsSupported"},
                                           MissingCase{"fx_am_noarchiveinfo", "GetArchiveInfo"},
                                           MissingCase{"fx_am_nofileinfo", "GetFileInfo"},
                                           MissingCase{"fx_am_nofile", "GetFile"}),
                         [](const auto& info) { return std::string(info.param.fixture); });

TEST(Wrappers, PassArgumentsAndResultsThrough) {
  std::unique_ptr<TSPI> spi = CreateSPI(CoreFixture("fx_in"));
  ASSERT_TRUE(spi);
  auto* in = static_cast<TInSPI*>(spi.get());
  EXPECT_EQ(in->IsSupported("Yes.fx1", 0x12345), 0x2345);
  EXPECT_EQ(in->IsSupported("no.fx1", 0x12345), 0);
  SPI_PICTINFO info{};
  EXPECT_EQ(in->GetPictureInfo("x", 40, 1, &info), 41);
  EXPECT_EQ(info.width, 77);
  spi_hlocal_t a = nullptr, b = nullptr;
  EXPECT_EQ(in->GetPicture("x", 3, 1, &a, &b, nullptr, 10), 13);
  EXPECT_EQ(in->GetPreview("x", 3, 1, &a, &b, nullptr, 10), 7);
  char buf[256] = {};
  EXPECT_GT(in->GetPluginInfo(1, buf, 255), 0);
  EXPECT_STREQ(buf, "fixture plug-in");
  EXPECT_NE(spi->GetProc("GetFile"), nullptr);
  EXPECT_EQ(spi->GetProc("NoSuchEntry"), nullptr);
}

TEST(Wrappers, PreviewMissingFromAnImportModule) {
  std::unique_ptr<TSPI> spi = CreateSPI(CoreFixture("fx_in_nopreview"));
  ASSERT_TRUE(spi);
  EXPECT_STREQ(spi->ClassName(), "TInSPI");
  EXPECT_EQ(spi->Slot(TSPI::psConfigurationDlg), nullptr);
  spi_hlocal_t a = nullptr, b = nullptr;
  try {
    static_cast<TInSPI*>(spi.get())->GetPreview("x", 1, 1, &a, &b, nullptr, 0);
    FAIL() << "GetPreview was called without an entry point";
  } catch (const ESPIInvalidAPI& e) {
    EXPECT_EQ(e.Message(), Format(msg::kSPIInvalidAPI, {"GetPreview", spi->FileName()}));
  }
}

TEST(Lifetime, ModulesOnOneFileHoldTheirOwnReference) {
  std::unique_ptr<TSPI> first = CreateSPI(CoreFixture("fx_multi"));
  std::unique_ptr<TSPI> second = CreateSPI(CoreFixture("fx_multi"));
  ASSERT_TRUE(first && second);
  first.reset();
  char buf[256] = {};
  EXPECT_GT(second->GetPluginInfo(1, buf, 255), 0);  // still mapped: would crash if unloaded
  EXPECT_STREQ(buf, "multi");
}

}  // namespace
