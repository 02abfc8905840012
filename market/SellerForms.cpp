#include "market/SellerForms.h"

#include <vector>

#include "base/GbkText.h"
#include "market/PageText.h"

namespace Quorvel {

namespace {

const char kInput[] = "<input([^>]+)>";
const char kName[] = "name=[\"']([^\"']+)[\"']";
const char kValue[] = "value=['\"]([^\"']*)['\"]";

}  // namespace

bool readFormInputs(const std::string& formBody, FormFields& fields) {
  std::vector<std::vector<std::string>> inputs;
  if (!regexMatchAll(kInput, formBody, inputs)) return false;
  std::vector<std::string> name;
  std::vector<std::string> value;
  for (const std::vector<std::string>& input : inputs) {
    if (!regexMatch(kName, input[1], name) || !regexMatch(kValue, input[1], value)) continue;
    fields[name[1]] = value[1];
  }
  return true;
}

std::string pageTextFrom(const std::string& page, const std::string& marker, size_t maxBytes) {
  const size_t start = gbkFind(page, marker);
  if (start == std::string::npos) return {};
  // "<", ">" and white space are below 0x40, so they are never the second
  // byte of a GBK character: the page can be walked byte by byte.
  std::string text;
  bool inTag = false;
  bool space = false;
  for (size_t i = start; i < page.size() && text.size() < maxBytes + 2; ++i) {
    const char c = page[i];
    if (inTag) {
      inTag = c != '>';
      continue;
    }
    if (c == '<') {
      inTag = true;
      space = true;
    } else if (c == ' ' || c == '\r' || c == '\n' || c == '\t') {
      space = true;
    } else {
      if (space && !text.empty()) text += ' ';
      space = false;
      text += c;
    }
  }
  return gbkPrefix(text, maxBytes);
}

}  // namespace Quorvel
