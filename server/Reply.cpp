#include "server/Reply.h"

#include "base/Charset.h"
#include "base/Exception.h"
#include "base/GbkText.h"
#include "server/StyledJson.h"

namespace Quorvel {

void Reply::setHeader(const std::string& name, const std::string& value) { request_.responseHeaders[name] = value; }

void Reply::appendBody(const std::string& text) { request_.responseBody += text; }

void Reply::writeJsonp(const Json::Value& value) {
  writeStyledJsonp([&value] { return styledJson(value); });
}

void Reply::writeStyledJsonp(const std::function<std::string()>& styled) {
  setHeader("Content-Type", "text/javascript;charset=utf-8;");
  auto found = request_.query.find("callback");
  const std::string callback = found == request_.query.end() ? std::string() : found->second;
  try {
    request_.responseBody = gbkToUtf8(callback + "(" + styled() + ")");
  } catch (Exception e) {
    // A value that is not GBK cannot be shown; say so instead of sending
    // bytes the page would misread. The message and the callback are ASCII.
    Json::Value failure(Json::objectValue);
    failure["SUCCESS"] = 0;
    failure["MSG"] = "The answer holds text that is not valid GBK: " + e.message();
    request_.responseBody = callback + "(" + styledJson(failure) + ")";
  }
}

void Reply::answerJsonp(Json::Value reply, const std::function<void(Json::Value&)>& work, const ActionGuard& guard) {
  auto fail = [&](const std::string& message) {
    reply["SUCCESS"] = 0;
    reply["MSG"] = sellerMessage(message);
    if (guard.onFailure) {
      try {
        guard.onFailure();
      } catch (Exception) {
        // The failure being reported matters more than a failed clean-up.
      }
    }
  };
  try {
    work(reply);
  } catch (Exception e) {
    fail(e.message());
  } catch (const std::exception& e) {
    if (!guard.catchStandard) throw;
    fail(e.what());
  }
  writeJsonp(reply);
}

}  // namespace Quorvel
