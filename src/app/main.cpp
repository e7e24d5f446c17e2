// The program entry: the application builds the main window and runs its message loop.  An
// error while the window is built ends the program with the fatal error box and exit code 1.
#include <windows.h>

#include "app/korvale02.h"
#include "platform/dynlib.h"
#include "platform/files.h"
#include "rtl/exceptions.h"
#include "rtl/messages.h"
#include "rtl/text.h"
#include "toolkit/application.h"
#include "toolkit/busy_wait.h"

namespace {
int RunViewer() {
  TApplication& app = Application();
  app.Initialize();
  Form1 = new TForm1(nullptr);
  app.SetMainForm(Form1);
  app.Run();
  delete Form1;
  return 0;
}

void FatalError(const char* className, const MixedText& message) {
  const std::string module = text::ExtractFileName(platform::ExeFileName());
  toolkit::ShowMessageBox(
      nullptr, toolkit::FatalErrorText(className, module, reinterpret_cast<const void*>(&RunViewer), message),
      msg::kFatalCaption, MB_OK | MB_ICONERROR | MB_TASKMODAL);
}
}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  platform::RestrictLibrarySearch();
  toolkit::InstallPluginWait();
  try {
    return RunViewer();
  } catch (const Exception& e) {
    FatalError(e.ClassName(), e.Mixed());
  } catch (const std::exception& e) {
    FatalError("Exception", MixedText{e.what(), {}});
  }
  return 1;
}
