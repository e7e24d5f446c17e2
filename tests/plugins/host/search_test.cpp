// The search: folders by option and by mask, the registry's Susie folder, hidden files,
// duplicates, and which errors end the search.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "platform/files.h"
#include "plugins/host/host_fixtures.h"
#include "plugins/spis.h"
#include "rtl/text.h"

using hostfx::ScratchDir;
using hostfx::ValueKind;

namespace {

class Search : public ::testing::Test {
 protected:
  void SetUp() override {
    hostfx::ClearSusieKey();
    set_ = std::make_unique<TSPIs>(nullptr);
  }
  void TearDown() override {
    set_.reset();
    hostfx::ClearSusieKey();
  }
  // The file names (without folder) of the modules, in set order.
  std::vector<std::string> Names() const {
    std::vector<std::string> out;
    for (int i = 0; i < set_->Count(); ++i) out.push_back(text::ExtractFileName(set_->Items(i)->FileName()));
    return out;
  }
  std::multiset<std::string> NameSet() const {
    std::vector<std::string> n = Names();
    return {n.begin(), n.end()};
  }
  // Searches only the registry's folder.
  void SearchSusieDir() {
    set_->SetSearchOptions({spsSusieDir});
    set_->Search("*.spi");
  }
  std::unique_ptr<TSPIs> set_;
};

TEST_F(Search, MaskWithAFolderSearchesOnlyThatFolder) {
  ScratchDir dir, other;
  dir.Add("fx_order_a", "a.spi");
  dir.Add("fx_am", "archive.spi");
  dir.Add("fx_order_b", "b.SPI");
  dir.Write("notes.txt", "not a plug-in");
  dir.Add("fx_order_c", "c.dll");
  other.Add("fx_xn", "x.spi");
  hostfx::SetSusieValue(other.Core());
  set_->SetSearchOptions({spsSusieDir, spsCurrentDir});
  set_->Search(dir.Core() + "*.spi");
  EXPECT_EQ(NameSet(), (std::multiset<std::string>{"a.spi", "archive.spi", "b.SPI"}));
  for (int i = 0; i < set_->Count(); ++i)
    EXPECT_TRUE(text::SameFileName(text::ExtractFilePath(set_->Items(i)->FileName()), dir.Core()));
}

TEST_F(Search, HiddenFilesFoldersAndNonLibrariesAreSkipped) {
  ScratchDir dir;
  dir.Add("fx_order_a", "a.spi");
#if defined(_WIN32)
  const std::string hidden = "hidden.spi";
#else
  const std::string hidden = ".hidden.spi";
#endif
  dir.Add("fx_order_b", hidden);
  dir.Hide(hidden);
  hostfx::fs::create_directories(dir.Sub("folder.spi"));
  dir.Add("fx_notalib", "broken.spi");
  set_->Search(dir.Core() + "*.spi");
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.spi"}));
}

TEST_F(Search, RegistryFolderWithoutTrailingSeparator) {
  ScratchDir dir;
  dir.Add("fx_order_a", "a.spi");
  std::string folder = dir.Core();
  folder.pop_back();
  hostfx::SetSusieValue(folder);
  SearchSusieDir();
  ASSERT_EQ(set_->Count(), 1);
  EXPECT_TRUE(text::SameFileName(set_->Items(0)->FileName(), dir.Core() + "a.spi"))
      << set_->Items(0)->FileName();
}

TEST_F(Search, RegistryValueOfAnotherTypeIsSkipped) {
  ScratchDir dir;
  dir.Add("fx_order_a", "a.spi");
  hostfx::SetSusieValue(dir.Core(), ValueKind::Number);
  EXPECT_NO_THROW(SearchSusieDir());
  EXPECT_EQ(set_->Count(), 0);
}

TEST_F(Search, ExpandableValueIsTakenAsStored) {
  ScratchDir dir;
  dir.Add("fx_order_a", "a.spi");
  hostfx::SetSusieValue(dir.Core(), ValueKind::Expandable);
  SearchSusieDir();
  EXPECT_EQ(set_->Count(), 1);

  set_->Clear();
  const std::string folder = dir.Core();
#if defined(_WIN32)
  _putenv_s("KORVALE_FX_DIR", folder.c_str());
#else
  setenv("KORVALE_FX_DIR", folder.c_str(), 1);
#endif
  hostfx::SetSusieValue("%KORVALE_FX_DIR%", ValueKind::Expandable);
  SearchSusieDir();
  EXPECT_EQ(set_->Count(), 0) << "the value was expanded";
}

TEST_F(Search, MissingKeyOrEmptyValueSkipsTheFolder) {
  EXPECT_NO_THROW(SearchSusieDir());
  hostfx::SetSusieValue("");
  EXPECT_NO_THROW(SearchSusieDir());
  EXPECT_EQ(set_->Count(), 0);
}

TEST_F(Search, FolderReachedThroughTwoOptionsLoadsOnce) {
  ScratchDir dir;
  dir.Add("fx_order_a", "a.spi");
  dir.Add("fx_order_b", "b.spi");
  hostfx::SetSusieValue(dir.Core());
  const std::string cwd = platform::GetCurrentDir();
  ASSERT_TRUE(platform::SetCurrentDir(dir.Core()));
  set_->SetSearchOptions({spsSusieDir, spsCurrentDir});
  set_->Search("*.spi");
  set_->Search("*.spi");  // searching again adds nothing either
  platform::SetCurrentDir(cwd);
  EXPECT_EQ(NameSet(), (std::multiset<std::string>{"a.spi", "b.spi"}));
}

TEST_F(Search, OptionsRunInTheirOrder) {
  ScratchDir susie, current;
  susie.Add("fx_order_a", "a.spi");
  current.Add("fx_order_b", "b.spi");
  hostfx::SetSusieValue(susie.Core());
  const std::string cwd = platform::GetCurrentDir();
  ASSERT_TRUE(platform::SetCurrentDir(current.Core()));
  set_->SetSearchOptions({spsCurrentDir, spsSusieDir});
  set_->Search("*.spi");
  platform::SetCurrentDir(cwd);
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.spi", "b.spi"}));
}

#if defined(_WIN32)
// The system and Windows folders of the test's own prefix, holding one plug-in each for a moment.
TEST_F(Search, SystemThenWindowsFolder) {
  const std::string id = std::to_string(GetCurrentProcessId());
  const hostfx::fs::path system = platform::SystemDirectory(), windows = platform::WindowsDirectory();
  ASSERT_FALSE(system.empty());
  ASSERT_FALSE(windows.empty());
  const std::string a = "korvale-host-" + id + "-a.spi", b = "korvale-host-" + id + "-b.spi";
  hostfx::fs::copy_file(hostfx::Fixture("fx_order_a"), system / a,
                        hostfx::fs::copy_options::overwrite_existing);
  hostfx::fs::copy_file(hostfx::Fixture("fx_order_b"), windows / b,
                        hostfx::fs::copy_options::overwrite_existing);
  set_->SetSearchOptions({spsWindowsDir, spsSystemDir});
  set_->OnSearching = [&](TObject*, const std::string& path, bool& accept) {
    accept = text::ExtractFileName(path).rfind("korvale-host-" + id, 0) == 0;
  };
  set_->Search("*.spi");
  const std::vector<std::string> found = Names();
  set_->Clear();  // releases the libraries so the copies can go
  std::error_code ec;
  hostfx::fs::remove(system / a, ec);
  hostfx::fs::remove(windows / b, ec);
  EXPECT_EQ(found, (std::vector<std::string>{a, b}));
}
#endif

TEST_F(Search, SameFileThroughAnotherPathTextLoadsAgain) {
  ScratchDir dir;
  dir.Add("fx_order_a", "a.spi");
  set_->Search(dir.Core() + "*.spi");
  set_->Search(dir.Core() + ".\\*.spi");
  EXPECT_EQ(set_->Count(), 2);
}

TEST_F(Search, BrokenPluginEndsTheSearch) {
  ScratchDir dir;
  for (const char* n : {"a.spi", "b.spi", "c.spi", "d.spi"}) dir.Add("fx_order_a", n);
  dir.Add("fx_in_nopicture", "broken.spi");
  std::vector<std::string> offered;
  set_->OnSearching = [&](TObject*, const std::string& path, bool&) {
    offered.push_back(text::ExtractFileName(path));
  };
  EXPECT_THROW(set_->Search(dir.Core() + "*.spi"), ESPIInvalidAPI);
  // Nothing after the broken file was looked at; everything before it stays.
  ASSERT_FALSE(offered.empty());
  EXPECT_EQ(offered.back(), "broken.spi");
  offered.pop_back();
  EXPECT_EQ(Names(), offered);
}

TEST_F(Search, SearchingHandlerErrorEndsTheSearch) {
  ScratchDir dir;
  dir.Add("fx_order_a", "a.spi");
  dir.Add("fx_order_b", "b.spi");
  int calls = 0;
  set_->OnSearching = [&](TObject*, const std::string&, bool&) {
    ++calls;
    throw EAbort("stop");
  };
  EXPECT_THROW(set_->Search(dir.Core() + "*.spi"), EAbort);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(set_->Count(), 0);
}

TEST_F(Search, HandlersChooseAndTheirErrorsDropOneModule) {
  ScratchDir dir;
  dir.Add("fx_order_a", "a.spi");
  dir.Add("fx_order_b", "b.spi");
  dir.Add("fx_order_c", "c.spi");
  dir.Add("fx_am", "d.spi");
  set_->OnSearching = [&](TObject* sender, const std::string& path, bool& accept) {
    EXPECT_EQ(sender, set_.get());
    EXPECT_TRUE(accept);
    if (text::ExtractFileName(path) == "a.spi") accept = false;
  };
  set_->OnSearch = [&](TObject*, TSPI* spi, bool& accept) {
    EXPECT_TRUE(accept);
    const std::string name = text::ExtractFileName(spi->FileName());
    if (name == "b.spi") accept = false;
    if (name == "c.spi") throw EAbort("refused");
  };
  EXPECT_NO_THROW(set_->Search(dir.Core() + "*.spi"));
  EXPECT_EQ(Names(), (std::vector<std::string>{"d.spi"}));
}

TEST_F(Search, RegistrationErrorDropsTheModule) {
  const TGraphicMetaClass someGraphic = {"TSomeGraphic", &TGraphic::Class, nullptr};
  TSPIs::SetDefaultGraphicClass(&someGraphic);
  ScratchDir dir;
  dir.Add("fx_order_a", "a.spi");
  dir.Add("fx_multi", "m.spi");
  set_->OnPictureRegister = [](TObject*, TInSPI* spi, const std::string&, const std::string&,
                               TGraphicClass&) {
    if (spi->About() == "multi") throw EAbort("no");
  };
  EXPECT_NO_THROW(set_->Search(dir.Core() + "*.spi"));
  TSPIs::SetDefaultGraphicClass(nullptr);
  EXPECT_EQ(Names(), (std::vector<std::string>{"a.spi"}));
}

TEST_F(Search, AutomaticSearchFollowsAutoSearch) {
  ScratchDir dir;
  dir.Add("fx_order_a", "a.spi");
  hostfx::SetSusieValue(dir.Core());
  set_->SetSearchOptions({spsSusieDir});
  set_->SetAutoSearch(false);
  set_->SettingsApplied();
  EXPECT_EQ(set_->Count(), 0);
  set_->SetAutoSearch(true);
  set_->SettingsApplied();
  EXPECT_EQ(set_->Count(), 1);
}

}  // namespace
