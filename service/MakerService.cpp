#include "service/MakerService.h"

#include <httplib.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace Quorvel {

namespace {

std::string contentTypeOf(const std::filesystem::path& file) {
  const std::string extension = file.extension().string();
  if (extension == ".html") return "text/html; charset=utf-8";
  if (extension == ".js") return "text/javascript; charset=utf-8";
  if (extension == ".css") return "text/css; charset=utf-8";
  if (extension == ".png") return "image/png";
  if (extension == ".gif") return "image/gif";
  if (extension == ".svg") return "image/svg+xml";
  return "application/octet-stream";
}

bool readFile(const std::filesystem::path& file, std::string& content) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return false;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  content = buffer.str();
  return true;
}

// The regular file under `root` named by a request path, or empty when the
// path holds a NUL byte, names nothing, or leads (through "..", or a symbolic
// link anywhere on the way) to a file whose real path is outside the root.
std::filesystem::path fileUnder(const std::filesystem::path& root, const std::string& path) {
  namespace fs = std::filesystem;
  if (root.empty() || path.find('\0') != std::string::npos) return {};
  fs::path file = root / fs::path(path).relative_path();
  if (path.empty() || path.back() == '/') file /= "index.html";
  std::error_code error;
  const fs::path realRoot = fs::canonical(root, error);
  if (error) return {};
  const fs::path realFile = fs::canonical(file, error);
  if (error || !fs::is_regular_file(fs::symlink_status(realFile, error))) return {};
  // Inside means: the root's components are the first components of the file's.
  auto mismatch = std::mismatch(realRoot.begin(), realRoot.end(), realFile.begin(), realFile.end());
  if (mismatch.first != realRoot.end()) return {};
  return realFile;
}

}  // namespace

// jQuery 1.8.0 and jQuery UI 1.8.23 are not on npm: the closest versions it
// serves stand in (jQuery 1.8.2, whose package keeps the browser file under
// tmp/, and jQuery UI 1.12.0 with its flick theme).
const MakerService::VendorFile MakerService::kVendorFiles[3] = {
    {"/js/jquery-1.8.0.min.js", "jquery/tmp/jquery.js"},
    {"/js/jquery-ui-1.8.23.custom.min.js", "jquery-ui-dist/jquery-ui.min.js"},
    {"/image/css/flick/jquery-ui-1.8.23.custom.css", "jquery-ui-themes/themes/flick/jquery-ui.min.css"},
};

// The web UI's charts.
const MakerService::VendorFile MakerService::kUiLibFiles[1] = {
    {"/lib/chart.umd.min.js", "chart.js/dist/chart.umd.min.js"},
};

MakerService::MakerService(std::filesystem::path webRoot, std::filesystem::path vendorRoot)
    : webRoot_(std::move(webRoot)), vendorRoot_(std::move(vendorRoot)), http_(std::make_unique<httplib::Server>()) {
  // A longer body is answered 413 before any route sees it.
  http_->set_payload_max_length(kMaxBodyBytes);
  installRoutes();
}

MakerService::~MakerService() { stop(); }

std::filesystem::path MakerService::vendorFile(const std::string& path) const {
  if (!webRoot_.empty()) {
    for (const VendorFile& library : kUiLibFiles) {
      if (path == library.path) return fileUnder(webRoot_ / "node_modules", library.file);
    }
  }
  if (vendorRoot_.empty()) return {};
  for (const VendorFile& vendor : kVendorFiles) {
    if (path == vendor.path) return fileUnder(vendorRoot_, vendor.file);
  }
  const std::string images = kThemeImagesPath;
  if (path.size() > images.size() && path.compare(0, images.size(), images) == 0) {
    return fileUnder(vendorRoot_ / kThemeImagesFolder, path.substr(images.size()));
  }
  return {};
}

void MakerService::installRoutes() {
  http_->Post("/", [this](const httplib::Request& request, httplib::Response& response) {
    const std::string action = request.get_param_value("a");
    if (request.get_param_value("m") != "Api" || (action != "web_send" && action != "email_send")) {
      response.status = 404;
      return;
    }
    Message message{action,
                    request.get_param_value("msg"),
                    request.get_param_value("to"),
                    request.get_param_value("from"),
                    request.get_param_value("order_id"),
                    request.get_param_value("alipay_id")};
    bool accepted = false;
    {
      MutexLock lock(mutex_);
      accepted = accepting_;
      if (accepted) {
        messages_.push_back(message);
        if (messages_.size() > kMaxKeptMessages) messages_.pop_front();
      }
    }
    response.set_content(accepted ? "{\"SUCCESS\":1,\"MSG\":\"sent\"}" : "{\"SUCCESS\":0,\"MSG\":\"refused\"}",
                         "application/json; charset=utf-8");
  });

  http_->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
    std::string content;
    std::filesystem::path file = vendorFile(request.path);
    if (file.empty()) file = fileUnder(webRoot_, request.path);
    if (!file.empty() && readFile(file, content)) {
      response.set_content(content, contentTypeOf(file).c_str());
      return;
    }
    if (request.path == "/") {
      response.set_content("<html><body>Vendara web UI: no web root configured.</body></html>",
                           "text/html; charset=utf-8");
      return;
    }
    response.status = 404;
  });
}

std::uint16_t MakerService::start(std::uint16_t port) {
  int bound = port == 0 ? http_->bind_to_any_port("127.0.0.1") : (http_->bind_to_port("127.0.0.1", port) ? port : -1);
  if (bound <= 0) throw std::runtime_error("maker-service: cannot listen on 127.0.0.1:" + std::to_string(port));
  port_ = static_cast<std::uint16_t>(bound);
  // The socket listens already, so connections made from now on wait in the
  // backlog until the thread accepts them.
  thread_ = std::thread([this] { http_->listen_after_bind(); });
  // The server can only be stopped once its loop runs: a stop that came
  // earlier would be lost and leave the thread serving for ever.
  while (!http_->is_running()) std::this_thread::yield();
  return port_;
}

void MakerService::stop() {
  if (thread_.joinable()) {
    http_->stop();
    thread_.join();
  }
}

void MakerService::setAccepting(bool accepting) {
  MutexLock lock(mutex_);
  accepting_ = accepting;
}

std::vector<MakerService::Message> MakerService::messages() const {
  MutexLock lock(mutex_);
  return std::vector<Message>(messages_.begin(), messages_.end());
}

}  // namespace Quorvel
