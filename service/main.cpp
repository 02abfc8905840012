// maker-service: our stand-in for the maker's web service, for demos.
//   maker-service [--port PORT] [--webui DIR] [--vendor DIR]
// Serves the web UI from DIR (default: webui/ beside the sources; its
// libraries from DIR/node_modules, filled by `npm ci` there), the jQuery
// files from the --vendor folder (default: service/vendor/node_modules beside
// the sources, filled by `npm ci` in service/vendor) and prints every message
// posted to its messaging endpoints.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "service/MakerService.h"

int main(int argc, char** argv) {
  std::uint16_t port = 18080;
  std::string webRoot = VENDARA_WEBUI_DIR;
  std::string vendorRoot = VENDARA_VENDOR_DIR;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--port") == 0) port = static_cast<std::uint16_t>(std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--webui") == 0) webRoot = argv[i + 1];
    if (std::strcmp(argv[i], "--vendor") == 0) vendorRoot = argv[i + 1];
  }
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);

  Quorvel::MakerService service(webRoot, vendorRoot);
  try {
    port = service.start(port);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  std::printf("maker-service on http://127.0.0.1:%u/ (web UI from %s)\n", static_cast<unsigned>(port),
              webRoot.c_str());
  for (const auto& vendor : Quorvel::MakerService::kVendorFiles) {
    if (!std::filesystem::is_regular_file(std::filesystem::path(vendorRoot) / vendor.file)) {
      std::fprintf(stderr, "maker-service: %s/%s is missing (run npm ci in service/vendor); %s is not served\n",
                   vendorRoot.c_str(), vendor.file, vendor.path);
    }
  }
  for (const auto& library : Quorvel::MakerService::kUiLibFiles) {
    if (!std::filesystem::is_regular_file(std::filesystem::path(webRoot) / "node_modules" / library.file)) {
      std::fprintf(stderr, "maker-service: %s/node_modules/%s is missing (run npm ci in webui); %s is not served\n",
                   webRoot.c_str(), library.file, library.path);
    }
  }
  std::fflush(stdout);
  int signal = 0;
  sigwait(&signals, &signal);
  service.stop();
  for (const auto& message : service.messages()) {
    std::printf("%s to %s: %s\n", message.action.c_str(), message.to.c_str(), message.msg.c_str());
  }
  return 0;
}
