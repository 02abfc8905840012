#include "port/AppShell.h"

#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>

#include <cstring>

#include "base/Charset.h"

namespace Quorvel::port {

namespace {

// The tray icon's record and the hidden main window's answers. The window's
// class is kShellClass and its title the program's; the icon is kIconId.
constexpr char kShellClass[] = "QuorvelAppShell";
constexpr UINT kIconId = 132;
constexpr UINT kTrayMessage = WM_USER + 1;
constexpr UINT kCancelCommand = 1026;  // "取消": closes the menu, nothing else
constexpr UINT kCloseCommand = IDCANCEL;

struct Shell {
  const AppShellEvents* events = nullptr;
  NOTIFYICONDATAA icon{};
};

NOTIFYICONDATAA trayRecord(HWND window, const std::string& tip) {
  NOTIFYICONDATAA icon{};
  icon.cbSize = sizeof icon;
  icon.hWnd = window;
  icon.uID = kIconId;
  icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
  icon.uCallbackMessage = kTrayMessage;
  icon.hIcon = LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
  std::strncpy(icon.szTip, tip.c_str(), sizeof icon.szTip - 1);
  return icon;
}

void showMenu(HWND window) {
  POINT cursor{};
  GetCursorPos(&cursor);
  HMENU menu = CreatePopupMenu();
  if (menu == nullptr) return;
  AppendMenuA(menu, MF_STRING, kCancelCommand, gbk("取消").c_str());
  AppendMenuA(menu, MF_STRING, kCloseCommand, gbk("关闭").c_str());
  // The menu must own the foreground to close when the user clicks elsewhere.
  SetForegroundWindow(window);
  TrackPopupMenu(menu, 0, cursor.x, cursor.y - 40, 0, window, nullptr);
  DestroyMenu(menu);
}

LRESULT CALLBACK shellProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* shell = reinterpret_cast<Shell*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  switch (message) {
    case WM_NCCREATE:
      SetWindowLongPtrA(window, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams));
      break;
    case kTrayMessage:
      if (wParam != kIconId) return 1;  // another icon's notice
      if (lParam == WM_LBUTTONDBLCLK && shell != nullptr && shell->events->reopenUi) shell->events->reopenUi();
      if (lParam == WM_RBUTTONUP) showMenu(window);
      return 0;
    case WM_COMMAND:
      if (LOWORD(wParam) == kCloseCommand) DestroyWindow(window);
      return 0;
    case WM_CLOSE:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      if (shell != nullptr) Shell_NotifyIconA(NIM_DELETE, &shell->icon);
      PostQuitMessage(0);
      return 0;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace

void prepareAppShell() {
  INITCOMMONCONTROLSEX controls{sizeof controls, 0xFF};
  InitCommonControlsEx(&controls);
}

// The main window is never shown: the program lives as its tray icon. The
// shell's window belongs to the calling thread, which runs its messages
// until "关闭" is chosen (or the window is told to close).
void runAppShell(const std::string& tip, const AppShellEvents& events) {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSA windowClass{};
  windowClass.lpfnWndProc = shellProc;
  windowClass.hInstance = instance;
  windowClass.lpszClassName = kShellClass;
  RegisterClassA(&windowClass);  // already registered on a second run: fine

  Shell shell;
  shell.events = &events;
  const std::string title = gbk("Vendara2012永久免费版");
  HWND window = CreateWindowExA(WS_EX_APPWINDOW, kShellClass, title.c_str(), WS_POPUP | WS_CAPTION | WS_SYSMENU, 0, 0,
                                0, 0, nullptr, nullptr, instance, &shell);
  if (window == nullptr) return;
  shell.icon = trayRecord(window, tip);
  Shell_NotifyIconA(NIM_ADD, &shell.icon);

  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
}

}  // namespace Quorvel::port
