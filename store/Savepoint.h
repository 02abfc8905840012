// Savepoint: a group of statements on one connection that takes effect whole
// or not at all. Outside a transaction it is one transaction of its own; inside
// the caller's transaction (the delivery of an order) it nests, and its work
// then stands or falls with that transaction.
//
// Made on the stack by the thread that owns the connection:
//
//   Savepoint unit(getDb());
//   ... statements ...
//   unit.release();  // without it, the destructor undoes the statements
#pragma once

#include <memory>

namespace Quorvel {

class IDb;

class Savepoint {
 public:
  // Opens the savepoint (raises DbException when it cannot).
  explicit Savepoint(std::shared_ptr<IDb> db);
  // Undoes everything since the savepoint unless release() ran.
  ~Savepoint();
  Savepoint(const Savepoint&) = delete;
  Savepoint& operator=(const Savepoint&) = delete;

  // Keeps the work (commits it when no outer transaction is open).
  void release();

 private:
  std::shared_ptr<IDb> db_;
  bool open_ = true;
};

}  // namespace Quorvel
