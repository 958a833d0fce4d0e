// Text format as the runtime's TextFormat prints it, field for field, with
// unknown fields in forms that read back into the same bytes (see
// text_forms.h), and long values written as they are escaped.
#include <cmath>
#include <cstring>
#include <limits>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/stubs/strutil.h>

#include "tools/session_proto/form_parts.h"
#include "tools/session_proto/wire_walk.h"

namespace session_proto {
namespace {

namespace pb = google::protobuf;
using pb::FieldDescriptor;

// Escapes as TextFormat does (C escapes, other bytes in octal), a block at
// a time.
void PutEscaped(std::string_view bytes, TextSink& sink) {
  constexpr size_t kBlock = 16 * 1024;
  std::string escaped;
  for (size_t at = 0; at < bytes.size(); at += kBlock) {
    escaped.clear();
    pb::CEscapeAndAppend(pb::StringPiece(bytes.data() + at, std::min(kBlock, bytes.size() - at)),
                         &escaped);
    sink.Put(escaped);
  }
}

class TextPrinter {
 public:
  TextPrinter(std::ostream& out, std::vector<std::string>* notes) : sink_(out), notes_(notes) {}

  void Message(const pb::Message& message, int depth, const FieldPath* path) {
    const pb::Reflection& reflection = *message.GetReflection();
    for (const FieldDescriptor* field : SetFields(message)) {
      const std::string name = field->is_extension()            ? "[" + field->full_name() + "]"
                               : field->type() == FieldDescriptor::TYPE_GROUP
                                   ? field->message_type()->name()
                                   : field->name();
      const int count = field->is_repeated() ? reflection.FieldSize(message, field) : 1;
      for (int i = 0; i < count; ++i) {
        const int index = field->is_repeated() ? i : -1;
        const FieldPath here{path, field, index};
        Indent(depth);
        sink_.Put(name);
        if (field->cpp_type() == FieldDescriptor::CPPTYPE_MESSAGE) {
          sink_.Put(" {\n");
          Message(index < 0 ? reflection.GetMessage(message, field)
                            : reflection.GetRepeatedMessage(message, field, index),
                  depth + 1, &here);
          Indent(depth);
          sink_.Put("}\n");
        } else {
          sink_.Put(": ");
          Value(message, *field, index, here);
          sink_.Put('\n');
        }
      }
    }
    Unknown(reflection.GetUnknownFields(message), depth, kMaxNesting - depth);
  }

 private:
  void Indent(int depth) {
    for (int i = 0; i < depth; ++i) sink_.Put("  ");
  }

  void Value(const pb::Message& m, const FieldDescriptor& field, int index,
             const FieldPath& path) {
    const pb::Reflection& r = *m.GetReflection();
    const bool one = index < 0;
    switch (field.cpp_type()) {
      case FieldDescriptor::CPPTYPE_INT32:
        return sink_.Put(std::to_string(one ? r.GetInt32(m, &field)
                                            : r.GetRepeatedInt32(m, &field, index)));
      case FieldDescriptor::CPPTYPE_INT64:
        return sink_.Put(std::to_string(one ? r.GetInt64(m, &field)
                                            : r.GetRepeatedInt64(m, &field, index)));
      case FieldDescriptor::CPPTYPE_UINT32:
        return sink_.Put(std::to_string(one ? r.GetUInt32(m, &field)
                                            : r.GetRepeatedUInt32(m, &field, index)));
      case FieldDescriptor::CPPTYPE_UINT64:
        return sink_.Put(std::to_string(one ? r.GetUInt64(m, &field)
                                            : r.GetRepeatedUInt64(m, &field, index)));
      case FieldDescriptor::CPPTYPE_FLOAT: {
        const float value = one ? r.GetFloat(m, &field) : r.GetRepeatedFloat(m, &field, index);
        if (std::isnan(value)) NoteNan(field, m, index, path, "text format", notes_);
        return sink_.Put(std::isnan(value) ? "nan" : pb::SimpleFtoa(value));
      }
      case FieldDescriptor::CPPTYPE_DOUBLE: {
        const double value = one ? r.GetDouble(m, &field) : r.GetRepeatedDouble(m, &field, index);
        if (std::isnan(value)) NoteNan(field, m, index, path, "text format", notes_);
        return sink_.Put(std::isnan(value) ? "nan" : pb::SimpleDtoa(value));
      }
      case FieldDescriptor::CPPTYPE_BOOL:
        return sink_.Put((one ? r.GetBool(m, &field) : r.GetRepeatedBool(m, &field, index))
                             ? "true"
                             : "false");
      case FieldDescriptor::CPPTYPE_ENUM: {
        const int number =
            one ? r.GetEnumValue(m, &field) : r.GetRepeatedEnumValue(m, &field, index);
        const pb::EnumValueDescriptor* value = field.enum_type()->FindValueByNumber(number);
        return sink_.Put(value ? value->name() : std::to_string(number));
      }
      case FieldDescriptor::CPPTYPE_STRING: {
        std::string scratch;
        const std::string& value = one ? r.GetStringReference(m, &field, &scratch)
                                       : r.GetRepeatedStringReference(m, &field, index, &scratch);
        sink_.Put('"');
        PutEscaped(value, sink_);
        return sink_.Put('"');
      }
      case FieldDescriptor::CPPTYPE_MESSAGE:
        break;
    }
  }

