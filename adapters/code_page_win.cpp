#include "adapters/windows_platform.h"

#include <windows.h>

// The system's ANSI code page, through the wide conversions.
#include "adapters/long_path.h"

namespace quib {

std::string CWindowsCodePage::ToUtf8(const std::string& ansi) {
  const std::wstring wide = CodePageToWide(ansi, CP_ACP);
  return WideToUtf8(wide);
}

std::string CWindowsCodePage::FromUtf8(const std::string& utf8) {
  // No best-fit look-alikes: what the code page lacks becomes "?".
  const std::wstring wide = Utf8ToWide(utf8);
  return WideToCodePage(wide.data(), wide.size(), CP_ACP, WC_NO_BEST_FIT_CHARS);
}

bool CWindowsCodePage::IsLeadByte(unsigned char byte) {
  return IsDBCSLeadByte(byte) != FALSE;
}

}  // namespace quib
