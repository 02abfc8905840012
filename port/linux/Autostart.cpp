#include "port/Autostart.h"

#include <cstdlib>
#include <fstream>

#include "base/Charset.h"
#include "base/Exception.h"

namespace Quorvel::port {

namespace {

namespace fs = std::filesystem;

// A desktop entry's Exec argument: quoted, with its reserved characters
// escaped.
std::string execArgument(const std::string& path) {
  std::string quoted = "\"";
  for (char c : path) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted += '\\';
    quoted += c;
  }
  return quoted + "\"";
}

// What the entry starts: the package's launcher (bin/vendara beside
// lib/vendara/, which starts the program in the seller's data folder) when
// the program is installed, else the program itself in the folder it runs
// in now.
std::string entryText() {
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  const fs::path launcher = program.parent_path() / "../../bin/vendara";
  std::string text =
      "[Desktop Entry]\nType=Application\nName=Vendara\nComment=自动发货助手\nIcon=vendara\nTerminal=false\n"
      "X-GNOME-Autostart-enabled=true\n";
  if (!error && program.parent_path().filename() == "vendara" && fs::is_regular_file(launcher, error)) {
    text += "Exec=" + execArgument(fs::weakly_canonical(launcher, error).string()) + "\n";
  } else {
    text += "Exec=" + execArgument(program.string()) + "\n";
    text += "Path=" + fs::current_path(error).string() + "\n";
  }
  return text;
}

class DesktopEntryAutostart : public Autostart {
 public:
  explicit DesktopEntryAutostart(fs::path home) : folder_(std::move(home) / ".config" / "autostart") {}

  void set(bool on) override {
    const fs::path entry = folder_ / "vendara.desktop";
    std::error_code error;
    if (!on) {
      fs::remove(entry, error);
      if (error) throw Exception(gbk("无法删除开机自启动项 ") + entry.string() + ": " + error.message());
      return;
    }
    fs::create_directories(folder_, error);
    if (error) throw Exception(gbk("无法创建文件夹 ") + folder_.string() + ": " + error.message());
    // Written beside and renamed, so the desktop never reads half an entry.
    const fs::path partial = folder_ / ".vendara.desktop.new";
    {
      std::ofstream out(partial, std::ios::binary | std::ios::trunc);
      out << entryText();
      out.close();
      if (!out) {
        fs::remove(partial, error);
        throw Exception(gbk("无法写入开机自启动项 ") + entry.string());
      }
    }
    fs::rename(partial, entry, error);
    if (error) {
      std::error_code ignored;
      fs::remove(partial, ignored);
      throw Exception(gbk("无法写入开机自启动项 ") + entry.string() + ": " + error.message());
    }
  }

 private:
  const fs::path folder_;
};

}  // namespace

std::shared_ptr<Autostart> systemAutostart(const std::filesystem::path& home) {
  return std::make_shared<DesktopEntryAutostart>(home);
}

std::shared_ptr<Autostart> Autostart::makeProcessWide() {
  const char* home = std::getenv("HOME");
  return systemAutostart(home != nullptr && *home != '\0' ? home : ".");
}

}  // namespace Quorvel::port
