#include "port/linux/TrayIcon.h"

#include <gio/gio.h>
#include <gtk/gtk.h>
#include <libayatana-appindicator/app-indicator.h>

#include <filesystem>

namespace Quorvel::port {

namespace fs = std::filesystem;

struct TrayIcon::Parts {
  AppShellEvents events;
  AppIndicator* indicator = nullptr;
  GtkWidget* menu = nullptr;
};

namespace {

// The scalable icon: beside the program in a build, in the package's share
// folder when installed (also unpacked elsewhere than /usr); otherwise the
// icon theme's "vendara".
std::string iconName() {
  std::error_code error;
  const fs::path program = fs::read_symlink("/proc/self/exe", error);
  if (!error) {
    const fs::path folder = program.parent_path();
    for (const fs::path& candidate :
         {folder / "vendara.svg", folder / "../../share/icons/hicolor/scalable/apps/vendara.svg"}) {
      if (fs::is_regular_file(candidate, error)) return fs::weakly_canonical(candidate, error).string();
    }
  }
  return "vendara";
}

gboolean quitLoop(gpointer) {
  gtk_main_quit();
  return G_SOURCE_REMOVE;
}

gboolean reopen(gpointer data) {
  auto* events = static_cast<AppShellEvents*>(data);
  if (events->reopenUi) events->reopenUi();
  return G_SOURCE_REMOVE;
}

void openChosen(GtkMenuItem*, gpointer data) { reopen(data); }

void closeChosen(GtkMenuItem*, gpointer) { gtk_main_quit(); }

}  // namespace

std::string TrayIcon::openDesktop() {
  GError* failure = nullptr;
  GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &failure);
  if (bus == nullptr) {
    g_clear_error(&failure);
    return "没有桌面会话总线（D-Bus）";
  }
  // The shared connection is kept for the life of the process. GIO holds it
  // only weakly: dropped here, it could be closing while the indicator asks
  // for it again, and the indicator was then handed no connection and never
  // registered its item.
  static GDBusConnection* const kept = bus;
  (void)kept;
  if (!gtk_init_check(nullptr, nullptr)) return "无法打开图形桌面";
  return std::string();
}

TrayIcon::TrayIcon(const std::string& tip, const AppShellEvents& events) : parts_(new Parts{events}) {
  parts_->menu = gtk_menu_new();
  GtkWidget* open = gtk_menu_item_new_with_label("打开");
  GtkWidget* close = gtk_menu_item_new_with_label("关闭");
  g_signal_connect(open, "activate", G_CALLBACK(openChosen), &parts_->events);
  g_signal_connect(close, "activate", G_CALLBACK(closeChosen), nullptr);
  gtk_menu_shell_append(GTK_MENU_SHELL(parts_->menu), open);
  gtk_menu_shell_append(GTK_MENU_SHELL(parts_->menu), close);
  gtk_widget_show_all(parts_->menu);

  const std::string icon = iconName();
  parts_->indicator = app_indicator_new("vendara", icon.c_str(), APP_INDICATOR_CATEGORY_APPLICATION_STATUS);
  app_indicator_set_icon_full(parts_->indicator, icon.c_str(), tip.c_str());
  app_indicator_set_title(parts_->indicator, tip.c_str());
  app_indicator_set_menu(parts_->indicator, GTK_MENU(parts_->menu));
  app_indicator_set_secondary_activate_target(parts_->indicator, open);
  app_indicator_set_status(parts_->indicator, APP_INDICATOR_STATUS_ACTIVE);
}

TrayIcon::~TrayIcon() {
  // The item leaves the panel before the process ends.
  app_indicator_set_status(parts_->indicator, APP_INDICATOR_STATUS_PASSIVE);
  g_object_unref(parts_->indicator);  // drops the menu with it
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
  delete parts_;
}

void TrayIcon::run() { gtk_main(); }

void TrayIcon::requestClose() { g_idle_add(quitLoop, nullptr); }

void TrayIcon::requestReopen() { g_idle_add(reopen, &parts_->events); }

}  // namespace Quorvel::port
