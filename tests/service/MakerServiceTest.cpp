#include "service/MakerService.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <fstream>

namespace Quorvel {
namespace {

class MakerServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = std::filesystem::temp_directory_path() / ("maker-service-" + std::to_string(::getpid()));
    std::filesystem::create_directories(root_ / "js");
    std::ofstream(root_ / "index.html") << "<html>ui</html>";
    std::ofstream(root_ / "js" / "login.js") << "var x;";
    // The npm packages' files, as `npm ci` lays them out.
    vendor_ = root_.string() + "-vendor";
    for (const auto& file : MakerService::kVendorFiles) {
      std::filesystem::path path = vendor_ / file.file;
      std::filesystem::create_directories(path.parent_path());
      std::ofstream(path) << "/* " << file.file << " */";
    }
    std::filesystem::create_directories(vendor_ / MakerService::kThemeImagesFolder);
    std::ofstream(vendor_ / MakerService::kThemeImagesFolder / "ui-icons_0073ea_256x240.png") << "PNG";
    std::ofstream(vendor_ / "jquery-ui-themes" / "secret.txt") << "secret";
    for (const auto& file : MakerService::kUiLibFiles) {
      std::filesystem::path path = root_ / "node_modules" / file.file;
      std::filesystem::create_directories(path.parent_path());
      std::ofstream(path) << "/* " << file.file << " */";
    }
    service_ = std::make_unique<MakerService>(root_, vendor_);
    client_ = std::make_unique<httplib::Client>("127.0.0.1", service_->start(0));
  }
  void TearDown() override {
    service_->stop();
    std::filesystem::remove_all(root_);
    std::filesystem::remove_all(vendor_);
  }
  std::filesystem::path root_;
  std::filesystem::path vendor_;
  std::unique_ptr<MakerService> service_;
  std::unique_ptr<httplib::Client> client_;
};

TEST_F(MakerServiceTest, MessagingEndpointsRecordWhatTheyAccept) {
  auto sent = client_->Post("/?m=Api&a=email_send", "msg=%E4%B8%AD&to=a%40b.c&from=me&order_id=7",
                            "application/x-www-form-urlencoded");
  ASSERT_TRUE(sent);
  EXPECT_NE(sent->body.find("\"SUCCESS\":1"), std::string::npos);
  service_->setAccepting(false);
  auto refused = client_->Post("/?m=Api&a=web_send", "msg=x&to=y", "application/x-www-form-urlencoded");
  ASSERT_TRUE(refused);
  EXPECT_NE(refused->body.find("\"SUCCESS\":0"), std::string::npos);
  auto messages = service_->messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].action, "email_send");
  EXPECT_EQ(messages[0].msg, "\xE4\xB8\xAD");
  EXPECT_EQ(messages[0].to, "a@b.c");
  EXPECT_EQ(messages[0].orderId, "7");
  auto unknown = client_->Post("/?m=Api&a=other", "msg=x", "application/x-www-form-urlencoded");
  ASSERT_TRUE(unknown);
  EXPECT_EQ(unknown->status, 404);
}

TEST_F(MakerServiceTest, ServesTheWebUiButNothingOutsideIt) {
  auto page = client_->Get("/?ver=1105&port=12345");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->body, "<html>ui</html>");
  auto script = client_->Get("/js/login.js");
  ASSERT_TRUE(script);
  EXPECT_EQ(script->body, "var x;");
  auto escape = client_->Get("/../../etc/passwd");
  ASSERT_TRUE(escape);
  EXPECT_EQ(escape->status, 404);
}