  // `budget`: how many more levels of nesting a field may open.
  void Unknown(const pb::UnknownFieldSet& fields, int depth, int budget) {
    for (int i = 0; i < fields.field_count(); ++i) {
      const pb::UnknownField& field = fields.field(i);
      Indent(depth);
      sink_.Put(std::to_string(field.number()));
      switch (field.type()) {
        case pb::UnknownField::TYPE_VARINT:
          sink_.Put(": " + std::to_string(field.varint()) + "\n");
          break;
        case pb::UnknownField::TYPE_FIXED32:
          sink_.Put(": 0x" + pb::StrCat(pb::strings::Hex(field.fixed32(), pb::strings::ZERO_PAD_8)) +
                    "\n");
          break;
        case pb::UnknownField::TYPE_FIXED64:
          sink_.Put(": 0x" +
                    pb::StrCat(pb::strings::Hex(field.fixed64(), pb::strings::ZERO_PAD_16)) + "\n");
          break;
        case pb::UnknownField::TYPE_LENGTH_DELIMITED: {
          // Nested, as a message from a newer peer most likely is, only when
          // the fields read back into exactly these bytes.
          const std::string& bytes = field.length_delimited();
          pb::UnknownFieldSet nested;
          if (!bytes.empty() && budget > 1 &&
              nested.ParseFromArray(bytes.data(), static_cast<int>(bytes.size())) &&
              SerializeUnknown(nested) == bytes) {
            sink_.Put(" {\n");
            Unknown(nested, depth + 1, budget - 1);
            Indent(depth);
            sink_.Put("}\n");
          } else {
            sink_.Put(": \"");
            PutEscaped(bytes, sink_);
            sink_.Put("\"\n");
          }
          break;
        }
        case pb::UnknownField::TYPE_GROUP:
          sink_.Put(" group {\n");
          Unknown(field.group(), depth + 1, budget - 1);
          Indent(depth);
          sink_.Put("}\n");
          break;
      }
    }
  }

  TextSink sink_;
  std::vector<std::string>* notes_;
};

}  // namespace

std::string Subpath(const std::string& path, const std::string& name, int index) {
  std::string here = path.empty() ? name : path + "." + name;
  if (index >= 0) here += "[" + std::to_string(index) + "]";
  return here;
}

std::vector<const FieldDescriptor*> SetFields(const pb::Message& message) {
  std::vector<const FieldDescriptor*> fields;
  message.GetReflection()->ListFields(message, &fields);
  return fields;
}

void NoteNan(const FieldDescriptor& field, const pb::Message& m, int index,
             const FieldPath& path, const char* form, std::vector<std::string>* notes) {
  const pb::Reflection& r = *m.GetReflection();
  const bool one = index < 0;
  uint64_t bits = 0, quiet = 0;
  bool nan = false;
  if (field.cpp_type() == FieldDescriptor::CPPTYPE_FLOAT) {
    const float value = one ? r.GetFloat(m, &field) : r.GetRepeatedFloat(m, &field, index);
    const float default_nan = std::numeric_limits<float>::quiet_NaN();
    uint32_t b, q;
    std::memcpy(&b, &value, 4);
    std::memcpy(&q, &default_nan, 4);
    nan = std::isnan(value), bits = b, quiet = q;
  } else {
    const double value = one ? r.GetDouble(m, &field) : r.GetRepeatedDouble(m, &field, index);
    const double default_nan = std::numeric_limits<double>::quiet_NaN();
    std::memcpy(&bits, &value, 8);
    std::memcpy(&quiet, &default_nan, 8);
    nan = std::isnan(value);
  }
  if (!nan || bits == quiet || notes == nullptr) return;
  const int digits = field.cpp_type() == FieldDescriptor::CPPTYPE_FLOAT ? 8 : 16;
  auto hex = [digits](uint64_t v) {
    return "0x" + pb::StrCat(pb::strings::Hex(v, digits == 8 ? pb::strings::ZERO_PAD_8
                                                             : pb::strings::ZERO_PAD_16));
  };
  notes->push_back(path.Text() + ": " + form + " cannot carry the sign and payload of the NaN " +
                   hex(bits) + "; it reads back as " + hex(quiet));
}

std::string SerializeUnknown(const pb::UnknownFieldSet& fields) {
  std::string bytes;
  fields.SerializeToString(&bytes);
  return bytes;
}

void PrintText(const pb::Message& message, std::ostream& out, std::vector<std::string>* notes) {
  TextPrinter(out, notes).Message(message, 0, nullptr);
}

}  // namespace session_proto
