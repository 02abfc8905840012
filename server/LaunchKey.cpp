#include "server/LaunchKey.h"

#include "base/ProcessWide.h"
#include "port/Random.h"

namespace Quorvel {

std::shared_ptr<LaunchKey> LaunchKey::instance() { return processWide<LaunchKey>(); }

std::shared_ptr<LaunchKey> LaunchKey::makeProcessWide() {
  unsigned char bytes[kRandomBytes];
  port::randomBytes(bytes, sizeof bytes);
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (unsigned char byte : bytes) {
    text += kHex[byte >> 4];
    text += kHex[byte & 0x0F];
  }
  return std::make_shared<LaunchKey>(std::move(text));
}

bool LaunchKey::matches(std::string_view candidate) const {
  // Every byte of the key is compared, whatever the candidate's length or
  // content; only the lengths' difference is known early, and the key's
  // length is no secret.
  std::size_t difference = candidate.size() ^ text_.size();
  for (std::size_t i = 0; i < text_.size(); ++i) {
    const unsigned char offered = i < candidate.size() ? static_cast<unsigned char>(candidate[i]) : 0;
    difference |= static_cast<unsigned char>(text_[i]) ^ offered;
  }
  return !text_.empty() && difference == 0;
}

std::string launchKey() { return LaunchKey::instance()->text(); }

}  // namespace Quorvel
