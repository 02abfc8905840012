// im_test_client: a stand-in for the seller's IM client on Windows, with the
// windows, classes and titles the automation looks for. Run as
//
//   im_test_client.exe LOGFILE
//
// The main window ("StandardFrame", "好店-阿里旺旺2012卖家版") is there from the
// start. Loading a web IM link (WM_COPYDATA to the main window, as the test's
// browser control does) answers by the buyer's name in the link:
//   chat...    a chat window "BUYER - 好店" with its "RichEditComponent" box
//   refuse...  the same, but the box refuses every WM_SETTEXT
//   notice...  the notice box "阿里旺旺"
//   friend...  the add-friend dialog "添加好友" (SearchInput, EditComponent,
//              StandardButton "确  定")
//   account... the account dialog "请选择已登录的阿里旺旺帐号" (a Button, then a
//              ListBox holding "好店[淘宝网]"); its button's release opens the chat
//   nolist...  the same dialog without the seller's entry
// Every message another process sends to these windows is appended to
// LOGFILE as "ROLE MESSAGE WPARAM LPARAM HEXTEXT" (hexadecimal numbers; the
// text of WM_SETTEXT, LB_SELECTSTRING and WM_COPYDATA as hex bytes). WM_CLOSE
// on the main window ends the client.
#include <windows.h>

#include <cstdio>
#include <map>
#include <string>

#include "base/Charset.h"
#include "base/Percent.h"

namespace {

using Quorvel::gbk;

FILE* gLog = nullptr;
HINSTANCE gInstance = nullptr;
std::map<HWND, std::string> gRoles;
std::map<HWND, WNDPROC> gSystemProcs;  // subclassed system controls
HWND gMain = nullptr;
std::string gBuyer;  // GBK, from the last link

std::string seller() { return gbk("好店"); }

std::string hex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 15];
  }
  return out;
}

bool logged(UINT message) {
  switch (message) {
    case WM_SETTEXT:
    case WM_CLOSE:
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
    case WM_COPYDATA:
    case LB_SELECTSTRING:
      return true;
    default:
      return false;
  }
}

// Only what another program sent: the client's own and the system's posted
// input never reach the log.
void record(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!logged(message) || !InSendMessage()) return;
  auto role = gRoles.find(window);
  std::string text;
  if (message == WM_SETTEXT || message == LB_SELECTSTRING) {
    text = reinterpret_cast<const char*>(lParam);
    lParam = 0;  // an address in this process: the text is what counts
  }
  if (message == WM_COPYDATA) {
    auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
    text.assign(static_cast<const char*>(data->lpData), data->cbData);
    lParam = 0;
  }
  std::fprintf(gLog, "%s %04X %llX %llX %s\n", role == gRoles.end() ? "?" : role->second.c_str(), message,
               static_cast<unsigned long long>(wParam), static_cast<unsigned long long>(lParam), hex(text).c_str());
  std::fflush(gLog);
}

HWND makeWindow(const char* className, const std::string& title, const std::string& role, HWND parent = nullptr,
                int id = 0) {
  const DWORD style = parent ? WS_CHILD | WS_VISIBLE : WS_OVERLAPPEDWINDOW;
  HWND window = CreateWindowExA(0, className, title.c_str(), style, 0, 0, parent ? 80 : 300, parent ? 20 : 200,
                                parent, parent ? reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)) : nullptr,
                                gInstance, nullptr);
  gRoles[window] = role;
  if (!parent) ShowWindow(window, SW_SHOWNOACTIVATE);
  return window;
}

void openChat(bool refusing) {
  HWND chat = makeWindow("StandardFrame", gBuyer + " - " + seller(), "chat");
  makeWindow("StaticLike", "", "header", chat, 1);
  makeWindow("RichEditComponent", "", refusing ? "refusingbox" : "box", chat, 2);
}

LRESULT CALLBACK systemControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

void openAccountDialog(bool withEntry) {
  HWND dialog = makeWindow("QuorvelDialog", gbk("请选择已登录的阿里旺旺帐号"), "account");
  HWND button = makeWindow("Button", "OK", "button", dialog, 1);
  HWND list = makeWindow("ListBox", "", "list", dialog, 2);
  const std::string other = gbk("别家[淘宝网]");
  SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(other.c_str()));
  if (withEntry) {
    const std::string entry = seller() + gbk("[淘宝网]");
    SendMessageA(list, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(entry.c_str()));
  }
  for (HWND control : {button, list}) {
    gSystemProcs[control] =
        reinterpret_cast<WNDPROC>(SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(systemControlProc)));
  }
}

void answerLink(const std::string& link) {
  const std::string key = "touid=cntaobao";
  const std::size_t at = link.find(key);
  if (at == std::string::npos) return;
  const std::size_t end = link.find('&', at);
  const std::string encoded = link.substr(at + key.size(), end == std::string::npos ? std::string::npos : end - at - key.size());
  gBuyer = Quorvel::utf8ToGbk(Quorvel::percentDecode(encoded));
  auto starts = [](const char* prefix) { return gBuyer.rfind(prefix, 0) == 0; };
  if (starts("chat")) {
    openChat(false);
  } else if (starts("refuse")) {
    openChat(true);
  } else if (starts("notice")) {
    makeWindow("QuorvelNotice", gbk("阿里旺旺"), "notice");
  } else if (starts("friend")) {
    HWND dialog = makeWindow("QuorvelDialog", gbk("添加好友"), "friend");
    makeWindow("SearchInput", "", "search", dialog, 1);
    makeWindow("EditComponent", "", "request", dialog, 2);
    makeWindow("StandardButton", gbk("确  定"), "ok", dialog, 3);
  } else if (starts("account")) {
    openAccountDialog(true);
  } else if (starts("nolist")) {
    openAccountDialog(false);
  }
}

LRESULT CALLBACK clientProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  record(window, message, wParam, lParam);
  const std::string& role = gRoles[window];
  switch (message) {
    case WM_COPYDATA:
      if (window != gMain) break;
      {
        auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        answerLink(std::string(static_cast<const char*>(data->lpData), data->cbData));
      }
      return TRUE;
    case WM_SETTEXT:
      if (role == "refusingbox") return FALSE;
      break;
    case WM_LBUTTONUP:
      if (role == "ok") return 0;
      break;
    case WM_CLOSE:
      if (window == gMain) PostQuitMessage(0);
      DestroyWindow(window);
      return 0;
    default:
      break;
  }
  return DefWindowProcA(window, message, wParam, lParam);
}

LRESULT CALLBACK systemControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  record(window, message, wParam, lParam);
  WNDPROC original = gSystemProcs[window];
  if (message == WM_LBUTTONDOWN && gRoles[window] == "button") return 0;
  if (message == WM_LBUTTONUP && gRoles[window] == "button") {
    // The seller's account was chosen: the dialog goes and the chat opens.
    DestroyWindow(GetParent(window));
    openChat(false);
    return 0;
  }
  return CallWindowProcA(original, window, message, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  gLog = std::fopen(argv[1], "ab");
  if (gLog == nullptr) return 3;
  gInstance = GetModuleHandleA(nullptr);
  for (const char* name : {"StandardFrame", "RichEditComponent", "EditComponent", "StandardButton", "SearchInput",
                           "QuorvelNotice", "QuorvelDialog", "StaticLike"}) {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = clientProc;
    windowClass.hInstance = gInstance;
    windowClass.lpszClassName = name;
    RegisterClassA(&windowClass);
  }
  gMain = makeWindow("StandardFrame", seller() + gbk("-阿里旺旺2012卖家版"), "main");
  MSG message;
  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  std::fclose(gLog);
  return 0;
}
