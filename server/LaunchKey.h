// The launch key: a random secret drawn once per start of the program. The
// web UI's address hands it to the seller's page in its fragment (which no
// browser sends to the maker's service), and every request to the local
// server must carry it as the query parameter `token`; a page of any other
// site cannot learn it, so it cannot drive the program.
//
// The program's key is LaunchKey::instance(), drawn from the operating
// system on first use; tests install one they know. Immutable once built:
// any thread may read it.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace Quorvel {

class LaunchKey {
 public:
  // The program's one (processWide).
  static std::shared_ptr<LaunchKey> instance();

  // Bytes drawn from the system: 256 bits, far beyond guessing.
  static constexpr std::size_t kRandomBytes = 32;

  // A fresh key from the operating system's random source.
  static std::shared_ptr<LaunchKey> makeProcessWide();

  explicit LaunchKey(std::string text) : text_(std::move(text)) {}

  // The key as it appears in addresses: lower-case hexadecimal.
  const std::string& text() const { return text_; }

  // Whether `candidate` is the key. Takes the same time whatever the
  // candidate holds, so the time of a refusal tells nothing about the key.
  bool matches(std::string_view candidate) const;

 private:
  const std::string text_;
};

// The current key's text (LaunchKey::instance()->text()).
std::string launchKey();

}  // namespace Quorvel
