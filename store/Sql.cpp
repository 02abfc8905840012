#include "store/Sql.h"

namespace Quorvel {

SQL::SQL(const std::string& sql) : sql_(sql), params_(std::make_shared<std::vector<IValue>>()) {}

void SQL::setSql(const std::string& sql) {
  sql_ = sql;
  // A fresh vector: a caller may still hold the old one from getParams.
  params_ = std::make_shared<std::vector<IValue>>();
}

std::shared_ptr<std::vector<IValue>> SQL::getParams() { return params_; }

std::string SQL::getSql(const std::shared_ptr<IDb>&) { return sql_; }

std::shared_ptr<ISQL> SQL::bind(IValue value) {
  params_->push_back(std::move(value));
  return shared_from_this();
}

std::shared_ptr<ISQL> SQL::bind(std::int32_t value) { return bind(IValue(value)); }

std::shared_ptr<ISQL> SQL::bind(const char* data, int length) {
  return bind(IValue(data, length < 0 ? 0 : static_cast<std::size_t>(length)));
}

std::shared_ptr<ISQL> SQL::bind(const std::string& value) { return bind(IValue(value)); }

std::shared_ptr<ISQL> SQL::bind(float value) { return bind(IValue(value)); }

std::shared_ptr<ISQL> SQL::bind(std::int64_t value) { return bind(IValue(value)); }

}  // namespace Quorvel
