#include "port/MessageBox.h"

#include <windows.h>

#include "base/Charset.h"

namespace Quorvel::port {

namespace {

// GBK text as the system's wide text, so that the box reads right whatever
// the system's ANSI code page is.
std::wstring wide(const std::string& gbk) {
  std::string units;
  try {
    units = iconvConvert("UTF-16LE", gbk, "GBK");
  } catch (...) {
    units.clear();
    for (char c : gbk) units += {c, '\0'};  // show the raw bytes rather than nothing
  }
  std::wstring text(units.size() / 2, L'\0');
  for (std::size_t i = 0; i < text.size(); ++i) {
    text[i] = static_cast<wchar_t>(static_cast<unsigned char>(units[2 * i]) |
                                   (static_cast<unsigned char>(units[2 * i + 1]) << 8));
  }
  return text;
}

}  // namespace

void showMessageBox(const std::string& caption, const std::string& text) {
  MessageBoxW(nullptr, wide(text).c_str(), wide(caption).c_str(), MB_OK | MB_ICONWARNING | MB_SETFOREGROUND);
}

}  // namespace Quorvel::port
