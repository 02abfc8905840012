// A StatusNotifierWatcher of the tests' own on the session bus: it owns the
// watcher's well-known name, says a host is present, and records every item
// that registers (bus name and object path). Its D-Bus calls are answered on
// a GLib main loop thread of its own; the test thread waits on it.
#pragma once

#include <gio/gio.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Quorvel::testing {

struct RegisteredItem {
  std::string busName;
  std::string objectPath;
};

class Watcher {
 public:
  Watcher();
  ~Watcher();
  Watcher(const Watcher&) = delete;
  Watcher& operator=(const Watcher&) = delete;

  // False when the session bus could not be reached or the name not owned.
  bool ready() const { return owned_; }
  GDBusConnection* bus() const { return bus_; }

  // The first item that registered, waiting at most `limit`; an empty bus
  // name when none came.
  RegisteredItem waitForItem(std::chrono::seconds limit = std::chrono::seconds(30));

 private:
  static void onCall(GDBusConnection*, const gchar* sender, const gchar*, const gchar*, const gchar* method,
                     GVariant* parameters, GDBusMethodInvocation* invocation, gpointer self);
  static GVariant* onProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name,
                              GError**, gpointer self);

  GDBusConnection* bus_ = nullptr;
  GMainLoop* loop_ = nullptr;
  std::thread looper_;
  guint object_ = 0;
  bool owned_ = false;

  std::mutex mutex_;
  std::condition_variable registered_;  // notified under mutex_
  std::vector<RegisteredItem> items_;   // guarded by mutex_
};

}  // namespace Quorvel::testing
