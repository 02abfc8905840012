#include "store/CardImport.h"

#include <algorithm>
#include <string_view>
#include <unordered_map>

#include "base/Charset.h"
#include "base/Exception.h"
#include "base/GbkText.h"
#include "store/Db.h"
#include "store/Item.h"
#include "store/WriteTransaction.h"

namespace Quorvel {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The text before the first separator (trimmed), and the rest after it (or
// after the run of it, for a one-character separator).
std::pair<std::string_view, std::string_view> cut(std::string_view text, std::string_view separator) {
  const std::size_t at = text.find(separator);
  if (at == std::string_view::npos) return {trimmed(text), {}};
  std::size_t next = at + separator.size();
  if (separator.size() == 1) {
    while (next < text.size() && text[next] == separator[0]) ++next;
  }
  return {trimmed(text.substr(0, at)), trimmed(text.substr(next))};
}

std::string_view separatorText(CardSeparator separator) {
  switch (separator) {
    case CardSeparator::kSpace:
      return " ";
    case CardSeparator::kTab:
      return "\t";
    case CardSeparator::kComma:
      return ",";
    case CardSeparator::kDash4:
      break;
  }
  return "----";
}

// Calls `each(line number, line)` for every line of `text`.
template <class Each>
void forEachLine(const std::string& text, Each each) {
  std::size_t start = 0;
  int number = 0;
  while (start < text.size()) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string::npos) end = text.size();
    each(++number, std::string_view(text).substr(start, end - start));
    if (end < text.size() && text[end] == '\r' && end + 1 < text.size() && text[end + 1] == '\n') ++end;
    start = end + 1;
  }
}

// A shortened copy of a field for the report of a skipped line.
std::string shown(std::string_view field) {
  constexpr std::size_t kShown = 64;
  if (field.size() <= kShown) return std::string(field);
  return gbkPrefix(std::string(field), kShown) + "...";
}

// Sets a pragma of the connection for as long as it lives, then puts back
// the value it had.
class PragmaOverride {
 public:
  PragmaOverride(std::shared_ptr<IDb> db, const std::string& name, const std::string& value)
      : db_(std::move(db)), name_(name) {
    std::shared_ptr<IDbResult> rows = db_->query("pragma " + name_);
    if (rows->next()) before_ = std::to_string(rows->intAt(0));
    rows.reset();
    db_->exec("pragma " + name_ + "=" + value);
  }
  ~PragmaOverride() {
    if (before_.empty()) return;
    try {
      db_->exec("pragma " + name_ + "=" + before_);
    } catch (Exception) {
      // Either setting costs memory while it stays, never correctness.
    }
  }
  PragmaOverride(const PragmaOverride&) = delete;
  PragmaOverride& operator=(const PragmaOverride&) = delete;

 private:
  std::shared_ptr<IDb> db_;
  std::string name_;
  std::string before_;
};

struct PairHash {
  std::size_t operator()(const std::pair<std::string, std::string>& key) const {
    return std::hash<std::string>()(key.first) * 31 + std::hash<std::string>()(key.second);
  }
};

}  // namespace

CardSeparator CardImport::separatorNamed(const std::string& name) {
  if (name == "space") return CardSeparator::kSpace;
  if (name == "tab") return CardSeparator::kTab;
  if (name == "comma") return CardSeparator::kComma;
  if (name == "dash4") return CardSeparator::kDash4;
  throw Exception(gbk("请选择分隔符：space（空格）、tab（制表符）、comma（逗号）或 dash4（----）"));
}

SplitCards CardImport::split(const std::string& text, CardSeparator separator) {
  std::size_t filled = 0;
  forEachLine(text, [&filled](int, std::string_view line) {
    if (!trimmed(line).empty()) ++filled;
  });
  if (filled > kMaxLines) {
    throw Exception(gbk("一次最多导入 ") + std::to_string(kMaxLines) + gbk(" 行卡密，这次有 ") +
                    std::to_string(filled) + gbk(" 行；请分批导入，未导入任何卡密。"));
  }
  const std::string_view sep = separatorText(separator);
  SplitCards result;
  result.cards.reserve(filled);
  forEachLine(text, [&](int number, std::string_view line) {
    line = trimmed(line);
    if (line.empty()) return;
    auto [data1, rest] = cut(line, sep);
    auto [data2, data3] = cut(rest, sep);
    const char* refused = nullptr;
    if (line.size() > kMaxLineBytes) {
      refused = "这一行太长（超过 1024 字节）";
    } else if (data1.empty()) {
      refused = "没有卡号（第一项为空）";
    } else {
      try {
        gbkToUtf8(std::string(line));
      } catch (Exception) {
        refused = "含有无法识别的字符（不是有效的 GBK 文本）";
      }
    }
    if (refused) {
      result.skipped.push_back({number, shown(data1), shown(data2), gbk(refused)});
      return;
    }
    result.cards.push_back({number, std::string(data1), std::string(data2), std::string(data3)});
  });
  return result;
}

ImportReport CardImport::run(int categoryId, const SplitCards& split) {
  ImportReport report;
  report.skipped = split.skipped;
  std::shared_ptr<IDb> db = getDb();
  std::shared_ptr<Item> items = Item::instance();
  // The lines of this import so far, by (data1, data2).
  std::unordered_map<std::pair<std::string, std::string>, int, PairHash> seen;
  seen.reserve(split.cards.size());
  // Each insert fires the stock-count trigger, so SQLite keeps a statement
  // journal of the pages it changes: in memory, not in a temporary file
  // written for every card. And a large import changes more pages than the
  // connection keeps by default; each one pushed out early would be written
  // to the log again and again. Both hold while the import runs.
  PragmaOverride journals(db, "temp_store", "2");
  PragmaOverride cache(db, "cache_size", "-65536");
  try {
    WriteTransaction unit(db);
    auto find = std::make_shared<SQL>();
    auto insert = std::make_shared<SQL>();
    for (const CardLine& card : split.cards) {
      auto [earlier, fresh] = seen.try_emplace({card.data1, card.data2}, card.line);
      if (!fresh) {
        report.skipped.push_back({card.line, card.data1, card.data2,
                                  gbk("与第 ") + std::to_string(earlier->second) + gbk(" 行重复")});
        continue;
      }
      find->setSql("select `id` from `items` where `data1`=? and `data2`=? limit 1");
      std::shared_ptr<IDbResult> found = db->query(find->bind(card.data1)->bind(card.data2));
      const bool stocked = found->next();
      found.reset();
      if (stocked) {
        report.skipped.push_back({card.line, card.data1, card.data2, gbk("库存中已有相同的卡密")});
        continue;
      }
      insert->setSql("insert into `items` (`cg_id`,`data1`,`data2`,`data3`,`send_order_id`) values (?,?,?,?,'')");
      db->execute(insert->bind(categoryId)->bind(card.data1)->bind(card.data2)->bind(card.data3));
      ++report.imported;
    }
    items->refreshCounters(categoryId);
    unit.commit();
  } catch (...) {
    // Rolled back by now; the category cache does not follow a rollback.
    try {
      items->refreshCounters(categoryId);
    } catch (Exception) {
      // The counters are read again at the category's next change.
    }
    throw;
  }
  std::stable_sort(report.skipped.begin(), report.skipped.end(),
                   [](const SkippedCard& a, const SkippedCard& b) { return a.line < b.line; });
  return report;
}

}  // namespace Quorvel
