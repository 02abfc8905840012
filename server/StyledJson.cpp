#include "server/StyledJson.h"

#include <json/writer.h>

#include <cstdio>
#include <vector>

#include "base/Exception.h"

namespace Quorvel {

namespace {

constexpr unsigned kIndentSize = 3;
constexpr unsigned kRightMargin = 74;

// A GBK character is one byte below 0x80 (or 0x80 itself), or a lead byte
// followed by a trail byte. Trail bytes include the ASCII codes of \ [ ] ^ { |.
bool isGbkLead(unsigned char c) { return c >= 0x81 && c <= 0xFE; }
bool isGbkTrail(unsigned char c) { return c >= 0x40 && c <= 0xFE && c != 0x7F; }

// Appends the bytes [begin, end) as a JSON string in quotes, stepping over
// whole GBK characters (see quoteJsonString). Plain runs are copied at once.
void appendQuoted(std::string& out, const char* begin, const char* end) {
  out.reserve(out.size() + static_cast<std::size_t>(end - begin) + 2);
  out += '"';
  const char* plain = begin;
  auto flush = [&](const char* upTo) {
    out.append(plain, static_cast<std::size_t>(upTo - plain));
  };
  for (const char* p = begin; p < end; ++p) {
    const unsigned char c = static_cast<unsigned char>(*p);
    if (isGbkLead(c)) {
      // A two-byte character is copied whole: its trail byte may have the
      // code of a backslash, and escaping it would corrupt the character.
      if (p + 1 >= end || !isGbkTrail(static_cast<unsigned char>(p[1]))) {
        // A lone lead byte would pair with the next byte written, which may be
        // the backslash of an escape, and turn into another character.
        throw Exception("a GBK lead byte without its second byte", 1);
      }
      ++p;
      continue;
    }
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    flush(p);
    plain = p + 1;
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\b': out += "\\b"; break;
      case '\f': out += "\\f"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: {
        char escaped[8];
        std::snprintf(escaped, sizeof escaped, "\\u%04x", c);  // jsoncpp writes lower case
        out += escaped;
      }
    }
  }
  flush(end);
  out += '"';
}

// Builds the document in one pass, like StyledWriter: an array of scalars is
// first rendered value by value into `childValues_` to decide whether it fits
// on one line.
class StyledBuilder {
 public:
  std::string write(const Json::Value& root) {
    document_.reserve(4096);
    writeValue(root);
    document_ += '\n';
    return std::move(document_);
  }

 private:
  void writeValue(const Json::Value& value) {
    switch (value.type()) {
      case Json::nullValue:
        pushValue("null");
        break;
      case Json::intValue:
        pushValue(Json::valueToString(value.asLargestInt()));
        break;
      case Json::uintValue:
        pushValue(Json::valueToString(value.asLargestUInt()));
        break;
      case Json::realValue:
        pushValue(Json::valueToString(value.asDouble()));
        break;
      case Json::stringValue: {
        const char* begin = nullptr;
        const char* end = nullptr;
        if (!value.getString(&begin, &end)) {
          pushValue("");
        } else if (addChildValues_) {
          std::string quoted;
          appendQuoted(quoted, begin, end);
          childValues_.push_back(std::move(quoted));
        } else {
          appendQuoted(document_, begin, end);
        }
        break;
      }
      case Json::booleanValue:
        pushValue(value.asBool() ? "true" : "false");
        break;
      case Json::arrayValue:
        writeArrayValue(value);
        break;
      case Json::objectValue:
        writeObjectValue(value);
        break;
    }
  }

  void writeObjectValue(const Json::Value& value) {
    // The members in map order: sorted by bytes, as StyledWriter lists them.
    if (value.empty()) {
      pushValue("{}");
      return;
    }
    writeWithIndent("{");
    indent();
    const auto last = value.end();
    for (auto member = value.begin(); member != last;) {
      const char* nameEnd = nullptr;
      const char* name = member.memberName(&nameEnd);
      writeIndent();
      appendQuoted(document_, name, nameEnd);
      document_ += " : ";
      writeValue(*member);
      if (++member != last) document_ += ',';
    }
    unindent();
    writeWithIndent("}");
  }

  void writeArrayValue(const Json::Value& value) {
    Json::ArrayIndex size = value.size();
    if (size == 0) {
      pushValue("[]");
      return;
    }
    if (isMultilineArray(value)) {
      writeWithIndent("[");
      indent();
      bool hasChildValues = !childValues_.empty();
      for (Json::ArrayIndex index = 0; index < size; ++index) {
        if (hasChildValues) {
          writeWithIndent(childValues_[index]);
        } else {
          writeIndent();
          writeValue(value[index]);
        }
        if (index + 1 < size) document_ += ',';
      }
      unindent();
      writeWithIndent("]");
    } else {
      document_ += "[ ";
      for (Json::ArrayIndex index = 0; index < size; ++index) {
        if (index > 0) document_ += ", ";
        document_ += childValues_[index];
      }
      document_ += " ]";
    }
  }

  bool isMultilineArray(const Json::Value& value) {
    Json::ArrayIndex size = value.size();
    bool multiLine = size * 3 >= kRightMargin;
    childValues_.clear();
    for (Json::ArrayIndex index = 0; index < size && !multiLine; ++index) {
      const Json::Value& child = value[index];
      multiLine = (child.isArray() || child.isObject()) && !child.empty();
    }
    if (!multiLine) {
      childValues_.reserve(size);
      addChildValues_ = true;
      Json::ArrayIndex lineLength = 4 + (size - 1) * 2;  // "[ " + ", " * n + " ]"
      for (Json::ArrayIndex index = 0; index < size; ++index) {
        writeValue(value[index]);
        lineLength += static_cast<Json::ArrayIndex>(childValues_[index].length());
      }
      addChildValues_ = false;
      multiLine = lineLength >= kRightMargin;
    }
    return multiLine;
  }

  void pushValue(const std::string& text) {
    if (addChildValues_) {
      childValues_.push_back(text);
    } else {
      document_ += text;
    }
  }

  void writeIndent() {
    if (!document_.empty()) {
      char last = document_.back();
      if (last == ' ') return;  // already indented
      if (last != '\n') document_ += '\n';
    }
    document_ += indentString_;
  }

  void writeWithIndent(const std::string& text) {
    writeIndent();
    document_ += text;
  }

  void indent() { indentString_ += std::string(kIndentSize, ' '); }
  void unindent() { indentString_.resize(indentString_.size() - kIndentSize); }

  std::string document_;
  std::string indentString_;
  std::vector<std::string> childValues_;
  bool addChildValues_ = false;
};

}  // namespace

std::string quoteJsonString(const std::string& text) {
  std::string out;
  appendQuoted(out, text.data(), text.data() + text.size());
  return out;
}

void appendJsonString(std::string& out, const std::string& text) {
  appendQuoted(out, text.data(), text.data() + text.size());
}

std::string styledJson(const Json::Value& value) { return StyledBuilder().write(value); }

}  // namespace Quorvel
