#include "delivery/Deamon.h"

#include <algorithm>
#include <cstdlib>
#include <functional>

#include "base/Charset.h"
#include "base/Exception.h"
#include "base/GlobalLock.h"
#include "base/ProcessWide.h"
#include "base/Registry.h"
#include "market/AuthException.h"
#include "store/Db.h"
#include "store/MsgQueue.h"
#include "store/StorageHealth.h"
#include "store/WriteTransaction.h"
#include "store/SystemConfig.h"

namespace Quorvel {

std::shared_ptr<Deamon> Deamon::instance() { return processWide<Deamon>(); }

std::shared_ptr<Deamon> Deamon::makeProcessWide() { return std::make_shared<Deamon>(Env()); }

Deamon::Deamon(const Env& env)
    : clock_(env.sharedClock()), pipeline_(idleOrderPipeline()), dispatch_(idleMessageDispatch()) {
  std::shared_ptr<Registry> registry = Registry::instance();
  registry->set<std::int64_t>("checkLastTime", 0);
  registry->set<std::string>("account", std::string());
  registry->set<std::int64_t>("sendMsgTime", 0);
}

Deamon::~Deamon() { stopAndWait(); }

void Deamon::start() {
  GlobalGuard hold;
  if (supervisor_ != empty_) return;
  supervisor_ = launch(&Deamon::supervise);
}

void Deamon::setRunning(bool running) {
  GlobalGuard hold;
  running_.store(running);
}

bool Deamon::running() { return running_.load(); }

DeamonState Deamon::state() {
  GlobalGuard hold;
  DeamonState state;
  state.running = running_.load();
  state.orderHeartbeat = orderHeartbeat_;
  state.messageHeartbeat = messageHeartbeat_;
  state.supervisor = supervisor_ != empty_;
  state.orderWorker = orderThread_ != empty_;
  state.messageWorker = messageThread_ != empty_;
  return state;
}

void Deamon::setOrderPipeline(std::shared_ptr<OrderPipeline> pipeline) {
  GlobalGuard hold;
  pipeline_ = pipeline ? std::move(pipeline) : idleOrderPipeline();
}

void Deamon::setMessageDispatch(std::shared_ptr<MessageDispatch> dispatch) {
  GlobalGuard hold;
  dispatch_ = dispatch ? std::move(dispatch) : idleMessageDispatch();
}

void Deamon::superviseOnce() {
  {
    GlobalGuard hold;
    checkWorker(orderHeartbeat_, orderThread_, &Deamon::orderWorker);
  }
  {
    GlobalGuard hold;
    checkWorker(messageHeartbeat_, messageThread_, &Deamon::messageWorker);
  }
}

void Deamon::checkWorker(std::int64_t& heartbeat, ThreadPtr& handle, Body body) {
  // A heartbeat in the future (the clock was set back) does not count as stale.
  if (heartbeat > 0 && clock_->now() - heartbeat > kStaleSeconds && handle != empty_) {
    // Abandoned, not joined: it may finish the work it is in, and ends at
    // its next pause.
    handle->request_stop();
    handle->detach();
    heartbeat = 0;
    handle = empty_;
  }
  if (handle == empty_) handle = launch(body);
}

Deamon::ThreadPtr Deamon::launch(Body body) {
  {
    MutexLock hold(lifeMutex_);
    ++liveThreads_;
  }
  try {
    return std::make_shared<std::jthread>([this, body](std::stop_token stop) {
      (this->*body)(stop);
      // The last touch of this object: stopAndWait returns only after the
      // lock is released here.
      MutexLock hold(lifeMutex_);
      --liveThreads_;
      threadEnded_.notify_all();
    });
  } catch (...) {
    MutexLock hold(lifeMutex_);
    --liveThreads_;
    throw;
  }
}

void Deamon::supervise(std::stop_token stop) {
  while (!stop.stop_requested()) {
    try {
      superviseOnce();
    } catch (const std::exception&) {
      // A thread that could not be created is tried again next cycle.
    }
    try {
      clock_->sleepFor(kSuperviseSeconds, stop);
    } catch (const std::exception&) {
    }
  }
}

void Deamon::hold() {
  held_.store(true);
  // Once the lock is ours, every tick and pass that began before has ended;
  // those that begin later see the flag.
  WriterLock waited(workMutex_);
}

void Deamon::resume() { held_.store(false); }

namespace {

// A small write that must reach the disk: the database's user version
// written again with its own value.
bool writesWork(const std::shared_ptr<IDb>& db) {
  try {
    WriteTransaction probe(db);
    auto rows = db->query("pragma user_version");
    const int version = rows->next() ? rows->intAt(0) : 0;
    rows.reset();
    db->exec("pragma user_version=" + std::to_string(version));
    probe.commit();
    return true;
  } catch (Exception) {
    return false;
  }
}

}  // namespace

void Deamon::checkOrders() {
  const std::int64_t now = clock_->now();
  std::shared_ptr<OrderPipeline> pipeline;
  {
    GlobalGuard hold;
    orderHeartbeat_ = now;
    if (running_.load()) {
      Registry::instance()->set<std::int64_t>("checkLastTime", now);
      pipeline = pipeline_;
    }
  }
  ReaderLock working(workMutex_);
  if (held_.load()) return;
  // A delivery that could not write its reservation or its finish would be
  // retried at every tick; while the disk refuses writes, nothing starts.
  // The probe runs logged in or not, so that the status page learns when
  // writes work again.
  if (storageHealth().failing() && !writesWork(getDb())) return;
  if (!pipeline) return;
  std::shared_ptr<IDb> db = getDb();
  std::shared_ptr<SystemConfig> config = SystemConfig::instance();
  try {
    pipeline->fetchPaidOrders(db);
    pipeline->parseNewOrders(db);
    pipeline->deliverOrders(db);
    if (config->get("comment_enable") == "1") {
      pipeline->rateBuyers(config->get("comment_msg"), config->number("comment_timeout"));
    }
  } catch (AuthException e) {
    // The marketplace session is gone: stop until the next login.
    setRunning(false);
    if (config->get("notice_service_stop") == "1") {
      sellerNotice(db, gbk("Vendara提醒你：您的帐号【") + config->get("taobao_user") + gbk("】已经停止运行"));
    }
  } catch (Exception e) {
    // The remaining steps run again at the next tick, which starts over from
    // what the database holds.
  }
}

std::int64_t Deamon::pauseSeconds(const std::string& key) {
  std::string text;
  try {
    text = SystemConfig::instance()->get(key);
  } catch (Exception e) {
    // Settings that cannot be read give the default pause rather than a
    // worker that spins without one.
  }
  if (text.empty()) text = "10";
  return std::max(std::atoi(text.c_str()), 1);
}

void Deamon::cycle(const std::function<void()>& work, const std::string& pauseKey, std::stop_token stop) {
  try {
    work();
  } catch (const std::exception& e) {
    // Dropped (the Exception family included). The pause still follows, so
    // work that keeps failing does not turn into a loop that hammers the
    // marketplace or the mail servers.
  }
  try {
    clock_->sleepFor(pauseSeconds(pauseKey), stop);
  } catch (const std::exception& e) {
    // The next cycle starts at once.
  }
}

void Deamon::orderCycle(std::stop_token stop) {
  cycle(
      [this] {
        checkOrders();
        resetDbForNextAction();  // the next tick starts clean on the same connection
      },
      "check_order_timeout", stop);
}

void Deamon::messageCycle(std::stop_token stop) {
  cycle(
      [this, stop] {
        std::shared_ptr<MessageDispatch> dispatch;
        {
          GlobalGuard hold;
          messageHeartbeat_ = clock_->now();
          dispatch = dispatch_;
        }
        ReaderLock working(workMutex_);
        if (held_.load()) return;
        dispatch->sendMessages(stop);
        resetDbForNextAction();
      },
      "check_msg_timeout", stop);
}

void Deamon::orderWorker(std::stop_token stop) {
  while (!stop.stop_requested()) orderCycle(stop);
  releaseDb();
}

void Deamon::messageWorker(std::stop_token stop) {
  while (!stop.stop_requested()) messageCycle(stop);
  releaseDb();
}

int Deamon::liveThreads() {
  MutexLock hold(lifeMutex_);
  return liveThreads_;
}

void Deamon::stopAndWait() {
  ThreadPtr supervisor;
  {
    GlobalGuard hold;
    supervisor.swap(supervisor_);
  }
  // The supervisor first, so that it starts no worker after this point.
  if (supervisor) {
    supervisor->request_stop();
    supervisor->join();
  }
  ThreadPtr workers[2];
  {
    GlobalGuard hold;
    workers[0].swap(orderThread_);
    workers[1].swap(messageThread_);
  }
  for (ThreadPtr& worker : workers) {
    if (!worker) continue;
    worker->request_stop();
    worker->detach();
  }
  MutexLock hold(lifeMutex_);
  threadEnded_.wait(lifeMutex_, [this]() REQUIRES(lifeMutex_) { return liveThreads_ == 0; });
}

}  // namespace Quorvel
