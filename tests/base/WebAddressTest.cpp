#include "base/WebAddress.h"

#include <gtest/gtest.h>

#include <string>

namespace Quorvel {
namespace {

TEST(WebAddress, HostsAreNamesIpv4OrBracketedIpv6) {
  for (const char* host : {"127.0.0.1", "0.0.0.0", "255.255.255.255", "localhost", "a", "x-1.example.com",
                           "EXAMPLE.com", "[::1]", "[::]", "[fe80::1]", "[2001:db8:0:0:0:0:2:1]",
                           "[2001:db8::2:1]", "[::ffff:127.0.0.1]", "[1::]", "xn--fsqu00a.xn--0zwm56d"}) {
    EXPECT_TRUE(isHost(host)) << host;
  }
  for (const char* host :
       {"", "256.1.1.1", "1.2.3", "1.2.3.4.5", "01.2.3.4", "1.2.3.999", "0x7f.1", "127.1", "-a.com", "a-.com",
        "a..com", ".a.com", "a.com.", "a_b.com", "a b", "a%20b", "::1", "[::1", "[:::1]", "[1:2:3:4:5:6:7:8:9]",
        "[1::2::3]", "[12345::1]", "[1:2:3:4:5:6:7]", "[fe80::1%25eth0]", "[::1]x", "\xE4\xB8\xAD.com",
        "user@host"}) {
    EXPECT_FALSE(isHost(host)) << host;
  }
  // Kept out of the list above: a temporary's text would be gone before
  // the loop reads it.
  EXPECT_FALSE(isHost(std::string(64, 'a')));
  EXPECT_TRUE(isHost(std::string(63, 'a') + ".com"));
}

TEST(WebAddress, BaseAddressesAreSchemeHostAndPortOnly) {
  for (const char* address : {"http://127.0.0.1:18080", "https://example.com", "http://localhost:1",
                              "https://sub.example.com:65535", "http://[::1]:8080", "http://[2001:db8::1]"}) {
    EXPECT_TRUE(isBaseAddress(address)) << address;
  }
  for (const char* address :
       {"", "--renderer-cmd-prefix=touch /tmp/x", "127.0.0.1:18080", "example.com", "ftp://example.com",
        "file:///etc/passwd", "javascript:alert(1)", "HTTP://example.com", "http:/example.com", "http://",
        "http://user@example.com", "http://user:pw@example.com", "http://example.com/", "http://example.com/path",
        "http://example.com?x=1", "http://example.com#x", "http://example.com:0", "http://example.com:65536",
        "http://example.com:", "http://example.com:80a", "http://example.com:-80", "http://exa mple.com",
        "http://example.com ", " http://example.com", "http://example.com\n", "http://[::1]8080",
        "http://evil.example\\@127.0.0.1"}) {
    EXPECT_FALSE(isBaseAddress(address)) << address;
  }
}

TEST(WebAddress, PageAddressesAreABaseAddressAndPlainUrlCharacters) {
  for (const char* address : {"http://127.0.0.1:18080", "http://127.0.0.1:18080/",
                              "http://127.0.0.1:18080/?port=12345&ver=1105#token=0f1e2d3c",
                              "https://example.com/a/b.html?x=%E4%B8%AD&y=a+b;c,d@e:f~g"}) {
    EXPECT_TRUE(isPageAddress(address)) << address;
  }
  for (const char* address :
       {"--renderer-cmd-prefix=x", "-http://example.com/", "http://example.com/a b", "http://example.com/\"x",
        "http://example.com/'x", "http://example.com/`x`", "http://example.com/$(x)", "http://example.com/%zz",
        "http://example.com/%4", "http://example.com/<x>", "http://example.com/\\x", "http://example.com/\nx",
        "http://example.com?x", "http://user@example.com/", "file:///tmp/x"}) {
    EXPECT_FALSE(isPageAddress(address)) << address;
  }
}

}  // namespace
}  // namespace Quorvel
