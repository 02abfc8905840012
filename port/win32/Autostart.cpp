#include "port/Autostart.h"

#include <windows.h>

#include <string>

#include "base/Charset.h"
#include "base/Exception.h"

namespace Quorvel::port {

namespace {

constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kValueName[] = "Vendara";

// The value is the program's own path, quoted: it is started from there at
// the next logon.
class RunKeyAutostart : public Autostart {
 public:
  void set(bool on) override {
    if (!on) {
      const LSTATUS status = RegDeleteKeyValueA(HKEY_CURRENT_USER, kRunKey, kValueName);
      if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) {
        throw Exception(gbk("无法删除开机自启动项（注册表错误 ") + std::to_string(status) + ")");
      }
      return;
    }
    char path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) throw Exception(gbk("无法取得程序的路径，开机自启动项未写入"));
    const std::string command = "\"" + std::string(path, length) + "\"";
    const LSTATUS status = RegSetKeyValueA(HKEY_CURRENT_USER, kRunKey, kValueName, REG_SZ, command.c_str(),
                                           static_cast<DWORD>(command.size() + 1));
    if (status != ERROR_SUCCESS) {
      throw Exception(gbk("无法写入开机自启动项（注册表错误 ") + std::to_string(status) + ")");
    }
  }
};

}  // namespace

std::shared_ptr<Autostart> systemAutostart(const std::filesystem::path&) { return std::make_shared<RunKeyAutostart>(); }

std::shared_ptr<Autostart> Autostart::makeProcessWide() { return systemAutostart({}); }

}  // namespace Quorvel::port
