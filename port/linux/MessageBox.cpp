#include "port/MessageBox.h"

#include <cstdio>

#include "base/Charset.h"

namespace Quorvel::port {

namespace {

std::string printable(const std::string& gbk) {
  try {
    return gbkToUtf8(gbk);
  } catch (...) {
    return gbk;  // show the raw bytes rather than nothing
  }
}

}  // namespace

void showMessageBox(const std::string& caption, const std::string& text) {
  std::fprintf(stderr, "[%s] %s\n", printable(caption).c_str(), printable(text).c_str());
  std::fflush(stderr);
}

}  // namespace Quorvel::port
