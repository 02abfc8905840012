// The marketplace HTTP client: one request with libcurl, the marketplace
// session kept in the shared cookie jar (CookieJar.h), redirects followed by
// the client itself, and the answer's body handed back as the raw (GBK) bytes.
// Also the form encoding and the header parsing it uses.
//
// httpFetch tells what a request came to: the final answer's status and body,
// or why there was none (refused connection, time-out, unknown host, an
// answer without a complete header block, an answer over the size cap, a
// redirect chain that is too long or leaves http/https). httpRequest and
// httpGet give only the body, and empty text for every failure, which the
// scrapers treat like a page on which their patterns are not found.
//
// Every request reads its limits (HttpOptions) and adds to its counts
// (HttpTotals) in the Env it is given, so two parts built with different Envs
// keep their own; the clock of that Env times the requests.
//
// Any thread may call these at the same time; each request has its own
// libcurl handle and all of them share the one cookie store.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <unordered_map>

#include "base/Env.h"

namespace Quorvel {

// The fields of a POSTed form; empty means a GET. Sent in the map's own order.
using FormFields = std::unordered_map<std::string, std::string>;

// Optional out-record of a request: the first redirect that was followed.
struct RedirectInfo {
  std::string location;  // absolute address the redirect pointed to; empty if none
  int status = 0;        // 301 or 302; 0 if none
};

// Header names compare without regard to case, as HTTP defines them.
struct HeaderNameLess {
  bool operator()(const std::string& a, const std::string& b) const;
};

// One response's headers by name, plus the pseudo key "success_code" holding
// the status code text ("302"). "Set-Cookie" holds every cookie line, each
// followed by "\r\n"; any other repeated name keeps its last value.
using HeaderMap = std::map<std::string, std::string, HeaderNameLess>;

// Limits applied to every request: the HttpOptions entry of the request's
// Env, the defaults below unless its builder set others (never changed in
// place).
struct HttpOptions {
  long connectTimeoutMs = 15'000;
  long transferTimeoutMs = 120'000;
  size_t maxResponseBytes = 16 * 1024 * 1024;
  int maxRedirects = 10;
};

// How many requests the client made with one Env and how long they took in
// all, redirects followed included (the HttpTotals entry of that Env): for
// benchmarks and diagnostics. Any thread.
struct HttpTotals {
  std::atomic<std::int64_t> requests{0};
  std::atomic<std::int64_t> nanoseconds{0};
};

// What one request came to.
struct HttpResult {
  std::string url;    // the address the final answer came from (after redirects)
  int status = 0;     // status code of the final answer; 0 when none arrived
  std::string body;   // the final answer's body (raw bytes); empty on failure
  std::string error;  // why no answer could be used; empty when one was

  // Whether an answer arrived with a 2xx status.
  bool ok() const { return error.empty() && status >= 200 && status < 300; }
  // For messages to the seller: the error, else "HTTP <status>" for an
  // answer that is not 2xx, else empty.
  std::string reason() const;
};

// Requests `url` (GET when `fields` is empty, else a form POST of `fields`)
// and returns the final answer, or why there was none. A 301 or 302 with a Location is
// followed with the same fields (a redirected POST is posted again), keeping
// the scheme the Location gives; a redirect from https to http is refused.
// The first redirect followed is written to `redirectInfo` when it is not
// null. Other status codes are final and their body is returned. When
// `mayFollow` is given, a redirect is followed only to an address it accepts
// (the request fails otherwise).
// Raises CurlException("Can't Init curl", 1) when no handle can be made.
using RedirectFilter = std::function<bool(const std::string& next)>;
HttpResult httpFetch(const Env& env, const std::string& url, const FormFields& fields,
                     RedirectInfo* redirectInfo = nullptr, const RedirectFilter& mayFollow = {});

// The body of httpFetch's answer whatever its status; empty text when the
// request failed.
std::string httpRequest(const Env& env, const std::string& url, const FormFields& fields,
                        RedirectInfo* redirectInfo);
std::string httpGet(const Env& env, const std::string& url, RedirectInfo* redirectInfo = nullptr);

// An Env holding only what the client reads of `env` (its clock, and the very
// HttpOptions and HttpTotals objects of `env`), for a part that is itself an
// entry of `env` and so must not hold `env` itself.
Env httpEnvOf(const Env& env);

// Where a redirect answered to `current` with `location` leads: the absolute
// address (a relative Location is resolved against `current`, the scheme is
// kept as the Location gives it), or empty text when the client does not
// follow it (not http or https, or from https to http).
std::string redirectTarget(const std::string& current, const std::string& location);

// name=value pairs joined by "&" in map order; values pass through urlEncode.
std::string buildQuery(const FormFields& fields);

// ASCII letters and digits stay; every other byte becomes "%HH" (upper case).
std::string urlEncode(const std::string& text);

// Parses one header block (status line and header lines, "\r\n" between).
HeaderMap parseHeaders(const std::string& headerBlock);

}  // namespace Quorvel
