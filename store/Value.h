// IValue: the tagged value that the database layer binds as a statement
// parameter and hands out as a fetched column value; DbRow: one fetched row,
// column name to value.
//
// A plain value type (copying copies the text, blob or map it holds). The
// accessors are strict: each answers only for its own kind (toString also
// for a blob) and raises Exception("Value Type Error!") for any other, so a
// column read with the wrong accessor is caught at once. Not thread-safe; a
// value belongs to whoever holds it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace Quorvel {

enum class ValueKind : std::uint8_t {
  Empty = 0,
  Int = 1,
  Short = 2,
  Float = 3,
  String = 4,
  Byte = 5,
  Double = 6,
  Int64 = 7,
  UInt = 8,
  UShort = 9,
  UInt64 = 10,
  Blob = 11,
  Map = 12,
};

class IValue;
using DbRow = std::map<std::string, IValue>;

class IValue {
 public:
  IValue() = default;
  IValue(const IValue& other);
  IValue(IValue&& other) noexcept;
  IValue& operator=(const IValue& other);
  IValue& operator=(IValue&& other) noexcept;

  explicit IValue(std::int32_t value) { set(value); }
  explicit IValue(std::int16_t value) { set(value); }
  explicit IValue(float value) { set(value); }
  explicit IValue(const std::string& value) { set(value); }
  explicit IValue(const char* value) { set(std::string(value)); }
  explicit IValue(char value) { set(value); }
  explicit IValue(double value) { set(value); }
  explicit IValue(std::int64_t value) { set(value); }
  explicit IValue(std::uint32_t value) { set(value); }
  explicit IValue(std::uint16_t value) { set(value); }
  explicit IValue(std::uint64_t value) { set(value); }
  IValue(const char* data, std::size_t length) { set(data, length); }
  explicit IValue(const std::map<std::string, IValue>& value) { set(value); }

  virtual ~IValue() = default;

  ValueKind kind() const { return kind_; }
  bool isEmpty() const { return kind_ == ValueKind::Empty; }

  virtual std::int32_t toInt() const;
  virtual std::int16_t toShort() const;
  virtual std::int64_t toInt64() const;
  virtual float toFloat() const;
  virtual double toDouble() const;
  virtual std::uint32_t toUInt() const;
  virtual std::uint16_t toUShort() const;
  virtual std::uint64_t toUInt64() const;
  // The text of a string value or the bytes of a blob.
  virtual std::string toString() const;
  virtual char toByte() const;
  virtual std::map<std::string, IValue> toMap() const;

  // Each setter drops what the value held before.
  virtual void set(const std::map<std::string, IValue>& value);
  virtual void set(const IValue& value);
  virtual void set(const std::string& value);
  virtual void set(char value);
  virtual void set(const char* data, std::size_t length);  // a blob of exactly `length` bytes
  virtual void set(std::uint64_t value);
  virtual void set(std::uint16_t value);
  virtual void set(std::uint32_t value);
  virtual void set(double value);
  virtual void set(float value);
  virtual void set(std::int64_t value);
  virtual void set(std::int16_t value);
  virtual void set(std::int32_t value);

  // Back to the empty kind.
  void reset();

 private:
  [[noreturn]] static void typeError();

  ValueKind kind_ = ValueKind::Empty;
  union {
    std::int32_t i32;
    std::int16_t i16;
    float f32;
    char byte;
    double f64;
    std::int64_t i64;
    std::uint32_t u32;
    std::uint16_t u16;
    std::uint64_t u64;
  } number_{};
  std::string bytes_;                                  // String and Blob
  std::unique_ptr<std::map<std::string, IValue>> map_;  // Map
};

}  // namespace Quorvel
