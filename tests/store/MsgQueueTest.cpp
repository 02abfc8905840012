#include "store/MsgQueue.h"

#include <cstdio>
#include <thread>

#include "base/Charset.h"
#include "store/BlackList.h"
#include "tests/store/StoreFixture.h"
#include "tests/support/FakeClock.h"

namespace Quorvel {
namespace {

class MsgQueueTest : public StoreFixture {
 protected:
  void SetUp() override {
    StoreFixture::SetUp();
    queue = MsgQueue::instance();
  }

  std::shared_ptr<MsgQueue> queue;
};

TEST_F(MsgQueueTest, EachTypeComesOutOldestFirstAndTakeDeletesTheRow) {
  testing::useDatabaseWallTime(std::make_shared<testing::FakeClock>(1700000000));
  int first = queue->add(getDb(), 1, "a@x.cn", "me", gbk("第一封"), "O1", "A1");
  queue->add(getDb(), 0, "web", "", "other type", "", "");
  int second = queue->add(getDb(), 1, "b@x.cn", "me", "second", "", "");
  EXPECT_GT(first, 0);

  MsgEntry entry;
  // Rows join the lists when a load sees them.
  EXPECT_FALSE(queue->peek(1, entry));
  queue->load(getDb());
  ASSERT_TRUE(queue->peek(1, entry));
  EXPECT_EQ(entry.id, first);
  EXPECT_EQ(entry.msg, gbk("第一封"));
  EXPECT_EQ(entry.error_times, 0);
  EXPECT_EQ(entry.create_time, 1700000000);
  EXPECT_FALSE(entry.none);

  ASSERT_TRUE(queue->take(getDb(), 1, entry));
  EXPECT_EQ(entry.id, first);
  ASSERT_TRUE(queue->take(getDb(), 1, entry));
  EXPECT_EQ(entry.id, second);
  EXPECT_FALSE(queue->take(getDb(), 1, entry));
  EXPECT_TRUE(entry.none);
  EXPECT_EQ(count("select count(*) as `num` from `msg_queue` where `type`=1"), 0);

  // What was taken stays taken after a reload; the other type is untouched.
  queue->load(getDb());
  EXPECT_FALSE(queue->peek(1, entry));
  ASSERT_TRUE(queue->peek(0, entry));
  EXPECT_EQ(entry.msg, "other type");
  EXPECT_EQ(entry.create_time, 1700000000);
}

TEST_F(MsgQueueTest, PendingSeesRowsOfOtherConnectionsButNeverType3) {
  queue->add(getDb(), 2, "buyer", "", "now", "", "");
  queue->add(getDb(), 3, "buyer", "", "waits for the chat window", "", "");
  otherConnection()->exec(
      "insert into `msg_queue` (`to`,`from`,`msg`,`type`,`error_times`,`create_time`,`order_id`,`alipay_id`) "
      "values ('x','y','z',0,2,0,'',''), ('x','y','z',3,0,0,'','')");
  EXPECT_EQ(queue->pending(getDb()), 2);
  MsgEntry entry;
  ASSERT_TRUE(queue->peek(0, entry));
  EXPECT_EQ(entry.error_times, 2);
}

TEST_F(MsgQueueTest, RemoveDropsTheEntryFromMemoryAndTable) {
  queue->add(getDb(), 0, "a", "", "1", "", "");
  int middle = queue->add(getDb(), 0, "b", "", "2", "", "");
  queue->add(getDb(), 0, "c", "", "3", "", "");
  queue->load(getDb());
  MsgEntry entry;
  entry.id = middle;
  entry.type = 0;
  queue->remove(getDb(), entry);
  queue->take(getDb(), 0, entry);
  queue->take(getDb(), 0, entry);
  EXPECT_EQ(entry.to, "c");
  EXPECT_EQ(queue->pending(getDb()), 0);
}

TEST_F(MsgQueueTest, SellerNoticeNeedsEmailOnAndAMailbox) {
  std::shared_ptr<SystemConfig> config = SystemConfig::instance();
  config->setMany(getDb(), {{"notice_type_email", "1"}, {"notice_mailto", "seller.example"}});
  sellerNotice(getDb(), "no mailbox");
  config->setMany(getDb(), {{"notice_type_email", "0"}, {"notice_mailto", "seller@example.cn"}});
  sellerNotice(getDb(), "e-mail off");
  config->set(getDb(), "notice_type_fetion", "1");
  sellerNotice(getDb(), "fetion selects nothing");
  EXPECT_EQ(queue->pending(getDb()), 0);

  config->setMany(getDb(), {{"notice_type_email", "1"}, {"email_sender", "Shop <shop@example.cn>"}});
  sellerNotice(getDb(), gbk("库存不足"));
  EXPECT_EQ(queue->pending(getDb()), 1);
  MsgEntry entry;
  ASSERT_TRUE(queue->peek(1, entry));
  EXPECT_EQ(entry.to, "seller@example.cn");
  EXPECT_EQ(entry.from, "Shop <shop@example.cn>");
  EXPECT_EQ(entry.msg, gbk("库存不足"));
  EXPECT_EQ(entry.order_id, "");
  EXPECT_EQ(queue->pending(getDb()), 1);
}

// A message queued inside a transaction that rolls back was never there; one
// whose transaction is still open is not handed out to anyone yet.
TEST_F(MsgQueueTest, OnlyCommittedMessagesAreEverHandedOut) {
  queue->load(getDb());
  auto db = getDb();
  db->begin();
  queue->add(getDb(), 1, "buyer@x.cn", "", "cards of an order that fails", "O1", "");
  db->rollback();
  db->begin();
  queue->add(getDb(), 1, "buyer@x.cn", "", "cards of an order still in flight", "O2", "");

  // The dispatcher, on its own thread and connection, is handed neither:
  // not from the lists as they stand, nor after reloading them.
  bool handed = true;
  int seen = -1;
  std::thread dispatcher([&] {
    MsgEntry entry;
    handed = queue->peek(1, entry);
    seen = queue->pending(getDb());
    handed = handed || queue->peek(1, entry);
    releaseDb();
  });
  dispatcher.join();
  EXPECT_FALSE(handed);
  EXPECT_EQ(seen, 0);

  db->commit();
  MsgEntry entry;
  std::thread later([&] {
    seen = queue->pending(getDb());
    handed = queue->peek(1, entry);
    releaseDb();
  });
  later.join();
  EXPECT_EQ(seen, 1);
  ASSERT_TRUE(handed);
  EXPECT_EQ(entry.order_id, "O2");
}

TEST_F(MsgQueueTest, AClaimedMessageIsHandedToNoOtherPassUntilReleased) {
  queue->add(getDb(), 0, "a", "", "first", "", "");
  queue->add(getDb(), 0, "b", "", "second", "", "");
  queue->load(getDb());
  MsgEntry mine, theirs;
  ASSERT_TRUE(queue->claim(0, mine));
  EXPECT_EQ(mine.msg, "first");
  // Another pass, even after reloading, gets the next one.
  queue->load(getDb());
  ASSERT_TRUE(queue->claim(0, theirs));
  EXPECT_EQ(theirs.msg, "second");
  EXPECT_FALSE(queue->claim(0, theirs));
  EXPECT_FALSE(queue->take(getDb(), 0, theirs));

  queue->release(mine);
  ASSERT_TRUE(queue->take(getDb(), 0, theirs));
  EXPECT_EQ(theirs.id, mine.id);
  EXPECT_EQ(count("select count(*) as `num` from `msg_queue`"), 1);
}

// Rows edited in from outside that the program cannot read are set aside,
// named once, and everything else still goes out.
TEST_F(MsgQueueTest, UnreadableRowsAreSetAsideAndTheRestIsStillHandedOut) {
  queue->add(getDb(), 1, "before@x.cn", "", "readable", "", "");
  auto other = otherConnection();
  other->exec(
      "insert into `msg_queue` (`to`,`from`,`msg`,`type`,`error_times`,`create_time`,`order_id`,`alipay_id`) "
      "values ('emoji@x.cn','',char(0x1F600),1,0,0,'','')");
  other->exec(
      "insert into `msg_queue` (`to`,`from`,`msg`,`type`,`error_times`,`create_time`,`order_id`,`alipay_id`) "
      "values ('null@x.cn',NULL,'x',1,0,0,'','')");
  other->exec(
      "insert into `msg_queue` (`to`,`from`,`msg`,`type`,`error_times`,`create_time`,`order_id`,`alipay_id`) "
      "values ('typed@x.cn','','x','one',0,0,'','')");
  queue->add(getDb(), 1, "after@x.cn", "", "readable too", "", "");

  EXPECT_EQ(queue->pending(getDb()), 2);
  EXPECT_EQ(queue->setAside().size(), 3u);
  std::vector<std::string> handedOut;
  MsgEntry entry;
  while (queue->take(getDb(), 1, entry)) handedOut.push_back(entry.to);
  EXPECT_EQ(handedOut, (std::vector<std::string>{"before@x.cn", "after@x.cn"}));
  // The unreadable rows stay in the table for the seller to mend or delete.
  EXPECT_EQ(count("select count(*) as `num` from `msg_queue`"), 3);
  EXPECT_EQ(queue->pending(getDb()), 0);
}

TEST(BlackList, LinesAreSplitOnAnyBreakAndTrimmedOfSpaces) {
  BlackList list("alice\r\n\r\n  bob \r\n\r\n" + gbk("张三") + "\r\n");
  EXPECT_EQ(list.names(), (std::vector<std::string>{"alice", "bob", gbk("张三")}));
  EXPECT_TRUE(list.contains("bob"));
  EXPECT_TRUE(list.contains(gbk("张三")));
  EXPECT_FALSE(list.contains("Alice"));
  EXPECT_FALSE(list.contains(""));
  EXPECT_FALSE(list.contains("bo"));

  EXPECT_TRUE(BlackList("").names().empty());
  EXPECT_FALSE(BlackList("").contains(""));
  EXPECT_EQ(BlackList("\nx").names(), (std::vector<std::string>{"", "x"}));
  EXPECT_EQ(BlackList("\tx \n").names(), (std::vector<std::string>{"\tx"}));
}

// What the seller may do from the queue view: a message being sent is
// neither retried nor deleted, one that is gone is named as gone, and a
// retry starts the count of failed tries again.
TEST_F(MsgQueueTest, TheSellerRetriesAndDeletesOnlyMessagesNoPassHolds) {
  const int first = queue->add(getDb(), 2, "im1", "shop", "one", "O1", "");
  const int second = queue->add(getDb(), 1, "a@x.cn", "shop", "two", "", "");
  const int third = queue->add(getDb(), 0, "web", "", "three", "", "");
  queue->load(getDb());

  MsgEntry held;
  ASSERT_TRUE(queue->claim(2, held));
  queue->failed(getDb(), held, gbk("旺旺未能发送"));
  ASSERT_TRUE(queue->claim(2, held));  // the failure ended the claim
  EXPECT_EQ(held.error_times, 1);

  std::size_t total = 0;
  std::vector<MsgEntry> listed = queue->waiting(getDb(), 2, total);
  EXPECT_EQ(total, 3u);
  ASSERT_EQ(listed.size(), 2u);  // the oldest, whatever their type
  EXPECT_EQ(listed[0].id, first);
  EXPECT_TRUE(listed[0].sending);
  EXPECT_EQ(listed[0].last_error, gbk("旺旺未能发送"));
  EXPECT_EQ(listed[1].id, second);
  EXPECT_FALSE(listed[1].sending);

  EXPECT_EQ(queue->discard(getDb(), first), MsgQueue::Change::kSending);
  EXPECT_EQ(queue->retry(getDb(), first), MsgQueue::Change::kSending);
  queue->failed(getDb(), held, "again");
  EXPECT_EQ(queue->retry(getDb(), first), MsgQueue::Change::kDone);
  listed = queue->waiting(getDb(), 10, total);
  EXPECT_EQ(listed[0].error_times, 0);
  EXPECT_EQ(listed[0].last_error, "");

  EXPECT_EQ(queue->discard(getDb(), third), MsgQueue::Change::kDone);
  EXPECT_EQ(queue->discard(getDb(), third), MsgQueue::Change::kMissing);
  EXPECT_EQ(queue->retry(getDb(), third), MsgQueue::Change::kMissing);
  EXPECT_EQ(queue->discard(getDb(), 4242), MsgQueue::Change::kMissing);
  MsgEntry web;
  EXPECT_FALSE(queue->claim(0, web));  // the deleted one is never handed out
  EXPECT_EQ(count("select count(*) as `num` from `msg_queue`"), 2);
}

TEST_F(MsgQueueTest, BlackListReadsTheSetting) {
  SystemConfig::instance()->set(getDb(), "black_list", "carol\ndave");
  EXPECT_TRUE(BlackList().contains("dave"));
  SystemConfig::instance()->set(getDb(), "black_list", "");
  EXPECT_FALSE(BlackList().contains("dave"));
}

}  // namespace
}  // namespace Quorvel
