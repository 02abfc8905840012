// vendara: the main program. Prepares the database file, starts the delivery
// daemon with the order steps and the message dispatcher installed, registers
// the web API actions and runs the local HTTP server on the server thread; the
// main thread runs the app shell (the tray icon on a desktop, else the
// console) until the user closes, then stops the server and the daemon's work
// cleanly.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>

#include "api/BackupActions.h"
#include "api/CategoryActions.h"
#include "api/ItemActions.h"
#include "api/LoginActions.h"
#include "api/MessagingActions.h"
#include "api/OrderActions.h"
#include "api/StatusActions.h"
#include "app/StartupSafety.h"
#include "base/Charset.h"
#include "base/Exception.h"
#include "base/ProcessWide.h"
#include "base/Clock.h"
#include "base/Env.h"
#include "base/WebAddress.h"
#include "delivery/Deamon.h"
#include "delivery/MarketPipeline.h"
#include "market/GoodsScraper.h"
#include "notify/ImAutomation.h"
#include "notify/MessageDispatcher.h"
#include "port/AppShell.h"
#include "port/Autostart.h"
#include "port/BrowserLauncher.h"
#include "port/CrashReporter.h"
#include "port/EmbeddedBrowser.h"
#include "port/MessageBox.h"
#include "port/PrivateFile.h"
#include "port/Socket.h"
#include "port/WindowSystem.h"
#include "server/LaunchKey.h"
#include "server/ServerThread.h"
#include "store/DatabaseFile.h"
#include "store/Endpoints.h"
#include "store/Category.h"
#include "store/Goods.h"
#include "store/GoodsCategoryMap.h"
#include "store/Item.h"
#include "store/MsgQueue.h"
#include "store/Order.h"
#include "store/OrderLog.h"
#include "store/SystemConfig.h"
#include "store/ThreadConnections.h"

namespace {

std::string makerBaseDefault() { return Quorvel::endpointDefault("maker_base"); }

// The maker's service as configured; its built-in default when the settings
// cannot be read or hold no plain http(s) base address (one stored before
// addresses were checked), so the page can still be opened.
std::string makerBase(bool quiet = false) {
  try {
    std::string base = Quorvel::endpointSetting("maker_base");
    if (Quorvel::isBaseAddress(base)) return base;
    if (!quiet) std::printf("The setting maker_base is not an http(s) address; using %s\n", makerBaseDefault().c_str());
  } catch (Quorvel::Exception e) {
    if (!quiet) std::printf("%s\n", e.message().c_str());
  }
  return makerBaseDefault();
}

// The host the browser reaches the local server through, besides the loopback
// names; nothing when the setting is unusable.
std::string localHost() {
  try {
    std::string host = Quorvel::endpointSetting("local_host");
    return Quorvel::isHost(host) ? host : std::string();
  } catch (Quorvel::Exception) {
    return std::string();
  }
}

// The address, key included, is printed too: a seller without a browser the
// program can start copies it from here.
void showUi(const std::string& address, Quorvel::port::BrowserLauncher& browser) {
  std::printf("Web UI: %s\n", address.c_str());
  std::fflush(stdout);
  if (!browser.open(address)) std::printf("No browser could be started; open the address above by hand.\n");
  std::fflush(stdout);
}

// Builds the stores the web actions read. A store is built under the global
// lock, which a login holds while the marketplace answers; built here, none
// is first needed then, and the page's other actions never wait on a login.
// A store that cannot load now is built again on its next use, which reports
// why.
void buildStores() {
  using namespace Quorvel;
  try {
    SystemConfig::instance();
    Category::instance();
    Item::instance();
    Goods::instance();
    GoodsCategoryMap::instance();
    Order::instance();
    OrderLog::instance();
    MsgQueue::instance();
  } catch (Exception e) {
    std::printf("%s\n", e.message().c_str());
  }
}

}  // namespace

