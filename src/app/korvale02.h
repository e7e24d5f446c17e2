// The viewer's main window: one picture under a menu bar of ten commands; opening, saving,
// stepping through the picture's folder, fitting the window, zoom and pan.
#ifndef KORVALE_APP_KORVALE02_H
#define KORVALE_APP_KORVALE02_H

#include <windows.h>
// After windows.h: HDROP and the drop functions.
#include <shellapi.h>

#include <cstdint>
#include <memory>
#include <string>

#include "app/command_line.h"
#include "graphics/archive.h"
#include "graphics/prepared.h"
#include "picture/book.h"
#include "picture/filelist.h"
#include "plugins/spis.h"
#include "toolkit/actions.h"
#include "toolkit/controls.h"
#include "toolkit/dialogs.h"
#include "toolkit/image.h"

// The author's home page, opened by the help menu.
inline constexpr const char kAuthorPage[] = "https://korvale2.example.org/";
// The largest shown side in pixels: a zoom step that would pass it leaves the size unchanged,
// so no product overflows and every size stays within what GDI draws.
inline constexpr int32_t kMaxShownSide = 32767;

class TForm1 : public TForm {
 public:
  // Builds the window and its components; `commandLine` is the process's own by default, each
  // name in the form the core opens (see ProcessCommandLine).
  explicit TForm1(TComponent* owner, const std::string& commandLine = ProcessCommandLine());
  ~TForm1() override;

  // Components, in declaration order; created from the designer description and owned by the
  // window.
  TActionManager* ActionManager1 = nullptr;
  TActionMainMenuBar* ActionMainMenuBar1 = nullptr;
  TSPIs* SPIs1 = nullptr;
  TAction* Action4 = nullptr;
  TAction* Action5 = nullptr;
  TAction* Action7 = nullptr;
  TOpenDialog* OpenDialog1 = nullptr;
  TSaveDialog* SaveDialog1 = nullptr;
  TImage* Image1 = nullptr;
  TFileListBox* FileListBox1 = nullptr;
  TAction* Action1 = nullptr;
  TAction* Action6 = nullptr;
  TAction* Action2 = nullptr;
  TAction* Action8 = nullptr;
  TAction* Action9 = nullptr;
  TAction* Action10 = nullptr;
  TAction* Action3 = nullptr;

  int32_t DragStartX = 0;
  int32_t DragStartY = 0;
  bool Dragging = false;
  // The folder of the last picture that passed the existence test, as a full path with its
  // trailing separator.
  std::string CurrentFolder;

  void FormCreate(TObject* Sender);
  void FormMouseWheelDown(TObject* Sender, TShiftState Shift, TPoint MousePos, bool& Handled);
  void FormMouseWheelUp(TObject* Sender, TShiftState Shift, TPoint MousePos, bool& Handled);
  void Action1Execute(TObject* Sender);   // next picture
  void Action2Execute(TObject* Sender);   // zoom in
  void Action3Execute(TObject* Sender);   // the author's page
  void Action4Execute(TObject* Sender);   // open
  void Action5Execute(TObject* Sender);   // save
  void Action6Execute(TObject* Sender);   // previous picture
  void Action7Execute(TObject* Sender);   // exit
  void Action8Execute(TObject* Sender);   // zoom out
  void Action9Execute(TObject* Sender);   // own size
  void Action10Execute(TObject* Sender);  // version message
  void Image1DblClick(TObject* Sender);
  void Image1MouseDown(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y);
  void Image1MouseMove(TObject* Sender, TShiftState Shift, int X, int Y);
  void Image1MouseUp(TObject* Sender, TMouseButton Button, TShiftState Shift, int X, int Y);

  void OpenPicture(const std::string& name);
  void SavePicture(const std::string& name);
  void FitWindow();
  // What is prepared ahead of the next step (none before the first picture); for tests and
  // benchmarks.
  TPicturePreparer* Preparer() const { return preparer_.get(); }

 protected:
  void PrepareWindowParams(TCreateParams& params) override;
  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  // WM_DPICHANGED, named here for headers that predate it.
  static constexpr UINT kWmDpiChanged = 0x02E0;
  void WMDropFiles(HDROP drop);
  void WMDpiChanged(int dpi, const RECT& suggested);
  int DesignScale(int value) const;
  int dpi_ = 96;
  void BuildCommands();
  void LoadStartupPicture();
  // Shows `name` (a file, or a page of the open book by its page key): the prepared picture
  // when there is one, else loaded now.
  void ShowPicture(const std::string& name);
  // Opens `name` as a book when an archive plug-in takes it, at its first page (or its last,
  // entered by a step back); false when none takes it.  A book without pages raises its
  // message with the book left unopened.
  bool OpenBook(const std::string& name);
  // Shows the page the book is open at, with its caption.
  void ShowPage();
  // Takes the folder of `name` and selects it in the folder list.
  void SelectInFolder(const std::string& name);
  // Closes the book being read (the pages prepared of it go with the next preparation).
  void LeaveBook();
  // Prepares the pictures the person will most likely ask for next: the next one in the
  // direction of the last step, then the one on the other side.
  void PrepareNeighbours();
  // Paints the picture now and then prepares its neighbours; a window not yet shown does both
  // once it is (prepareWhenShown_).
  void PaintThenPrepare();
  // One step through the folder, wrapping around: 1 forward, -1 back.
  void Step(int32_t direction);
  std::string commandLine_;
  std::unique_ptr<TPicturePreparer> preparer_;
  int32_t direction_ = 1;          // of the last step: 1 forward, -1 back
  bool stepping_ = false;          // a step (not an open) is showing its picture
  bool hurried_ = false;           // the last step came before its neighbours were prepared
  bool busyCursor_ = false;        // a load the person waits for shows the busy cursor
  bool prepareWhenShown_ = false;  // the picture opened at the start awaits its first paint
  // The book being read: its archive and pages; none while a file is shown.
  std::shared_ptr<TArchive> archive_;
  TBook book_;
  // The file of the picture shown (a page's key), as it was when the picture was read.
  std::string shownName_;
  platform::FileStamp shownStamp_;
};

extern TForm1* Form1;

#endif
