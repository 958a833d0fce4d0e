#include "tools/session_proto/json_locate.h"

#include <cstdint>

namespace session_proto {
namespace {

using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;

constexpr int kMaxDepth = 100;

std::string Join(const std::string& path, const std::string& name) {
  return path.empty() ? name : path + "." + name;
}

const FieldDescriptor* FindField(const Descriptor* type, const std::string& key) {
  if (type == nullptr) return nullptr;
  if (const FieldDescriptor* field = type->FindFieldByName(key)) return field;
  for (int i = 0; i < type->field_count(); ++i) {
    if (type->field(i)->json_name() == key) return type->field(i);
  }
  return nullptr;
}

void AppendUtf8(uint32_t code_point, std::string* out) {
  if (code_point < 0x80) {
    out->push_back(static_cast<char>(code_point));
  } else if (code_point < 0x800) {
    out->push_back(static_cast<char>(0xc0 | (code_point >> 6)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3f)));
  } else if (code_point < 0x10000) {
    out->push_back(static_cast<char>(0xe0 | (code_point >> 12)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3f)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3f)));
  } else {
    out->push_back(static_cast<char>(0xf0 | (code_point >> 18)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 12) & 0x3f)));
    out->push_back(static_cast<char>(0x80 | ((code_point >> 6) & 0x3f)));
    out->push_back(static_cast<char>(0x80 | (code_point & 0x3f)));
  }
}

// Recursive descent over RFC 8259 JSON, at most kMaxDepth levels deep.
class Scanner {
 public:
  Scanner(std::string_view text, std::map<std::string, TextPosition>* positions,
          std::vector<size_t>* negative_zeros)
      : text_(text), positions_(positions), negative_zeros_(negative_zeros) {}

  bool Document(const Descriptor& type, TextProblem* problem);

 private:
  bool Value(const FieldDescriptor* field, const Descriptor* type, const std::string& path,
             int depth);
  bool Object(const Descriptor* type, const std::string& path, int depth);
  bool Array(const FieldDescriptor* field, const std::string& path, int depth);
  bool String(std::string* decoded);
  bool Escape(std::string* decoded);
  bool Hex4(uint32_t* value);
  bool Number(const FieldDescriptor* field);
  bool Digits();
  bool Literal(std::string_view word);
  void SkipSpace();

  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
  void Advance();
  bool Expect(char c, const char* what);
  bool Fail(const std::string& message) { return FailAt(where_, message); }
  bool FailAt(TextPosition where, const std::string& message) {
    problem_ = TextProblem{where, message};
    return false;
  }

  std::string_view text_;
  std::map<std::string, TextPosition>* positions_;
  std::vector<size_t>* negative_zeros_;
  size_t pos_ = 0;
  TextPosition where_;
  TextProblem problem_;
};

void Scanner::Advance() {
  char c = text_[pos_++];
  if (c == '\n') {
    ++where_.line;
    where_.column = 1;
  } else if ((static_cast<uint8_t>(c) & 0xc0) != 0x80) {  // not a UTF-8 continuation
    ++where_.column;
  }
}

