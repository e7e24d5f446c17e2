// The file dialogs and the information message box.  Texts reach the screen as UTF-16; the
// chosen file names come back in the ANSI code page.
#ifndef KORVALE_TOOLKIT_DIALOGS_H
#define KORVALE_TOOLKIT_DIALOGS_H

#include <windows.h>

#include <functional>
#include <string>

#include "rtl/classes.h"

class TFileDialog : public TComponent {
 public:
  explicit TFileDialog(TComponent* owner, bool save) : TComponent(owner), save_(save) {}
  // "description|patterns|description|patterns..."
  std::string Filter;
  int FilterIndex = 1;
  std::string DefaultExt;
  // The last confirmed name, offered again the next time.
  std::string FileName;
  bool IsSaveDialog() const { return save_; }
  // Shows the dialog; true with FileName set when the user confirmed a name.
  bool Execute(HWND owner);

  // Tests put a stand-in for the user here: it gets the dialog and answers for it.
  using Hook = std::function<bool(TFileDialog& dialog)>;
  static void SetHook(Hook hook);

 private:
  bool save_;
};

// The open dialog: read-only box hidden, resizable, the file need not exist.
class TOpenDialog : public TFileDialog {
 public:
  explicit TOpenDialog(TComponent* owner) : TFileDialog(owner, false) {}
};

// The save dialog: no question before overwriting.
class TSaveDialog : public TFileDialog {
 public:
  explicit TSaveDialog(TComponent* owner) : TFileDialog(owner, true) {}
};

// The information box: caption "情報", the information icon, one "OK" button.
void ShowInformation(HWND owner, const std::string& text);

#endif
