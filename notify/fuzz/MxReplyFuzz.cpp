// libFuzzer entry: walks arbitrary bytes as a DNS reply to the MX query. The
// walk must end and never touch a byte past the reply, whatever it holds.
#include <cstddef>
#include <cstdint>
#include <string>

#include "notify/MailExchangers.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // A copy of exactly `size` bytes, so AddressSanitizer flags any read past it.
  std::string reply(reinterpret_cast<const char*>(data), size);
  Quorvel::MxReply walked = Quorvel::readMxReply(reply);
  for (const auto& name : walked.exchangers) {
    if (name.empty() || name.size() > 255) __builtin_trap();
  }
  return 0;
}