void Scanner::SkipSpace() {
  while (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r') Advance();
}

bool Scanner::Expect(char c, const char* what) {
  if (Peek() != c) return Fail(std::string("expected ") + what);
  Advance();
  return true;
}

bool Scanner::Document(const Descriptor& type, TextProblem* problem) {
  SkipSpace();
  bool ok = Peek() == '{' ? Value(nullptr, &type, "", 0) : Fail("expected a JSON object");
  if (ok) {
    SkipSpace();
    if (!AtEnd()) ok = Fail("unexpected text after the JSON object");
  }
  if (!ok) *problem = problem_;
  return ok;
}

bool Scanner::Value(const FieldDescriptor* field, const Descriptor* type,
                    const std::string& path, int depth) {
  (*positions_)[path] = where_;
  switch (Peek()) {
    case '{':
      return Object(type, path, depth + 1);
    case '[':
      return Array(field, path, depth + 1);
    case '"': {
      std::string ignored;
      return String(&ignored);
    }
    case 't':
      return Literal("true");
    case 'f':
      return Literal("false");
    case 'n':
      return Literal("null");
    default:
      if (Peek() == '-' || (Peek() >= '0' && Peek() <= '9')) return Number(field);
      return Fail(AtEnd() ? "unexpected end of the text, expected a value" : "expected a value");
  }
}

bool Scanner::Object(const Descriptor* type, const std::string& path, int depth) {
  if (depth > kMaxDepth) return Fail("nesting too deep (more than 100 levels)");
  Advance();  // '{'
  SkipSpace();
  if (Peek() == '}') {
    Advance();
    return true;
  }
  while (true) {
    SkipSpace();
    const TextPosition key_where = where_;
    std::string key;
    if (Peek() != '"') return Fail("expected a field name in double quotes");
    if (!String(&key)) return false;
    const FieldDescriptor* field = FindField(type, key);
    const std::string member_path = Join(path, field != nullptr ? field->name() : key);
    if (field == nullptr) (*positions_)[member_path] = key_where;
    SkipSpace();
    if (!Expect(':', "':' after the field name")) return false;
    SkipSpace();
    const Descriptor* member_type = field != nullptr ? field->message_type() : nullptr;
    if (field != nullptr) {
      if (!Value(field, member_type, member_path, depth)) return false;
    } else {
      std::map<std::string, TextPosition> ignored;  // unknown keys keep their own place
      std::map<std::string, TextPosition>* saved = positions_;
      positions_ = &ignored;
      bool ok = Value(nullptr, nullptr, member_path, depth);
      positions_ = saved;
      if (!ok) return false;
    }
    SkipSpace();
    if (Peek() == '}') {
      Advance();
      return true;
    }
    if (!Expect(',', "',' or '}' after a field")) return false;
  }
}

bool Scanner::Array(const FieldDescriptor* field, const std::string& path, int depth) {
  if (depth > kMaxDepth) return Fail("nesting too deep (more than 100 levels)");
  Advance();  // '['
  SkipSpace();
  if (Peek() == ']') {
    Advance();
    return true;
  }
  const Descriptor* element_type = field != nullptr ? field->message_type() : nullptr;
  for (int index = 0;; ++index) {
    SkipSpace();
    if (!Value(field, element_type, path + "[" + std::to_string(index) + "]", depth)) {
      return false;
    }
    SkipSpace();
    if (Peek() == ']') {
      Advance();
      return true;
    }
    if (!Expect(',', "',' or ']' after an array element")) return false;
  }
}

bool Scanner::String(std::string* decoded) {
  Advance();  // opening quote
  while (true) {
    if (AtEnd()) return Fail("unterminated string");
    char c = Peek();
    if (c == '"') {
      Advance();
      return true;
    }
    if (static_cast<uint8_t>(c) < 0x20) return Fail("control character in a string");
    if (c == '\\') {
      if (!Escape(decoded)) return false;
      continue;
    }
    decoded->push_back(c);
    Advance();
  }
}

bool Scanner::Escape(std::string* decoded) {
  const TextPosition start = where_;
  Advance();  // backslash
  char c = Peek();
  static const std::string_view kSimple = "\"\\/bfnrt";
  static const char kMeaning[] = "\"\\/\b\f\n\r\t";
  size_t simple = AtEnd() ? std::string_view::npos : kSimple.find(c);
  if (simple != std::string_view::npos) {
    decoded->push_back(kMeaning[simple]);
    Advance();
    return true;
  }
  if (c != 'u') return FailAt(start, "invalid escape sequence in a string");
  Advance();
  uint32_t unit;
  if (!Hex4(&unit)) return false;
  if (unit >= 0xd800 && unit < 0xdc00 && text_.substr(pos_, 2) == "\\u") {
    Advance();
    Advance();
    uint32_t low;
    if (!Hex4(&low)) return false;
    if (low < 0xdc00 || low >= 0xe000) return FailAt(start, "invalid surrogate pair in a string");
    unit = 0x10000 + ((unit - 0xd800) << 10) + (low - 0xdc00);
  }
  AppendUtf8(unit, decoded);
  return true;
}

bool Scanner::Hex4(uint32_t* value) {
  *value = 0;
  for (int i = 0; i < 4; ++i) {
    char c = Peek();
    int digit = c >= '0' && c <= '9'   ? c - '0'
                : c >= 'a' && c <= 'f' ? c - 'a' + 10
                : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                       : -1;
    if (AtEnd() || digit < 0) return Fail("expected four hex digits after \\u");
    *value = (*value << 4) | static_cast<uint32_t>(digit);
    Advance();
  }
  return true;
}

bool Scanner::Digits() {
  if (!(Peek() >= '0' && Peek() <= '9')) return Fail("expected a digit");
  while (Peek() >= '0' && Peek() <= '9') Advance();
  return true;
}

bool Scanner::Number(const FieldDescriptor* field) {
  const TextPosition start = where_;
  const size_t first = pos_;
  if (Peek() == '-') Advance();
  if (Peek() == '0') {
    Advance();
    if (Peek() >= '0' && Peek() <= '9') return FailAt(start, "leading zero in a number");
  } else if (!Digits()) {
    return false;
  }
  if (Peek() == '.') {
    Advance();
    if (!Digits()) return false;
  }
  if (Peek() == 'e' || Peek() == 'E') {
    Advance();
    if (Peek() == '+' || Peek() == '-') Advance();
    if (!Digits()) return false;
  }
  if (text_.substr(first, pos_ - first) == "-0" && field != nullptr &&
      (field->cpp_type() == FieldDescriptor::CPPTYPE_FLOAT ||
       field->cpp_type() == FieldDescriptor::CPPTYPE_DOUBLE)) {
    negative_zeros_->push_back(pos_);
  }
  return true;
}

bool Scanner::Literal(std::string_view word) {
  if (text_.substr(pos_, word.size()) != word) return Fail("expected a value");
  for (size_t i = 0; i < word.size(); ++i) Advance();
  return true;
}

}  // namespace

