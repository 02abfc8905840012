// One open connection of the local HTTP server: the request as it is parsed
// and the response the action builds. Owned by the server's connection table;
// used only on the server thread.
#pragma once

#include <boost/asio/ip/tcp.hpp>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "base/Clock.h"

namespace Quorvel {

using TcpSocket = boost::asio::ip::tcp::socket;
using SocketPtr = std::shared_ptr<TcpSocket>;

// Reading a missing key through operator[] inserts an empty value; the actions
// rely on that (a missing parameter reads as empty text).
using ParamMap = std::unordered_map<std::string, std::string>;

struct HttpRequest {
  static constexpr std::uint8_t kHeaderParsed = 1;
  // Refused and answered; whatever else the client sends is dropped unread.
  static constexpr std::uint8_t kAnswered = 2;
  // Handed whole to the outside worker, which answers it; the connection only
  // waits for that answer, past the sweep's limits.
  static constexpr std::uint8_t kWithWorker = 4;
  // Its header block named our host and carried the launch key: the seller's
  // own page. A full server makes room by closing connections without it.
  static constexpr std::uint8_t kKeyed = 8;
  static constexpr const char* kStatusOk = "200 OK";
  static constexpr const char* kStatusBadRequest = "400 Bad Request";
  static constexpr const char* kStatusForbidden = "403 Forbidden";

  SocketPtr socket;
  std::string buffer;  // bytes received and not yet consumed as header
  std::string method;
  std::string target;
  ParamMap requestHeaders;
  ParamMap query;  // from the target after "?"
  ParamMap post;   // from `_postData` (converted to GBK) and from the body
  std::uint8_t state = 0;
  std::string responseStatus = kStatusOk;  // code and reason of the status line
  std::string responseBody;
  ParamMap responseHeaders;
  std::int32_t contentLength = 0;
  // Header lines named "Host" (in any case); a request must have one.
  int hostHeaders = 0;

  // For the server's sweep: when the connection was accepted and when its
  // last bytes arrived, on the server's clock.
  Clock::Instant acceptedAt{};
  Clock::Instant lastReceived{};
  // Request bytes this connection holds against the server's budget for all
  // connections (its buffer, or the body it announced when larger).
  std::size_t charged = 0;
};

}  // namespace Quorvel
