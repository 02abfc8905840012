// CardImport: many cards of one category at once, from a text the seller
// pasted or uploaded with one card per line. Each line splits at a chosen
// separator into up to three fields (data1, data2, data3; the rest of a line
// with more separators stays in data3). Every import may carry a batch
// number, kept on its cards, so that one import can be undone. A card whose data1 and data2 equal a
// card anywhere in the stock, or an earlier line of the same text, is
// skipped and reported with its line number, so the same card number is
// never sold twice. The whole import is one transaction, the category's
// stock counters included.
//
// split is a pure function; run and removeBatch work on the connection they
// are given (the calling thread's own) and open the transaction themselves,
// so call them with none open.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

namespace Quorvel {

class IDb;

enum class CardSeparator { kSpace, kTab, kComma, kDash4 };

// One card read from a line (GBK texts).
struct CardLine {
  int line = 0;  // from 1, counting every line of the text
  std::string data1;
  std::string data2;
  std::string data3;
};

// A line that did not become a card, and why (GBK).
struct SkippedCard {
  int line = 0;
  std::string data1;
  std::string data2;
  std::string reason;
};

struct SplitCards {
  std::vector<CardLine> cards;
  std::vector<SkippedCard> skipped;  // lines no card can be made of
};

struct ImportReport {
  int imported = 0;
  std::vector<SkippedCard> skipped;  // in line order
  int batch = 0;                     // the batch the cards carry
};

struct BatchRemoval {
  int categoryId = 0;
  int removed = 0;  // unsent cards deleted
  int kept = 0;     // cards of the batch already reserved or sent, left alone
};

class CardImport {
 public:
  // Lines holding a card, at most, per import.
  static constexpr std::size_t kMaxLines = 100000;
  // Bytes of one line, at most; a longer line is skipped.
  static constexpr std::size_t kMaxLineBytes = 1024;

  // "space", "tab", "comma" or "dash4" ("----"); raises Exception otherwise.
  static CardSeparator separatorNamed(const std::string& name);

  // The cards of `text`: lines end at CR, LF or CRLF; spaces and tabs at
  // either end of a line and of each field are dropped; a run of spaces (or
  // of tabs) is one separator. Empty lines are left out. A line without a
  // card number (data1), too long, or not valid GBK is skipped. More than
  // kMaxLines lines holding text raise Exception before anything is split.
  // The separators are ASCII bytes below 0x40, which never occur inside a
  // GBK character, so the text is split byte by byte.
  static SplitCards split(const std::string& text, CardSeparator separator);

  // As split, for lines the page sends one by one: `encodedLines` holds each
  // line's UTF-8 bytes in base64 (URL or standard alphabet), the lines
  // separated by ",". A line GBK cannot store (an emoji, a character outside
  // GBK) is skipped and reported with its number; the others are split.
  static SplitCards splitEncoded(const std::string& encodedLines, CardSeparator separator);

  // Deletes the unsent cards of one batch in one transaction and refreshes
  // its category's counters; cards already reserved or sent stay. The batch
  // is forgotten once none of its cards remain. Raises Exception (Chinese)
  // for an unknown batch.
  static BatchRemoval removeBatch(const std::shared_ptr<IDb>& db, int batch);

  // Adds the cards to the stored category `categoryId` in one transaction
  // (begun with the write lock), skipping duplicates, and refreshes the
  // category's counters. `split.skipped` is carried into the report. The
  // cards carry the batch number: `batch` 0 starts a new batch in the same
  // transaction (report.batch), another number goes on with that batch (the
  // later parts of one import), whose lines of all parts together may not
  // pass kMaxLines (Exception, nothing added). A database failure rolls
  // everything back and raises DbException.
  static ImportReport run(const std::shared_ptr<IDb>& db, int categoryId, const SplitCards& split, int batch = 0);
};

}  // namespace Quorvel
