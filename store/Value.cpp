#include "store/Value.h"

#include "base/Exception.h"

namespace Quorvel {

IValue::IValue(const IValue& other) { set(other); }

IValue::IValue(IValue&& other) noexcept
    : kind_(other.kind_), number_(other.number_), bytes_(std::move(other.bytes_)), map_(std::move(other.map_)) {
  other.reset();
}

IValue& IValue::operator=(const IValue& other) {
  set(other);
  return *this;
}

IValue& IValue::operator=(IValue&& other) noexcept {
  if (this != &other) {
    kind_ = other.kind_;
    number_ = other.number_;
    bytes_ = std::move(other.bytes_);
    map_ = std::move(other.map_);
    other.reset();
  }
  return *this;
}

void IValue::typeError() { throw Exception("Value Type Error!"); }

void IValue::reset() {
  kind_ = ValueKind::Empty;
  number_.u64 = 0;
  bytes_.clear();
  bytes_.shrink_to_fit();
  map_.reset();
}

std::int32_t IValue::toInt() const {
  if (kind_ != ValueKind::Int) typeError();
  return number_.i32;
}

std::int16_t IValue::toShort() const {
  if (kind_ != ValueKind::Short) typeError();
  return number_.i16;
}

std::int64_t IValue::toInt64() const {
  if (kind_ != ValueKind::Int64) typeError();
  return number_.i64;
}

float IValue::toFloat() const {
  if (kind_ != ValueKind::Float) typeError();
  return number_.f32;
}

double IValue::toDouble() const {
  if (kind_ != ValueKind::Double) typeError();
  return number_.f64;
}

std::uint32_t IValue::toUInt() const {
  if (kind_ != ValueKind::UInt) typeError();
  return number_.u32;
}

std::uint16_t IValue::toUShort() const {
  if (kind_ != ValueKind::UShort) typeError();
  return number_.u16;
}

std::uint64_t IValue::toUInt64() const {
  if (kind_ != ValueKind::UInt64) typeError();
  return number_.u64;
}

std::string IValue::toString() const {
  if (kind_ != ValueKind::String && kind_ != ValueKind::Blob) typeError();
  return bytes_;
}

char IValue::toByte() const {
  if (kind_ != ValueKind::Byte) typeError();
  return number_.byte;
}

std::map<std::string, IValue> IValue::toMap() const {
  if (kind_ != ValueKind::Map) typeError();
  return *map_;
}

void IValue::set(const std::map<std::string, IValue>& value) {
  // Copy first: `value` may be this value's own map.
  auto copy = std::make_unique<std::map<std::string, IValue>>(value);
  reset();
  kind_ = ValueKind::Map;
  map_ = std::move(copy);
}

void IValue::set(const IValue& value) {
  if (this == &value) return;
  switch (value.kind_) {
    case ValueKind::Map:
      set(*value.map_);
      return;
    case ValueKind::String:
    case ValueKind::Blob: {
      std::string copy = value.bytes_;
      reset();
      bytes_ = std::move(copy);
      break;
    }
    default:
      reset();
      break;
  }
  kind_ = value.kind_;
  number_ = value.number_;
}

void IValue::set(const std::string& value) {
  std::string copy = value;
  reset();
  kind_ = ValueKind::String;
  bytes_ = std::move(copy);
}

void IValue::set(const char* data, std::size_t length) {
  std::string copy(data, length);
  reset();
  kind_ = ValueKind::Blob;
  bytes_ = std::move(copy);
}

void IValue::set(char value) {
  reset();
  kind_ = ValueKind::Byte;
  number_.byte = value;
}

void IValue::set(std::uint64_t value) {
  reset();
  kind_ = ValueKind::UInt64;
  number_.u64 = value;
}

void IValue::set(std::uint16_t value) {
  reset();
  kind_ = ValueKind::UShort;
  number_.u16 = value;
}

void IValue::set(std::uint32_t value) {
  reset();
  kind_ = ValueKind::UInt;
  number_.u32 = value;
}

void IValue::set(double value) {
  reset();
  kind_ = ValueKind::Double;
  number_.f64 = value;
}

void IValue::set(float value) {
  reset();
  kind_ = ValueKind::Float;
  number_.f32 = value;
}

void IValue::set(std::int64_t value) {
  reset();
  kind_ = ValueKind::Int64;
  number_.i64 = value;
}

void IValue::set(std::int16_t value) {
  reset();
  kind_ = ValueKind::Short;
  number_.i16 = value;
}

void IValue::set(std::int32_t value) {
  reset();
  kind_ = ValueKind::Int;
  number_.i32 = value;
}

}  // namespace Quorvel
