// Throughput of the page helpers on 1 MB GBK pages shaped like the seller
// pages the order pipeline reads: the paid-orders list, an order detail page
// and a consign page, each searched with the patterns the scrapers use.
// Run: build/bench/market/market_bench   (bytes_per_second = page MB/s)
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "base/Charset.h"
#include "base/ProcessWide.h"
#include "market/MarketHosts.h"
#include "store/DatabaseFile.h"
#include "store/Db.h"
#include "store/SystemConfig.h"
#include "store/ThreadConnections.h"
#include "market/PageText.h"
#include "market/Pattern.h"

namespace Quorvel {
namespace {

constexpr size_t kPageBytes = 1024 * 1024;

std::string q(const char* utf8) { return quotePattern(gbk(utf8)); }

// Markup and Chinese text that fills a page between the parts the patterns
// look for: rows of a sold-items table with prices, titles and scripts.
std::string filler(int row) {
  return "<tr class=\"order-row\"><td class=\"item\"><a href=\"http://item.example.com/item.htm?id=" +
         std::to_string(100000 + row) + "\" target=\"_blank\">" + gbk("移动话费充值卡 全国通用 自动发货 秒到") +
         "</a></td>\r\n<td class=\"price\">" + gbk("￥") + "49.50</td><td>" +
         gbk("买家留言：请尽快发货，谢谢！") + "</td>\r\n<td><span class=\"note\">" +
         gbk("当前状态：交易进行中") + "</span><script>var t" + std::to_string(row) +
         "={a:1,b:'x'};</script></td></tr>\r\n";
}

std::string fill(std::string page, const std::string& tail) {
  for (int row = 0; page.size() + tail.size() < kPageBytes; ++row) page += filler(row);
  return page + tail;
}

// 100 orders spread over the list, each with its detail link.
std::string listPage() {
  std::string page = "<html><head><title>" + gbk("已卖出的宝贝") + "</title></head><body><table>\r\n";
  for (int order = 0; page.size() < kPageBytes; ++order) {
    for (int row = 0; row < 40; ++row) page += filler(order * 40 + row);
    page += "<a href=\"http://trade.example.com/trade/detail/trade_item_detail.htm?bizOrderId=" +
            std::to_string(2012000000 + order) + "\" class=\"detail-link\" target=\"_blank\">" + gbk("详情") +
            "</a>\r\n";
  }
  return page + "</table></body></html>";
}

// The marked spans, snapshot links and quantity cells sit after the bulk of
// the page, as on the real detail page.
std::string detailPage() {
  std::string tail = gbk("当前订单状态：") + "<span class=\"wait\">\r\n  " + gbk("买家已付款，等待卖家发货") +
                     "\r\n</span>\r\n";
  for (int line = 0; line < 3; ++line) {
    tail += "<a href=\"http://trade.archive.example.com/trade/detail/trade_snap.htm?trade_id=" +
            std::to_string(880 + line) + "\" title=\"" + gbk("话费充值卡") + std::to_string(line) +
            "\">snap</a><td class=\"num\">" + std::to_string(line + 1) + "</td>\r\n";
  }
  tail += "<span class=\"nickname\">" + gbk("买家小王") + "</span>" + gbk("邮件：") +
          "<a class=\"mail\" href=\"mailto:b@example.com\"><span>b@example.com</span></a>"
          "<span class=\"J_WangWang\" data-nick=\"" + gbk("小王") + "\" data-display=\"inline\">"
          "<span class=\"alilay-num\">2012120712345</span><span class=\"order-num\">2012000001</span>";
  return fill("<html><body>\r\n", tail + "</body></html>");
}

// The second form variant, 60 inputs, and the page's own markup around it.
std::string consignPage() {
  std::string form = "<p>" + gbk("确认收货信息及交易详情") +
                     "</p><form id=\"orderForm\" name=\"orderForm\" method=\"post\" >\r\n";
  for (int i = 0; i < 60; ++i) {
    form += "<input type=\"hidden\" name=\"field" + std::to_string(i) + "\" value=\"" + gbk("值") +
            std::to_string(i) + "\">\r\n";
  }
  form += "<input type=\"text\" name=\"_fmw.n._0.g\" value=''><input type=\"submit\" value=\"ok\"></form>\r\n";
  std::string page = fill("<html><body>\r\n", "");
  page.insert(page.size() / 2, form);
  return page + "</body></html>";
}

const std::string& cached(std::string (*make)()) {
  static std::vector<std::pair<std::string (*)(), std::string>> pages;
  for (auto& [maker, page] : pages) {
    if (maker == make) return page;
  }
  pages.emplace_back(make, make());
  return pages.back().second;
}

// The trade hosts are settings: a scratch database from the template holds them.
void setHosts() {
  static bool done = false;
  if (done) return;
  done = true;
  auto options = std::make_shared<DatabaseOptions>();
  options->templatePath = QUORVEL_TEMPLATE_DB;
  options->path = (std::filesystem::temp_directory_path() / ("market-bench-" + std::to_string(::getpid()) + ".db")).string();
  std::filesystem::remove(options->path);
  installProcessWide(std::make_shared<ThreadConnections>(Env().set(options)));
  prepareDatabaseFile();
  SystemConfig::instance()->setMany(getDb(), 
      {{"market_trade_host", "trade.example.com"}, {"market_trade_archive_host", "trade.archive.example.com"}});
  std::atexit([] { std::filesystem::remove(databasePath()); });
}

void BM_PaidOrderList(benchmark::State& state) {
  const std::string& page = cached(listPage);
  const std::string link = "<a href=\"([^\"]+?)\" class=\"detail-link\" target=\"_blank\">" + q("详情") + "</a>";
  size_t orders = 0;
  for (auto _ : state) {
    std::vector<std::vector<std::string>> links;
    std::vector<std::string> number;
    regexMatchAll(link, page, links);
    for (const auto& match : links) orders += regexMatch("bizOrderId=([0-9]+)", match[1], number);
    benchmark::DoNotOptimize(orders);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
  state.counters["orders"] = static_cast<double>(orders) / static_cast<double>(state.iterations());
}

void parseDetail(const std::string& page, const std::string& snapshot) {
  std::vector<std::string> groups;
  std::vector<std::vector<std::string>> all;
  regexMatch(q("当前订单状态：") + "<span class=\"wait\">\\s*([^\\s<]+)\\s*", page, groups);
  regexMatchAll(snapshot, page, all);
  regexMatchAll("<td class=\"num\">([0-9]+)</td>", page, all);
  regexMatch("<span class=\"nickname\">([^<]+)</span>", page, groups);
  regexMatch(q("邮件：") + "<a class=\"mail\" href=\"[^\"]+\"><span>([^<]+)</span>", page, groups);
  regexMatch("<span class=\"J_WangWang\" data-nick=\"([^\"]+)\" data-display=\"inline\">", page, groups);
  regexMatch("<span class=\"alilay-num\">([^<]+)</span>", page, groups);
  regexMatch("<span class=\"order-num\">([^<]+)</span>", page, groups);
  benchmark::DoNotOptimize(groups);
}

void BM_OrderDetail(benchmark::State& state) {
  setHosts();
  const std::string& page = cached(detailPage);
  const std::string snapshot = MarketHosts::snapshotLinkPattern();
  for (auto _ : state) parseDetail(page, snapshot);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

void consignFields(const std::string& page) {
  std::vector<std::string> form;
  if (!containsText(gbk("确认收货信息及交易详情"), page)) return;
  if (!regexMatch("<form id=\"orderForm\" action=\"\" method=\"post\" name=\"orderForm\">(.+)</form>", page, form)) {
    regexMatch("<form id=\"orderForm\" name=\"orderForm\" method=\"post\" >(.+)</form>", page, form);
  }
  std::vector<std::vector<std::string>> inputs;
  regexMatchAll("<input([^>]+)>", form.at(1), inputs);
  std::vector<std::string> name, value;
  size_t fields = 0;
  for (const auto& input : inputs) {
    if (regexMatch("name=[\"']([^\"']+)[\"']", input[1], name) &&
        regexMatch("value=['\"]([^\"']*)['\"]", input[1], value)) {
      ++fields;
    }
  }
  benchmark::DoNotOptimize(fields);
}

void BM_ConsignForm(benchmark::State& state) {
  const std::string& page = cached(consignPage);
  for (auto _ : state) consignFields(page);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

void BM_LoginBoxTest(benchmark::State& state) {
  const std::string& page = cached(detailPage);
  const std::string marker = gbk("标准登录框");
  for (auto _ : state) benchmark::DoNotOptimize(containsText(marker, page));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

// The detail page again, compiling every pattern at every use (no cache):
// what the cache saves per page.
void BM_OrderDetailCompiledEachTime(benchmark::State& state) {
  setHosts();
  const std::string& page = cached(detailPage);
  const std::vector<std::string> patterns = {
      q("当前订单状态：") + "<span class=\"wait\">\\s*([^\\s<]+)\\s*",
      MarketHosts::snapshotLinkPattern(),
      "<td class=\"num\">([0-9]+)</td>",
      "<span class=\"nickname\">([^<]+)</span>",
      q("邮件：") + "<a class=\"mail\" href=\"[^\"]+\"><span>([^<]+)</span>",
      "<span class=\"J_WangWang\" data-nick=\"([^\"]+)\" data-display=\"inline\">",
      "<span class=\"alilay-num\">([^<]+)</span>",
      "<span class=\"order-num\">([^<]+)</span>"};
  for (auto _ : state) {
    size_t found = 0;
    for (const std::string& text : patterns) {
      Pattern pattern(text);
      forEachMatch(pattern, page, [&](const MatchSpans&) { ++found; });
    }
    benchmark::DoNotOptimize(found);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * page.size()));
}

BENCHMARK(BM_PaidOrderList)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrderDetail)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OrderDetailCompiledEachTime)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ConsignForm)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LoginBoxTest)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace Quorvel

int main(int argc, char** argv) {
  if (const char* limit = std::getenv("MATCH_LIMIT")) {
    Quorvel::installProcessWide(std::make_shared<Quorvel::PatternLimits>(
        Quorvel::PatternLimits{static_cast<uint32_t>(std::atoi(limit))}));
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
}
