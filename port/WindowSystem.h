// The desktop's windows as the IM automation drives them: top-level windows of
// another program found by class and title, their children, and the messages
// and key events that the automation sends them. Each operation is one call of
// the system's window functions (FindWindow, EnumChildWindows, GetClassName,
// GetWindowText, SendMessage, ShowWindow, SetForegroundWindow, keybd_event,
// MapVirtualKey) and answers what that call answers; texts are GBK.
//
// The program's window system is the port::WindowSystem entry of its Env
// (base/Env.h); tests put a simulated client in an Env of their own. Called only by the daemon's message worker (a
// replaced worker and its successor may overlap, so implementations must allow
// calls from two threads).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace Quorvel::port {

// A window handle; 0 is no window.
using Window = std::uintptr_t;

// The message and key numbers the automation sends, as the window system
// numbers them.
namespace win {
inline constexpr unsigned kSetText = 0x000C;       // WM_SETTEXT
inline constexpr unsigned kClose = 0x0010;         // WM_CLOSE
inline constexpr unsigned kKeyDown = 0x0100;       // WM_KEYDOWN
inline constexpr unsigned kKeyUp = 0x0101;         // WM_KEYUP
inline constexpr unsigned kChar = 0x0102;          // WM_CHAR
inline constexpr unsigned kLButtonDown = 0x0201;   // WM_LBUTTONDOWN
inline constexpr unsigned kLButtonUp = 0x0202;     // WM_LBUTTONUP
inline constexpr unsigned kSelectString = 0x018C;  // LB_SELECTSTRING
inline constexpr std::intptr_t kListError = -1;    // LB_ERR

inline constexpr std::uintptr_t kLeftButton = 0x0001;  // MK_LBUTTON
inline constexpr std::uint8_t kVkReturn = 0x0D;        // VK_RETURN
inline constexpr std::uint8_t kVkControl = 0x11;       // VK_CONTROL
inline constexpr unsigned kMapVkToScan = 0;            // MAPVK_VK_TO_VSC
inline constexpr std::uint32_t kKeyEventUp = 0x0002;   // KEYEVENTF_KEYUP
inline constexpr int kShowMinimized = 2;               // SW_SHOWMINIMIZED

// The lParam of a mouse message: x in the low word, y in the high word.
constexpr std::intptr_t mousePosition(int x, int y) {
  return static_cast<std::intptr_t>((static_cast<std::uint32_t>(y) << 16) | (static_cast<std::uint32_t>(x) & 0xFFFF));
}
}  // namespace win

class WindowSystem {
 public:
  virtual ~WindowSystem() = default;

  // The system's windows. On a system without the IM client's windows no
  // window is ever found.
  static std::shared_ptr<WindowSystem> makeProcessWide();

  // Whether the IM client can run on this system at all. Where it cannot,
  // an IM message can never be sent, and the seller is told so instead of
  // seeing it queued for ever.
  virtual bool imClientPossible() const { return true; }

  // FindWindow: the first top-level window whose class is `className` (any
  // class when it is empty) and whose title is exactly `title`; 0 when none.
  virtual Window findWindow(const std::string& className, const std::string& title) = 0;

  // EnumChildWindows: calls `visit` with each child window in the system's
  // order until it returns false.
  virtual void enumChildWindows(Window parent, const std::function<bool(Window)>& visit) = 0;

  // GetClassName and GetWindowText; empty for a window that is gone.
  virtual std::string className(Window window) = 0;
  virtual std::string windowText(Window window) = 0;

  // SendMessage of a message that carries numbers only (keys, mouse buttons,
  // WM_CLOSE); returns the window's answer.
  virtual std::intptr_t sendMessage(Window window, unsigned message, std::uintptr_t wParam, std::intptr_t lParam) = 0;

  // SendMessage WM_SETTEXT with `text`; TRUE (non-zero) when the window took it.
  virtual std::intptr_t setText(Window window, const std::string& text) = 0;

  // SendMessage LB_SELECTSTRING: selects the first entry from `startIndex` on
  // that starts with `text`; its index, or win::kListError.
  virtual std::intptr_t selectString(Window listBox, int startIndex, const std::string& text) = 0;

  // ShowWindow with a show command (win::kShowMinimized).
  virtual bool showWindow(Window window, int command) = 0;

  // SetForegroundWindow.
  virtual bool setForegroundWindow(Window window) = 0;

  // keybd_event: a key press or release (flags win::kKeyEventUp) for the
  // whole desktop, with its hardware scan code.
  virtual void keyEvent(std::uint8_t virtualKey, std::uint8_t scanCode, std::uint32_t flags) = 0;

  // MapVirtualKey: with win::kMapVkToScan, the scan code of a virtual key.
  virtual unsigned mapVirtualKey(unsigned code, unsigned mapType) = 0;
};

}  // namespace Quorvel::port
