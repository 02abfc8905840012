#include "store/CardImport.h"

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string_view>
#include <unordered_map>

#include "base/Charset.h"
#include "base/Clock.h"
#include "base/ProcessWide.h"
#include "base/Exception.h"
#include "base/GbkText.h"
#include "store/Db.h"
#include "store/Item.h"
#include "store/WriteTransaction.h"

namespace Quorvel {

namespace {

// Spaces always surround a field; tabs too, unless the tab is the separator
// (a tab then marks an empty field that keeps its place).
std::string_view trimmed(std::string_view text, bool tabs = true) {
  auto blank = [tabs](char c) { return c == ' ' || (tabs && c == '\t'); };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return text;
}

// The text before the first separator (trimmed), and the rest after it. A
// run of spaces counts as one separator; a comma or a tab ends exactly one
// field, so "A,,C" keeps its empty second field.
std::pair<std::string_view, std::string_view> cut(std::string_view text, std::string_view separator) {
  const bool tabs = separator != "\t";
  const std::size_t at = text.find(separator);
  if (at == std::string_view::npos) return {trimmed(text, tabs), {}};
  std::size_t next = at + separator.size();
  if (separator == " ") {
    while (next < text.size() && text[next] == ' ') ++next;
  }
  return {trimmed(text.substr(0, at), tabs), trimmed(text.substr(next), tabs)};
}

// The bytes of base64 text, standard or URL alphabet, padding optional;
// nullopt when a character is neither.
std::optional<std::string> base64Decode(std::string_view text) {
  std::string out;
  out.reserve(text.size() * 3 / 4);
  std::uint32_t bits = 0;
  int count = 0;
  for (char c : text) {
    int value;
    if (c >= 'A' && c <= 'Z') value = c - 'A';
    else if (c >= 'a' && c <= 'z') value = c - 'a' + 26;
    else if (c >= '0' && c <= '9') value = c - '0' + 52;
    else if (c == '+' || c == '-') value = 62;
    else if (c == '/' || c == '_') value = 63;
    else if (c == '=') break;
    else return std::nullopt;
    bits = bits << 6 | static_cast<std::uint32_t>(value);
    if (++count == 4) {
      out += static_cast<char>(bits >> 16);
      out += static_cast<char>(bits >> 8);
      out += static_cast<char>(bits);
      bits = 0;
      count = 0;
    }
  }
  if (count == 1) return std::nullopt;
  if (count == 2) out += static_cast<char>(bits >> 4);
  if (count == 3) {
    out += static_cast<char>(bits >> 10);
    out += static_cast<char>(bits >> 2);
  }
  return out;
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
    line = trimmed(line, separator != CardSeparator::kTab);
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

SplitCards CardImport::splitEncoded(const std::string& encodedLines, CardSeparator separator) {
  std::vector<SkippedCard> refused;
  std::string text;
  int number = 0;
  std::size_t filled = 0;
  std::size_t start = 0;
  while (start <= encodedLines.size()) {
    std::size_t end = encodedLines.find(',', start);
    if (end == std::string::npos) end = encodedLines.size();
    ++number;
    const std::string_view piece = std::string_view(encodedLines).substr(start, end - start);
    if (!piece.empty() && ++filled > kMaxLines) {
      throw Exception(gbk("一次最多导入 ") + std::to_string(kMaxLines) + gbk(" 行卡密；请分批导入，未导入任何卡密。"));
    }
    if (number > 1) text += '\n';
    const std::optional<std::string> utf8 = base64Decode(piece);
    const char* reason = nullptr;
    std::string line;
    if (!utf8 || utf8->size() > kMaxLineBytes * 2) {
      reason = !utf8 ? "这一行的数据已损坏，未导入" : "这一行太长（超过 1024 字节）";
    } else {
      try {
        line = utf8ToGbk(*utf8);
        if (line.find_first_of("\r\n") != std::string::npos) throw Exception("line break");
      } catch (Exception) {
        reason = "含有 GBK 无法保存的字符（如表情符号或生僻字），这一行未导入";
      }
    }
    if (reason) {
      std::string shownNumber;
      if (utf8) {
        try {
          shownNumber = utf8ToGbk(std::string(utf8->substr(0, utf8->find_first_of(" \t,"))));
        } catch (Exception) {
          shownNumber.clear();  // the card number itself holds the character
        }
      }
      refused.push_back({number, shown(shownNumber), "", gbk(reason)});
    } else {
      text += line;
    }
    start = end + 1;
  }
  SplitCards result = split(text, separator);
  result.skipped.insert(result.skipped.end(), refused.begin(), refused.end());
  std::stable_sort(result.skipped.begin(), result.skipped.end(),
                   [](const SkippedCard& a, const SkippedCard& b) { return a.line < b.line; });
  return result;
}

namespace {

// A new batch of the category, in the caller's transaction.
int newBatch(const std::shared_ptr<IDb>& db, int categoryId) {
  db->execute(std::make_shared<SQL>("insert into `import_batch` (`cg_id`,`time`,`lines`) values (?,?,0)")
                  ->bind(categoryId)
                  ->bind(static_cast<std::int64_t>(db->env().clock().now())));
  return db->lastInsertId();
}

}  // namespace

BatchRemoval CardImport::removeBatch(const std::shared_ptr<IDb>& db, int batch) {
  BatchRemoval removal;
  WriteTransaction unit(db);
  std::shared_ptr<IDbResult> found =
      db->query(std::make_shared<SQL>("select `cg_id` from `import_batch` where `id`=?")->bind(batch));
  if (!found->next()) throw Exception(gbk("没有这批导入（批次 ") + std::to_string(batch) + gbk("），可能已经删除。"));
  const int categoryId = (*found->fetch())["cg_id"].toInt();
  found.reset();
  std::shared_ptr<IDbResult> counts = db->query(
      std::make_shared<SQL>("select count(*) as `num`, coalesce(sum(`send_order_id`=''), 0) as `unsent` from `items` "
                            "where `batch`=?")
          ->bind(batch));
  if (counts->next()) {
    auto row = counts->fetch();
    removal.removed = (*row)["unsent"].toInt();
    removal.kept = (*row)["num"].toInt() - removal.removed;
  }
  counts.reset();
  db->execute(std::make_shared<SQL>("delete from `items` where `batch`=? and `send_order_id`=''")->bind(batch));
  if (removal.kept == 0) db->execute(std::make_shared<SQL>("delete from `import_batch` where `id`=?")->bind(batch));
  Item::instance()->refreshCounters(db, categoryId);
  unit.commit();
  removal.categoryId = categoryId;
  return removal;
}

ImportReport CardImport::run(const std::shared_ptr<IDb>& db, int categoryId, const SplitCards& split,
                             int batch) {
  ImportReport report;
  report.skipped = split.skipped;
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
    if (batch == 0) batch = newBatch(db, categoryId);
    {
      // One import may come in several parts; together they stay under the cap.
      std::shared_ptr<IDbResult> row = db->query(
          std::make_shared<SQL>("select `cg_id`, `lines` from `import_batch` where `id`=?")->bind(batch));
      if (!row->next()) throw Exception(gbk("没有这批导入（批次 ") + std::to_string(batch) + gbk("），未导入。"));
      auto fields = row->fetch();
      const int owner = (*fields)["cg_id"].toInt();
      const std::size_t before = static_cast<std::size_t>((*fields)["lines"].toInt());
      row.reset();
      if (owner != categoryId) throw Exception(gbk("这批导入属于另一个分类，未导入。"));
      const std::size_t lines = split.cards.size() + split.skipped.size();
      if (before + lines > kMaxLines) {
        throw Exception(gbk("一次最多导入 ") + std::to_string(kMaxLines) + gbk(" 行卡密，这批已有 ") +
                        std::to_string(before) + gbk(" 行；这一部分未导入。"));
      }
      db->execute(std::make_shared<SQL>("update `import_batch` set `lines`=`lines`+? where `id`=?")
                      ->bind(static_cast<int>(lines))
                      ->bind(batch));
    }
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
      insert->setSql(
          "insert into `items` (`cg_id`,`data1`,`data2`,`data3`,`send_order_id`,`batch`) values (?,?,?,?,'',?)");
      db->execute(insert->bind(categoryId)->bind(card.data1)->bind(card.data2)->bind(card.data3)->bind(batch));
      ++report.imported;
    }
    items->refreshCounters(db, categoryId);
    unit.commit();
  } catch (...) {
    // Rolled back by now; the category cache does not follow a rollback.
    try {
      items->refreshCounters(db, categoryId);
    } catch (Exception) {
      // The counters are read again at the category's next change.
    }
    throw;
  }
  std::stable_sort(report.skipped.begin(), report.skipped.end(),
                   [](const SkippedCard& a, const SkippedCard& b) { return a.line < b.line; });
  report.batch = batch;
  return report;
}

}  // namespace Quorvel
