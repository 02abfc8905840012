// Deamon: the delivery daemon. While the seller is logged in to the
// marketplace its order worker looks for paid orders and delivers them; its
// message worker sends the queued messages whether or not the seller is
// logged in. A supervisor thread replaces a worker that has shown no sign of
// life (heartbeat) for more than 120 seconds: the stale worker is asked to
// stop and detached, and ends at its next pause.
//
// The program uses the one process-wide instance (instance()), which it
// installs at start-up built with its Env, and starts once; its threads are
// never stopped and end with the process. Tests build their own instances
// with an Env holding a fake clock; such an instance stops its threads and
// waits for them when it is destroyed. Every pause runs on the Env's clock.
//
// Any thread may call start, setRunning, running and state. The running flag,
// the heartbeats, the thread handles and the installed steps are guarded by
// the global lock. Threads: the supervisor owns the worker handles; each
// worker owns its own database connection, kept across its ticks or passes
// (reset for the next after each: resetDbForNextAction) and released when
// the worker ends.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <stop_token>
#include <string>
#include <thread>

#include "base/Clock.h"
#include "base/Env.h"
#include "base/GlobalLock.h"
#include "base/Mutex.h"
#include "delivery/MessageDispatch.h"
#include "delivery/OrderPipeline.h"

namespace Quorvel {

// A snapshot of the daemon for the status page and for tests.
struct DeamonState {
  bool running = false;
  std::int64_t orderHeartbeat = 0;    // 0 = no tick yet
  std::int64_t messageHeartbeat = 0;  // 0 = no pass yet
  bool supervisor = false;            // a supervisor was started
  bool orderWorker = false;           // an order worker is current
  bool messageWorker = false;         // a message worker is current
};

class Deamon {
 public:
  // A worker whose heartbeat is older than this is replaced.
  static constexpr std::int64_t kStaleSeconds = 120;
  // The supervisor's pause between two checks.
  static constexpr std::int64_t kSuperviseSeconds = 10;

  // The process-wide daemon (processWide), built on first use (use it before
  // any thread starts: it seeds the Registry). The program installs its own,
  // built with the program's Env; one built on first use runs on a default
  // Env (the system clock).
  static std::shared_ptr<Deamon> instance();
  static std::shared_ptr<Deamon> makeProcessWide();

  // Stopped, no threads; seeds the Registry keys "checkLastTime" and
  // "sendMsgTime" with 0 and "account" with empty text.
  explicit Deamon(const Env& env);
  Deamon(const Deamon&) = delete;
  Deamon& operator=(const Deamon&) = delete;
  virtual ~Deamon();

  // Starts the supervisor; a second call does nothing.
  void start();

  // Sets or clears the running flag: order ticks do their work only while it
  // is set. The login action clears it when a login starts and sets it after
  // a successful one.
  void setRunning(bool running);
  bool running();

  DeamonState state();

  // Installs the steps the workers run (an empty pointer installs the idle
  // ones). Takes effect at the next tick or pass.
  void setOrderPipeline(std::shared_ptr<OrderPipeline> pipeline);
  void setMessageDispatch(std::shared_ptr<MessageDispatch> dispatch);

  // Holds the workers: waits until the tick and the pass in progress have
  // ended, and from then on ticks and passes only refresh their heartbeat
  // until resume(). For a restore of the database, which must not meet a
  // delivery halfway. Any thread but the workers'.
  void hold();
  void resume();
  bool held() const { return held_.load(); }

  // One check of the supervisor: replaces a stale worker, starts a missing one.
  void superviseOnce();

  // One order tick: refreshes the heartbeat and, while running, records
  // "checkLastTime" and runs the pipeline. A lost login clears the flag and
  // tells the seller when "notice_service_stop" is "1". While the disk does
  // not take writes (store/StorageHealth.h) the tick first tries a small
  // write and delivers nothing until one succeeds.
  void checkOrders();

  // One cycle of each worker: the tick or pass, then the configured pause.
  // Failures are dropped. The worker threads loop over these until stopped.
  // A pass is handed the worker's stop token and ends between two messages
  // once its worker has been replaced.
  void orderCycle(std::stop_token stop);
  void messageCycle(std::stop_token stop);

  // Threads of this daemon that have not ended yet, abandoned ones included.
  int liveThreads();

  // Stops every thread of this daemon and waits until all have ended
  // (abandoned workers included). Not for the process-wide instance.
  void stopAndWait();

 private:
  using ThreadPtr = std::shared_ptr<std::jthread>;
  using Body = void (Deamon::*)(std::stop_token);

  void supervise(std::stop_token stop);
  void orderWorker(std::stop_token stop);
  void messageWorker(std::stop_token stop);

  // Caller holds the global lock.
  void checkWorker(std::int64_t& heartbeat, ThreadPtr& handle, Body body) REQUIRES(globalLock());
  ThreadPtr launch(Body body);
  // Runs `work`, dropping its failures, then pauses as `pauseKey` says.
  void cycle(const std::function<void()>& work, const std::string& pauseKey, std::stop_token stop);
  // The configured pause for `key`: empty counts as "10", read with atoi,
  // and never less than one second, so that a setting of "0" or "abc"
  // cannot turn a worker into a loop that never pauses.
  std::int64_t pauseSeconds(const std::string& key);

  const std::shared_ptr<Clock> clock_;

  // The running flag. Written under the global lock (so that a tick that
  // holds it sees the flag in order with its other state) and read without
  // it: the status shown to the seller never waits on a login.
  std::atomic<bool> running_{false};
  ThreadPtr supervisor_ GUARDED_BY(globalLock());                      // guarded by globalLock()
  ThreadPtr orderThread_ GUARDED_BY(globalLock());                     // guarded by globalLock()
  ThreadPtr messageThread_ GUARDED_BY(globalLock());                   // guarded by globalLock()
  const ThreadPtr empty_;                     // always empty
  std::int64_t messageHeartbeat_ GUARDED_BY(globalLock()) = 0;         // guarded by globalLock()
  std::int64_t orderHeartbeat_ GUARDED_BY(globalLock()) = 0;           // guarded by globalLock()
  std::shared_ptr<OrderPipeline> pipeline_ GUARDED_BY(globalLock());   // guarded by globalLock()
  std::shared_ptr<MessageDispatch> dispatch_ GUARDED_BY(globalLock());  // guarded by globalLock()

  // Held shared by each tick and pass while it works, exclusively by hold()
  // while it waits for them to end.
  SharedMutex workMutex_;
  std::atomic<bool> held_{false};  // written by hold/resume, read by the workers

  Mutex lifeMutex_;
  std::condition_variable_any threadEnded_;  // notified under lifeMutex_
  int liveThreads_ GUARDED_BY(lifeMutex_) = 0;  // guarded by lifeMutex_
};

}  // namespace Quorvel
