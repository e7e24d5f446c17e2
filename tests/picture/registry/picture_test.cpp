// The format registry and the picture container: lookup rules, replace-on-success loading,
// change and progress events, AsBitmap, and copying graphics in.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builders.h"
#include "picture/bitmap.h"
#include "picture/icon.h"
#include "picture/metafile.h"
#include "picture/picture.h"
#include "picture/render.h"
#include "rtl/exceptions.h"
#include "rtl/format.h"
#include "rtl/messages.h"
#include "test_graphics.h"

namespace {

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// Every test leaves the registry as it found it.
class Registry : public ::testing::Test {
 protected:
  void TearDown() override { TPicture::UnregisterFormatClass(&TTextGraphic::Class); }
};

// A picture with counters on its listeners.
struct Watched {
  TPicture picture;
  int changes = 0;
  TObject* lastSender = nullptr;
  std::vector<std::string> progress;
  Watched() {
    picture.OnChange = [this](TObject* s) {
      ++changes;
      lastSender = s;
    };
  }
};

std::string LoadError(TPicture& p, const std::string& name) {
  try {
    p.LoadFile(name);
  } catch (const Exception& e) {
    return std::string(e.ClassName()) + ": " + e.Message();
  }
  return "no error";
}

}  // namespace

TEST_F(Registry, StartsWithTheFourBuiltInFormatsInOrder) {
  struct Expected {
    const char* ext;
    const char* description;
    TGraphicClass cls;
  };
  const Expected expected[] = {{"wmf", "メタファイル", &TMetafile::Class},
                               {"emf", "エンハンス メタファイル", &TMetafile::Class},
                               {"ico", "アイコン", &TIcon::Class},
                               {"bmp", "ビットマップ", &TBitmap::Class}};
  const auto& e = FileFormats().Entries();
  ASSERT_GE(e.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(e[i].Extension, expected[i].ext);
    EXPECT_EQ(e[i].Description, expected[i].description);
    EXPECT_EQ(e[i].GraphicClass, expected[i].cls);
    EXPECT_EQ(e[i].DescriptionId, 0);
  }
}

TEST_F(Registry, LookupLowerCasesAndTheLatestRegistrationWins) {
  auto& formats = FileFormats();
  EXPECT_EQ(formats.FindByExtension("BMP"), &TBitmap::Class);
  EXPECT_EQ(formats.FindByExtension("Ico"), &TIcon::Class);
  EXPECT_EQ(formats.FindByExtension("png"), nullptr);

  TPicture::RegisterFormat("BMP", "test", &TTextChild::Class);
  EXPECT_EQ(formats.Entries().back().Extension, "bmp");
  EXPECT_EQ(formats.Entries().back().Description, "test");
  EXPECT_EQ(formats.FindByExtension("bmp"), &TTextChild::Class);

  // Unregistering an ancestor removes its descendants; the older entry comes back.
  size_t before = formats.Entries().size();
  TPicture::RegisterFormat("txt", "a", &TTextGraphic::Class);
  TPicture::RegisterFormat("txt", "b", &TTextChild::Class);
  TPicture::UnregisterFormatClass(&TTextGraphic::Class);
  EXPECT_EQ(formats.Entries().size(), before - 1);
  EXPECT_EQ(formats.FindByExtension("bmp"), &TBitmap::Class);
  EXPECT_EQ(formats.FindByExtension("txt"), nullptr);
}

TEST_F(Registry, UnregisteringADescendantKeepsItsAncestor) {
  TPicture::RegisterFormat("txt", "a", &TTextGraphic::Class);
  TPicture::RegisterFormat("txt", "b", &TTextChild::Class);
  TPicture::UnregisterFormatClass(&TTextChild::Class);
  EXPECT_EQ(FileFormats().FindByExtension("txt"), &TTextGraphic::Class);
}

TEST_F(Registry, StoresOddExtensionsUnchecked) {
  TPicture::RegisterFormat("", "empty", &TTextGraphic::Class);
  TPicture::RegisterFormat(".Dot", "dot", &TTextGraphic::Class);
  EXPECT_EQ(FileFormats().FindByExtension(""), &TTextGraphic::Class);
  EXPECT_EQ(FileFormats().FindByExtension(".DOT"), &TTextGraphic::Class);
  EXPECT_EQ(FileFormats().Entries().back().Extension, ".dot");
}

