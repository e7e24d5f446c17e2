#include "app/korvale02.h"

#include "app/command_line.h"
#include "app/version_info.h"
#include "platform/cursor.h"
#include "platform/files.h"
#include "rtl/streams.h"
#include "toolkit/application.h"

TForm1* Form1 = nullptr;

namespace {
template <typename Method>
TNotifyEvent Bind(TForm1* form, Method method) {
  return [form, method](TObject* sender) { (form->*method)(sender); };
}
}  // namespace

TForm1::TForm1(TComponent* owner, const std::string& commandLine) : TForm(owner), commandLine_(commandLine) {
  // The screen's resolution until the window exists, then the window's own.
  dpi_ = TScreen::Dpi(nullptr);
  left_ = 197;
  top_ = 103;
  width_ = DesignScale(308);
  height_ = DesignScale(256);
  SetFont(L"ＭＳ Ｐゴシック", DesignScale(12));
  CreateWindowHandle();
  const int windowDpi = TScreen::Dpi(Handle());
  if (windowDpi != dpi_) {
    dpi_ = windowDpi;
    SetFont(L"ＭＳ Ｐゴシック", DesignScale(12));
    TForm::SetBounds(Left(), Top(), DesignScale(308), DesignScale(256));
  }
  SetCaption("Korvale2");

  // Components in the designer description's order.
  Image1 = new TImage(this);
  Image1->SetName("Image1");
  Image1->SetBounds(0, DesignScale(29), DesignScale(300), DesignScale(200));
  Image1->SetAutoSize(true);
  Image1->SetCenter(true);
  Image1->SetStretch(true);
  Image1->OnDblClick = Bind(this, &TForm1::Image1DblClick);
  Image1->OnMouseDown = [this](TObject* s, TMouseButton b, TShiftState sh, int x, int y) {
    Image1MouseDown(s, b, sh, x, y);
  };
  Image1->OnMouseMove = [this](TObject* s, TShiftState sh, int x, int y) { Image1MouseMove(s, sh, x, y); };
  Image1->OnMouseUp = [this](TObject* s, TMouseButton b, TShiftState sh, int x, int y) {
    Image1MouseUp(s, b, sh, x, y);
  };
  LoadStartupPicture();

  ActionMainMenuBar1 = new TActionMainMenuBar(this);
  ActionMainMenuBar1->SetName("ActionMainMenuBar1");
  ActionMainMenuBar1->SetBounds(0, 0, ClientWidth(), DesignScale(29));
  ActionMainMenuBar1->SetDpi(dpi_);

  FileListBox1 = new TFileListBox(this);
  FileListBox1->SetName("FileListBox1");

  BuildCommands();
  ActionMainMenuBar1->SetActionManager(ActionManager1);

  SPIs1 = new TSPIs(this);
  SPIs1->SetName("SPIs1");
  SPIs1->SetGraphicPreview(false);
  SPIs1->SetSearchOptions({spsSusieDir, spsAppDir});

  OpenDialog1 = new TOpenDialog(this);
  OpenDialog1->SetName("OpenDialog1");
  SaveDialog1 = new TSaveDialog(this);
  SaveDialog1->SetName("SaveDialog1");
  SaveDialog1->DefaultExt = "bmp";

  OnMouseWheelDown = [this](TObject* s, TShiftState sh, TPoint p, bool& h) {
    FormMouseWheelDown(s, sh, p, h);
  };
  OnMouseWheelUp = [this](TObject* s, TShiftState sh, TPoint p, bool& h) { FormMouseWheelUp(s, sh, p, h); };
  OnShortCut = [this](WORD key, TShiftState shift) {
    return ActionManager1->IsShortCut(ShortCutOf(key, shift));
  };
  OnMenuAccelerator = [this](wchar_t letter) { return ActionMainMenuBar1->OpenMenuByAccelerator(letter); };
  OnCreate = Bind(this, &TForm1::FormCreate);

  // Every component is built: each finishes loading (the plug-in set searches its folders
  // now).  An error here ends the program with the fatal error box.
  for (int i = 0; i < ComponentCount(); ++i) Component(i)->SettingsApplied();

  // From here on errors go to the default handler and the window is shown all the same.
  HandleErrors([] { RaiseMissingHelper(); });
  HandleErrors([this] { OnCreate(this); });
  Show();
  if (prepareWhenShown_) PaintThenPrepare();
}

TForm1::~TForm1() {
  // No preparation may outlive the plug-in set it loads through.
  preparer_.reset();
  if (Form1 == this) Form1 = nullptr;
}

