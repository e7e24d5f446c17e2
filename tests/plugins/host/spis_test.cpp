// The plug-in set: single instance, list operations, format registration, candidate order.
#include "plugins/spis.h"

#include <gtest/gtest.h>

#include "picture/picture.h"
#include "plugins/host/host_fixtures.h"
#include "rtl/format.h"
#include "rtl/messages.h"

using hostfx::CoreFixture;

namespace {

const TGraphicMetaClass kFirstGraphic = {"TFirstGraphic", &TGraphic::Class, nullptr};
const TGraphicMetaClass kOtherGraphic = {"TOtherGraphic", &TGraphic::Class, nullptr};

std::unique_ptr<TSPI> Module(const std::string& fixture) {
  std::unique_ptr<TSPI> spi = CreateSPI(CoreFixture(fixture));
  EXPECT_TRUE(spi) << fixture;
  return spi;
}

struct Registered {
  std::string extension, description;
  TGraphicClass cls;
  bool operator==(const Registered& o) const {
    return extension == o.extension && description == o.description && cls == o.cls;
  }
};

std::ostream& operator<<(std::ostream& os, const Registered& r) {
  return os << r.extension << "/" << r.description << "/" << ClassNameOf(r.cls);
}

// The registry's entries added since `from`.
std::vector<Registered> AddedSince(size_t from) {
  std::vector<Registered> out;
  const auto& entries = FileFormats().Entries();
  for (size_t i = from; i < entries.size(); ++i)
    out.push_back({entries[i].Extension, entries[i].Description, entries[i].GraphicClass});
  return out;
}

class PluginSet : public ::testing::Test {
 protected:
  void SetUp() override {
    TSPIs::SetDefaultGraphicClass(&kFirstGraphic);
    set_ = std::make_unique<TSPIs>(nullptr);
    before_ = FileFormats().Entries().size();
  }
  void TearDown() override {
    set_.reset();
    TSPIs::SetDefaultGraphicClass(nullptr);
  }
  std::unique_ptr<TSPIs> set_;
  size_t before_ = 0;
};

TEST_F(PluginSet, OnlyOneSetAtATime) {
  EXPECT_EQ(GetSPIs(), set_.get());
  set_->Add(Module("fx_in"));
  try {
    TSPIs second(nullptr);
    FAIL() << "a second set was created";
  } catch (const ESPIDupCreateSPIs& e) {
    EXPECT_EQ(e.Message(), "TSPIs は複数生成できません");
  }
  EXPECT_EQ(GetSPIs(), set_.get());
  EXPECT_EQ(set_->Count(), 1);
  set_.reset();
  EXPECT_EQ(GetSPIs(), nullptr);
  TSPIs again(nullptr);
  EXPECT_EQ(GetSPIs(), &again);
}

TEST_F(PluginSet, SecondSetOnAnOwnerLeavesTheOwnerClean) {
  TComponent owner(nullptr);
  EXPECT_THROW({ TSPIs second(&owner); }, ESPIDupCreateSPIs);
  EXPECT_EQ(owner.ComponentCount(), 0);
}

TEST_F(PluginSet, ValuesAtCreation) {
  EXPECT_TRUE(set_->MacBinary());
  EXPECT_FALSE(set_->GraphicPreview());
  EXPECT_EQ(set_->GraphicForcedLoader(), nullptr);
  EXPECT_TRUE(set_->AutoSearch());
  EXPECT_EQ(set_->SearchOptions().Bits(), 0x03);  // spsSusieDir and spsAppDir
  EXPECT_EQ(set_->Count(), 0);
}

TEST_F(PluginSet, IndexErrors) {
  set_->Add(Module("fx_in"));
  try {
    set_->Items(1);
    FAIL();
  } catch (const EStringListError& e) {
    EXPECT_EQ(e.Message(), Format(msg::kListIndexError, {1}));
  }
  EXPECT_THROW(set_->Items(-1), EStringListError);
  EXPECT_THROW(set_->Delete(3), EStringListError);
}

TEST_F(PluginSet, DeletingTheForcedLoaderClearsIt) {
  set_->Add(Module("fx_order_a"));
  set_->Add(Module("fx_order_b"));
  set_->SetGraphicForcedLoader(static_cast<TInSPI*>(set_->Items(1)));
  set_->Delete(0);
  EXPECT_EQ(set_->GraphicForcedLoader(), set_->Items(0));
  set_->Delete(0);
  EXPECT_EQ(set_->GraphicForcedLoader(), nullptr);
  set_->Add(nullptr);
  EXPECT_EQ(set_->Count(), 0);
}

TEST_F(PluginSet, InsertPlacesAndIndexOfFileIgnoresAsciiCase) {
  set_->Add(Module("fx_order_a"));
  set_->Add(Module("fx_order_b"));
  set_->Insert(0, Module("fx_am"));
  EXPECT_EQ(set_->Items(0)->APIVersion(), "00AM");
  EXPECT_EQ(set_->IndexOfFile(set_->Items(2)->FileName()), 2);
  std::string shouted = set_->Items(1)->FileName();
  for (char& c : shouted)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  EXPECT_EQ(set_->IndexOfFile(shouted), 1);
  EXPECT_EQ(set_->IndexOfFile(CoreFixture("fx_xn")), -1);
  set_->Delete(0);
  EXPECT_EQ(set_->IndexOfFile(shouted), 0);
  set_->Clear();
  EXPECT_EQ(set_->Count(), 0);
}

TEST_F(PluginSet, PatternsOfAnItemRegisterLastToFirst) {
  set_->Add(Module("fx_multi"));
  EXPECT_EQ(AddedSince(before_), (std::vector<Registered>{{"jpeg", "JPEG picture", &kFirstGraphic},
                                                          {"jpg", "JPEG picture", &kFirstGraphic},
                                                          {"tf", "TIFF picture", &kFirstGraphic},
                                                          {"tiff", "TIFF picture", &kFirstGraphic},
                                                          {"tif", "TIFF picture", &kFirstGraphic},
                                                          {"png", "PNG picture", &kFirstGraphic}}));
}

TEST_F(PluginSet, RegisterHandlerChoiceCarriesWithinAnItemOnly) {
  std::vector<std::string> seen;
  set_->OnPictureRegister = [&](TObject* sender, TInSPI* spi, const std::string& ext, const std::string& desc,
                                TGraphicClass& cls) {
    EXPECT_EQ(sender, set_.get());
    EXPECT_EQ(spi->About(), "multi");
    seen.push_back(ext + "=" + desc);
    if (ext == "tiff") cls = nullptr;         // tiff and then tif are left out
    if (ext == "jpeg") cls = &kOtherGraphic;  // jpeg and then jpg get the other class
  };
  set_->Add(Module("fx_multi"));
  EXPECT_EQ(seen, (std::vector<std::string>{"jpeg=JPEG picture", "jpg=JPEG picture", "tf=TIFF picture",
                                            "tiff=TIFF picture", "tif=TIFF picture", "png=PNG picture"}));
  EXPECT_EQ(AddedSince(before_), (std::vector<Registered>{{"jpeg", "JPEG picture", &kOtherGraphic},
                                                          {"jpg", "JPEG picture", &kOtherGraphic},
                                                          {"tf", "TIFF picture", &kFirstGraphic},
                                                          {"png", "PNG picture", &kFirstGraphic}}));
}

TEST_F(PluginSet, OnlyImportModulesRegisterAndDeleteKeepsFormats) {
  set_->Add(Module("fx_am"));
  set_->Add(Module("fx_xn"));
  set_->Add(Module("fx_other"));
  EXPECT_EQ(set_->Count(), 3);
  EXPECT_TRUE(AddedSince(before_).empty());
  set_->Add(Module("fx_order_a"));
  ASSERT_EQ(AddedSince(before_).size(), 1u);
  set_->Delete(3);
  set_->Clear();
  EXPECT_EQ(AddedSince(before_), (std::vector<Registered>{{"jpg", "A", &kFirstGraphic}}));
  EXPECT_EQ(FileFormats().FindByExtension("jpg"), &kFirstGraphic);
}

TEST_F(PluginSet, NoDefaultClassRegistersNothing) {
  TSPIs::SetDefaultGraphicClass(nullptr);
  set_->Add(Module("fx_multi"));
  EXPECT_TRUE(AddedSince(before_).empty());
}

std::vector<std::string> Descriptions0(const std::vector<TSPI*>& list) {
  std::vector<std::string> out;
  for (TSPI* spi : list)
    out.push_back(spi->Descriptions().Count() ? spi->Descriptions()[0] : spi->ClassName());
  return out;
}

TEST_F(PluginSet, CandidatesMatchingFirstInReverseThenTheRest) {
  set_->Add(Module("fx_order_a"));  // *.jpg
  set_->Add(Module("fx_am"));
  set_->Add(Module("fx_order_b"));  // *.png
  set_->Add(Module("fx_order_c"));  // *.JPG
  std::vector<TSPI*> list;
  set_->FindSPIs({&TInSPI::Class}, "C:\\pics\\photo.JPG", list);
  EXPECT_EQ(Descriptions0(list), (std::vector<std::string>{"C", "A", "B"}));

  list.clear();
  set_->FindSPIs({&TInSPI::Class}, "C:\\pics.jpg\\photo", list);  // no extension: set order
  EXPECT_EQ(Descriptions0(list), (std::vector<std::string>{"A", "B", "C"}));

  list.clear();
  set_->FindSPIs({&TLoaderSPI::Class}, "x.png", list);  // descendants count; archives too
  EXPECT_EQ(Descriptions0(list), (std::vector<std::string>{"B", "A", "archive", "C"}));

  list.clear();
  set_->FindSPIs({&TXnSPI::Class}, "x.png", list);
  EXPECT_TRUE(list.empty());
}

TEST_F(PluginSet, OnlyTheLastPatternOfAnItemCountsForCandidates) {
  set_->Add(Module("fx_order_b"));
  set_->Add(Module("fx_multi"));  // "*.jpg;*.jpeg", "*.tif;*.tiff;*.tf", "*.png"
  std::vector<TSPI*> list;
  set_->FindSPIs({&TInSPI::Class}, "a.jpg", list);
  EXPECT_EQ(Descriptions0(list), (std::vector<std::string>{"B", "JPEG picture"}));
  list.clear();
  set_->FindSPIs({&TInSPI::Class}, "a.JPEG", list);
  EXPECT_EQ(Descriptions0(list), (std::vector<std::string>{"JPEG picture", "B"}));
  // Matches go to the front of what the caller's list already holds.
  std::vector<TSPI*> held{set_->Items(0)};
  set_->FindSPIs({&TInSPI::Class}, "a.png", held);
  EXPECT_EQ(Descriptions0(held), (std::vector<std::string>{"JPEG picture", "B", "B"}));
}

}  // namespace