TEST_F(Registry, FindsClassNamesExactlyAndTheLatestFirst) {
  auto& formats = FileFormats();
  EXPECT_EQ(formats.FindByClassName("TBitmap"), &TBitmap::Class);
  EXPECT_EQ(formats.FindByClassName("tbitmap"), nullptr);
  EXPECT_EQ(formats.FindByClassName("TMetafile"), &TMetafile::Class);
  EXPECT_EQ(formats.FindByClassName("TTextGraphic"), nullptr);
  TPicture::RegisterFormat("txt", "t", &TTextGraphic::Class);
  EXPECT_EQ(formats.FindByClassName("TTextGraphic"), &TTextGraphic::Class);
}

TEST(GraphicClass, InheritsFromWalksTheParents) {
  EXPECT_TRUE(InheritsFrom(&TTextChild::Class, &TTextGraphic::Class));
  EXPECT_TRUE(InheritsFrom(&TTextChild::Class, &TGraphic::Class));
  EXPECT_TRUE(InheritsFrom(&TBitmap::Class, &TBitmap::Class));
  EXPECT_FALSE(InheritsFrom(&TTextGraphic::Class, &TTextChild::Class));
  EXPECT_FALSE(InheritsFrom(&TIcon::Class, &TBitmap::Class));
  EXPECT_FALSE(InheritsFrom(nullptr, &TGraphic::Class));
  EXPECT_EQ(CreateGraphic(&TGraphic::Class), nullptr);  // abstract
  auto g = CreateGraphic(&TTextChild::Class);
  ASSERT_NE(g, nullptr);
  EXPECT_STREQ(g->ClassName(), "TTextChild");
}

TEST(GraphicBase, AssignmentErrorsNameBothClasses) {
  TTextGraphic text;
  TIcon icon;
  try {
    icon.CopyFrom(&text);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), Format(msg::kAssignError, {"TTextGraphic", "TIcon"}));
  }
  try {
    text.TGraphic::CopyFrom(nullptr);
    FAIL();
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), Format(msg::kAssignError, {"nil", "TTextGraphic"}));
  }
}

TEST(GraphicBase, TransparentAndSameContent) {
  TTextGraphic a, b;
  int changes = 0;
  a.OnChange = [&](TObject* s) {
    EXPECT_EQ(s, &a);
    ++changes;
  };
  a.SetTransparent(false);
  EXPECT_EQ(changes, 0);
  a.SetTransparent(true);
  EXPECT_EQ(changes, 1);
  EXPECT_TRUE(a.Transparent());
  EXPECT_TRUE(a.Modified());

  EXPECT_TRUE(a.SameContent(b));  // both empty
  TPointerStream s1("OK 1 2", 6), s2("OK 1 3", 6);
  a.LoadStream(s1);
  EXPECT_FALSE(a.SameContent(b));
  b.LoadStream(s2);
  EXPECT_FALSE(a.SameContent(b));
  TTextChild c;
  TPointerStream s3("OK 1 2", 6);
  c.LoadStream(s3);
  EXPECT_FALSE(a.SameContent(c));  // same bytes, another class
  TTextGraphic d;
  d.CopyFrom(&a);
  EXPECT_TRUE(a.SameContent(d));
}

TEST_F(Registry, LoadFileReplacesTheGraphicOnlyOnSuccess) {
  TPicture::RegisterFormat("txt", "t", &TTextGraphic::Class);
  TempDir dir;
  std::string good = dir.Write("good.TXT", Text("OK 30 20"));
  std::string bad = dir.Write("bad.txt", Text("broken"));
  Watched w;
  EXPECT_EQ(w.picture.Width(), 0);
  EXPECT_EQ(w.picture.Height(), 0);

  w.picture.LoadFile(good);
  EXPECT_EQ(w.changes, 1);
  EXPECT_EQ(w.lastSender, &w.picture);
  TGraphic* first = w.picture.Graphic();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(w.picture.Width(), 30);
  EXPECT_EQ(w.picture.Height(), 20);

  int live = TTextGraphic::liveCount;
  EXPECT_EQ(LoadError(w.picture, bad), std::string("EInvalidGraphic: ") + msg::kInvalidBitmap);
  EXPECT_EQ(TTextGraphic::liveCount, live);  // the failed instance was destroyed
  EXPECT_EQ(LoadError(w.picture, dir.Path("missing.txt")),
            "EFOpenError: " + Format(msg::kFOpenError, {dir.Path("missing.txt")}));
  EXPECT_EQ(w.picture.Graphic(), first);
  EXPECT_EQ(w.picture.Width(), 30);
  EXPECT_EQ(w.changes, 1);

  // A second load replaces the first graphic and destroys it.
  w.picture.LoadFile(good);
  EXPECT_EQ(w.changes, 2);
  EXPECT_EQ(TTextGraphic::liveCount, live);
}

