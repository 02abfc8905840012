// libFuzzer entry: the cookie file reader on an arbitrary file. The jar
// loads it, writes its cookies back owner-only, and a second load of what it
// wrote writes the same cookie lines again (in an order of libcurl's own).
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

// The file's lines, sorted.
std::vector<std::string> linesOf(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::vector<std::string> loadedAndSaved(const std::string& path) {
  {
    Quorvel::CookieJar::Store store(path);
    store.save();
  }
  struct stat status {};
  if (::stat(path.c_str(), &status) == 0 && (status.st_mode & 077) != 0) __builtin_trap();
  return linesOf(path);
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
  if (once != twice) __builtin_trap();
  return 0;
}
