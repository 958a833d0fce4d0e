// JSON into a message: a strict RFC 8259 reader that fills the message as
// it goes, so that every error carries the line and column of the value or
// key at fault and the path of its field. Values are read as the runtime's
// JSON converter reads them (numbers or strings for numbers, enumeration
// names or declared numbers, base64 for bytes, null for no value), except
// that a 64-bit integer written as a float must be exact, and that
// kUnknownFieldsMember restores the unknown fields.
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>

#include <google/protobuf/descriptor.h>

#include "tools/session_proto/byte_codec.h"
#include "tools/session_proto/form_parts.h"
#include "tools/session_proto/wire_paths.h"

namespace session_proto {
namespace {

namespace pb = google::protobuf;
using pb::Descriptor;
using pb::FieldDescriptor;

constexpr int kMaxDepth = 100;

const FieldDescriptor* FindField(const Descriptor& type, const std::string& key) {
  if (const FieldDescriptor* field = type.FindFieldByName(key)) return field;
  for (int i = 0; i < type.field_count(); ++i) {
    if (type.field(i)->json_name() == key) return type.field(i);
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

// The length of the valid UTF-8 sequence `text` begins with; 0 if none.
size_t Utf8Sequence(std::string_view text) {
  const uint8_t lead = static_cast<uint8_t>(text[0]);
  const size_t length = lead < 0x80 ? 1 : lead < 0xe0 ? 2 : lead < 0xf0 ? 3 : 4;
  if (text.size() < length) return 0;
  return FirstInvalidUtf8(text.substr(0, length)) == length ? length : 0;
}

std::string TypeWord(const FieldDescriptor& field) {
  if (field.enum_type() != nullptr) return field.enum_type()->name();
  std::string word = std::string("TYPE_") + FieldDescriptor::TypeName(field.type());
  for (char& c : word) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return word;
}

// A scalar as written: a string's decoded text, a number's or literal's
// text; `quoted` tells which.
struct Token {
  std::string text;
  bool quoted = false;
  bool null() const { return !quoted && text == "null"; }
  std::string Shown() const { return quoted ? "\"" + text + "\"" : text; }
};

// An integer written exactly: digits, or a float with an integral value a
// double holds exactly (below 2^53).
bool ParseInteger(const std::string& text, bool is_signed, int64_t* s, uint64_t* u) {
  if (text.empty() || text.size() > 40) return false;
  const bool digits = text.find_first_not_of("-0123456789") == std::string::npos &&
                      text.find('-', 1) == std::string::npos;
  char* end;
  errno = 0;
  if (digits) {
    if (is_signed) {
      *s = std::strtoll(text.c_str(), &end, 10);
    } else {
      if (text[0] == '-') return false;
      *u = std::strtoull(text.c_str(), &end, 10);
    }
    return *end == '\0' && errno == 0;
  }
  const double value = std::strtod(text.c_str(), &end);
  const bool starts_right = text[0] == '-' || (text[0] >= '0' && text[0] <= '9');
  if (*end != '\0' || !starts_right || value != std::trunc(value) ||
      std::fabs(value) > 9007199254740992.0) {
    return false;
  }
  if (is_signed) {
    *s = static_cast<int64_t>(value);
  } else {
    if (value < 0) return false;
    *u = static_cast<uint64_t>(value);
  }
  return true;
}

class Reader {
 public:
  explicit Reader(std::string_view text) : text_(text) {}

  bool Document(pb::Message* message, TextProblem* problem) {
    SkipSpace();
    bool ok = Peek() == '{' ? Object(message, "", 1) : Fail("", "expected a JSON object");
    if (ok) {
      SkipSpace();
      if (!AtEnd()) ok = Fail("", "unexpected text after the JSON object");
    }
    if (!ok) *problem = problem_;
    return ok;
  }

 private:
  bool Object(pb::Message* message, const std::string& path, int depth) {
    if (depth > kMaxDepth) return Fail(path, "nesting too deep (more than 100 levels)");
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
      if (Peek() != '"') return Fail(path, "expected a field name in double quotes");
      if (!String(path, &key)) return false;
      SkipSpace();
      if (!Expect(':', path, "':' after the field name")) return false;
      SkipSpace();
      if (key == kUnknownFieldsMember) {
        if (!UnknownFields(message, path)) return false;
      } else if (const FieldDescriptor* field = FindField(*message->GetDescriptor(), key)) {
        if (!Field(message, *field, Subpath(path, field->name()), depth)) return false;
      } else {
        return FailAt(key_where, Subpath(path, key), "Cannot find field.");
      }
      SkipSpace();
      if (Peek() == '}') {
        Advance();
        return true;
      }
      if (!Expect(',', path, "',' or '}' after a field")) return false;
    }
  }

  bool Field(pb::Message* message, const FieldDescriptor& field, const std::string& path,
             int depth) {
    if (!field.is_repeated()) return Value(message, field, path, false, depth);
    if (Literal("null")) return true;
    if (Peek() != '[') return Fail(path, "expected an array");
    if (depth + 1 > kMaxDepth) return Fail(path, "nesting too deep (more than 100 levels)");
    Advance();  // '['
    SkipSpace();
    if (Peek() == ']') {
      Advance();
      return true;
    }
    for (int index = 0;; ++index) {
      SkipSpace();
      if (!Value(message, field, path + "[" + std::to_string(index) + "]", true, depth + 1)) {
        return false;
      }
      SkipSpace();
      if (Peek() == ']') {
        Advance();
        return true;
      }
      if (!Expect(',', path, "',' or ']' after an array element")) return false;
    }
  }

  // One value of `field`, or an element of it; `shown` is its path.
  bool Value(pb::Message* message, const FieldDescriptor& field, const std::string& shown,
             bool element, int depth) {
    const pb::Reflection& r = *message->GetReflection();
    const TextPosition at = where_;
    if (field.cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE && Peek() == '{') {
      pb::Message* inner = field.is_repeated() ? r.AddMessage(message, &field)
                                               : r.MutableMessage(message, &field);
      return Object(inner, shown, depth + 1);
    }
    Token token;
    if (!Scalar(shown, &token)) return false;
    if (token.null()) {
      if (element) return FailAt(at, shown, "null in an array");
      return true;
    }
    auto invalid = [&](const std::string& why = "") {
      return FailAt(at, shown,
                    "invalid value " + token.Shown() + " for type " + TypeWord(field) + why);
    };
    const bool rep = field.is_repeated();
    int64_t s = 0;
    uint64_t u = 0;
    switch (field.cpp_type()) {
      case FieldDescriptor::CPPTYPE_INT32:
        if (!ParseInteger(token.text, true, &s, &u) || s < INT32_MIN || s > INT32_MAX) {
          return invalid();
        }
        rep ? r.AddInt32(message, &field, static_cast<int32_t>(s))
            : r.SetInt32(message, &field, static_cast<int32_t>(s));
        return true;
      case FieldDescriptor::CPPTYPE_INT64:
        if (!ParseInteger(token.text, true, &s, &u)) return invalid();
        rep ? r.AddInt64(message, &field, s) : r.SetInt64(message, &field, s);
        return true;
      case FieldDescriptor::CPPTYPE_UINT32:
        if (!ParseInteger(token.text, false, &s, &u) || u > UINT32_MAX) return invalid();
        rep ? r.AddUInt32(message, &field, static_cast<uint32_t>(u))
            : r.SetUInt32(message, &field, static_cast<uint32_t>(u));
        return true;
      case FieldDescriptor::CPPTYPE_UINT64:
        if (!ParseInteger(token.text, false, &s, &u)) return invalid();
        rep ? r.AddUInt64(message, &field, u) : r.SetUInt64(message, &field, u);
        return true;
      case FieldDescriptor::CPPTYPE_FLOAT:
      case FieldDescriptor::CPPTYPE_DOUBLE: {
        const bool is_float = field.cpp_type() == FieldDescriptor::CPPTYPE_FLOAT;
        double d;
        float f;
        if (token.text == "NaN" || token.text == "Infinity" || token.text == "-Infinity") {
          if (!token.quoted) return invalid();
          d = token.text == "NaN"        ? std::numeric_limits<double>::quiet_NaN()
              : token.text == "Infinity" ? HUGE_VAL
                                         : -HUGE_VAL;
          f = static_cast<float>(d);
        } else {
          const std::string& t = token.text;
          if (t.empty() || !(t[0] == '-' || (t[0] >= '0' && t[0] <= '9')) ||
              t.find_first_not_of("0123456789+-.eE") != std::string::npos) {
            return invalid();
          }
          char* end;
          d = std::strtod(t.c_str(), &end);
          f = std::strtof(t.c_str(), &end);
          if (*end != '\0') return invalid();
          if (is_float ? std::isinf(f) : std::isinf(d)) return invalid(": out of range");
        }
        if (is_float) {
          rep ? r.AddFloat(message, &field, f) : r.SetFloat(message, &field, f);
        } else {
          rep ? r.AddDouble(message, &field, d) : r.SetDouble(message, &field, d);
        }
        return true;
      }
      case FieldDescriptor::CPPTYPE_BOOL:
        if (token.quoted || (token.text != "true" && token.text != "false")) return invalid();
        rep ? r.AddBool(message, &field, token.text == "true")
            : r.SetBool(message, &field, token.text == "true");
        return true;
      case FieldDescriptor::CPPTYPE_ENUM: {
        const pb::EnumValueDescriptor* value = nullptr;
        if (token.quoted) {
          value = field.enum_type()->FindValueByName(token.text);
        } else if (ParseInteger(token.text, true, &s, &u) && s >= INT32_MIN && s <= INT32_MAX) {
          value = field.enum_type()->FindValueByNumber(static_cast<int>(s));
        }
        if (value == nullptr) return invalid();
        rep ? r.AddEnumValue(message, &field, value->number())
            : r.SetEnumValue(message, &field, value->number());
        return true;
      }
      case FieldDescriptor::CPPTYPE_STRING: {
        if (!token.quoted) return invalid();
        std::string value;
        if (field.type() == FieldDescriptor::TYPE_BYTES) {
          std::string error;
          if (!DecodeText(ByteForm::kBase64, token.text, &value, &error)) {
            return invalid(": " + error);
          }
        } else {
          value = std::move(token.text);
        }
        rep ? r.AddString(message, &field, std::move(value))
            : r.SetString(message, &field, std::move(value));
        return true;
      }
      case FieldDescriptor::CPPTYPE_MESSAGE:
        return invalid(": expected an object");
    }
    return invalid();
  }

  bool UnknownFields(pb::Message* message, const std::string& path) {
    const TextPosition at = where_;
    const std::string shown = Subpath(path, kUnknownFieldsMember);
    Token token;
    if (!Scalar(shown, &token)) return false;
    std::string bytes, error;
    pb::UnknownFieldSet fields;
    if (!token.quoted || !DecodeText(ByteForm::kHex, token.text, &bytes, &error)) {
      return FailAt(at, shown, "expected the fields' wire encoding in hex" +
                                   (error.empty() ? "" : ": " + error));
    }
    if (!fields.ParseFromArray(bytes.data(), static_cast<int>(bytes.size()))) {
      return FailAt(at, shown, "the hex is not a sequence of fields");
    }
    message->GetReflection()->MutableUnknownFields(message)->MergeFrom(fields);
    return true;
  }

  // A string, number or literal; other values are an error.
  bool Scalar(const std::string& path, Token* token) {
    if (Peek() == '"') {
      token->quoted = true;
      return String(path, &token->text);
    }
    if (Peek() == '{' || Peek() == '[') return Fail(path, "expected a single value");
    const size_t first = pos_;
    if (Peek() == '-' || (Peek() >= '0' && Peek() <= '9')) {
      if (!Number(path)) return false;
    } else if (!Literal("true") && !Literal("false") && !Literal("null")) {
      return Fail(path, AtEnd() ? "unexpected end of the text, expected a value"
                                : "expected a value");
    }
    token->text.assign(text_.substr(first, pos_ - first));
    return true;
  }

  bool String(const std::string& path, std::string* decoded) {
    Advance();  // opening quote
    while (true) {
      if (AtEnd()) return Fail(path, "unterminated string");
      const char c = Peek();
      if (c == '"') {
        Advance();
        return true;
      }
      if (static_cast<uint8_t>(c) < 0x20) return Fail(path, "control character in a string");
      if (c == '\\') {
        if (!Escape(path, decoded)) return false;
        continue;
      }
      const size_t length = Utf8Sequence(text_.substr(pos_));
      if (length == 0) return Fail(path, "invalid UTF-8 in a string");
      decoded->append(text_.data() + pos_, length);
      for (size_t i = 0; i < length; ++i) Advance();
    }
  }

  bool Escape(const std::string& path, std::string* decoded) {
    const TextPosition start = where_;
    Advance();  // backslash
    const char c = Peek();
    static const std::string_view kSimple = "\"\\/bfnrt";
    static const char kMeaning[] = "\"\\/\b\f\n\r\t";
    const size_t simple = AtEnd() ? std::string_view::npos : kSimple.find(c);
    if (simple != std::string_view::npos) {
      decoded->push_back(kMeaning[simple]);
      Advance();
      return true;
    }
    if (c != 'u') return FailAt(start, path, "invalid escape sequence in a string");
    Advance();
    uint32_t unit;
    if (!Hex4(path, &unit)) return false;
    if (unit >= 0xdc00 && unit < 0xe000) {
      return FailAt(start, path, "lone low surrogate in a string");
    }
    if (unit >= 0xd800 && unit < 0xdc00) {
      uint32_t low = 0;
      if (text_.substr(pos_, 2) != "\\u") {
        return FailAt(start, path, "high surrogate without a low one in a string");
      }
      Advance();
      Advance();
      if (!Hex4(path, &low)) return false;
      if (low < 0xdc00 || low >= 0xe000) {
        return FailAt(start, path, "high surrogate without a low one in a string");
      }
      unit = 0x10000 + ((unit - 0xd800) << 10) + (low - 0xdc00);
    }
    AppendUtf8(unit, decoded);
    return true;
  }

  bool Hex4(const std::string& path, uint32_t* value) {
    *value = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = Peek();
      const int digit = c >= '0' && c <= '9'   ? c - '0'
                        : c >= 'a' && c <= 'f' ? c - 'a' + 10
                        : c >= 'A' && c <= 'F' ? c - 'A' + 10
                                               : -1;
      if (AtEnd() || digit < 0) return Fail(path, "expected four hex digits after \\u");
      *value = (*value << 4) | static_cast<uint32_t>(digit);
      Advance();
    }
    return true;
  }

  bool Digits(const std::string& path) {
    if (!(Peek() >= '0' && Peek() <= '9')) return Fail(path, "expected a digit");
    while (Peek() >= '0' && Peek() <= '9') Advance();
    return true;
  }

  bool Number(const std::string& path) {
    const TextPosition start = where_;
    if (Peek() == '-') Advance();
    if (Peek() == '0') {
      Advance();
      if (Peek() >= '0' && Peek() <= '9') return FailAt(start, path, "leading zero in a number");
    } else if (!Digits(path)) {
      return false;
    }
    if (Peek() == '.') {
      Advance();
      if (!Digits(path)) return false;
    }
    if (Peek() == 'e' || Peek() == 'E') {
      Advance();
      if (Peek() == '+' || Peek() == '-') Advance();
      if (!Digits(path)) return false;
    }
    return true;
  }

  bool Literal(std::string_view word) {
    if (text_.substr(pos_, word.size()) != word) return false;
    for (size_t i = 0; i < word.size(); ++i) Advance();
    return true;
  }

  void SkipSpace() {
    while (Peek() == ' ' || Peek() == '\t' || Peek() == '\n' || Peek() == '\r') Advance();
  }
  bool AtEnd() const { return pos_ >= text_.size(); }
  char Peek() const { return AtEnd() ? '\0' : text_[pos_]; }
  void Advance() {
    const char c = text_[pos_++];
    if (c == '\n') {
      ++where_.line;
      where_.column = 1;
    } else if ((static_cast<uint8_t>(c) & 0xc0) != 0x80) {  // not a UTF-8 continuation
      ++where_.column;
    }
  }
  bool Expect(char c, const std::string& path, const char* what) {
    if (Peek() != c) return Fail(path, std::string("expected ") + what);
    Advance();
    return true;
  }
  bool Fail(const std::string& path, const std::string& message) {
    return FailAt(where_, path, message);
  }
  bool FailAt(TextPosition where, const std::string& path, const std::string& message) {
    problem_ = TextProblem{where, path, message};
    return false;
  }

  std::string_view text_;
  size_t pos_ = 0;
  TextPosition where_;
  TextProblem problem_;
};

}  // namespace

bool ParseJson(std::string_view text, pb::Message* message, TextProblem* problem) {
  return Reader(text).Document(message, problem);
}

}  // namespace session_proto
