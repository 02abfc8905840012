#include "server/HttpServer.h"

#include <boost/asio/write.hpp>

#include <charconv>
#include <iostream>

#include "base/Charset.h"
#include "base/Exception.h"
#include "server/ActionTable.h"
#include "server/Form.h"

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

}  // namespace

httpServer::httpServer(asio::io_context& io, std::uint16_t port, HttpServerOptions options)
    : server(io, port), options_(std::move(options)) {
  if (options_.onListening) options_.onListening(localPort());
}

httpServer::~httpServer() {
  for (auto& [socket, request] : connections_) {
    if (request.idleTimer) request.idleTimer->cancel();
    boost::system::error_code ignored;
    socket->close(ignored);
  }
}

void httpServer::onAccept(const boost::system::error_code& error, SocketPtr socket) {
  if (!error) {
    HttpRequest& request = connections_[socket];
    request.socket = socket;
    request.idleTimer = std::make_shared<asio::steady_timer>(io_);
    armIdleTimer(request);
  }
  server::onAccept(error, socket);
}

void httpServer::onData(SocketPtr socket, std::shared_ptr<std::string> data) {
  auto found = connections_.find(socket);
  if (found == connections_.end()) return;  // bytes for a connection we no longer serve
  HttpRequest& request = found->second;
  request.buffer += *data;
  armIdleTimer(request);
  parseRequest(request);
}

void httpServer::onClose(SocketPtr socket) { closeConnection(socket); }

void httpServer::closeConnection(SocketPtr socket) {
  auto found = connections_.find(socket);
  if (found != connections_.end()) {
    if (found->second.idleTimer) found->second.idleTimer->cancel();
    connections_.erase(found);
  }
  boost::system::error_code ignored;
  socket->close(ignored);
}

void httpServer::armIdleTimer(HttpRequest& request) {
  request.idleTimer->expires_after(options_.limits.idleTimeout);
  SocketPtr socket = request.socket;
  request.idleTimer->async_wait([this, socket](const boost::system::error_code& error) {
    if (error == asio::error::operation_aborted) return;  // re-armed or closed
    if (connections_.count(socket) != 0) closeConnection(socket);
  });
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
  request.requestHeaders.clear();
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
      if (separator != std::string::npos) request.requestHeaders[line.substr(0, separator)] = line.substr(separator + 2);
    }
    if (lineEnd == std::string::npos) break;
    lineStart = lineEnd + 2;
  }
  auto length = request.requestHeaders.find("Content-Length");
  request.contentLength = length == request.requestHeaders.end() ? 0 : parseContentLength(length->second);
}

std::optional<std::string> httpServer::parsePostParameters(HttpRequest& request) {
  request.post.clear();
  auto postData = request.query.find("_postData");
  if (postData != request.query.end()) {
    ParamMap fields;
    parseForm(fields, postData->second);
    for (auto& [key, value] : fields) {
      if (!isValidUtf8(value)) return "The request's _postData is not valid UTF-8 text.";
      try {
        request.post[key] = utf8ToGbk(value);
      } catch (Exception) {
        return "The request's _postData holds characters that GBK cannot store.";
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
    if (static_cast<std::size_t>(request.contentLength) > limits.maxBodyBytes) {
      closeConnection(request.socket);
      return;
    }
  }
  if (request.buffer.size() < static_cast<std::size_t>(request.contentLength)) return;
  if (request.buffer.size() > limits.maxBodyBytes) {
    closeConnection(request.socket);
    return;
  }

  SocketPtr socket = request.socket;
  if (std::optional<std::string> refused = parsePostParameters(request)) {
    // Answered on this port like any failed action, so the page keeps working.
    answerFailure(request, *refused);
  } else {
    handleRequest(request);
  }
  sendResponse(request);
  // The read still pending on the socket completes with an error and removes
  // the entry.
  boost::system::error_code ignored;
  socket->shutdown(TcpSocket::shutdown_both, ignored);
  socket->close(ignored);
}

void httpServer::handleRequest(HttpRequest& request) { dispatchRequest(request); }

void httpServer::sendResponse(HttpRequest& request) {
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
