// The marketplace session: one cookie store shared by every request of the
// process, kept in the cookie file (libcurl's cookie-file format, "cookie.txt"
// in the working directory unless a test opens another file).
//
// The file is read once, when the jar is opened (lazily, by the first request),
// and written after every request while holding the jar's file lock, so
// requests that overlap on several threads all see and keep each other's
// cookies, and the session survives a restart of the program. Deleting the
// file logs the seller out: the next request starts from an empty store. The
// file is a login: only the owner may read it (created and kept 0600).
//
// Any thread may call every member.
#pragma once

#include <curl/curl.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "base/Mutex.h"

namespace Quorvel {

class CookieJar {
 public:
  static constexpr const char* kDefaultFile = "cookie.txt";

  // The program's jar (processWide), on "cookie.txt" until opened elsewhere.
  static std::shared_ptr<CookieJar> instance();
  static std::shared_ptr<CookieJar> makeProcessWide();

  // Starts afresh from `path`: the cookies in memory are dropped and those of
  // the file (if it exists) loaded. Requests already running finish on the
  // store they started with.
  void open(const std::string& path);

  // The file the jar keeps its cookies in.
  std::string path();

  // One session's shared store; `attach` makes an easy handle use it, `save`
  // writes the store to the file. Held by every request for its lifetime.
  class Store;
  std::shared_ptr<Store> current();

 private:
  CookieJar() = default;

  Mutex mutex_;
  std::string path_ GUARDED_BY(mutex_) = kDefaultFile;  // guarded by mutex_
  std::shared_ptr<Store> store_ GUARDED_BY(mutex_);     // guarded by mutex_; opened lazily on path_
};

class CookieJar::Store {
 public:
  explicit Store(const std::string& path);
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  const std::string& path() const { return path_; }

  // Makes `handle` read and write this store's cookies.
  void attach(CURL* handle);

  // Writes every cookie of the store to the file (serialised with other saves).
  void save();

  // Whether `save` has written the file at least once.
  bool saved() const { return saved_; }

 private:
  static void lock(CURL*, curl_lock_data data, curl_lock_access, void* self);
  static void unlock(CURL*, curl_lock_data data, void* self);

  const std::string path_;
  CURLSH* share_ = nullptr;
  std::mutex shareLocks_[CURL_LOCK_DATA_LAST];  // libcurl's own locks of the shared data
  Mutex fileMutex_;                             // serialises the writes of saver_
  CURL* saver_ GUARDED_BY(fileMutex_) = nullptr;  // guarded by fileMutex_; the handle that writes the file
  std::atomic<bool> saved_{false};              // set by the first save
};

}  // namespace Quorvel
