// libcurl, loaded on its first use instead of at the program's start.
//
// libcurl brings about thirty shared libraries with it (TLS, Kerberos, LDAP,
// SSH, IDN...), and the loader binding them all took most of the time from
// starting the program to its port being taken. The marketplace client is
// the only user, and its first request comes long after the start. So the
// program does not link libcurl: this file defines the few libcurl functions
// the marketplace client calls, and each forwards to the real one, found
// with dlopen on the first call from any thread. When the library cannot be
// loaded, each function answers the way libcurl answers a failure (no handle,
// CURLE_FAILED_INIT), and the callers' own error paths take over.
//
// Only the Linux build uses this file (port/CMakeLists.txt); the calls stay
// libcurl's own, with its header's declarations.
#include <curl/curl.h>
#include <dlfcn.h>

#include <cstdarg>
#include <mutex>

namespace {

// The library's soname: the interface version the program was built against.
constexpr const char* kLibrary = "libcurl.so.4";

struct Functions {
  CURLcode (*globalInit)(long) = nullptr;
  CURL* (*easyInit)() = nullptr;
  CURLcode (*easySetopt)(CURL*, CURLoption, ...) = nullptr;
  CURLcode (*easyPerform)(CURL*) = nullptr;
  void (*easyCleanup)(CURL*) = nullptr;
  const char* (*easyStrerror)(CURLcode) = nullptr;
  void (*free)(void*) = nullptr;
  CURLSH* (*shareInit)() = nullptr;
  CURLSHcode (*shareSetopt)(CURLSH*, CURLSHoption, ...) = nullptr;
  CURLSHcode (*shareCleanup)(CURLSH*) = nullptr;
  CURLU* (*url)() = nullptr;
  void (*urlCleanup)(CURLU*) = nullptr;
  CURLUcode (*urlGet)(CURLU*, CURLUPart, char**, unsigned int) = nullptr;
  CURLUcode (*urlSet)(CURLU*, CURLUPart, const char*, unsigned int) = nullptr;
  bool loaded = false;  // every function above was found
};

template <class F>
bool find(void* library, const char* name, F*& function) {
  function = reinterpret_cast<F*>(dlsym(library, name));
  return function != nullptr;
}

// The table, filled once; after a failed load every entry is null and
// `loaded` false. Written only inside call_once, read-only afterwards.
const Functions& curlLibrary() {
  static Functions functions;
  static std::once_flag once;
  std::call_once(once, [] {
    void* library = dlopen(kLibrary, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) return;
    Functions found;
    const bool all = find(library, "curl_global_init", found.globalInit) &&
                     find(library, "curl_easy_init", found.easyInit) &&
                     find(library, "curl_easy_setopt", found.easySetopt) &&
                     find(library, "curl_easy_perform", found.easyPerform) &&
                     find(library, "curl_easy_cleanup", found.easyCleanup) &&
                     find(library, "curl_easy_strerror", found.easyStrerror) && find(library, "curl_free", found.free) &&
                     find(library, "curl_share_init", found.shareInit) &&
                     find(library, "curl_share_setopt", found.shareSetopt) &&
                     find(library, "curl_share_cleanup", found.shareCleanup) && find(library, "curl_url", found.url) &&
                     find(library, "curl_url_cleanup", found.urlCleanup) &&
                     find(library, "curl_url_get", found.urlGet) && find(library, "curl_url_set", found.urlSet);
    if (!all) {
      dlclose(library);
      return;
    }
    found.loaded = true;
    functions = found;  // the library stays loaded until the process ends
  });
  return functions;
}

}  // namespace

