// MsgQueue: the outgoing messages (to buyers and to the seller) waiting to be
// sent, table `msg_queue`, mirrored in memory as one oldest-first list per
// message type (MsgType in store/MsgType.h). Producers (the delivery procedure,
// seller notices, the IM test action) add rows; the dispatcher loads the
// lists, claims one entry at a time, and removes or releases it.
//
// Only committed rows are ever handed out: add writes the row through the
// caller's connection and nothing else, so a message joins the lists at the
// first load that sees it, which is after the caller's transaction committed
// (the dispatcher loads through its own connection). A message whose
// transaction rolls back is never seen at all.
//
// Claims keep two dispatch passes (a worker and the one that replaced it)
// from sending the same message: an entry is handed out only to the one
// caller that claimed it, until that caller removes or releases it.
//
// A row that cannot be read (text that is not valid in GBK, a NULL or
// wrongly typed column, edited in from outside) is set aside: it is named
// once on standard output and left in the table, and every other row is
// still sent.
//
// sellerNotice queues a notice to the seller's own mailbox.
//
// Any thread may call any operation. Every operation holds the global lock
// for its whole run, database work included, so the in-memory lists, the
// claims and the table never look half-updated; callers may already hold that
// lock. Each operation that touches the table uses the connection it is given;
// the load of the first use reads the building thread's connection (getDb).
#pragma once

#include <cstdint>
#include <list>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/GlobalLock.h"

namespace Quorvel {

class IDb;

struct MsgEntry {
  int id = 0;
  int type = 0;
  std::string to;
  std::string from;
  std::string msg;
  std::string order_id;
  std::string alipay_id;
  std::string subject;  // an e-mail's subject; empty gives the dispatcher's own
  std::string last_error;  // why the last try failed; empty before one did
  int error_times = 0;     // tries that failed
  std::int64_t create_time = 0;  // seconds since 1970; the table keeps its low 32 bits
  bool none = false;             // set on an output entry when nothing was found
  bool sending = false;          // set by waiting(): a dispatch pass holds it now
};

class MsgQueue : public std::enable_shared_from_this<MsgQueue> {
 public:
  // The store (processWide), built and loaded from the database on first use.
  static std::shared_ptr<MsgQueue> instance();
  static std::shared_ptr<MsgQueue> makeProcessWide();

  virtual ~MsgQueue();

  // Rebuilds the lists from the table as the calling connection sees it, in
  // id order. Claims of entries that are gone are dropped.
  void load(const std::shared_ptr<IDb>& db);

  // Writes a message with error_times 0 and create_time now (the process
  // clock) through `db`; returns its id. It is not in the lists until a load
  // sees it.
  int add(const std::shared_ptr<IDb>& db, int type, const std::string& to, const std::string& from, const std::string& msg,
          const std::string& order_id, const std::string& alipay_id, const std::string& subject = "");

  // Reloads from the table (so rows committed by other connections count)
  // and returns the number of entries of every type but 3.
  int pending(const std::shared_ptr<IDb>& db);

  // Copies the oldest unclaimed entry of `type` into `out`; false (and
  // out.none set) when there is none.
  bool peek(int type, MsgEntry& out);

  // As peek, and claims the entry for the caller: no other caller is handed
  // it until it is removed or released.
  bool claim(int type, MsgEntry& out);

  // Gives a claimed entry back: it stays queued for a later pass.
  void release(const MsgEntry& entry);

  // Gives a claimed entry back after a try that did not send it: its
  // error_times grows by one and `reason` becomes its last_error.
  void failed(const std::shared_ptr<IDb>& db, const MsgEntry& entry, const std::string& reason);

  // The seller's view of the queue: at most `limit` messages, oldest first,
  // as the table holds them now (rows set aside as unreadable are left out);
  // `total` gets how many there are.
  std::vector<MsgEntry> waiting(const std::shared_ptr<IDb>& db, std::size_t limit, std::size_t& total);

  // What the seller asked of one message.
  enum class Change { kDone, kMissing, kSending };

  // Starts a message's count of failed tries again (error_times 0, no last
  // error); it is tried at the next dispatch pass, as every queued message is.
  Change retry(const std::shared_ptr<IDb>& db, int id);

  // Deletes a queued message unsent. One a dispatch pass is sending now is
  // left alone (kSending): it may already be on its way.
  Change discard(const std::shared_ptr<IDb>& db, int id);

  // As claim, then deletes that entry's row and drops it from the list.
  bool take(const std::shared_ptr<IDb>& db, int type, MsgEntry& out);

  // Deletes the row with the entry's id, drops it from its type's list and
  // ends its claim.
  void remove(const std::shared_ptr<IDb>& db, const MsgEntry& entry);

  // Ids of the rows set aside as unreadable so far.
  std::set<int> setAside();

 private:
  MsgQueue() = default;

  std::unordered_map<int, std::list<MsgEntry>> queues_ GUARDED_BY(globalLock());  // guarded by globalLock()
  std::set<int> claimed_ GUARDED_BY(globalLock());                                // guarded by globalLock()
  std::set<int> unreadable_ GUARDED_BY(globalLock());                             // guarded by globalLock()
};

// The channel of a message type as the seller reads it (GBK): "站内信" for
// web messages, "邮件" for e-mails, "旺旺" for IM messages.
std::string msgTypeName(int type);

// Queues `text` as an e-mail (type 1) to the seller's own mailbox when
// "notice_type_email" is "1" and "notice_mailto" holds an address with "@";
// the sender is "email_sender" (may be empty). Otherwise does nothing.
void sellerNotice(const std::shared_ptr<IDb>& db, const std::string& text);

}  // namespace Quorvel
