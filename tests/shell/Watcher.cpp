#include "tests/shell/Watcher.h"

namespace Quorvel::testing {

namespace {

constexpr char kInterface[] = R"(<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
    <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
  </interface>
</node>)";

}  // namespace

Watcher::Watcher() {
  bus_ = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
  if (bus_ == nullptr) return;
  loop_ = g_main_loop_new(nullptr, FALSE);
  GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kInterface, nullptr);
  static const GDBusInterfaceVTable vtable{onCall, onProperty, nullptr, {}};
  object_ = g_dbus_connection_register_object(bus_, "/StatusNotifierWatcher", node->interfaces[0], &vtable, this,
                                              nullptr, nullptr);
  g_dbus_node_info_unref(node);
  GVariant* reply = g_dbus_connection_call_sync(
      bus_, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
      g_variant_new("(su)", "org.kde.StatusNotifierWatcher", 4u /* do not queue */), G_VARIANT_TYPE("(u)"),
      G_DBUS_CALL_FLAGS_NONE, 10000, nullptr, nullptr);
  if (reply != nullptr) {
    guint32 result = 0;
    g_variant_get(reply, "(u)", &result);
    owned_ = result == 1;  // primary owner
    g_variant_unref(reply);
  }
  looper_ = std::thread([loop = loop_] { g_main_loop_run(loop); });
}

Watcher::~Watcher() {
  if (loop_ != nullptr) {
    // The loop may not have started yet: quit from inside it.
    g_idle_add(
        [](gpointer loop) {
          g_main_loop_quit(static_cast<GMainLoop*>(loop));
          return G_SOURCE_REMOVE;
        },
        loop_);
    looper_.join();
    g_main_loop_unref(loop_);
  }
  if (object_ != 0) g_dbus_connection_unregister_object(bus_, object_);
  if (bus_ != nullptr) g_object_unref(bus_);
}

RegisteredItem Watcher::waitForItem(std::chrono::seconds limit) {
  std::unique_lock<std::mutex> hold(mutex_);
  registered_.wait_for(hold, limit, [this] { return !items_.empty(); });
  return items_.empty() ? RegisteredItem{} : items_.front();
}

void Watcher::onCall(GDBusConnection* bus, const gchar* sender, const gchar*, const gchar*, const gchar* method,
                     GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self) {
  auto* watcher = static_cast<Watcher*>(self);
  if (g_strcmp0(method, "RegisterStatusNotifierItem") == 0) {
    const gchar* service = nullptr;
    g_variant_get(parameters, "(&s)", &service);
    // An item names either its object path (on the caller's connection) or
    // a bus name (at the usual path).
    RegisteredItem item = service[0] == '/' ? RegisteredItem{sender, service}
                                            : RegisteredItem{service, "/StatusNotifierItem"};
    {
      std::lock_guard<std::mutex> hold(watcher->mutex_);
      watcher->items_.push_back(item);
      watcher->registered_.notify_all();
    }
    g_dbus_connection_emit_signal(bus, nullptr, "/StatusNotifierWatcher", "org.kde.StatusNotifierWatcher",
                                  "StatusNotifierItemRegistered",
                                  g_variant_new("(s)", (item.busName + item.objectPath).c_str()), nullptr);
  }
  g_dbus_method_invocation_return_value(invocation, nullptr);
}

GVariant* Watcher::onProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name,
                              GError**, gpointer self) {
  auto* watcher = static_cast<Watcher*>(self);
  if (g_strcmp0(name, "IsStatusNotifierHostRegistered") == 0) return g_variant_new_boolean(TRUE);
  if (g_strcmp0(name, "ProtocolVersion") == 0) return g_variant_new_int32(0);
  GVariantBuilder names;
  g_variant_builder_init(&names, G_VARIANT_TYPE("as"));
  std::lock_guard<std::mutex> hold(watcher->mutex_);
  for (const auto& item : watcher->items_) g_variant_builder_add(&names, "s", (item.busName + item.objectPath).c_str());
  return g_variant_builder_end(&names);
}

}  // namespace Quorvel::testing
