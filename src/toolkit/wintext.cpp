#include "toolkit/wintext.h"

#include <windows.h>

#include "platform/files.h"
#include "platform/text.h"
#include "platform/win32/wide.h"

namespace toolkit {

std::wstring Wide(const std::string& text) { return platform::AnsiToWide(text); }

std::wstring SystemWide(const std::string& name) {
  return platform::WideFrom(CP_UTF8, platform::ShownName(name));
}

std::wstring Wide(const MixedText& text) {
  std::wstring out;
  text.ForEachPart(
      [&out](const std::string& part, bool name) { out += name ? SystemWide(part) : Wide(part); });
  return out;
}

std::string Narrow(const std::wstring& text) { return platform::WideTo(CP_ACP, text); }

std::string OwnText(const std::wstring& text) { return platform::WideTo(932, text); }

std::string ReachableName(const std::wstring& name, bool create) {
  return platform::ReachableName(platform::WideTo(CP_UTF8, name), create);
}

}  // namespace toolkit