void TForm1::BuildCommands() {
  ActionManager1 = new TActionManager(this);
  ActionManager1->SetName("ActionManager1");
  struct Command {
    TAction** field;
    const char* name;
    const char* category;
    const char* caption;
    TShortCut shortCut;
    void (TForm1::*handler)(TObject*);
  };
  const Command commands[] = {
      {&Action4, "Action4", "ファイル", "画像の読み込み", scNone, &TForm1::Action4Execute},
      {&Action5, "Action5", "ファイル", "画像の書き出し", scNone, &TForm1::Action5Execute},
      {&Action7, "Action7", "ファイル", "終了", scNone, &TForm1::Action7Execute},
      {&Action1, "Action1", "操作", "次の画像へ", VK_INSERT, &TForm1::Action1Execute},
      {&Action6, "Action6", "操作", "前の画像へ", VK_DELETE, &TForm1::Action6Execute},
      {&Action2, "Action2", "操作", "拡大（+25%）", scCtrl | 'W', &TForm1::Action2Execute},
      {&Action8, "Action8", "操作", "縮小（-25%）", scCtrl | 'X', &TForm1::Action8Execute},
      {&Action9, "Action9", "操作", "元の倍率に戻す", scCtrl | 'Z', &TForm1::Action9Execute},
      {&Action10, "Action10", "ヘルプ", "バージョン情報", scNone, &TForm1::Action10Execute},
      {&Action3, "Action3", "ヘルプ", "Ubrenko's Pageへ", scNone, &TForm1::Action3Execute},
  };
  for (const Command& c : commands) {
    TAction* a = new TAction(this, ActionManager1);
    a->SetName(c.name);
    a->Category = c.category;
    a->Caption = c.caption;
    a->ShortCut = c.shortCut;
    a->OnExecute = Bind(this, c.handler);
    *c.field = a;
  }
  auto item = [](const char* caption, TAction* action) { return TActionClientItem{caption, action, {}}; };
  auto separator = [] { return TActionClientItem{"-", nullptr, {}}; };
  ActionManager1->ActionBar() = {
      {"ファイル(&Z)",
       nullptr,
       {item("画像の読み込み(&X)", Action4), item("画像の書き出し(&Y)", Action5), separator(),
        item("終了(&Z)", Action7)}},
      {"操作(&Y)",
       nullptr,
       {item("次の画像へ(&Z)", Action1), item("前の画像へ(&Y)", Action6), separator(),
        item("拡大（+25%）(&2)", Action2), item("縮小（-25%）(&5)", Action8),
        item("元の倍率に戻す(&X)", Action9)}},
      {"ヘルプ(&X)", nullptr, {item("バージョン情報(&Z)", Action10), item("Ubrenko's Pageへ(&A)", Action3)}},
  };
}

void TForm1::LoadStartupPicture() {
  HMODULE module = ::GetModuleHandleW(nullptr);
  HRSRC res = ::FindResourceA(module, "STARTUP", MAKEINTRESOURCEA(10));  // RT_RCDATA
  if (!res) return;
  HGLOBAL data = ::LoadResource(module, res);
  const void* bytes = data ? ::LockResource(data) : nullptr;
  if (!bytes) return;
  TPointerStream stream(bytes, ::SizeofResource(module, res));
  Image1->Picture().ReadData(stream);
}

// The window takes dropped files from its creation on.  The style is all that accepting them
// needs (the shell's DragAcceptFiles sets nothing else), and setting it here leaves the shell
// unloaded until a file is really dropped: under Wine it and what it brings cost the start-up.
void TForm1::PrepareWindowParams(TCreateParams& params) {
  TForm::PrepareWindowParams(params);
  params.ExStyle |= WS_EX_ACCEPTFILES;
}

// Designer positions and sizes are in 96 pixels per inch; they are scaled to the window's
// resolution.  The served font's text height is not used for scaling, because a substituted
// face (IPAPGothic for "ＭＳ Ｐゴシック" gives 13 instead of 12) would move every designed
// position by a font the design never saw.
int TForm1::DesignScale(int value) const { return dpi_ == 96 ? value : ::MulDiv(value, dpi_, 96); }

// The window moved to a monitor of another resolution (or that monitor's setting changed): the
// menu bar and its font take the new scale, the picture stays one picture pixel to one screen
// pixel below it, and the window takes the rectangle the system suggests.
void TForm1::WMDpiChanged(int dpi, const RECT& suggested) {
  if (dpi <= 0 || dpi == dpi_) return;
  const int oldBar = DesignScale(29);
  dpi_ = dpi;
  const int newBar = DesignScale(29);
  SetFont(L"ＭＳ Ｐゴシック", DesignScale(12));
  TForm::SetBounds(suggested.left, suggested.top, suggested.right - suggested.left,
                   suggested.bottom - suggested.top);
  ActionMainMenuBar1->SetDpi(dpi_);
  ActionMainMenuBar1->SetBounds(0, 0, ClientWidth(), newBar);
  Image1->SetBounds(Image1->Left(), Image1->Top() + newBar - oldBar, Image1->Width(), Image1->Height());
}

LRESULT TForm1::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_DROPFILES) {
    WMDropFiles(reinterpret_cast<HDROP>(wp));
    return 0;
  }
  if (msg == WM_SETCURSOR && busyCursor_ && LOWORD(lp) == HTCLIENT) {
    // The window's class cursor would replace the busy one at every move of the mouse.
    platform::ShowBusyCursor();
    return TRUE;
  }
  if (msg == kWmDpiChanged) {
    WMDpiChanged(HIWORD(wp), *reinterpret_cast<const RECT*>(lp));
    return 0;
  }
  return TForm::WndProc(msg, wp, lp);
}

void TForm1::FormCreate(TObject*) {
  std::string mask = "*.bmp";
  for (int i = 0; i < SPIs1->Count(); ++i) {
    const TStringList& extensions = SPIs1->Items(i)->Extensions();
    if (extensions.Count() > 0) mask += ";" + extensions[0];
  }
  FileListBox1->SetMask(mask);
  OpenDialog1->Filter = "画像データ|" + mask;
  SaveDialog1->Filter = "画像データ|" + mask;
  const std::vector<std::string> args = SplitCommandLine(commandLine_);
  if (args.size() > 1) OpenPicture(args[1]);
}

void TForm1::Action7Execute(TObject*) { Close(); }

void TForm1::Image1DblClick(TObject*) { Close(); }

void TForm1::Action10Execute(TObject*) { ShowInformation(Handle(), VersionMessage(platform::ExeFileName())); }

void TForm1::Action3Execute(TObject*) { ::ShellExecuteA(Handle(), nullptr, kAuthorPage, "", "", SW_SHOW); }