extern "C" {

CURLcode curl_global_init(long flags) {
  const Functions& f = curlLibrary();
  return f.loaded ? f.globalInit(flags) : CURLE_FAILED_INIT;
}

CURL* curl_easy_init() {
  const Functions& f = curlLibrary();
  return f.loaded ? f.easyInit() : nullptr;
}

// The one argument after `option` has the type the option's number range
// says (libcurl reads it the same way): a long, an object or string pointer,
// a function pointer, a curl_off_t, or a blob pointer.
CURLcode curl_easy_setopt(CURL* handle, CURLoption option, ...) {
  const Functions& f = curlLibrary();
  if (!f.loaded) return CURLE_FAILED_INIT;
  va_list arguments;
  va_start(arguments, option);
  CURLcode result;
  if (option < CURLOPTTYPE_OBJECTPOINT) {
    result = f.easySetopt(handle, option, va_arg(arguments, long));
  } else if (option < CURLOPTTYPE_FUNCTIONPOINT) {
    result = f.easySetopt(handle, option, va_arg(arguments, void*));
  } else if (option < CURLOPTTYPE_OFF_T) {
    using AnyFunction = void (*)();
    result = f.easySetopt(handle, option, va_arg(arguments, AnyFunction));
  } else if (option < CURLOPTTYPE_BLOB) {
    result = f.easySetopt(handle, option, va_arg(arguments, curl_off_t));
  } else {
    result = f.easySetopt(handle, option, va_arg(arguments, void*));
  }
  va_end(arguments);
  return result;
}

CURLcode curl_easy_perform(CURL* handle) {
  const Functions& f = curlLibrary();
  return f.loaded ? f.easyPerform(handle) : CURLE_FAILED_INIT;
}

void curl_easy_cleanup(CURL* handle) {
  const Functions& f = curlLibrary();
  if (f.loaded) f.easyCleanup(handle);
}

const char* curl_easy_strerror(CURLcode code) {
  const Functions& f = curlLibrary();
  return f.loaded ? f.easyStrerror(code) : "libcurl (libcurl.so.4) cannot be loaded";
}

void curl_free(void* p) {
  const Functions& f = curlLibrary();
  if (f.loaded) f.free(p);
}

CURLSH* curl_share_init() {
  const Functions& f = curlLibrary();
  return f.loaded ? f.shareInit() : nullptr;
}

// As libcurl reads them: what to share (an int), the lock and unlock
// functions, or the pointer handed to them.
CURLSHcode curl_share_setopt(CURLSH* share, CURLSHoption option, ...) {
  const Functions& f = curlLibrary();
  if (!f.loaded) return CURLSHE_NOT_BUILT_IN;
  va_list arguments;
  va_start(arguments, option);
  CURLSHcode result;
  switch (option) {
    case CURLSHOPT_SHARE:
    case CURLSHOPT_UNSHARE:
      result = f.shareSetopt(share, option, va_arg(arguments, int));
      break;
    case CURLSHOPT_LOCKFUNC:
      result = f.shareSetopt(share, option, va_arg(arguments, curl_lock_function));
      break;
    case CURLSHOPT_UNLOCKFUNC:
      result = f.shareSetopt(share, option, va_arg(arguments, curl_unlock_function));
      break;
    default:
      result = f.shareSetopt(share, option, va_arg(arguments, void*));
      break;
  }
  va_end(arguments);
  return result;
}

CURLSHcode curl_share_cleanup(CURLSH* share) {
  const Functions& f = curlLibrary();
  return f.loaded ? f.shareCleanup(share) : CURLSHE_INVALID;
}

CURLU* curl_url() {
  const Functions& f = curlLibrary();
  return f.loaded ? f.url() : nullptr;
}

void curl_url_cleanup(CURLU* handle) {
  const Functions& f = curlLibrary();
  if (f.loaded) f.urlCleanup(handle);
}

CURLUcode curl_url_get(CURLU* handle, CURLUPart what, char** part, unsigned int flags) {
  const Functions& f = curlLibrary();
  return f.loaded ? f.urlGet(handle, what, part, flags) : CURLUE_OUT_OF_MEMORY;
}

CURLUcode curl_url_set(CURLU* handle, CURLUPart what, const char* part, unsigned int flags) {
  const Functions& f = curlLibrary();
  return f.loaded ? f.urlSet(handle, what, part, flags) : CURLUE_OUT_OF_MEMORY;
}

}  // extern "C"
