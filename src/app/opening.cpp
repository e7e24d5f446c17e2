// Opening, saving, dropped files, stepping through the folder and the books in it, and fitting
// the window.
#include <functional>
#include <memory>
#include <vector>

#include "app/korvale02.h"
#include "picture/bitmap.h"
#include "picture/render.h"
#include "platform/files.h"
#include "runner/helper_runner.h"
#include "rtl/exceptions.h"
#include "rtl/format.h"
#include "rtl/messages.h"
#include "rtl/text.h"
#include "toolkit/busy_wait.h"
#include "toolkit/wintext.h"

void TForm1::OpenPicture(const std::string& name) {
  if (!platform::FileExists(name)) {
    // "?" is never part of a file name: it stands for letters that the code page could not
    // write and no short form reached.  Such a file may well exist, so it is not passed over.
    if (name.find('?') != std::string::npos) throw EFOpenError(FormatMixed(msg::kFOpenError, {name}));
    return;
  }
  // A file of no picture format may be an archive: its pages are read as a book.  Any other
  // is refused by its extension, as before.
  if (!TBook::IsPicture(name) && OpenBook(name)) return;
  LeaveBook();
  Image1->SetAutoSize(true);
  // Held as a full path: the list makes the folder it reads the process's current folder, so a
  // relative folder would resolve against the wrong place on the next step.
  CurrentFolder = text::ExtractFilePath(platform::ExpandFileName(name));
  ShowPicture(name);
  MixedText caption{"Korvale2 - ", {}};
  caption += SystemName(name);
  SetCaption(caption);
  SelectInFolder(name);
  FitWindow();
  PaintThenPrepare();
}

void TForm1::SelectInFolder(const std::string& name) {
  CurrentFolder = text::ExtractFilePath(platform::ExpandFileName(name));
  if (!CurrentFolder.empty()) FileListBox1->ApplyPath(CurrentFolder);
  const std::string part = text::ExtractFileName(name);
  const TStringList& items = FileListBox1->Items();
  // A selection that already holds this name stays: a file the list holds twice (two patterns
  // of the mask match it) would otherwise pull every forward step back to its first copy.
  const int32_t selected = FileListBox1->ItemIndex();
  if (selected < 0 || selected >= items.Count() || items[selected] != part) {
    for (int i = 0; i < items.Count(); ++i) {
      if (items[i] == part) {
        FileListBox1->SetItemIndex(i);
        break;
      }
    }
  }
}

bool TForm1::OpenBook(const std::string& name) {
  std::shared_ptr<TArchive> archive;
  {
    // Listing waits for the helper as a picture does: the window stays alive, Escape gives up.
    toolkit::TLoadWait wait(busyCursor_);
    const spirun::TThreadWaitHook hook(std::ref(wait));
    try {
      archive = TArchive::Open(name);
    } catch (...) {
      // The step went on to this file: a step from here goes on from it, not through the book
      // read before.
      LeaveBook();
      throw;
    }
  }
  if (!archive) return false;
  TBook book(name, archive->EntryNames());
  if (book.Empty()) {
    LeaveBook();
    throw EArchiveError(FormatMixed(msg::kArchiveNoPictures, {name}));
  }
  // A book entered by a step back opens at its last page.
  book.Enter(stepping_ ? direction_ : 1);
  LeaveBook();
  archive_ = std::move(archive);
  book_ = std::move(book);
  if (!preparer_) preparer_ = std::make_unique<TPicturePreparer>();
  preparer_->SetArchive(archive_);
  Image1->SetAutoSize(true);
  SelectInFolder(name);
  ShowPage();
  return true;
}

void TForm1::ShowPage() {
  ShowPicture(TArchive::PageKey(book_.Archive(), book_.Page()));
  // The archive's path and the entry's, as one path.  Each is a name of its own: the archive's
  // real name is shown where a short form of it is held, and the entry is no file to look up.
  MixedText caption{"Korvale2 - ", {}};
  caption += SystemName(book_.Archive());
  caption += "\\";
  caption += SystemName(book_.Page());
  SetCaption(caption);
  FitWindow();
  PaintThenPrepare();
}

