// Requests per second of the local server with a new connection per request,
// the way the web page talks to it. Starts the server in-process on a free
// loopback port and runs a blocking client on another thread.
//
//   build/bench/server/server_bench [requests] [clients]
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/write.hpp>

#include <json/value.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <thread>
#include <vector>

#include "server/ActionTable.h"
#include "server/HttpServer.h"
#include "server/LaunchKey.h"

using namespace Quorvel;

namespace {

bool oneRequest(std::uint16_t port, const std::string& request) {
  boost::asio::io_context io;
  boost::asio::ip::tcp::socket socket(io);
  boost::system::error_code error;
  socket.connect({boost::asio::ip::make_address_v4("127.0.0.1"), port}, error);
  if (error) return false;
  boost::asio::write(socket, boost::asio::buffer(request), error);
  char chunk[4096];
  std::string answer;
  for (;;) {
    answer.append(chunk, socket.read_some(boost::asio::buffer(chunk), error));
    if (error) break;
  }
  return answer.rfind("HTTP/1.1 200 ", 0) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int requests = argc > 1 ? std::atoi(argv[1]) : 20000;
  const int clients = argc > 2 ? std::atoi(argv[2]) : 1;

  registerHandler("getStatus", [](const HttpRequest&, Reply& out) {
    Json::Value reply(Json::objectValue);
    reply["SUCCESS"] = 1;
    reply["RUNNING"] = false;
    reply["ACCOUNT"] = "";
    reply["CHECK_TIME"] = 0;
    reply["SEND_MSG_TIME"] = 0;
    out.writeJsonp(reply);
  });

  boost::asio::io_context io;
  const Env env;
  std::promise<std::uint16_t> ready;
  auto started = ready.get_future();
  std::thread serverThread([&] {
    httpServer server(io, 0, env);
    ready.set_value(server.localPort());
    io.run();
  });
  const std::uint16_t port = started.get();
  // As the page sends it: with the launch key and the Host it names.
  const std::string request = "GET /?do=getStatus&callback=jsonp123&_postData=a%3D1&token=" + launchKey() +
                              " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) + "\r\n\r\n";

  std::atomic<int> failures{0};
  auto begin = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&] {
      for (int i = 0; i < requests / clients; ++i) {
        if (!oneRequest(port, request)) ++failures;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
  io.stop();
  serverThread.join();

  int done = (requests / clients) * clients;
  std::printf("%d requests, %d clients, %d failures: %.0f requests/s (%.1f us each)\n", done, clients,
              failures.load(), done / seconds, seconds * 1e6 / done);
  return failures == 0 ? 0 : 1;
}
