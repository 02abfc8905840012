// ISQL / SQL: the text of one statement with `?` placeholders and the values
// bound to them, in placeholder order. Every bind returns the statement
// itself, so bindings chain:
//
//   db->execute(std::make_shared<SQL>("delete from `items` where `id`=?")->bind(id));
//
// A SQL is always held by shared pointer (make_shared) and used by one thread.
// setSql replaces the text and drops the bound values, so one object can run
// several statements one after the other.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "store/Value.h"

namespace Quorvel {

class IDb;

class ISQL {
 public:
  virtual ~ISQL() = default;

  virtual void setSql(const std::string& sql) = 0;
  // The bound values, shared with the statement (not a copy).
  virtual std::shared_ptr<std::vector<IValue>> getParams() = 0;
  virtual std::shared_ptr<ISQL> bind(IValue value) = 0;
  virtual std::string getSql(const std::shared_ptr<IDb>& db) = 0;
  virtual std::shared_ptr<ISQL> bind(std::int32_t value) = 0;
  virtual std::shared_ptr<ISQL> bind(const char* data, int length) = 0;  // a blob
  virtual std::shared_ptr<ISQL> bind(const std::string& value) = 0;
  virtual std::shared_ptr<ISQL> bind(float value) = 0;
  virtual std::shared_ptr<ISQL> bind(std::int64_t value) = 0;
};

class SQL : public ISQL, public std::enable_shared_from_this<SQL> {
 public:
  explicit SQL(const std::string& sql = std::string());

  void setSql(const std::string& sql) override;
  std::shared_ptr<std::vector<IValue>> getParams() override;
  std::shared_ptr<ISQL> bind(IValue value) override;
  std::string getSql(const std::shared_ptr<IDb>& db) override;
  std::shared_ptr<ISQL> bind(std::int32_t value) override;
  std::shared_ptr<ISQL> bind(const char* data, int length) override;
  std::shared_ptr<ISQL> bind(const std::string& value) override;
  std::shared_ptr<ISQL> bind(float value) override;
  std::shared_ptr<ISQL> bind(std::int64_t value) override;

 private:
  std::string sql_;
  std::shared_ptr<std::vector<IValue>> params_;
};

}  // namespace Quorvel
