#include "market/HttpClient.h"

#include <curl/curl.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <vector>

#include "base/Percent.h"
#include "market/CookieJar.h"
#include "market/CurlException.h"
#include "market/CurlGlobal.h"
#include "market/PageText.h"

namespace Quorvel {

namespace {

int asciiLower(unsigned char c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; }

bool startsWithNoCase(const std::string& text, const char* prefix) {
  for (size_t i = 0; prefix[i]; ++i) {
    if (i >= text.size() || asciiLower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

bool isAsciiAlnum(unsigned char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

bool sameHeaderName(const std::string& a, const std::string& b) {
  return !HeaderNameLess()(a, b) && !HeaderNameLess()(b, a);
}

bool isHttps(const std::string& url) { return startsWithNoCase(url, "https://"); }
bool isWebAddress(const std::string& url) { return startsWithNoCase(url, "http://") || isHttps(url); }

// Whether `reference` starts with a scheme ("name:"), i.e. is not relative.
bool hasScheme(const std::string& reference) {
  if (reference.empty() || !isAsciiAlnum(static_cast<unsigned char>(reference[0])) ||
      (reference[0] >= '0' && reference[0] <= '9')) {
    return false;
  }
  for (char c : reference) {
    if (c == ':') return true;
    if (!isAsciiAlnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.') return false;
  }
  return false;
}

// The absolute address of a Location value seen on the answer from `base`;
// empty when it cannot be resolved.
std::string resolveLocation(const std::string& base, const std::string& location) {
  if (hasScheme(location)) return location;
  std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> address(curl_url(), &curl_url_cleanup);
  if (!address) return {};
  if (curl_url_set(address.get(), CURLUPART_URL, base.c_str(), 0) != CURLUE_OK) return {};
  if (curl_url_set(address.get(), CURLUPART_URL, location.c_str(), CURLU_ALLOW_SPACE) != CURLUE_OK) return {};
  char* resolved = nullptr;
  if (curl_url_get(address.get(), CURLUPART_URL, &resolved, 0) != CURLUE_OK) return {};
  std::string result(resolved);
  curl_free(resolved);
  return result;
}

// Collects the answer (header blocks and body) up to the size cap.
struct Sink {
  std::string buffer;
  size_t cap = 0;
  bool overflow = false;
};

size_t collect(char* data, size_t size, size_t count, void* userdata) {
  auto* sink = static_cast<Sink*>(userdata);
  size_t bytes = size * count;
  if (sink->buffer.size() + bytes > sink->cap) {
    sink->overflow = true;
    return 0;  // makes libcurl abort the transfer
  }
  sink->buffer.append(data, bytes);
  return bytes;
}

// One transfer of `url`; the raw answer goes to `answer`. Returns why the
// transfer failed, or empty text.
std::string transfer(const std::string& url, const std::string* postBody, const HttpOptions& options,
                     std::string& answer) {
  initCurlOnce();
  std::unique_ptr<CURL, decltype(&curl_easy_cleanup)> handle(curl_easy_init(), &curl_easy_cleanup);
  if (!handle) throw CurlException("Can't Init curl", 1);
  std::shared_ptr<CookieJar::Store> cookies = CookieJar::instance()->current();

  CURL* h = handle.get();
  Sink sink;
  sink.cap = options.maxResponseBytes;
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_HEADER, 1L);
  curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT_MS, options.connectTimeoutMs);
  curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, options.transferTimeoutMs);
  if (postBody) {
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, postBody->data());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(postBody->size()));
  }
  cookies->attach(h);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &collect);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink);

  char errorText[CURL_ERROR_SIZE] = {0};
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);

  CURLcode result = curl_easy_perform(h);
  handle.reset();
  cookies->save();
  if (sink.overflow) return "the answer is larger than " + std::to_string(options.maxResponseBytes) + " bytes";
  if (result != CURLE_OK) return errorText[0] ? std::string(errorText) : std::string(curl_easy_strerror(result));
  answer = std::move(sink.buffer);
  return {};
}

// The answer holds one or more header blocks and then the body: interim
// blocks (100 Continue) are skipped, the next block's headers go to
// `headers` and the rest to `body`. False when a block has no end.
bool splitAnswer(const std::string& answer, HeaderMap& headers, std::string& body) {
  size_t blockStart = 0;
  for (;;) {
    size_t end = answer.find("\r\n\r\n", blockStart);
    if (end == std::string::npos) return false;
    headers = parseHeaders(answer.substr(blockStart, end - blockStart));
    blockStart = end + 4;
    const std::string& code = headers["success_code"];
    bool interim = code.size() == 3 && code[0] == '1';
    if (!interim) {
      body = answer.substr(blockStart);
      return true;
    }
  }
}

}  // namespace

void initCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool HeaderNameLess::operator()(const std::string& a, const std::string& b) const {
  size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    int ca = asciiLower(static_cast<unsigned char>(a[i]));
    int cb = asciiLower(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb;
  }
  return a.size() < b.size();
}

std::string redirectTarget(const std::string& current, const std::string& location) {
  std::string next = resolveLocation(current, location);
  if (!isWebAddress(next)) return {};
  // Never leave https for http: the session cookies and the re-posted form
  // (the login form among them) would travel in clear text.
  if (isHttps(current) && !isHttps(next)) return {};
  return next;
}

std::string HttpResult::reason() const {
  if (!error.empty()) return error;
  if (status < 200 || status >= 300) return "HTTP " + std::to_string(status);
  return {};
}

HttpResult httpFetch(const Env& env, const std::string& url, const FormFields& fields, RedirectInfo* redirectInfo,
                     const RedirectFilter& mayFollow) {
  // Counted whatever way the request ends.
  struct Timed {
    Clock& clock;
    std::shared_ptr<HttpTotals> totals;
    Clock::Instant start = clock.monotonic();
    ~Timed() {
      totals->requests.fetch_add(1, std::memory_order_relaxed);
      totals->nanoseconds.fetch_add(
          std::chrono::duration_cast<std::chrono::nanoseconds>(clock.monotonic() - start).count(),
          std::memory_order_relaxed);
    }
  } timed{env.clock(), env.get<HttpTotals>()};
  const HttpOptions options = *env.get<HttpOptions>();
  const std::string postBody = buildQuery(fields);
  std::string current = url;
  HttpResult result;
  auto fail = [&result](std::string why) {
    result = HttpResult();
    result.error = std::move(why);
    return result;
  };
  for (int hop = 0;; ++hop) {
    if (!isWebAddress(current)) return fail("not an http or https address: " + current);
    std::string answer;
    std::string failure = transfer(current, fields.empty() ? nullptr : &postBody, options, answer);
    if (!failure.empty()) return fail(failure);
    HeaderMap headers;
    std::string body;
    if (!splitAnswer(answer, headers, body)) return fail("the answer has no complete header block");

    const std::string code = headers["success_code"];
    auto location = headers.find("Location");
    if ((code != "301" && code != "302") || location == headers.end()) {
      result.url = current;
      result.status = std::atoi(code.c_str());
      result.body = std::move(body);
      return result;
    }
    if (hop >= options.maxRedirects) return fail("more than " + std::to_string(options.maxRedirects) + " redirects");
    std::string next = redirectTarget(current, location->second);
    if (next.empty() || (mayFollow && !mayFollow(next))) {
      return fail("a redirect to " + location->second + " is not followed");
    }
    if (hop == 0 && redirectInfo) {
      redirectInfo->location = next;
      redirectInfo->status = std::stoi(code);
    }
    current = std::move(next);
  }
}

std::string httpRequest(const Env& env, const std::string& url, const FormFields& fields,
                        RedirectInfo* redirectInfo) {
  return httpFetch(env, url, fields, redirectInfo).body;
}

std::string httpGet(const Env& env, const std::string& url, RedirectInfo* redirectInfo) {
  return httpRequest(env, url, FormFields(), redirectInfo);
}

Env httpEnvOf(const Env& env) {
  Env own(env.sharedClock());
  own.set<HttpOptions>(env.get<HttpOptions>());
  own.set<HttpTotals>(env.get<HttpTotals>());
  return own;
}

std::string buildQuery(const FormFields& fields) {
  std::string query;
  for (const auto& [name, value] : fields) {
    if (!query.empty()) query += '&';
    query += name;
    query += '=';
    query += urlEncode(value);
  }
  return query;
}

std::string urlEncode(const std::string& text) { return percentEncode(text); }

HeaderMap parseHeaders(const std::string& headerBlock) {
  HeaderMap headers;
  std::vector<std::string> lines = splitString(headerBlock, "\r\n", 0);
  std::vector<std::string> status = lines.empty() ? std::vector<std::string>() : splitString(lines[0], " ", 3);
  headers["success_code"] = status.size() >= 2 ? status[1] : std::string();
  for (size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string> parts = splitString(lines[i], ": ", 2);
    if (parts.empty()) continue;
    std::string value = parts.size() > 1 ? parts[1] : std::string();
    if (sameHeaderName(parts[0], "Set-Cookie")) {
      headers[parts[0]] += value + "\r\n";
    } else {
      headers[parts[0]] = value;
    }
  }
  return headers;
}

}  // namespace Quorvel
