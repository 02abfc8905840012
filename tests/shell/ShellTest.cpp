// The program's shell, run as the seller runs it: on a desktop (a virtual X
// display and a private D-Bus session, with the tests' own watcher standing
// in for the panel) it shows a tray item whose menu opens the web UI and
// closes the program cleanly; without a desktop it lives on the console and
// answers its signals. The ctest entry runs this program under xvfb-run and
// dbus-run-session.
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "tests/shell/Watcher.h"
#include "tests/support/ChildProgram.h"
#include "tests/support/Eventually.h"

namespace Quorvel::testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
constexpr char kLeftOut[] = "\x01";

std::string readFile(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<std::string> fileLines(const fs::path& file) {
  std::vector<std::string> lines;
  std::ifstream in(file);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Whether the running process `pid` has a file mapped whose path contains
// `name` (a shared library it loaded).
bool hasLoaded(pid_t pid, const std::string& name) {
  return readFile("/proc/" + std::to_string(pid) + "/maps").find(name) != std::string::npos;
}

// A data folder with a fresh database, and a browser on PATH that only notes
// the address it is started on.
class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char name[] = "/tmp/vendara-shell-XXXXXX";
    ASSERT_NE(mkdtemp(name), nullptr);
    work_ = name;
    fs::create_directories(work_ / "tpl");
    fs::copy_file(QUORVEL_TEMPLATE_DB, work_ / "tpl" / "vendara2012.db");
    fs::copy_file(QUORVEL_TEMPLATE_DB, work_ / "vendara2012.db");
    fs::create_directories(work_ / "bin");
    const fs::path browser = work_ / "bin" / "xdg-open";
    std::ofstream(browser) << "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" << (work_ / "opened.txt").string() << "'\n";
    fs::permissions(browser, fs::perms::owner_all);
  }
  void TearDown() override { fs::remove_all(work_); }

  std::unique_ptr<ChildProgram> start(std::map<std::string, std::string> env) {
    env["PATH"] = (work_ / "bin").string();
    auto program = std::make_unique<ChildProgram>(QUORVEL_VENDARA, std::vector<std::string>{}, work_.string(), env);
    EXPECT_TRUE(program->started());
    auto address = program->waitForLine("Web UI: (\\S+)");
    EXPECT_TRUE(address) << program->output();
    if (address) {
      uiAddress_ = (*address)[1];
      std::smatch part;
      if (std::regex_search(uiAddress_, part, std::regex("port=(\\d+)"))) port_ = std::stoi(part[1]);
      if (std::regex_search(uiAddress_, part, std::regex("#token=([0-9a-f]+)"))) key_ = part[1];
    }
    return program;
  }

  // Waits until the browser was started `count` times; its last address.
  std::string waitForBrowserStarts(std::size_t count) {
    std::string last;
    testing::eventually(
        [&] {
          auto lines = fileLines(work_ / "opened.txt");
          if (lines.size() < count) return false;
          last = lines.back();
          return true;
        },
        100ms, 30s);
    return last;
  }

  // The page the browser was sent to must lead to this run's keyed address.
  void expectLaunchPageLeadsToTheKeyedAddress(const std::string& opened) {
    EXPECT_EQ(opened, "file://" + (work_ / "launch" / "open-ui.html").string());
    const std::string page = readFile(work_ / "launch" / "open-ui.html");
    EXPECT_NE(page.find("port=" + std::to_string(port_)), std::string::npos) << page;
    EXPECT_NE(page.find("#token=" + key_), std::string::npos) << page;
    struct stat info {};
    ASSERT_EQ(stat((work_ / "launch" / "open-ui.html").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
  }

  bool setConfig(const std::string& key, const std::string& value) {
    const std::string answer = httpGet(static_cast<std::uint16_t>(port_), "/?do=setConfig&callback=cb&token=" + key_ +
                                                                              "&_postData=" + key + "%3D" + value);
    return answer.find("\"SUCCESS\" : 1") != std::string::npos;
  }

  std::set<std::string> storedKeys(const std::string& prefix) {
    std::set<std::string> keys;
    sqlite3* db = nullptr;
    if (sqlite3_open_v2((work_ / "vendara2012.db").c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
      sqlite3_stmt* rows = nullptr;
      sqlite3_prepare_v2(db, "select key from sys_config", -1, &rows, nullptr);
      while (rows != nullptr && sqlite3_step(rows) == SQLITE_ROW) {
        const std::string key = reinterpret_cast<const char*>(sqlite3_column_text(rows, 0));
        if (key.rfind(prefix, 0) == 0) keys.insert(key);
      }
      sqlite3_finalize(rows);
    }
    sqlite3_close(db);
    return keys;
  }

  fs::path work_;
  std::string uiAddress_;
  int port_ = 0;
  std::string key_;
};

GVariant* call(GDBusConnection* bus, const RegisteredItem& item, const std::string& path, const char* interface,
               const char* method, GVariant* parameters, const GVariantType* reply) {
  GError* failure = nullptr;
  GVariant* answer = g_dbus_connection_call_sync(bus, item.busName.c_str(), path.c_str(), interface, method,
                                                 parameters, reply, G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, &failure);
  if (failure != nullptr) {
    ADD_FAILURE() << method << ": " << failure->message;
    g_error_free(failure);
  }
  return answer;
}

// The item's property `name`, printed as text (strings and object paths bare).
std::string itemProperty(GDBusConnection* bus, const RegisteredItem& item, const char* name) {
  GVariant* answer = call(bus, item, item.objectPath, "org.freedesktop.DBus.Properties", "Get",
                          g_variant_new("(ss)", "org.kde.StatusNotifierItem", name), G_VARIANT_TYPE("(v)"));
  if (answer == nullptr) return {};
  GVariant* value = nullptr;
  g_variant_get(answer, "(v)", &value);
  std::string text = g_variant_is_of_type(value, G_VARIANT_TYPE_STRING) ||
                             g_variant_is_of_type(value, G_VARIANT_TYPE_OBJECT_PATH)
                         ? g_variant_get_string(value, nullptr)
                         : "";
  g_variant_unref(value);
  g_variant_unref(answer);
  return text;
}

// The menu's top entries as (id, label), read from its layout.
std::vector<std::pair<int, std::string>> menuEntries(GDBusConnection* bus, const RegisteredItem& item,
                                                     const std::string& menu) {
  std::vector<std::pair<int, std::string>> entries;
  const char* none[] = {nullptr};
  GVariant* answer = call(bus, item, menu, "com.canonical.dbusmenu", "GetLayout",
                          g_variant_new("(ii^as)", 0, -1, none), G_VARIANT_TYPE("(u(ia{sv}av))"));
  if (answer == nullptr) return entries;
  GVariant* layout = g_variant_get_child_value(answer, 1);
  GVariant* children = g_variant_get_child_value(layout, 2);
  for (gsize i = 0; i < g_variant_n_children(children); ++i) {
    GVariant* boxed = g_variant_get_child_value(children, i);
    GVariant* child = g_variant_get_variant(boxed);
    gint32 id = 0;
    g_variant_get_child(child, 0, "i", &id);
    GVariant* properties = g_variant_get_child_value(child, 1);
    const gchar* label = nullptr;
    gboolean visible = TRUE;
    g_variant_lookup(properties, "label", "&s", &label);
    g_variant_lookup(properties, "visible", "b", &visible);
    if (visible) entries.emplace_back(id, label != nullptr ? label : "");
    g_variant_unref(properties);
    g_variant_unref(child);
    g_variant_unref(boxed);
  }
  g_variant_unref(children);
  g_variant_unref(layout);
  g_variant_unref(answer);
  return entries;
}

void click(GDBusConnection* bus, const RegisteredItem& item, const std::string& menu, int id) {
  GVariant* answer = call(bus, item, menu, "com.canonical.dbusmenu", "Event",
                          g_variant_new("(isvu)", id, "clicked", g_variant_new_int32(0), 0u), nullptr);
  if (answer != nullptr) g_variant_unref(answer);
}

TEST_F(ShellTest, OnADesktopTheTrayItemOpensTheKeyedPageAndClosesWithoutLosingAWrite) {
  Watcher watcher;
  ASSERT_TRUE(watcher.ready()) << "no session bus: run under dbus-run-session";
  ASSERT_NE(std::getenv("DISPLAY"), nullptr) << "no display: run under xvfb-run";
  auto program = start({});
  ASSERT_FALSE(key_.empty());
  EXPECT_TRUE(program->waitForLine("托盘图标已就绪")) << program->output();
  // The tray lives in a module of its own, loaded on a desktop only.
  EXPECT_TRUE(hasLoaded(program->pid(), "vendara-tray.so"));
  EXPECT_TRUE(hasLoaded(program->pid(), "libgtk-3"));

  const RegisteredItem item = watcher.waitForItem();
  ASSERT_FALSE(item.busName.empty()) << "the item never registered with the watcher\n" << program->output();
  EXPECT_EQ(itemProperty(watcher.bus(), item, "Title"), "Vendara 2012");
  EXPECT_EQ(itemProperty(watcher.bus(), item, "Status"), "Active");
  const std::string menu = itemProperty(watcher.bus(), item, "Menu");
  ASSERT_FALSE(menu.empty());

  // The menu reaches the bus a moment after the item: read it until it is there.
  std::vector<std::pair<int, std::string>> entries;
  testing::eventually(
      [&] {
        entries = menuEntries(watcher.bus(), item, menu);
        return entries.size() >= 2;
      },
      100ms);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].second, "打开");
  EXPECT_EQ(entries[1].second, "关闭");

  // The start opened the page once; "打开" opens it again, with the key.
  waitForBrowserStarts(1);
  click(watcher.bus(), item, menu, entries[0].first);
  expectLaunchPageLeadsToTheKeyedAddress(waitForBrowserStarts(2));
  EXPECT_EQ(fileLines(work_ / "opened.txt").size(), 2u);

  // Writes keep coming while "关闭" is chosen: every one the server answered
  // as saved is in the database afterwards.
  std::set<std::string> saved;
  std::atomic<int> answered{0};
  std::thread writer([&] {
    for (int i = 0; i < 100000; ++i) {
      const std::string key = "tray_probe_" + std::to_string(i);
      if (!setConfig(key, std::to_string(i))) {
        if (answered.load() > 0) return;  // the server has stopped
        continue;
      }
      saved.insert(key);
      ++answered;
    }
  });
  testing::eventually([&] { return answered.load() >= 20; });
  click(watcher.bus(), item, menu, entries[1].first);
  EXPECT_EQ(program->waitExit(), 0) << program->output();
  writer.join();
  EXPECT_TRUE(program->waitForLine("程序已关闭")) << program->output();

  const std::set<std::string> stored = storedKeys("tray_probe_");
  EXPECT_GE(saved.size(), 20u);
  for (const auto& key : saved) EXPECT_TRUE(stored.count(key)) << key << " was answered as saved but is missing";
}

TEST_F(ShellTest, WithoutADisplayTheConsoleShellAnswersItsSignals) {
  auto program = start({{"DISPLAY", kLeftOut}, {"WAYLAND_DISPLAY", kLeftOut}});
  const auto line = program->waitForLine("控制台");
  ASSERT_TRUE(line) << program->output();
  EXPECT_NE(program->output().find("没有图形桌面"), std::string::npos) << program->output();
  EXPECT_EQ(program->output().find("托盘"), std::string::npos) << program->output();
  // Without a desktop neither the tray's module nor GTK is ever loaded.
  EXPECT_FALSE(hasLoaded(program->pid(), "vendara-tray.so"));
  EXPECT_FALSE(hasLoaded(program->pid(), "libgtk-3"));

  waitForBrowserStarts(1);
  program->signal(SIGUSR1);
  expectLaunchPageLeadsToTheKeyedAddress(waitForBrowserStarts(2));

  ASSERT_TRUE(setConfig("console_probe", "1"));
  program->signal(SIGTERM);
  EXPECT_EQ(program->waitExit(), 0) << program->output();
  EXPECT_EQ(storedKeys("console_probe").size(), 1u);
}

TEST_F(ShellTest, ADisplayWithoutASessionBusGetsTheConsoleShell) {
  auto program = start({{"DISPLAY", ":0"}, {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/bus"},
                        {"XDG_RUNTIME_DIR", work_.string()}});
  ASSERT_TRUE(program->waitForLine("没有桌面会话总线")) << program->output();
  EXPECT_TRUE(program->waitForLine("控制台"));
  // The page is opened once the start is done, by a browser that outlives the
  // program: it has written its note before the folder goes away.
  waitForBrowserStarts(1);
  program->signal(SIGINT);
  EXPECT_EQ(program->waitExit(), 0) << program->output();
}

}  // namespace
}  // namespace Quorvel::testing