TEST_F(Registry, UnknownExtensionsAreReportedInTheNamesLetterCase) {
  TPicture::RegisterFormat("gz", "t", &TTextGraphic::Class);
  TempDir dir;
  Watched w;
  EXPECT_EQ(LoadError(w.picture, "photo.PNG"), "EInvalidGraphic: " + Format(msg::kUnknownExtension, {"PNG"}));
  EXPECT_EQ(LoadError(w.picture, "noext"), "EInvalidGraphic: " + Format(msg::kUnknownExtension, {""}));
  EXPECT_EQ(LoadError(w.picture, "C:\\fold.er\\name"),
            "EInvalidGraphic: " + Format(msg::kUnknownExtension, {""}));
  EXPECT_EQ(Format(msg::kUnknownExtension, {""}), "拡張子 . の画像形式は処理できません");
  // Only the last part of a double extension counts.
  w.picture.LoadFile(dir.Write("archive.tar.gz", Text("OK 1 1")));
  EXPECT_STREQ(w.picture.Graphic()->ClassName(), "TTextGraphic");
  EXPECT_EQ(w.changes, 1);
}

TEST_F(Registry, AShiftJisTrailByteIsNoPathDelimiter) {
  // "表" is 0x95 0x5C: its trail byte is a backslash, which must not end the extension search.
  TPicture::RegisterFormat("txt", "t", &TTextGraphic::Class);
  Watched w;
  EXPECT_EQ(LoadError(w.picture, "a.txt\x95\x5C"),
            "EInvalidGraphic: " + Format(msg::kUnknownExtension, {"txt\x95\x5C"}));
}

TEST_F(Registry, ProgressOfALoadReachesThePictureAndLaterChangesToo) {
  TPicture::RegisterFormat("txt", "t", &TTextGraphic::Class);
  TempDir dir;
  Watched w;
  w.picture.OnProgress = [&](TObject* s, TProgressStage st, uint8_t pct, bool, TRect& r,
                             const std::string& m) {
    w.progress.push_back(m + "/" + std::to_string(pct) + "/" + std::to_string(static_cast<int>(st)) + "/" +
                         std::to_string(r.Right) + (dynamic_cast<TTextGraphic*>(s) ? "" : "/other"));
  };
  w.picture.LoadFile(dir.Write("p.txt", Text("OK 7 5 PROGRESS")));
  EXPECT_EQ(w.progress, (std::vector<std::string>{"loading/0/0/7", "loaded/100/2/7"}));
  EXPECT_EQ(w.changes, 1);  // the graphic's own change while loading is not forwarded
  static_cast<TTextGraphic*>(w.picture.Graphic())->Touch();
  EXPECT_EQ(w.changes, 2);
  EXPECT_EQ(w.picture.Width(), 8);
}

TEST_F(Registry, ADesignerNotifierHearsEachChangeAfterTheListener) {
  struct Notifier : IChangeNotifier {
    std::vector<std::string>* log;
    void Changed() override { log->push_back("notifier"); }
  };
  std::vector<std::string> log;
  Notifier n;
  n.log = &log;
  TPicture p;
  p.OnChange = [&](TObject*) { log.push_back("listener"); };
  p.Notify = &n;
  TTextGraphic g;
  p.SetGraphic(&g);
  EXPECT_EQ(log, (std::vector<std::string>{"listener", "notifier"}));
}

