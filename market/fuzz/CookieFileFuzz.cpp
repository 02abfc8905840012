// libFuzzer entry: the cookie file reader on an arbitrary file. The jar
// loads it and writes its cookies back owner-only, and loading and saving
// what it wrote never invents or alters a cookie: each name and value of the
// next save was in the one before. libcurl tidies a hand-edited file over a
// few loads (of a cookie written twice it keeps the last, it trims leading
// dots of a host-only domain, it drops what it cannot use), so the lines
// themselves may change between saves and are not compared.
#include <sys/stat.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "market/CookieJar.h"
#include "market/fuzz/FuzzMarket.h"

namespace {

// Each cookie line's name and value (its last two fields), sorted.
std::vector<std::string> cookiesOf(const std::string& path) {
  static const std::string kHttpOnly = "#HttpOnly_";
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> cookies;
  for (std::string line; std::getline(in, line);) {
    if (line.empty() || (line[0] == '#' && line.rfind(kHttpOnly, 0) != 0)) continue;
    std::size_t tabs = 0;
    std::size_t from = line.size();
    while (tabs < 2 && from > 0) {
      const std::size_t tab = line.rfind('\t', from - 1);
      if (tab == std::string::npos) break;
      from = tab;
      ++tabs;
    }
    cookies.push_back(tabs == 2 ? line.substr(from + 1) : line);
  }
  std::sort(cookies.begin(), cookies.end());
  return cookies;
}

std::vector<std::string> loadedAndSaved(const std::string& path) {
  {
    Quorvel::CookieJar::Store store(path);
    store.save();
  }
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0 && (status.st_mode & 077) != 0) __builtin_trap();
  return cookiesOf(path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = Quorvel::fuzzing::fuzzFolder() + "/cookie.txt";
  {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  const std::vector<std::string> once = loadedAndSaved(path);
  const std::vector<std::string> twice = loadedAndSaved(path);
  if (!std::includes(once.begin(), once.end(), twice.begin(), twice.end())) __builtin_trap();
  return 0;
}
