#include "port/WindowSystem.h"

#include <windows.h>

namespace Quorvel::port {

namespace {

HWND handle(Window window) { return reinterpret_cast<HWND>(window); }
Window id(HWND window) { return reinterpret_cast<Window>(window); }

// The desktop's windows through USER32's ANSI calls: texts are handed over
// as they are, so on a system whose ANSI code page is 936 they are GBK.
// USER32 may be called from any thread; nothing here keeps state.
class Win32Windows : public WindowSystem {
 public:
  Window findWindow(const std::string& className, const std::string& title) override {
    return id(FindWindowA(className.empty() ? nullptr : className.c_str(), title.c_str()));
  }

  void enumChildWindows(Window parent, const std::function<bool(Window)>& visit) override {
    EnumChildWindows(
        handle(parent),
        [](HWND child, LPARAM visitor) -> BOOL {
          return (*reinterpret_cast<const std::function<bool(Window)>*>(visitor))(id(child)) ? TRUE : FALSE;
        },
        reinterpret_cast<LPARAM>(&visit));
  }

  std::string className(Window window) override {
    char name[256] = {};
    const int length = GetClassNameA(handle(window), name, sizeof name);
    return length > 0 ? std::string(name, static_cast<std::size_t>(length)) : std::string();
  }

  std::string windowText(Window window) override {
    char text[1024] = {};
    const int length = GetWindowTextA(handle(window), text, sizeof text);
    return length > 0 ? std::string(text, static_cast<std::size_t>(length)) : std::string();
  }

  std::intptr_t sendMessage(Window window, unsigned message, std::uintptr_t wParam, std::intptr_t lParam) override {
    return SendMessageA(handle(window), message, wParam, lParam);
  }

  std::intptr_t setText(Window window, const std::string& text) override {
    return SendMessageA(handle(window), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }

  std::intptr_t selectString(Window listBox, int startIndex, const std::string& text) override {
    return SendMessageA(handle(listBox), LB_SELECTSTRING, static_cast<WPARAM>(startIndex),
                        reinterpret_cast<LPARAM>(text.c_str()));
  }

  bool showWindow(Window window, int command) override { return ShowWindow(handle(window), command) != FALSE; }

  bool setForegroundWindow(Window window) override { return SetForegroundWindow(handle(window)) != FALSE; }

  void keyEvent(std::uint8_t virtualKey, std::uint8_t scanCode, std::uint32_t flags) override {
    keybd_event(virtualKey, scanCode, flags, 0);
  }

  unsigned mapVirtualKey(unsigned code, unsigned mapType) override { return MapVirtualKeyA(code, mapType); }
};

}  // namespace

std::shared_ptr<WindowSystem> WindowSystem::makeProcessWide() { return std::make_shared<Win32Windows>(); }

}  // namespace Quorvel::port