TEST(PictureAsBitmap, ReturnsTheBitmapItHoldsAndReplacesAnythingElse) {
  TempDir dir;
  Watched w;
  TBitmap* b = w.picture.AsBitmap();  // empty picture: a new empty bitmap
  ASSERT_NE(b, nullptr);
  EXPECT_TRUE(b->IsEmpty());
  EXPECT_EQ(w.changes, 1);
  EXPECT_EQ(w.picture.AsBitmap(), b);
  EXPECT_EQ(w.changes, 1);

  w.picture.LoadFile(dir.Write("i.ico", BuildIcon({SolidImage(16, 16, 24, 0x00FF00)})));
  EXPECT_EQ(w.changes, 2);
  EXPECT_EQ(w.picture.Width(), 16);
  TBitmap* replaced = w.picture.AsBitmap();
  EXPECT_EQ(w.changes, 3);
  EXPECT_TRUE(replaced->IsEmpty());
  EXPECT_EQ(w.picture.Graphic(), replaced);
  EXPECT_EQ(w.picture.Width(), 0);
  replaced->SaveFile(dir.Path("out.bmp"));
  EXPECT_TRUE(dir.Read("out.bmp").empty());

  // The new bitmap is wired to the picture's listeners.
  w.picture.OnChange = nullptr;
  int after = 0;
  w.picture.OnChange = [&](TObject*) { ++after; };
  TBitmap other;
  replaced->CopyFrom(&other);
  EXPECT_EQ(after, 1);
}

TEST(PictureAssign, KeepsItsOwnCopyAndFiresOnce) {
  Watched w;
  TTextGraphic g;
  TPointerStream s("OK 4 3", 6);
  g.LoadStream(s);
  w.picture.SetGraphic(&g);
  EXPECT_EQ(w.changes, 1);
  ASSERT_NE(w.picture.Graphic(), nullptr);
  EXPECT_NE(w.picture.Graphic(), &g);
  EXPECT_EQ(w.picture.Width(), 4);
  EXPECT_EQ(static_cast<TTextGraphic*>(w.picture.Graphic())->Text(), "OK 4 3");

  TPicture other;
  other.CopyFrom(&w.picture);
  EXPECT_NE(other.Graphic(), w.picture.Graphic());
  EXPECT_EQ(other.Height(), 3);

  w.picture.SetGraphic(nullptr);
  EXPECT_EQ(w.changes, 2);
  EXPECT_EQ(w.picture.Graphic(), nullptr);
  other.CopyFrom(static_cast<const TPicture*>(&w.picture));
  EXPECT_EQ(other.Graphic(), nullptr);
}

TEST(PictureAssign, AFailingListenerLeavesNoDanglingGraphic) {
  int live = TTextGraphic::liveCount;
  {
    TPicture p;
    p.OnChange = [](TObject*) { throw EInvalidOperation("listener failed"); };
    TTextGraphic g;
    EXPECT_THROW(p.SetGraphic(&g), EInvalidOperation);
    EXPECT_EQ(p.Graphic(), nullptr);
    EXPECT_EQ(p.Width(), 0);
  }
  EXPECT_EQ(TTextGraphic::liveCount, live);
}

TEST(Render, BitmapsAreCopiedOtherGraphicsReadBackOrWhiteAndEmptyStaysEmpty) {
  TTextGraphic text;
  TPointerStream s("OK 3 2", 6);
  text.LoadStream(s);  // its stream is no BMP file image: a white picture of its size
  auto white = RenderToBitmap(text);
  ASSERT_EQ(white->Width(), 3);
  ASSERT_EQ(white->Height(), 2);
  EXPECT_EQ(white->BitCount(), 24);
  EXPECT_EQ(white->PixelRGB(2, 1), 0xFFFFFFu);
  EXPECT_EQ(ShownBitCount(text), 24);

  auto copy = RenderToBitmap(*white);  // a bitmap: its own image, in another object
  EXPECT_NE(copy.get(), white.get());
  EXPECT_EQ(copy->Width(), 3);
  EXPECT_EQ(copy->PixelRGB(0, 0), 0xFFFFFFu);

  TIcon empty;
  EXPECT_TRUE(RenderToBitmap(empty)->IsEmpty());
  EXPECT_EQ(ShownBitCount(empty), 0);
}