void TForm1::LeaveBook() {
  if (!archive_) return;
  archive_.reset();
  book_ = TBook();
  if (preparer_) preparer_->SetArchive(nullptr);
}

void TForm1::PaintThenPrepare() {
  // The new picture is painted before the preparation of the next one starts competing with
  // the painting for the processor.  The picture opened at the start is shown with the window,
  // which is not yet on the screen: its neighbours wait for that (two helpers starting on two
  // cores would otherwise hold up the window's first appearance).
  prepareWhenShown_ = !::IsWindowVisible(Handle());
  if (prepareWhenShown_) return;
  ::RedrawWindow(Handle(), nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
  PrepareNeighbours();
}

void TForm1::ShowPicture(const std::string& name) {
  if (!preparer_) preparer_ = std::make_unique<TPicturePreparer>();
  // A step onto a picture not prepared, or taken while the last one's neighbours are still
  // being prepared: the person pages faster than pictures are decoded.
  hurried_ = stepping_ && (preparer_->Working() || !preparer_->Holds(name));
  toolkit::TLoadWait wait(busyCursor_);
  // Prepared (or being prepared: then waited for, with the window alive) ...
  platform::FileStamp stamp;
  std::unique_ptr<TGraphic> previous;
  try {
    std::unique_ptr<TGraphic> prepared = preparer_->Take(name, std::ref(wait), &stamp);
    if (prepared) {
      previous = Image1->Picture().Exchange(std::move(prepared));
    } else {
      // ... or loaded now, no preparation running meanwhile.  A bitmap reads without calling
      // back, so a large one shows the busy cursor from the start.
      std::string archive, entry;
      const bool page = archive_ && TArchive::SplitPageKey(name, archive, entry);
      stamp = page ? archive_->Stamp() : platform::StampOf(name);
      constexpr int64_t kLargeFile = int64_t(8) << 20;
      if (page || stamp.Size > kLargeFile) wait.Busy();
      const spirun::TThreadWaitHook hook(std::ref(wait));
      if (page)
        previous = Image1->Picture().Exchange(archive_->LoadPage(entry, TPicturePreparer::DefaultBudget()));
      else
        previous = Image1->Picture().LoadFile(name);
    }
  } catch (...) {
    // Reported (or abandoned); stepping on from here should still find the neighbours ready.
    PrepareNeighbours();
    throw;
  }
  // The picture stepped away from stays at hand for a step back.
  if (previous && !shownName_.empty()) preparer_->Keep(shownName_, shownStamp_, std::move(previous));
  shownName_ = name;
  shownStamp_ = stamp;
}

void TForm1::PrepareNeighbours() {
  const int32_t count = FileListBox1->Count(), i = FileListBox1->ItemIndex();
  std::vector<std::string> names;
  // Paging quickly, the two pictures ahead are prepared (at once, on two cores); otherwise
  // the next one and the one stepped away from.
  const int32_t offsets[2] = {direction_, hurried_ ? 2 * direction_ : -direction_};
  const bool inFolder = count > 1 && i >= 0 && i < count && !CurrentFolder.empty();
  for (const int32_t offset : offsets) {
    // In a book its pages come first; past its ends, the folder's files beside it.
    const std::string page = archive_ ? book_.PageAt(offset) : std::string();
    if (!page.empty()) {
      names.push_back(TArchive::PageKey(book_.Archive(), page));
    } else if (inFolder) {
      // Past a book's end, the folder's entry beside it; otherwise `offset` entries away.
      const TStringList& items = FileListBox1->Items();
      const int32_t k = i + (archive_ ? (offset < 0 ? -1 : 1) : offset);
      names.push_back(CurrentFolder + items[((k % count) + count) % count]);
    }
  }
  preparer_->Prepare(names);
}

void TForm1::SavePicture(const std::string& name) {
  TGraphic* graphic = Image1->Picture().Graphic();
  if (graphic && !graphic->InheritsFrom(&TBitmap::Class)) {
    // An icon or a metafile: what is shown, at its own size, as a bitmap; the picture stays.
    RenderToBitmap(*graphic)->SaveFile(name);
    return;
  }
  Image1->Picture().AsBitmap()->SaveFile(name);
}

void TForm1::FitWindow() {
  const int32_t w = Image1->Picture().Width(), h = Image1->Picture().Height();
  // The steps run on a plan of the window's size, each measuring the client area the window
  // would have; the window itself is resized once at the end (a picture larger than the
  // screen would otherwise grow the window past the screen and back on every open).
  BeginResize();
  SetClientWidth(w);
  SetClientHeight(h + ActionMainMenuBar1->Height());
  SetClientWidth(w);
  // "The screen" is the monitor that holds the window: its right and bottom edges, which lie
  // anywhere in the virtual screen when there are several monitors.
  const RECT screen = TScreen::MonitorRect(Handle());
  if (screen.right < Left() + Width()) TForm::SetBounds(Left(), Top(), screen.right - Left(), Height());
  if (screen.bottom < Top() + Height()) TForm::SetBounds(Left(), Top(), Width(), screen.bottom - Top());
  EndResize();
}

void TForm1::WMDropFiles(HDROP drop) {
  struct Release {
    HDROP h;
    ~Release() { ::DragFinish(h); }
  } release{drop};
  const UINT length = ::DragQueryFileW(drop, 0, nullptr, 0);
  std::wstring wide(length + 1, L'\0');
  wide.resize(::DragQueryFileW(drop, 0, wide.data(), length + 1));
  std::string name = toolkit::ReachableName(wide, false);
  OpenPicture(name.empty() ? toolkit::Narrow(wide) : name);
}

void TForm1::Action4Execute(TObject*) {
  if (OpenDialog1->Execute(Handle())) OpenPicture(OpenDialog1->FileName);
}

void TForm1::Action5Execute(TObject*) {
  if (SaveDialog1->Execute(Handle())) SavePicture(SaveDialog1->FileName);
}

void TForm1::Step(int32_t direction) {
  direction_ = direction;
  stepping_ = true;
  struct Stepped {
    bool& on;
    ~Stepped() { on = false; }
  } stepped{stepping_};
  // Through the book's pages first; its ends lead to the folder's files beside it.
  if (archive_ && book_.Step(direction)) {
    ShowPage();
    return;
  }
  const int32_t count = FileListBox1->Count();
  const TStringList& items = FileListBox1->Items();
  int32_t i = FileListBox1->ItemIndex();
  // The copies of one file that two patterns of the mask both match stand side by side: they
  // count as one step.  (An empty list selects nothing, and reading its entry reports that.)
  const std::string current = i >= 0 && i < count ? items[i] : std::string();
  for (int32_t n = 0; n < (count > 0 ? count : 1); ++n) {
    i = direction > 0 ? (i + 1 < count ? i + 1 : 0) : (i <= 0 ? count - 1 : i - 1);
    if (count <= 0 || items[i] != current) break;
  }
  FileListBox1->SetItemIndex(i);
  OpenPicture(CurrentFolder + items[FileListBox1->ItemIndex()]);
}

void TForm1::Action1Execute(TObject*) { Step(1); }

void TForm1::Action6Execute(TObject*) { Step(-1); }

void TForm1::FormMouseWheelDown(TObject* Sender, TShiftState, TPoint, bool&) { Action1Execute(Sender); }

void TForm1::FormMouseWheelUp(TObject* Sender, TShiftState, TPoint, bool&) { Action6Execute(Sender); }