int main() {
  using namespace Quorvel;
  port::prepareAppShell();
  // Whatever the program creates (the database's journals, crash reports)
  // is the seller's alone.
  port::restrictNewFiles();

  // What the program's parts reach outside themselves, handed to each when
  // it is built: one clock, the system's network, and the options of each
  // layer at their defaults. Every database connection is opened in it (its
  // options, the clock of its busy wait and of the stores' row stamps): the
  // pool of connections is built on it before any connection opens.
  Env env(Clock::system());
  env.set<port::Network>(port::systemNetwork());
  // The outside parties the program talks to: the desktop's windows and the
  // main window's browser control (the IM client's automation drives both),
  // the desktop's autostart entry, and the marketplace's goods list.
  env.set<port::WindowSystem>(port::WindowSystem::makeProcessWide());
  env.set<port::EmbeddedBrowser>(port::EmbeddedBrowser::makeProcessWide());
  env.set<port::Autostart>(port::Autostart::makeProcessWide());
  env.set<ImChannel>(std::make_shared<ImAutomation>(env));
  env.set<GoodsSource>(std::make_shared<GoodsScraper>(env));
  installProcessWide(std::make_shared<ThreadConnections>(env));

  // Fatal faults leave a crash report beside the database.
  const std::string maker = makerBaseDefault();
  if (port::crashReporterInstall({"Vendara 2012", maker + "/crashrpt/crashrpt.php", maker + "/crashrpt/privacy.html"}) != 0) {
    port::showMessageBox(gbk("警告"), "crInstall error");
    return 1;
  }

  // One program per data folder: a second one changes nothing.
  StartupSafety safety(env);
  if (!safety.lockFolder()) return 4;

  // The launch key is drawn before anything starts: without it no page may
  // use the server.
  try {
    LaunchKey::instance();
  } catch (Exception e) {
    port::showMessageBox(gbk("警告"), "Cannot draw the launch key: " + e.message());
    return 3;
  }

  // The server listens at once, so that the page's connections are taken
  // while the database is checked and backed up (on a large one that takes
  // a while); it answers them, and opens the page, once the gate opens at
  // the end of the start. A start that fails ends the server with it.
  auto browser = port::systemBrowserLauncher();
  ServerLoopOptions options;
  options.env = env;
  options.localHost = localHost;
  // A base address is an origin: scheme, host and port.
  options.pageOrigin = [] { return makerBase(true); };
  options.startGate = std::make_shared<StartGate>();
  options.onListening = [&safety](std::uint16_t port) {
    safety.listening(port);
    std::printf("Local server listening on 127.0.0.1:%u\n", static_cast<unsigned>(port));
    std::fflush(stdout);
  };
  options.onServing = [browser](std::uint16_t port) { showUi(uiAddress(makerBase(), port), *browser); };
  std::jthread serverThread([options](std::stop_token stop) { runServerLoop(options, stop); });

  // A first start creates the live database from the template; an existing
  // one is never replaced. Without a database the program cannot work.
  try {
    prepareDatabaseFile();
  } catch (const std::filesystem::filesystem_error& e) {
    port::showMessageBox(gbk("警告"), "Cannot create the database " + databasePath() + " from the template " +
                                         templatePath() + ": " + e.what());
    return 2;
  }
  // A damaged database is kept aside unwritten (safe mode); a sound one is
  // copied into backup/ before anything changes it.
  safety.checkDatabase();
  // A database made from an older template gets the tables added since.
  try {
    upgradeDatabase();
  } catch (Exception e) {
    port::showMessageBox(gbk("警告"), "Cannot bring the database up to date: " + databasePath() + ": " +
                                         e.message());
    return 2;
  }

  buildStores();

  installProcessWide<Deamon>(std::make_shared<Deamon>(env));
  std::shared_ptr<Deamon> daemon = Deamon::instance();
  daemon->setOrderPipeline(std::make_shared<MarketPipeline>(env));
  daemon->setMessageDispatch(std::make_shared<MessageDispatcher>(env));
  if (!safety.safeMode()) daemon->start();  // a restore starts it in safe mode
  safety.startBackups();
  registerBackupActions(env, daemon);
  registerStatusActions(env, daemon);
  registerLoginActions(env, daemon);
  registerCategoryActions(env);
  registerItemActions(env);
  registerMessagingActions(env);
  registerOrderActions(env);

  options.startGate->open();

  port::AppShellEvents events;
  events.reopenUi = [browser] { showUi(uiAddress(makerBase(), uiPort.load(), true), *browser); };
  port::runAppShell("Vendara 2012", events);

  // Closing: the server takes no new request (an action in progress ends
  // first), then the daemon's workers end the tick or pass they are in, so
  // that nothing is left halfway when the process ends.
  serverThread.request_stop();
  serverThread.join();
  daemon->hold();
  port::crashReporterUninstall();
  std::printf("程序已关闭。\n");
  std::fflush(stdout);
  return 0;
}
