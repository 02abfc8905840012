// The program's exception family: the failures the program raises itself,
// raised and caught by value. An exception carries a message (GBK text, like
// everything the program holds in memory) and an integer code. Errors of the
// libraries (the JSON reader's, the standard library's) are not of the
// family; the places that must survive them catch std::exception as well.
//
// Derived kinds live with the subsystems that raise them: DbException in
// store/, CurlException and AuthException in market/, OrderException in
// delivery/. Any thread may raise and catch them.
#pragma once

#include <exception>
#include <string>

namespace Quorvel {

class Exception : public std::exception {
 public:
  // The code is the C runtime's error number at the moment of construction.
  explicit Exception(std::string message);
  Exception(std::string message, int code);

  const std::string& message() const noexcept { return message_; }
  int code() const noexcept { return code_; }
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
  int code_;
};

}  // namespace Quorvel
