#include "tools/session_proto/selection.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string_view>

namespace session_proto {
namespace {

using google::protobuf::FieldDescriptor;
using google::protobuf::Message;
using google::protobuf::Reflection;

const FieldDescriptor* FindField(const google::protobuf::Descriptor& type,
                                 const std::string& name) {
  if (const FieldDescriptor* field = type.FindFieldByName(name)) return field;
  for (int i = 0; i < type.field_count(); ++i) {
    if (type.field(i)->json_name() == name) return type.field(i);
  }
  return nullptr;
}

// Decimal digits with an optional minus sign: no base prefixes, blanks or
// plus signs, which strtoll would take.
bool ParseSigned(const std::string& text, int64_t min, int64_t max, int64_t* value) {
  const size_t digits = text.compare(0, 1, "-") == 0 ? 1 : 0;
  if (text.size() == digits || text.size() > 21 ||
      text.find_first_not_of("0123456789", digits) != std::string::npos) {
    return false;
  }
  errno = 0;
  const long long v = std::strtoll(text.c_str(), nullptr, 10);
  if (errno != 0 || v < min || v > max) return false;
  *value = v;
  return true;
}

bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t* value) {
  if (text.empty() || text.size() > 21 || text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  errno = 0;
  const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
  if (errno != 0 || v > max) return false;
  *value = v;
  return true;
}

// A decimal number, or nan, inf, infinity (any case, with a sign).
bool ParseFloating(const std::string& text, bool is_float, double* d, float* f) {
  std::string word = text.substr(text.compare(0, 1, "-") == 0 || text.compare(0, 1, "+") == 0);
  for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const bool named = word == "nan" || word == "inf" || word == "infinity";
  if (text.empty() || (!named && (text.find_first_not_of("0123456789+-.eE") != std::string::npos ||
                                  text.find_first_of("0123456789") == std::string::npos))) {
    return false;
  }
  char* end;
  errno = 0;
  *d = std::strtod(text.c_str(), &end);
  if (*end != '\0') return false;
  *f = std::strtof(text.c_str(), &end);
  return !(is_float ? std::isinf(*f) : std::isinf(*d)) || named;
}

// `op` is a Selection::Op: 1 =, 2 !=, 3 <, 4 <=, 5 >, 6 >=.
template <typename T>
bool Test(int op, T value, T wanted) {
  switch (op) {
    case 1: return value == wanted;
    case 2: return value != wanted;
    case 3: return value < wanted;
    case 4: return value <= wanted;
    case 5: return value > wanted;
    case 6: return value >= wanted;
  }
  return false;
}

}  // namespace

bool ResolveFieldPath(const google::protobuf::Descriptor& type, const std::string& path,
                      std::vector<const FieldDescriptor*>* fields, std::string* error) {
  fields->clear();
  const google::protobuf::Descriptor* within = &type;
  for (size_t begin = 0; begin <= path.size();) {
    const size_t dot = std::min(path.find('.', begin), path.size());
    const std::string name = path.substr(begin, dot - begin);
    const FieldDescriptor* field = within == nullptr ? nullptr : FindField(*within, name);
    if (field == nullptr) {
      *error = within == nullptr ? fields->back()->full_name() + " is not a message"
                                 : within->full_name() + " has no field '" + name + "'";
      return false;
    }
    fields->push_back(field);
    within = field->message_type();
    begin = dot + 1;
  }
  return true;
}

bool Selection::Add(const google::protobuf::Descriptor& type, const std::string& condition,
                    std::string* error) {
  Condition c;
  const size_t at = condition.find_first_of("=!<>~");
  static const std::pair<const char*, Op> kOps[] = {
      {"!=", Op::kNe}, {"<=", Op::kLe}, {">=", Op::kGe}, {"=", Op::kEq},
      {"<", Op::kLt},  {">", Op::kGt},  {"~", Op::kFind}};
  std::string op_text, value;
  if (at != std::string::npos) {
    for (const auto& [text, op] : kOps) {
      if (condition.compare(at, std::strlen(text), text) == 0) {
        c.op = op, op_text = text, value = condition.substr(at + op_text.size());
        break;
      }
    }
    if (op_text.empty()) {
      *error = "--where " + condition + ": expected = != < <= > >= or ~ after the path";
      return false;
    }
  }
  if (!ResolveFieldPath(type, condition.substr(0, at), &c.path, error)) {
    *error = "--where " + condition + ": " + *error;
    return false;
  }
  if (c.op != Op::kSet) {
    const FieldDescriptor& field = *c.path.back();
    const auto cpp = field.cpp_type();
    const bool ordered = c.op != Op::kEq && c.op != Op::kNe;
    const bool numeric = cpp != FieldDescriptor::CPPTYPE_BOOL &&
                         cpp != FieldDescriptor::CPPTYPE_ENUM &&
                         cpp != FieldDescriptor::CPPTYPE_STRING &&
                         cpp != FieldDescriptor::CPPTYPE_MESSAGE;
    if (cpp == FieldDescriptor::CPPTYPE_MESSAGE) {
      *error = "--where " + condition + ": " + field.name() +
               " is a message; name a field inside it, or give the path alone to ask whether "
               "it is set";
      return false;
    }
    const bool fits = c.op == Op::kFind ? cpp == FieldDescriptor::CPPTYPE_STRING
                      : ordered         ? numeric
                                        : true;
    if (!fits) {
      *error = "--where " + condition + ": " + op_text + " does not apply to " +
               (field.enum_type() ? field.enum_type()->full_name() : field.type_name()) +
               " field " + field.name() +
               (cpp == FieldDescriptor::CPPTYPE_STRING ? " (= != and ~ do)"
                : numeric                              ? " (= != < <= > >= do)"
                                                       : " (= and != do)");
      return false;
    }
    c.string_value = value;
    bool ok = true;
    switch (cpp) {
      case FieldDescriptor::CPPTYPE_INT32:
        ok = ParseSigned(value, std::numeric_limits<int32_t>::min(),
                         std::numeric_limits<int32_t>::max(), &c.int_value);
        break;
      case FieldDescriptor::CPPTYPE_INT64:
        ok = ParseSigned(value, std::numeric_limits<int64_t>::min(),
                         std::numeric_limits<int64_t>::max(), &c.int_value);
        break;
      case FieldDescriptor::CPPTYPE_UINT32:
        ok = ParseUnsigned(value, std::numeric_limits<uint32_t>::max(), &c.uint_value);
        break;
      case FieldDescriptor::CPPTYPE_UINT64:
        ok = ParseUnsigned(value, std::numeric_limits<uint64_t>::max(), &c.uint_value);
        break;
      case FieldDescriptor::CPPTYPE_FLOAT:
      case FieldDescriptor::CPPTYPE_DOUBLE:
        ok = ParseFloating(value, cpp == FieldDescriptor::CPPTYPE_FLOAT, &c.double_value,
                           &c.float_value);
        break;
      case FieldDescriptor::CPPTYPE_BOOL:
        ok = value == "true" || value == "false";
        c.int_value = value == "true";
        break;
      case FieldDescriptor::CPPTYPE_ENUM:
        if (const auto* named = field.enum_type()->FindValueByName(value)) {
          c.int_value = named->number();
        } else {
          ok = ParseSigned(value, std::numeric_limits<int32_t>::min(),
                           std::numeric_limits<int32_t>::max(), &c.int_value) &&
               field.enum_type()->FindValueByNumber(static_cast<int>(c.int_value)) != nullptr;
        }
        break;
      case FieldDescriptor::CPPTYPE_STRING:
        if (c.op == Op::kFind) {
          try {
            c.pattern = std::make_shared<std::regex>(value, std::regex::ECMAScript);
          } catch (const std::regex_error& e) {
            *error = "--where " + condition + ": not a regular expression: " + e.what();
            return false;
          }
        }
        break;
      case FieldDescriptor::CPPTYPE_MESSAGE:
        break;
    }
    if (!ok) {
      *error = "--where " + condition + ": '" + value + "' is not a value of " +
               (field.enum_type() ? field.enum_type()->full_name() : field.type_name()) +
               " field " + field.name() +
               (numeric && cpp != FieldDescriptor::CPPTYPE_FLOAT &&
                        cpp != FieldDescriptor::CPPTYPE_DOUBLE
                    ? " (decimal digits)"
                    : "");
      return false;
    }
  }
  conditions_.push_back(std::move(c));
  return true;
}

bool Selection::Matches(const Message& message) const {
  for (const Condition& condition : conditions_) {
    if (!Holds(condition, message, 0)) return false;
  }
  return true;
}

bool Selection::Holds(const Condition& condition, const Message& message, size_t step) {
  const FieldDescriptor& field = *condition.path[step];
  const Reflection& reflection = *message.GetReflection();
  const bool last = step + 1 == condition.path.size();
  const int count = field.is_repeated() ? reflection.FieldSize(message, &field)
                                        : reflection.HasField(message, &field) ? 1 : 0;
  for (int i = 0; i < count; ++i) {
    const int index = field.is_repeated() ? i : -1;
    if (!last) {
      const Message& inner = index < 0 ? reflection.GetMessage(message, &field)
                                       : reflection.GetRepeatedMessage(message, &field, index);
      if (Holds(condition, inner, step + 1)) return true;
    } else if (condition.op == Op::kSet || Compare(condition, message, field, index)) {
      return true;
    }
  }
  return false;
}

// Whether the value (element `index` of a repeated field, -1 for a
// singular one) meets the condition.
bool Selection::Compare(const Condition& c, const Message& message, const FieldDescriptor& field,
                        int index) {
  const Reflection& r = *message.GetReflection();
  const bool one = index < 0;
  const int op = static_cast<int>(c.op);
  switch (field.cpp_type()) {
    case FieldDescriptor::CPPTYPE_INT32:
      return Test<int64_t>(
          op, one ? r.GetInt32(message, &field) : r.GetRepeatedInt32(message, &field, index),
          c.int_value);
    case FieldDescriptor::CPPTYPE_INT64:
      return Test<int64_t>(
          op, one ? r.GetInt64(message, &field) : r.GetRepeatedInt64(message, &field, index),
          c.int_value);
    case FieldDescriptor::CPPTYPE_UINT32:
      return Test<uint64_t>(
          op, one ? r.GetUInt32(message, &field) : r.GetRepeatedUInt32(message, &field, index),
          c.uint_value);
    case FieldDescriptor::CPPTYPE_UINT64:
      return Test<uint64_t>(
          op, one ? r.GetUInt64(message, &field) : r.GetRepeatedUInt64(message, &field, index),
          c.uint_value);
    case FieldDescriptor::CPPTYPE_FLOAT:
    case FieldDescriptor::CPPTYPE_DOUBLE: {
      const bool is_float = field.cpp_type() == FieldDescriptor::CPPTYPE_FLOAT;
      const double value =
          is_float ? (one ? r.GetFloat(message, &field) : r.GetRepeatedFloat(message, &field, index))
                   : (one ? r.GetDouble(message, &field)
                          : r.GetRepeatedDouble(message, &field, index));
      // "nan" names every NaN: = finds them, != the other values.
      if (std::isnan(c.double_value) && (c.op == Op::kEq || c.op == Op::kNe)) {
        return std::isnan(value) == (c.op == Op::kEq);
      }
      return Test<double>(op, value, is_float ? c.float_value : c.double_value);
    }
    case FieldDescriptor::CPPTYPE_BOOL:
      return Test<int64_t>(
          op, one ? r.GetBool(message, &field) : r.GetRepeatedBool(message, &field, index),
          c.int_value);
    case FieldDescriptor::CPPTYPE_ENUM:
      return Test<int64_t>(op,
                           one ? r.GetEnumValue(message, &field)
                               : r.GetRepeatedEnumValue(message, &field, index),
                           c.int_value);
    case FieldDescriptor::CPPTYPE_STRING: {
      std::string scratch;
      const std::string& value = one ? r.GetStringReference(message, &field, &scratch)
                                     : r.GetRepeatedStringReference(message, &field, index, &scratch);
      if (c.op == Op::kFind) return std::regex_search(value, *c.pattern);
      return Test<std::string_view>(op, value, c.string_value);
    }
    case FieldDescriptor::CPPTYPE_MESSAGE:
      break;
  }
  return false;
}

}  // namespace session_proto
