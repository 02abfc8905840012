// MsgQueue: the outgoing messages (to buyers and to the seller) waiting to be
// sent, table `msg_queue` mirrored in memory as one oldest-first list per
// message type. Producers (the delivery procedure, seller notices, the IM
// test action) add entries; the dispatcher peeks, takes and removes them.
// Types: 0 web message through the maker's service, 1 e-mail, 2 IM message
// sent at once, 3 IM message waiting for the buyer's chat window.
//
// sellerNotice queues a notice to the seller's own mailbox.
//
// Any thread may call any operation. Every operation holds the global lock
// for its whole run, database work included, so the in-memory lists and the
// table never look half-updated; callers may already hold that lock. Each
// operation uses the calling thread's connection (getDb).
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <unordered_map>

namespace Quorvel {

struct MsgEntry {
  int id = 0;
  int type = 0;
  std::string to;
  std::string from;
  std::string msg;
  std::string order_id;
  std::string alipay_id;
  int error_times = 0;
  std::int64_t create_time = 0;  // seconds since 1970; the table keeps its low 32 bits
  bool none = false;             // set on an output entry when nothing was found
};

class MsgQueue : public std::enable_shared_from_this<MsgQueue> {
 public:
  // The store, created and loaded on first call.
  static std::shared_ptr<MsgQueue> instance();

  virtual ~MsgQueue();

  // Rebuilds the lists from the table, in id order.
  void load();

  // Queues a message with error_times 0 and create_time now; returns its id.
  int add(int type, const std::string& to, const std::string& from, const std::string& msg,
          const std::string& order_id, const std::string& alipay_id);

  // Reloads from the table (so rows added through other connections count)
  // and returns the number of entries of every type but 3.
  int pending();

  // Copies the oldest entry of `type` into `out`; false (and out.none set)
  // when the type has none.
  bool peek(int type, MsgEntry& out);

  // As peek, then deletes that entry's row and drops it from the list.
  bool take(int type, MsgEntry& out);

  // Deletes the row with the entry's id and drops it from its type's list.
  void remove(const MsgEntry& entry);

  // For tests: the clock that stamps create_time (seconds since 1970). An
  // empty function restores the system clock.
  static void setClock(std::function<std::int64_t()> clock);

 private:
  MsgQueue() = default;

  std::unordered_map<int, std::list<MsgEntry>> queues_;  // guarded by globalLock()
};

// Queues `text` as an e-mail (type 1) to the seller's own mailbox when
// "notice_type_email" is "1" and "notice_mailto" holds an address with "@";
// the sender is "email_sender" (may be empty). Otherwise does nothing.
void sellerNotice(const std::string& text);

}  // namespace Quorvel
