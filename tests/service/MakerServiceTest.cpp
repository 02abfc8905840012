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
    service_ = std::make_unique<MakerService>(root_);
    client_ = std::make_unique<httplib::Client>("127.0.0.1", service_->start(0));
  }
  void TearDown() override {
    service_->stop();
    std::filesystem::remove_all(root_);
  }
  std::filesystem::path root_;
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

}  // namespace
}  // namespace Quorvel
