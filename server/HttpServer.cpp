#include "server/HttpServer.h"

#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <iostream>
#include <vector>

#include "base/Charset.h"
#include "base/Exception.h"
#include "base/ProcessWide.h"
#include "port/Memory.h"
#include "server/ActionTable.h"
#include "server/Form.h"
#include "server/LaunchKey.h"

namespace Quorvel {

namespace asio = boost::asio;

namespace {

// A decimal number, optionally surrounded by blanks; anything else gives 0.
std::int32_t parseContentLength(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t");
  size_t end = text.find_last_not_of(" \t");
  if (begin == std::string::npos) return 0;
  std::int32_t value = 0;
  const char* first = text.data() + begin;
  const char* last = text.data() + end + 1;
  auto [ptr, error] = std::from_chars(first, last, value);
  if (error != std::errc() || ptr != last || value < 0 || *first == '-' || *first == '+') return 0;
  return value;
}

// Strict UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
bool isValidUtf8(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    size_t length;
    unsigned char low = 0x80, high = 0xBF;  // range of the second byte
    if (c < 0x80) {
      ++i;
      continue;
    } else if (c >= 0xC2 && c <= 0xDF) {
      length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      length = 3;
      if (c == 0xE0) low = 0xA0;
      if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      length = 4;
      if (c == 0xF0) low = 0x90;
      if (c == 0xF4) high = 0x8F;
    } else {
      return false;
    }
    if (i + length > text.size()) return false;
    for (size_t k = 1; k < length; ++k) {
      const unsigned char next = static_cast<unsigned char>(text[i + k]);
      if (next < (k == 1 ? low : 0x80) || next > (k == 1 ? high : 0xBF)) return false;
    }
    i += length;
  }
  return true;
}

bool equalsIgnoringCase(const std::string& a, const std::string& b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

// After a request this large the freed memory is handed back to the system.
constexpr std::size_t kLargeRequest = 1024 * 1024;

}  // namespace

httpServer::httpServer(asio::io_context& io, std::uint16_t port, const Env& env, HttpServerOptions options)
    : server(io, port, env.clock()),
      clock_(env.clock()),
      options_(std::move(options)),
      sweepTimer_(io, clock_),
      worker_(options_.limits.maxWaitingOutside) {
  startSweep();
  if (options_.onListening) options_.onListening(localPort());
}

httpServer::~httpServer() {
  sweepTimer_.cancel();
  for (auto& [socket, request] : connections_) {
    boost::system::error_code ignored;
    socket->close(ignored);
  }
}

void httpServer::onAccept(const boost::system::error_code& error, SocketPtr socket) {
  if (!error && connections_.size() >= options_.limits.maxConnections && !evictStranger()) {
    // Full of the seller's own requests: the newcomer is closed at once and
    // never read.
    boost::system::error_code ignored;
    socket->close(ignored);
    startAccept();
    return;
  }
  if (!error) {
    HttpRequest& request = connections_[socket];
    request.socket = socket;
    request.acceptedAt = request.lastReceived = clock_.monotonic();
  }
  server::onAccept(error, socket);
}

void httpServer::onData(SocketPtr socket, std::shared_ptr<std::string> data) {
  auto found = connections_.find(socket);
  if (found == connections_.end()) return;  // bytes for a connection we no longer serve
  HttpRequest& request = found->second;
  if (request.state & HttpRequest::kAnswered) return;  // a refused request's rest is not kept
  if (!charge(request, request.buffer.size() + data->size())) {
    closeConnection(socket);
    return;
  }
  request.buffer += *data;
  request.lastReceived = clock_.monotonic();
  parseRequest(request);
}

void httpServer::onClose(SocketPtr socket) { closeConnection(socket); }

void httpServer::closeConnection(SocketPtr socket) {
  auto found = connections_.find(socket);
  if (found != connections_.end()) {
    const std::size_t charged = found->second.charged;
    bufferedBytes_ -= charged;
    connections_.erase(found);
    if (charged >= kLargeRequest) port::releaseFreedMemory();
  }
  boost::system::error_code ignored;
  socket->close(ignored);
}

bool httpServer::charge(HttpRequest& request, std::size_t bytes) {
  if (bytes <= request.charged) return true;
  const std::size_t more = bytes - request.charged;
  if (bufferedBytes_ + more > options_.limits.maxBufferedBytes) return false;
  bufferedBytes_ += more;
  request.charged = bytes;
  return true;
}

std::size_t httpServer::keyedConnections() const {
  return static_cast<std::size_t>(std::count_if(connections_.begin(), connections_.end(), [](const auto& entry) {
    return (entry.second.state & HttpRequest::kKeyed) != 0;
  }));
}

bool httpServer::evictStranger() {
  // Connections that have not shown the key cannot hold the server: however
  // many a local process opens, the seller's page always finds a place.
  SocketPtr oldest;
  Clock::Instant oldestAt{};
  for (const auto& [socket, request] : connections_) {
    if (request.state & HttpRequest::kKeyed) continue;
    if (!oldest || request.acceptedAt < oldestAt) {
      oldest = socket;
      oldestAt = request.acceptedAt;
    }
  }
  if (!oldest) return false;
  closeConnection(oldest);
  return true;
}

void httpServer::startSweep() {
  const HttpServerLimits& limits = options_.limits;
  auto interval = std::min({limits.idleTimeout, limits.requestDeadline, limits.headDeadline}) / 4;
  interval = std::clamp(interval, std::chrono::milliseconds(5), std::chrono::milliseconds(1000));
  sweepTimer_.callAfter(interval, [this] {
    sweep();
    startSweep();
  });
}

void httpServer::sweep() {
  const Clock::Instant now = clock_.monotonic();
  const HttpServerLimits& limits = options_.limits;
  std::vector<SocketPtr> expired;
  for (const auto& [socket, request] : connections_) {
    // The worker's own exchange is time-bound; its answer is still wanted.
    if (request.state & HttpRequest::kWithWorker) continue;
    const bool headLate = !(request.state & HttpRequest::kHeaderParsed) && now - request.acceptedAt >= limits.headDeadline;
    if (headLate || now - request.acceptedAt >= limits.requestDeadline ||
        now - request.lastReceived >= limits.idleTimeout) {
      expired.push_back(socket);
    }
  }
  for (const SocketPtr& socket : expired) closeConnection(socket);
}

size_t httpServer::findHeaderEnd(const std::string& buffer) {
  // The block ends at an empty line that follows at least one non-empty line;
  // an empty line before any other line counts as a line.
  size_t position = 0;
  bool sawLine = false;
  for (;;) {
    size_t lineEnd = buffer.find("\r\n", position);
    if (lineEnd == std::string::npos) return std::string::npos;
    if (lineEnd == position && sawLine) return lineEnd + 2;
    if (lineEnd != position) sawLine = true;
    position = lineEnd + 2;
  }
}

void httpServer::parseHeaderBlock(HttpRequest& request, size_t blockEnd) {
  const std::string block = request.buffer.substr(0, blockEnd - 2);
  request.buffer.erase(0, blockEnd);
  request.state |= HttpRequest::kHeaderParsed;

  size_t lineStart = 0;
  bool firstLine = true;
  std::string lengthText;  // the last Content-Length line's value, its name in any case
  request.requestHeaders.clear();
  request.hostHeaders = 0;
  request.query.clear();
  for (;;) {
    size_t lineEnd = block.find("\r\n", lineStart);
    std::string line = block.substr(lineStart, lineEnd == std::string::npos ? std::string::npos : lineEnd - lineStart);
    if (firstLine) {
      firstLine = false;
      size_t firstSpace = line.find(' ');
      request.method = line.substr(0, firstSpace);
      request.target.clear();
      if (firstSpace != std::string::npos) {
        size_t secondSpace = line.find(' ', firstSpace + 1);
        request.target = line.substr(firstSpace + 1, secondSpace == std::string::npos
                                                         ? std::string::npos
                                                         : secondSpace - firstSpace - 1);
      }
      size_t question = request.target.find('?');
      if (question != std::string::npos) parseForm(request.query, request.target.substr(question + 1));
    } else {
      size_t separator = line.find(": ");
      if (separator != std::string::npos) {
        std::string name = line.substr(0, separator);
        if (equalsIgnoringCase(name, "Host")) ++request.hostHeaders;
        if (equalsIgnoringCase(name, "Content-Length")) lengthText = line.substr(separator + 2);
        request.requestHeaders[std::move(name)] = line.substr(separator + 2);
      }
    }
    if (lineEnd == std::string::npos) break;
    lineStart = lineEnd + 2;
  }
  request.contentLength = parseContentLength(lengthText);
}

std::optional<std::string> httpServer::parsePostParameters(HttpRequest& request) {
  request.post.clear();
  auto postData = request.query.find("_postData");
  if (postData != request.query.end()) {
    ParamMap fields;
    parseForm(fields, postData->second);
    for (auto& [key, value] : fields) {
      if (!isValidUtf8(value)) return gbk("请求中的数据（_postData）不是有效的 UTF-8 文本。");
      try {
        request.post[key] = utf8ToGbk(value);
      } catch (Exception) {
        return gbk("请求中的数据（_postData）含有 GBK 无法保存的字符（如表情符号）。");
      }
    }
  }
  parseForm(request.post, request.buffer);
  return std::nullopt;
}

void httpServer::parseRequest(HttpRequest& request) {
  const HttpServerLimits& limits = options_.limits;
  if (!(request.state & HttpRequest::kHeaderParsed)) {
    // The header block, request line and closing empty line included, may
    // not exceed maxHeaderBytes, however it arrives.
    size_t blockEnd = findHeaderEnd(request.buffer);
    if (blockEnd == std::string::npos) {
      if (request.buffer.size() > limits.maxHeaderBytes) closeConnection(request.socket);
      return;
    }
    if (blockEnd > limits.maxHeaderBytes) {
      closeConnection(request.socket);
      return;
    }
    parseHeaderBlock(request, blockEnd);
    if (!mayUse(request)) {
      refuse(request);
      return;
    }
    request.state |= HttpRequest::kKeyed;
    const auto announced = static_cast<std::size_t>(request.contentLength);
    if (announced > limits.maxBodyBytes || !charge(request, announced)) {
      closeConnection(request.socket);
      return;
    }
    // The whole body at once, so that a large one is not copied as it grows.
    request.buffer.reserve(announced);
  }
  if (request.buffer.size() < static_cast<std::size_t>(request.contentLength)) return;

  // The body is what Content-Length announces (within maxBodyBytes, checked
  // with the header): bytes after it are not part of the request, whether
  // they arrived with it or after it.
  request.buffer.resize(static_cast<std::size_t>(request.contentLength));
  std::optional<std::string> unreadable = parsePostParameters(request);
  // The body now lives on in the post parameters only.
  std::string().swap(request.buffer);
  if (unreadable) {
    // Answered on this port like any failed action, so the page keeps working.
    answerFailure(request, *unreadable);
  } else if (placeOf(request) == ActionPlace::kOutsideWorker) {
    if (passToWorker(request)) return;
    answerFailure(request, gbk("本地程序正在等待淘宝或其他外部服务，请稍后再试"));
  } else {
    handleRequest(request);
  }
  answerAndClose(request);
}

void httpServer::answerAndClose(HttpRequest& request) {
  sendResponse(request);
  // Closing ends the connection (its answer is sent whole first) and makes
  // the read still pending on the socket complete with an error, which
  // removes the entry.
  boost::system::error_code ignored;
  request.socket->close(ignored);
}

bool httpServer::passToWorker(HttpRequest& request) {
  // The copy takes the post parameters along; the entry keeps the rest.
  auto working = std::make_shared<HttpRequest>();
  working->socket = request.socket;
  working->method = request.method;
  working->target = request.target;
  working->requestHeaders = request.requestHeaders;
  working->query = request.query;
  working->post = std::move(request.post);
  const bool queued = worker_.submit([this, working] {
    try {
      dispatchRequest(*working);
    } catch (Exception e) {
      answerFailure(*working, e.message());
    } catch (const std::exception& e) {
      answerFailure(*working, e.what());
    }
    // Runs on the server thread, and never once the server is gone: the
    // I/O context stops before the server is destroyed and is not run again.
    asio::post(io_, [this, working] { answerFromWorker(working); });
  });
  if (!queued) return false;
  // The copy holds the request now; what else arrives on the connection is
  // dropped unread.
  request.state |= HttpRequest::kWithWorker | HttpRequest::kAnswered;
  bufferedBytes_ -= request.charged;
  request.charged = 0;
  return true;
}

void httpServer::answerFromWorker(const std::shared_ptr<HttpRequest>& done) {
  if (connections_.find(done->socket) == connections_.end()) return;  // the client went away
  answerAndClose(*done);
}

bool httpServer::mayUse(const HttpRequest& request) {
  // Exactly one Host header (names compared without case, as HTTP has it),
  // naming one of our hosts with our port: a page that reached us through a
  // name of its own (DNS rebinding) names that instead.
  if (request.hostHeaders != 1) return false;
  const std::string* host = nullptr;
  for (const auto& [name, value] : request.requestHeaders) {
    if (equalsIgnoringCase(name, "Host")) host = &value;
  }
  if (!host) return false;
  const std::string port = ":" + std::to_string(localPort());
  std::vector<std::string> names = {"127.0.0.1", "localhost", "[::1]"};
  if (options_.localHost) {
    std::string configured = options_.localHost();
    if (!configured.empty()) names.push_back(configured);
  }
  bool ours = false;
  for (const std::string& name : names) ours = ours || equalsIgnoringCase(*host, name + port);
  if (!ours) return false;

  auto token = request.query.find("token");
  return token != request.query.end() && LaunchKey::instance()->matches(token->second);
}

void httpServer::refuse(HttpRequest& request) {
  startResponse(request);
  request.responseStatus = HttpRequest::kStatusForbidden;
  request.responseBody = kForbiddenBody;
  finishResponse(request);
  // The page's own origin may read the refusal, to tell the seller that the
  // page is out of date; no other may.
  const std::string origin = options_.pageOrigin ? options_.pageOrigin() : std::string();
  if (!origin.empty()) request.responseHeaders["Access-Control-Allow-Origin"] = origin;
  sendResponse(request);

  boost::system::error_code ignored;
  if (request.buffer.size() >= static_cast<std::size_t>(request.contentLength)) {
    // Nothing more is on its way: done.
    closeConnection(request.socket);
    return;
  }
  // A body is still on its way. Closing now would reset the connection and
  // could lose the answer, so the connection stays, drops what arrives, and
  // ends when the client closes or at its deadline.
  request.state |= HttpRequest::kAnswered;
  std::string().swap(request.buffer);
  bufferedBytes_ -= request.charged;
  request.charged = 0;
  request.socket->shutdown(TcpSocket::shutdown_send, ignored);
}

void httpServer::addSecurityHeaders(HttpRequest& request) {
  ParamMap& headers = request.responseHeaders;
  headers["X-Content-Type-Options"] = "nosniff";
  headers["Referrer-Policy"] = "no-referrer";
  auto type = headers.find("Content-Type");
  if (type != headers.end() && type->second.rfind("text/html", 0) == 0) {
    const std::string origin = options_.pageOrigin ? options_.pageOrigin() : std::string();
    headers["Content-Security-Policy"] = "frame-ancestors " + (origin.empty() ? std::string("'none'") : origin);
  }
}

void httpServer::handleRequest(HttpRequest& request) { dispatchRequest(request); }

void httpServer::sendResponse(HttpRequest& request) {
  addSecurityHeaders(request);
  std::string text = "HTTP/1.1 " + request.responseStatus + "\r\n";
  for (const auto& [name, value] : request.responseHeaders) {
    if (name == "__append__") continue;
    text += name + ": " + value + "\r\n";
  }
  text += request.responseHeaders["__append__"];
  text += "\r\n";
  text += request.responseBody;
  try {
    asio::write(*request.socket, asio::buffer(text));
  } catch (const std::exception& e) {
    std::cout << "error:" << e.what() << std::endl;
  }
}

}  // namespace Quorvel
