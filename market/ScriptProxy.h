// The script proxy of the rewritten login page: fetches a script through the
// marketplace client (the marketplace cookies go along) so that the page can
// load it from the local server. Anything on the page may ask the proxy for
// an address, so it fetches only plain http(s) addresses (isPageAddress) on
// the maker's service or on a configured marketplace host, and follows a
// redirect only to such an address too; no other address is fetched at all.
//
// Any thread; the allowed hosts are read from the settings at every call.
#pragma once

#include <string>
#include <vector>

#include "base/Env.h"

namespace Quorvel {

// The base addresses the proxy may fetch from: the maker's service and every
// marketplace host, as configured.
std::vector<std::string> scriptProxyBases();

// Whether `url` is a plain http(s) page address whose scheme, host and port
// are those of one of `bases` (a port left out is the scheme's default; host
// names compared without case).
bool isAddressOn(const std::string& url, const std::vector<std::string>& bases);

// The script at `url`, or empty text when the address is not allowed, a
// redirect leads off the allowed hosts, the request fails or its answer is
// not a 2xx. Fetched with `env` (market/HttpClient.h).
std::string fetchScript(const Env& env, const std::string& url);

}  // namespace Quorvel