TEST_F(MakerServiceTest, ServesTheJqueryFilesUnderTheNamesThePageAsksFor) {
  const std::pair<const char*, const char*> expected[] = {
      {"/js/jquery-1.8.0.min.js", "/* jquery/tmp/jquery.js */"},
      {"/js/jquery-ui-1.8.23.custom.min.js", "/* jquery-ui-dist/jquery-ui.min.js */"},
      {"/image/css/flick/jquery-ui-1.8.23.custom.css", "/* jquery-ui-themes/themes/flick/jquery-ui.min.css */"},
  };
  for (const auto& [path, body] : expected) {
    auto answer = client_->Get(path);
    ASSERT_TRUE(answer) << path;
    EXPECT_EQ(answer->status, 200) << path;
    EXPECT_EQ(answer->body, body) << path;
  }
  EXPECT_EQ(client_->Get("/js/jquery-1.8.0.min.js")->get_header_value("Content-Type"), "text/javascript; charset=utf-8");
  EXPECT_EQ(client_->Get("/image/css/flick/jquery-ui-1.8.23.custom.css")->get_header_value("Content-Type"),
            "text/css; charset=utf-8");
  auto icon = client_->Get("/image/css/flick/images/ui-icons_0073ea_256x240.png");
  ASSERT_TRUE(icon);
  EXPECT_EQ(icon->body, "PNG");
  for (const char* path : {"/image/css/flick/images/../../secret.txt", "/image/css/flick/images/%2e%2e/%2e%2e/secret.txt",
                           "/image/css/flick/images/", "/jquery/tmp/jquery.js"}) {
    auto answer = client_->Get(path);
    ASSERT_TRUE(answer) << path;
    EXPECT_EQ(answer->status, 404) << path;
  }
}

TEST_F(MakerServiceTest, ServesThePagesLibrariesUnderLib) {
  auto chart = client_->Get("/lib/chart.umd.min.js");
  ASSERT_TRUE(chart);
  EXPECT_EQ(chart->status, 200);
  EXPECT_EQ(chart->body, "/* chart.js/dist/chart.umd.min.js */");
  EXPECT_EQ(chart->get_header_value("Content-Type"), "text/javascript; charset=utf-8");
  for (const char* path : {"/lib/", "/lib/chart.js", "/lib/../node_modules/chart.js/dist/chart.umd.min.js/x"}) {
    auto answer = client_->Get(path);
    ASSERT_TRUE(answer) << path;
    EXPECT_EQ(answer->status, 404) << path;
  }
}

TEST_F(MakerServiceTest, ServesOnlyRegularFilesWhoseRealPathIsInsideTheWebFolder) {
  const std::filesystem::path outside = root_.string() + "-outside";
  std::filesystem::create_directories(outside);
  std::ofstream(outside / "secret.txt") << "secret";
  std::filesystem::create_symlink(outside / "secret.txt", root_ / "leak.txt");
  std::filesystem::create_directory_symlink(outside, root_ / "elsewhere");
  std::filesystem::create_symlink(root_ / "index.html", root_ / "alias.html");  // stays inside
  for (const char* path : {"/leak.txt", "/elsewhere/secret.txt", "/elsewhere/", "/js", "/index.html%00.png",
                           "/js/login.js%00", "/%2e%2e/" }) {
    auto answer = client_->Get(path);
    ASSERT_TRUE(answer) << path;
    EXPECT_EQ(answer->status, 404) << path;
    EXPECT_EQ(answer->body.find("secret"), std::string::npos) << path;
  }
  auto alias = client_->Get("/alias.html");
  ASSERT_TRUE(alias);
  EXPECT_EQ(alias->body, "<html>ui</html>");
  std::filesystem::remove_all(outside);
}

TEST_F(MakerServiceTest, MessagesAreBoundedInSizeAndNumber) {
  const std::string large = "msg=" + std::string(MakerService::kMaxBodyBytes, 'x') + "&to=y";
  auto refused = client_->Post("/?m=Api&a=web_send", large, "application/x-www-form-urlencoded");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->status, 413);
  EXPECT_TRUE(service_->messages().empty());

  for (size_t k = 0; k <= MakerService::kMaxKeptMessages; ++k) {
    auto sent = client_->Post("/?m=Api&a=web_send", "msg=" + std::to_string(k) + "&to=y",
                              "application/x-www-form-urlencoded");
    ASSERT_TRUE(sent);
  }
  auto messages = service_->messages();
  ASSERT_EQ(messages.size(), MakerService::kMaxKeptMessages);
  EXPECT_EQ(messages.front().msg, "1");  // the oldest went
  EXPECT_EQ(messages.back().msg, std::to_string(MakerService::kMaxKeptMessages));
}

}  // namespace
}  // namespace Quorvel
