#include "toolkit/dialogs.h"

#include <commdlg.h>

#include <vector>

#include "toolkit/application.h"
#include "toolkit/wintext.h"

namespace {
TFileDialog::Hook& DialogHook() {
  static TFileDialog::Hook hook;
  return hook;
}
}  // namespace

void TFileDialog::SetHook(Hook hook) { DialogHook() = std::move(hook); }

bool TFileDialog::Execute(HWND owner) {
  if (DialogHook()) return DialogHook()(*this);
  // "a|b|c|d" becomes "a\0b\0c\0d\0\0".
  std::wstring filter = toolkit::Wide(Filter);
  for (wchar_t& c : filter)
    if (c == L'|') c = L'\0';
  filter.push_back(L'\0');
  filter.push_back(L'\0');
  std::vector<wchar_t> file(4096, L'\0');
  std::wstring initial = toolkit::SystemWide(FileName);
  initial.copy(file.data(), std::min(initial.size(), file.size() - 1));
  std::wstring defExt = toolkit::Wide(DefaultExt);

  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = Filter.empty() ? nullptr : filter.c_str();
  ofn.nFilterIndex = static_cast<DWORD>(FilterIndex);
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrDefExt = defExt.empty() ? nullptr : defExt.c_str();
  ofn.Flags = OFN_HIDEREADONLY | OFN_ENABLESIZING | OFN_EXPLORER | OFN_NOCHANGEDIR;
  const BOOL ok = save_ ? ::GetSaveFileNameW(&ofn) : ::GetOpenFileNameW(&ofn);
  if (!ok) return false;
  // A name the code page cannot write comes back as its short form (the save dialog's file is
  // created for that); with no form at all it keeps its "?" letters and the open or save that
  // follows reports it.
  const std::wstring chosen = file.data();
  FileName = toolkit::ReachableName(chosen, save_);
  if (FileName.empty()) FileName = toolkit::Narrow(chosen);
  FilterIndex = static_cast<int>(ofn.nFilterIndex);
  return true;
}

void ShowInformation(HWND owner, const std::string& text) {
  toolkit::ShowMessageBox(owner, text, "情報", MB_OK | MB_ICONINFORMATION);
}
