// JSON as the runtime's JSON converter prints it with the schema's field
// names (the same values, field for field), written straight from the
// message, with the unknown fields in kUnknownFieldsMember.
#include <cmath>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/stubs/strutil.h>

#include "tools/session_proto/byte_codec.h"
#include "tools/session_proto/form_parts.h"

namespace session_proto {
namespace {

namespace pb = google::protobuf;
using pb::FieldDescriptor;

class JsonPrinter {
 public:
  JsonPrinter(std::ostream& out, bool one_line, bool strict, std::vector<std::string>* notes)
      : sink_(out), one_line_(one_line), strict_(strict), notes_(notes) {}

  void Message(const pb::Message& message, int depth, const FieldPath* path) {
    const pb::Reflection& reflection = *message.GetReflection();
    sink_.Put('{');
    bool first = true;
    for (const FieldDescriptor* field : SetFields(message)) {
      Member(field->name(), depth + 1, &first);
      if (field->is_repeated()) {
        const int count = reflection.FieldSize(message, field);
        sink_.Put('[');
        for (int i = 0; i < count; ++i) {
          if (i > 0) sink_.Put(',');
          Break(depth + 2);
          Value(message, *field, i, FieldPath{path, field, i}, depth + 2);
        }
        Break(depth + 1);
        sink_.Put(']');
      } else {
        Value(message, *field, -1, FieldPath{path, field, -1}, depth + 1);
      }
    }
    const pb::UnknownFieldSet& unknown = reflection.GetUnknownFields(message);
    if (!unknown.empty()) {
      if (strict_) {
        if (notes_) {
          notes_->push_back((path ? path->Text() + ": " : "") +
                            "strict JSON leaves out the unknown fields " +
                            EncodeText(ByteForm::kHex, SerializeUnknown(unknown)));
        }
      } else {
        Member(kUnknownFieldsMember, depth + 1, &first);
        sink_.Put('"');
        sink_.Put(EncodeText(ByteForm::kHex, SerializeUnknown(unknown)));
        sink_.Put('"');
      }
    }
    if (!first) Break(depth);
    sink_.Put('}');
  }

  void End() { sink_.Put('\n'); }

 private:
  void Break(int depth) {
    if (one_line_) return;
    sink_.Put('\n');
    for (int i = 0; i < depth; ++i) sink_.Put(' ');
  }

  void Member(const std::string& name, int depth, bool* first) {
    if (!*first) sink_.Put(',');
    *first = false;
    Break(depth);
    sink_.Put('"');  // field names need no escapes
    sink_.Put(name);
    sink_.Put(one_line_ ? "\":" : "\": ");
  }

  void String(std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (char c : text) {
      const unsigned char u = static_cast<unsigned char>(c);
      switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\f': out += "\\f"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
          if (u < 0x20 || u == 0x7f) {
            out += "\\u00";
            out += kHex[u >> 4];
            out += kHex[u & 15];
          } else {
            out += c;
          }
      }
      if (out.size() >= 16 * 1024) {
        sink_.Put(out);
        out.clear();
      }
    }
    out += '"';
    sink_.Put(out);
  }

  void Bytes(std::string_view bytes) {
    constexpr size_t kBlock = 48 * 1024;  // a multiple of 3: no padding inside
    TextEncoder encoder(ByteForm::kBase64);
    std::string text;
    sink_.Put('"');
    for (size_t at = 0; at < bytes.size(); at += kBlock) {
      text.clear();
      encoder.Feed(bytes.substr(at, kBlock), &text);
      sink_.Put(text);
    }
    text.clear();
    encoder.Finish(&text);
    sink_.Put(text);
    sink_.Put('"');
  }

  template <typename Float>
  void FloatValue(Float value, const std::string& formatted) {
    if (std::isnan(value)) return sink_.Put("\"NaN\"");
    if (std::isinf(value)) return sink_.Put(value > 0 ? "\"Infinity\"" : "\"-Infinity\"");
    sink_.Put(formatted);
  }

  void Value(const pb::Message& m, const FieldDescriptor& field, int index,
             const FieldPath& path, int depth) {
    const pb::Reflection& r = *m.GetReflection();
    const bool one = index < 0;
    switch (field.cpp_type()) {
      case FieldDescriptor::CPPTYPE_INT32:
        return sink_.Put(
            std::to_string(one ? r.GetInt32(m, &field) : r.GetRepeatedInt32(m, &field, index)));
      case FieldDescriptor::CPPTYPE_UINT32:
        return sink_.Put(std::to_string(one ? r.GetUInt32(m, &field)
                                            : r.GetRepeatedUInt32(m, &field, index)));
      case FieldDescriptor::CPPTYPE_INT64:
        return sink_.Put('"' + std::to_string(one ? r.GetInt64(m, &field)
                                                  : r.GetRepeatedInt64(m, &field, index)) +
                         '"');
      case FieldDescriptor::CPPTYPE_UINT64:
        return sink_.Put('"' + std::to_string(one ? r.GetUInt64(m, &field)
                                                  : r.GetRepeatedUInt64(m, &field, index)) +
                         '"');
      case FieldDescriptor::CPPTYPE_FLOAT: {
        const float value = one ? r.GetFloat(m, &field) : r.GetRepeatedFloat(m, &field, index);
        if (std::isnan(value)) NoteNan(field, m, index, path, "JSON", notes_);
        return FloatValue(value, pb::SimpleFtoa(value));
      }
      case FieldDescriptor::CPPTYPE_DOUBLE: {
        const double value = one ? r.GetDouble(m, &field) : r.GetRepeatedDouble(m, &field, index);
        if (std::isnan(value)) NoteNan(field, m, index, path, "JSON", notes_);
        return FloatValue(value, pb::SimpleDtoa(value));
      }
      case FieldDescriptor::CPPTYPE_BOOL:
        return sink_.Put((one ? r.GetBool(m, &field) : r.GetRepeatedBool(m, &field, index))
                             ? "true"
                             : "false");
      case FieldDescriptor::CPPTYPE_ENUM: {
        const int number =
            one ? r.GetEnumValue(m, &field) : r.GetRepeatedEnumValue(m, &field, index);
        const pb::EnumValueDescriptor* value = field.enum_type()->FindValueByNumber(number);
        return value ? String(value->name()) : sink_.Put(std::to_string(number));
      }
      case FieldDescriptor::CPPTYPE_STRING: {
        std::string scratch;
        const std::string& value = one ? r.GetStringReference(m, &field, &scratch)
                                       : r.GetRepeatedStringReference(m, &field, index, &scratch);
        return field.type() == FieldDescriptor::TYPE_BYTES ? Bytes(value) : String(value);
      }
      case FieldDescriptor::CPPTYPE_MESSAGE:
        return Message(one ? r.GetMessage(m, &field) : r.GetRepeatedMessage(m, &field, index),
                       depth, &path);
    }
  }

  TextSink sink_;
  bool one_line_;
  bool strict_;
  std::vector<std::string>* notes_;
};

}  // namespace

void PrintJson(const pb::Message& message, bool one_line, bool strict, std::ostream& out,
               std::vector<std::string>* notes) {
  JsonPrinter printer(out, one_line, strict, notes);
  printer.Message(message, 0, nullptr);
  printer.End();
}

}  // namespace session_proto
