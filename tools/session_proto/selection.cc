#include "tools/session_proto/selection.h"

#include <cerrno>
#include <cstdlib>
#include <limits>

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

bool ParseSigned(const std::string& text, int64_t min, int64_t max, int64_t* value) {
  if (text.empty()) return false;
  char* end;
  errno = 0;
  long long v = std::strtoll(text.c_str(), &end, 0);
  if (*end != '\0' || errno != 0 || v < min || v > max) return false;
  *value = v;
  return true;
}

bool ParseUnsigned(const std::string& text, uint64_t max, uint64_t* value) {
  if (text.empty() || text[0] == '-') return false;
  char* end;
  errno = 0;
  unsigned long long v = std::strtoull(text.c_str(), &end, 0);
  if (*end != '\0' || errno != 0 || v > max) return false;
  *value = v;
  return true;
}

}  // namespace

bool Selection::Add(const google::protobuf::Descriptor& type, const std::string& condition,
                    std::string* error) {
  Condition c;
  const size_t equals = condition.find('=');
  const std::string path = condition.substr(0, equals);
  const google::protobuf::Descriptor* within = &type;
  for (size_t begin = 0; begin <= path.size();) {
    size_t dot = std::min(path.find('.', begin), path.size());
    const std::string name = path.substr(begin, dot - begin);
    const FieldDescriptor* field = within == nullptr ? nullptr : FindField(*within, name);
    if (field == nullptr) {
      *error = "--where " + condition + ": " +
               (within == nullptr ? c.path.back()->full_name() + " is not a message"
                                  : within->full_name() + " has no field '" + name + "'");
      return false;
    }
    c.path.push_back(field);
    within = field->message_type();
    begin = dot + 1;
  }
  if (equals != std::string::npos) {
    const FieldDescriptor& field = *c.path.back();
    const std::string value = condition.substr(equals + 1);
    c.any_value = false;
    c.string_value = value;
    bool ok = true;
    switch (field.cpp_type()) {
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
      case FieldDescriptor::CPPTYPE_DOUBLE: {
        char* end;
        c.double_value = std::strtod(value.c_str(), &end);
        ok = !value.empty() && *end == '\0';
        break;
      }
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
        break;
      case FieldDescriptor::CPPTYPE_MESSAGE:
        *error = "--where " + condition + ": " + field.name() +
                 " is a message; name a field inside it, or leave out '=' to ask whether "
                 "it is set";
        return false;
    }
    if (!ok) {
      *error = "--where " + condition + ": '" + value + "' is not a value of " +
               (field.enum_type() ? field.enum_type()->full_name() : field.type_name()) +
               " field " + field.name();
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
    } else if (condition.any_value || Equals(condition, message, field, index)) {
      return true;
    }
  }
  return false;
}

// Whether the value (element `index` of a repeated field, -1 for a
// singular one) equals the condition's.
bool Selection::Equals(const Condition& c, const Message& message, const FieldDescriptor& field,
                       int index) {
  const Reflection& r = *message.GetReflection();
  const bool one = index < 0;
  switch (field.cpp_type()) {
    case FieldDescriptor::CPPTYPE_INT32:
      return (one ? r.GetInt32(message, &field) : r.GetRepeatedInt32(message, &field, index)) ==
             c.int_value;
    case FieldDescriptor::CPPTYPE_INT64:
      return (one ? r.GetInt64(message, &field) : r.GetRepeatedInt64(message, &field, index)) ==
             c.int_value;
    case FieldDescriptor::CPPTYPE_UINT32:
      return (one ? r.GetUInt32(message, &field)
                  : r.GetRepeatedUInt32(message, &field, index)) == c.uint_value;
    case FieldDescriptor::CPPTYPE_UINT64:
      return (one ? r.GetUInt64(message, &field)
                  : r.GetRepeatedUInt64(message, &field, index)) == c.uint_value;
    case FieldDescriptor::CPPTYPE_FLOAT:
      return (one ? r.GetFloat(message, &field) : r.GetRepeatedFloat(message, &field, index)) ==
             static_cast<float>(c.double_value);
    case FieldDescriptor::CPPTYPE_DOUBLE:
      return (one ? r.GetDouble(message, &field)
                  : r.GetRepeatedDouble(message, &field, index)) == c.double_value;
    case FieldDescriptor::CPPTYPE_BOOL:
      return (one ? r.GetBool(message, &field) : r.GetRepeatedBool(message, &field, index)) ==
             (c.int_value != 0);
    case FieldDescriptor::CPPTYPE_ENUM:
      return (one ? r.GetEnumValue(message, &field)
                  : r.GetRepeatedEnumValue(message, &field, index)) == c.int_value;
    case FieldDescriptor::CPPTYPE_STRING:
      return (one ? r.GetString(message, &field)
                  : r.GetRepeatedString(message, &field, index)) == c.string_value;
    case FieldDescriptor::CPPTYPE_MESSAGE:
      break;
  }
  return false;
}

}  // namespace session_proto
