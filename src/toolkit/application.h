// The application object: its title and icon, the main form, the message loop, and the
// default handling of errors that leave an event handler (an error box, then the program goes
// on).  One per program, reached through Application().
#ifndef KORVALE_TOOLKIT_APPLICATION_H
#define KORVALE_TOOLKIT_APPLICATION_H

#include <windows.h>

#include <exception>
#include <stdexcept>
#include <functional>
#include <string>

#include "rtl/format.h"

class TForm;

namespace toolkit {

// Every message box of the toolkit goes through here.  A test installs a hook to read the text
// and caption (and answer) instead of a box waiting for a click; null restores the real box.
using MessageBoxHook = std::function<int(const std::string& text, const std::string& caption, UINT type)>;
void SetMessageBoxHook(MessageBoxHook hook);
int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type);
// A text with names in it: each part reaches the box from its own code page (the hook gets the
// bytes as held).
int ShowMessageBox(HWND owner, const MixedText& text, const std::string& caption, UINT type);

// "Korvale2.exe" -> "Korvale2": the name after the last "\", cut at its first ".", every
// character after the first lower-cased.
std::string TitleFromExeName(const std::string& exeFileName);
// The error box's text: the message with "." appended when its last character sorts after ".".
std::string ErrorBoxText(const std::string& message);
MixedText ErrorBoxText(const MixedText& message);
// The fatal error box's text: "%s がモジュール %s の %p で発生しました。", a line break, and the
// message with "." appended when it is not empty and does not end in ".".
std::string FatalErrorText(const std::string& className, const std::string& module, const void* address,
                           const std::string& message);
// The module's name and the class name count as names from the system.
MixedText FatalErrorText(const std::string& className, const std::string& module, const void* address,
                         const MixedText& message);

}  // namespace toolkit

class TApplication {
 public:
  TApplication();
  TApplication(const TApplication&) = delete;
  TApplication& operator=(const TApplication&) = delete;

  const std::string& Title() const { return title_; }
  void SetTitle(const std::string& title) { title_ = title; }
  HICON Icon() const { return icon_; }
  HINSTANCE Instance() const { return instance_; }

  void Initialize() {}
  // Takes ownership of the main form (the first form created).
  void SetMainForm(TForm* form) { mainForm_ = form; }
  TForm* MainForm() const { return mainForm_; }

  // Applies the start show command (3 maximised, 7 minimised without activation) and runs the
  // message loop until the main form closes.
  void Run();
  // Handles one waiting message; false when the queue was empty.
  bool ProcessMessage();
  void ProcessMessages();
  // Ends the loop: the loop stops after the current message.
  void Terminate();
  bool Terminated() const { return terminated_; }
  // Forget a previous Terminate (tests build several main windows in one process).
  void ResetTerminated() { terminated_ = false; }

  // The default handler: an error box titled with the title, with the error's message.
  void HandleException(const std::exception& e);
  void ShowException(const std::string& message);
  void ShowException(const MixedText& message);

  // The start show command from the process's start-up information; tests may set it.
  int StartShowCommand() const { return showCommand_; }
  void SetStartShowCommand(int cmd) { showCommand_ = cmd; }

 private:
  std::string title_;
  HINSTANCE instance_;
  HICON icon_;
  TForm* mainForm_ = nullptr;
  bool terminated_ = false;
  bool running_ = false;
  int showCommand_ = SW_SHOWNORMAL;
};

TApplication& Application();

// Runs `body` (a handler) and hands any error that leaves it to the default handler.
template <typename F>
void HandleErrors(F&& body) {
  try {
    body();
  } catch (const std::exception& e) {
    Application().HandleException(e);
  } catch (...) {
    Application().HandleException(std::runtime_error("?"));
  }
}

#endif
