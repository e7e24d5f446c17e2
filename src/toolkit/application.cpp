#include "toolkit/application.h"

#include "platform/files.h"
#include "rtl/exceptions.h"
#include "rtl/format.h"
#include "rtl/messages.h"
#include "rtl/text.h"
#include "toolkit/controls.h"
#include "toolkit/wintext.h"

namespace toolkit {
namespace {
MessageBoxHook& Hook() {
  static MessageBoxHook hook;
  return hook;
}
}  // namespace

void SetMessageBoxHook(MessageBoxHook hook) { Hook() = std::move(hook); }

int ShowMessageBox(HWND owner, const MixedText& text, const std::string& caption, UINT type) {
  if (Hook()) return Hook()(text.text, caption, type);
  return ::MessageBoxW(owner, Wide(text).c_str(), Wide(caption).c_str(), type);
}

int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type) {
  return ShowMessageBox(owner, MixedText{text, {}}, caption, type);
}

std::string TitleFromExeName(const std::string& exeFileName) {
  std::string name = text::ExtractFileName(exeFileName);
  size_t dot = name.find('.');
  if (dot != std::string::npos) name.resize(dot);
  if (name.empty()) return name;
  // The first character stays as it is; it may be a double-byte one.
  size_t first = 1;
  if (platform::IsDBCSLeadByte(static_cast<unsigned char>(name[0])) && name.size() > 1) first = 2;
  return name.substr(0, first) + text::AnsiLowerCase(name.substr(first));
}

MixedText ErrorBoxText(const MixedText& message) {
  MixedText m = message;
  if (!m.text.empty() && static_cast<unsigned char>(m.text.back()) > '.') m += ".";
  return m;
}

std::string ErrorBoxText(const std::string& message) { return ErrorBoxText(MixedText{message, {}}).text; }

MixedText FatalErrorText(const std::string& className, const std::string& module, const void* address,
                         const MixedText& message) {
  MixedText m = FormatMixed(msg::kFatalText, {className, module, address});
  m += "\r\n";
  m += message;
  if (!message.text.empty() && message.text.back() != '.') m += ".";
  return m;
}

std::string FatalErrorText(const std::string& className, const std::string& module, const void* address,
                           const std::string& message) {
  return FatalErrorText(className, module, address, MixedText{message, {}}).text;
}

}  // namespace toolkit

TApplication::TApplication() : instance_(::GetModuleHandleW(nullptr)) {
  title_ = toolkit::TitleFromExeName(platform::ExeFileName());
  icon_ = ::LoadIconW(instance_, L"MAINICON");
  if (!icon_) icon_ = ::LoadIconW(nullptr, reinterpret_cast<LPCWSTR>(IDI_APPLICATION));
  STARTUPINFOW si{};
  si.cb = sizeof si;
  ::GetStartupInfoW(&si);
  if (si.dwFlags & STARTF_USESHOWWINDOW) showCommand_ = si.wShowWindow;
}

TApplication& Application() {
  static TApplication app;
  return app;
}

void TApplication::Run() {
  if (terminated_) return;
  running_ = true;
  if (mainForm_ && mainForm_->Handle()) {
    if (showCommand_ == SW_SHOWMAXIMIZED)
      ::ShowWindow(mainForm_->Handle(), SW_SHOWMAXIMIZED);
    else if (showCommand_ == SW_SHOWMINNOACTIVE)
      ::ShowWindow(mainForm_->Handle(), SW_SHOWMINNOACTIVE);
  }
  // The loop ends on the quit message that Terminate posts, so none is left in the queue.
  MSG m;
  for (;;) {
    const BOOL r = ::GetMessageW(&m, nullptr, 0, 0);
    if (r == 0 || r == -1) break;
    ::TranslateMessage(&m);
    ::DispatchMessageW(&m);
  }
  running_ = false;
}

bool TApplication::ProcessMessage() {
  MSG m;
  if (!::PeekMessageW(&m, nullptr, 0, 0, PM_REMOVE)) return false;
  if (m.message == WM_QUIT) {
    terminated_ = true;
    return true;
  }
  ::TranslateMessage(&m);
  ::DispatchMessageW(&m);
  return true;
}

void TApplication::ProcessMessages() {
  while (ProcessMessage()) {
  }
}

void TApplication::Terminate() {
  terminated_ = true;
  if (running_) ::PostQuitMessage(0);
}

void TApplication::ShowException(const MixedText& message) {
  HWND owner = mainForm_ ? mainForm_->Handle() : nullptr;
  toolkit::ShowMessageBox(owner, toolkit::ErrorBoxText(message), title_, MB_OK | MB_ICONERROR);
}

void TApplication::ShowException(const std::string& message) { ShowException(MixedText{message, {}}); }

void TApplication::HandleException(const std::exception& e) {
  // The silent abort shows nothing.
  if (dynamic_cast<const EAbort*>(&e)) return;
  if (const auto* own = dynamic_cast<const Exception*>(&e))
    ShowException(own->Mixed());
  else
    ShowException(e.what());
}