bool JsonLocator::Scan(std::string_view text, const Descriptor& type, TextProblem* problem) {
  positions_.clear();
  negative_zeros_.clear();
  return Scanner(text, &positions_, &negative_zeros_).Document(type, problem);
}

TextPosition JsonLocator::Find(std::string path) const {
  while (true) {
    auto found = positions_.find(path);
    if (found != positions_.end()) return found->second;
    size_t cut = path.find_last_of(".[");
    if (cut == std::string::npos) break;
    path.resize(cut);
  }
  return TextPosition{};
}

TextProblem JsonLocator::Locate(const std::string& converter_message) const {
  // "(path) key: what", "(path): what" or "key: what".
  std::string path, key, what = converter_message;
  if (!what.empty() && what[0] == '(') {
    size_t close = what.find(')');
    if (close != std::string::npos) {
      path = what.substr(1, close - 1);
      what = what.substr(close + 1);
      if (!what.empty() && what[0] == ' ') what = what.substr(1);
    }
  }
  size_t colon = what.find(": ");
  if (colon != std::string::npos && colon > 0 &&
      what.substr(0, colon).find(' ') == std::string::npos) {
    key = what.substr(0, colon);
    what = what.substr(colon + 2);
  } else if (!what.empty() && what[0] == ':') {
    what = what.substr(what.size() > 1 && what[1] == ' ' ? 2 : 1);
  }
  const std::string named = key.empty() ? path : Join(path, key);
  return TextProblem{Find(named), named.empty() ? what : named + ": " + what};
}

}  // namespace session_proto
