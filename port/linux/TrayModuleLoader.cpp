// The program's side of port/linux/TrayModule.h.
#include <dlfcn.h>

#include <filesystem>

#include "port/linux/TrayModule.h"

namespace Quorvel::port {

namespace fs = std::filesystem;

const TrayModule* loadTrayModule(std::string* why) {
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  if (error) {
    *why = "找不到程序自身的位置，无法载入托盘图标模块";
    return nullptr;
  }
  const fs::path file = program.parent_path() / kTrayModuleFile;
  // An absolute name: the loader searches no path for it. Kept loaded until
  // the process ends (the tray's signal handlers live in it).
  void* module = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (module == nullptr) {
    const char* reason = dlerror();
    *why = "无法载入托盘图标模块 " + file.string() + "（" + (reason ? reason : "未知原因") + "）";
    return nullptr;
  }
  using Entry = const TrayModule* (*)();
  auto entry = reinterpret_cast<Entry>(dlsym(module, kTrayModuleSymbol));
  const TrayModule* table = entry ? entry() : nullptr;
  if (table == nullptr) {
    *why = "托盘图标模块 " + file.string() + " 不完整";
    dlclose(module);
    return nullptr;
  }
  return table;
}

}  // namespace Quorvel::port
