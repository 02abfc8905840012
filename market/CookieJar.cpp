#include "market/CookieJar.h"

#include <filesystem>

#include "base/ProcessWide.h"
#include "market/CurlException.h"
#include "market/CurlGlobal.h"
#include "port/PrivateFile.h"

namespace Quorvel {

std::shared_ptr<CookieJar> CookieJar::instance() { return processWide<CookieJar>(); }

std::shared_ptr<CookieJar> CookieJar::makeProcessWide() { return std::shared_ptr<CookieJar>(new CookieJar); }

void CookieJar::open(const std::string& path) {
  MutexLock lock(mutex_);
  path_ = path;
  store_ = std::make_shared<Store>(path_);
}

std::string CookieJar::path() {
  MutexLock lock(mutex_);
  return path_;
}

std::shared_ptr<CookieJar::Store> CookieJar::current() {
  MutexLock lock(mutex_);
  // A file that was written and is gone now was deleted to log out: the
  // cookies in memory go with it.
  std::error_code ignored;
  if (store_ && store_->saved() && !std::filesystem::exists(path_, ignored)) store_.reset();
  if (!store_) store_ = std::make_shared<Store>(path_);
  return store_;
}

CookieJar::Store::Store(const std::string& path) : path_(path) {
  // A file left readable by others (an older version, a copy) is narrowed
  // before the session is read from it.
  port::narrowIfExists(path_);
  initCurlOnce();
  share_ = curl_share_init();
  saver_ = curl_easy_init();
  if (!share_ || !saver_) {
    if (saver_) curl_easy_cleanup(saver_);
    if (share_) curl_share_cleanup(share_);
    throw CurlException("Can't Init curl", 1);
  }
  curl_share_setopt(share_, CURLSHOPT_USERDATA, this);
  curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &Store::lock);
  curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &Store::unlock);
  curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_COOKIE);

  // The saver handle never performs a transfer: it loads the file into the
  // shared store now and writes the store back on every `save`.
  curl_easy_setopt(saver_, CURLOPT_SHARE, share_);
  curl_easy_setopt(saver_, CURLOPT_COOKIEFILE, path_.c_str());
  curl_easy_setopt(saver_, CURLOPT_COOKIEJAR, path_.c_str());
  curl_easy_setopt(saver_, CURLOPT_COOKIELIST, "RELOAD");
}

CookieJar::Store::~Store() {
  {
    MutexLock lock(fileMutex_);
    // Every request has saved already; a last write here would bring back a
    // file deleted to log out, or overwrite the file a new store works on.
    curl_easy_setopt(saver_, CURLOPT_COOKIEJAR, nullptr);
    curl_easy_cleanup(saver_);
  }
  curl_share_cleanup(share_);
}

void CookieJar::Store::attach(CURL* handle) {
  curl_easy_setopt(handle, CURLOPT_SHARE, share_);
  // An empty file name switches the cookie engine on without reading a file:
  // the store already holds the file's cookies.
  curl_easy_setopt(handle, CURLOPT_COOKIEFILE, "");
}

void CookieJar::Store::save() {
  MutexLock lock(fileMutex_);
  // libcurl writes a new file with the permissions of the one it replaces,
  // and a missing one as everybody-readable: the file is made owner-only
  // before libcurl writes it.
  port::keepPrivate(path_);
  curl_easy_setopt(saver_, CURLOPT_COOKIELIST, "FLUSH");
  saved_ = true;
}

void CookieJar::Store::lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
  static_cast<Store*>(self)->shareLocks_[data].lock();
}

void CookieJar::Store::unlock(CURL*, curl_lock_data data, void* self) {
  static_cast<Store*>(self)->shareLocks_[data].unlock();
}

}  // namespace Quorvel
