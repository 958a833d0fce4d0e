#include "tools/session_proto/annotate.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <map>

#include <google/protobuf/stubs/strutil.h>

#include "tools/session_proto/wire_walk.h"

namespace session_proto {
namespace {

using google::protobuf::FieldDescriptor;

constexpr size_t kMaxRawBytes = 10;   // raw bytes shown per row
constexpr size_t kMaxValueChars = 60;  // escaped characters shown of a string

struct Row {
  std::string offset, tag, wire, raw, text;
  int depth = 0;
};

std::string Plural(size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// A string or bytes value as text format writes it, cut after
// kMaxValueChars characters.
std::string Quoted(std::string_view value) {
  std::string text = "\"";
  for (size_t i = 0; i < value.size(); ++i) {
    if (text.size() > kMaxValueChars) {
      return text + "...\" (" + Plural(value.size(), "byte", "bytes") + ")";
    }
    text += google::protobuf::CEscape(std::string(1, value[i]));
  }
  return text + "\"";
}

std::string Hex(uint64_t bits, int digits) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "0x%0*" PRIx64, digits, bits);
  return buffer;
}

template <class To, class From>
To BitCast(From from) {
  static_assert(sizeof(To) <= sizeof(From), "narrowing only");
  To to;
  std::memcpy(&to, &from, sizeof to);
  return to;
}

// The value of a declared field, from what the wire holds for it.
std::string DeclaredValue(const FieldDescriptor& field, uint64_t raw, std::string_view payload) {
  using google::protobuf::SimpleDtoa;
  using google::protobuf::SimpleFtoa;
  switch (field.type()) {
    case FieldDescriptor::TYPE_INT32:
    case FieldDescriptor::TYPE_SFIXED32:
      return std::to_string(static_cast<int32_t>(raw));
    case FieldDescriptor::TYPE_INT64:
    case FieldDescriptor::TYPE_SFIXED64:
      return std::to_string(static_cast<int64_t>(raw));
    case FieldDescriptor::TYPE_UINT32:
    case FieldDescriptor::TYPE_FIXED32:
      return std::to_string(static_cast<uint32_t>(raw));
    case FieldDescriptor::TYPE_UINT64:
    case FieldDescriptor::TYPE_FIXED64:
      return std::to_string(raw);
    case FieldDescriptor::TYPE_SINT32:
    case FieldDescriptor::TYPE_SINT64: {
      int64_t v = static_cast<int64_t>(raw >> 1) ^ -static_cast<int64_t>(raw & 1);
      return std::to_string(field.type() == FieldDescriptor::TYPE_SINT32
                                ? static_cast<int32_t>(v) : v);
    }
    case FieldDescriptor::TYPE_BOOL:
      return raw != 0 ? "true" : "false";
    case FieldDescriptor::TYPE_FLOAT:
      return SimpleFtoa(BitCast<float>(static_cast<uint32_t>(raw)));
    case FieldDescriptor::TYPE_DOUBLE:
      return SimpleDtoa(BitCast<double>(raw));
    case FieldDescriptor::TYPE_ENUM:
      return field.enum_type()->FindValueByNumber(static_cast<int32_t>(raw))->name();
    default:  // string and bytes
      return Quoted(payload);
  }
}

// A field the message does not declare, by its wire type alone.
std::string WireValue(const WireField& f, std::string_view payload) {
  switch (f.wire_type) {
    case kVarint:
      return std::to_string(f.value);
    case kI32:
      return Hex(f.value, 8);
    case kI64:
      return Hex(f.value, 16);
    default:
      return Quoted(payload);
  }
}

// Elements of a packed run have no tag of their own.
bool HasTag(const WireField& f) { return f.value_offset > f.offset; }

std::string TypeName(const FieldDescriptor& field) {
  if (field.message_type() != nullptr) return field.message_type()->full_name();
  if (field.enum_type() != nullptr) return field.enum_type()->full_name();
  return field.type_name();
}

class Dump {
 public:
  // `raw`: no schema, so no field is marked unknown.
  Dump(std::string_view bytes, bool raw) : bytes_(bytes), raw_(raw) {}

  // Rows for the fields of one message (or group), at `depth`.
  void AddFields(const std::vector<WireField>& fields, int depth);
  // A row where the bytes stop decoding; the summary says they do.
  void AddFault(const WireFault& fault) {
    rows_.push_back(
        Row{std::to_string(fault.offset), "", "", "", "^ fault: " + fault.reason, fault_depth_});
    fault_ = true;
  }
  std::string Render(const std::string& header, const std::vector<std::string>& notes) const;

 private:
  using Indexes = std::map<const FieldDescriptor*, int>;

  void AddField(const WireField& f, int depth, Indexes* indexes);
  void AddNested(const WireField& f, int depth, std::string opening);
  void AddClose(const WireField& f, int depth);
  void AddUnknown(const WireField& f, int depth);
  void AddRow(const WireField& f, size_t raw_end, int depth, std::string text);
  std::string Name(const WireField& f, Indexes* indexes) const;
  std::string HexBytes(size_t begin, size_t end) const;
  std::string_view Payload(const WireField& f) const {
    return bytes_.substr(f.payload_offset, f.end - f.payload_offset);
  }

  std::string_view bytes_;
  bool raw_;
  std::vector<Row> rows_;
  size_t tagged_ = 0, unknown_ = 0, out_of_range_ = 0;
  bool fault_ = false;
  int fault_depth_ = 0;  // inside the innermost field the fault cut short
};

void Dump::AddFields(const std::vector<WireField>& fields, int depth) {
  Indexes indexes;
  for (const WireField& f : fields) AddField(f, depth, &indexes);
}

// "float ray_origin[2]": the field's type and name, with the index the value
// takes in a repeated field.
std::string Dump::Name(const WireField& f, Indexes* indexes) const {
  std::string name = TypeName(*f.field) + " " + f.field->name();
  if (f.field->is_repeated() && f.role != FieldRole::kEnumOutOfRange) {
    name += "[" + std::to_string((*indexes)[f.field]++) + "]";
  }
  return name;
}

void Dump::AddField(const WireField& f, int depth, Indexes* indexes) {
  if (HasTag(f)) ++tagged_;
  switch (f.role) {
    case FieldRole::kDeclared:
      if (f.field->message_type() == nullptr) {
        AddRow(f, f.end, depth,
               Name(f, indexes) + " = " + DeclaredValue(*f.field, f.value, Payload(f)));
      } else {
        AddNested(f, depth, Name(f, indexes) + " {");
      }
      return;
    case FieldRole::kPacked:
      AddRow(f, f.payload_offset, depth,
             "packed " + f.field->name() + ", " +
                 Plural(f.children.size(), "value", "values") + " {");
      for (const WireField& element : f.children) AddField(element, depth + 1, indexes);
      if (f.cut) {
        fault_depth_ = std::max(fault_depth_, depth + 1);
        return;
      }
      AddClose(f, depth);
      return;
    case FieldRole::kElement:
      AddRow(f, f.end, depth, Name(f, indexes) + " = " + DeclaredValue(*f.field, f.value, ""));
      return;
    case FieldRole::kEnumOutOfRange:
      ++out_of_range_;
      AddRow(f, f.end, depth,
             Name(f, indexes) + " = " + std::to_string(static_cast<int32_t>(f.value)) +
                 "  [out of range: not a " + f.field->enum_type()->name() +
                 " value, kept as an unknown field]");
      return;
    case FieldRole::kUnknown:
    case FieldRole::kWrongWireType:
      if (!raw_) ++unknown_;
      AddUnknown(f, depth);
      return;
  }
}

// A sub-message or group: its opening row, its fields, its closing row.
void Dump::AddNested(const WireField& f, int depth, std::string opening) {
  AddRow(f, f.wire_type == kLen ? f.payload_offset : f.value_offset, depth, std::move(opening));
  AddFields(f.children, depth + 1);
  if (f.cut) {
    fault_depth_ = std::max(fault_depth_, depth + 1);
    return;
  }
  AddClose(f, depth);
}

// The closing row: a group's shows its end-group tag.
void Dump::AddClose(const WireField& f, int depth) {
  Row row{"", "", "", "", "}", depth};
  if (f.wire_type == kStartGroup) {
    row.offset = std::to_string(f.end_tag_offset);
    row.tag = HexBytes(f.end_tag_offset, f.end);
    row.wire = std::to_string(f.number) + ":" + WireTypeName(kEndGroup);
  }
  rows_.push_back(std::move(row));
}

void Dump::AddUnknown(const WireField& f, int depth) {
  const std::string name = "field " + std::to_string(f.number);
  const std::string mark =
      raw_                          ? ""
      : f.role == FieldRole::kUnknown
          ? "  [unknown field]"
          : "  [unknown field: " + TypeName(*f.field) + " " + f.field->name() +
                " is not sent as " + WireTypeName(f.wire_type) + "]";
  if (f.wire_type == kStartGroup) {
    AddNested(f, depth, "group " + name + " {" + mark);
  } else if (!f.children.empty()) {
    AddNested(f, depth, name + " {" + mark);
  } else {
    AddRow(f, f.end, depth, name + " = " + WireValue(f, Payload(f)) + mark);
  }
}

// A row for `f` whose raw bytes are those from its value up to `raw_end`.
void Dump::AddRow(const WireField& f, size_t raw_end, int depth, std::string text) {
  Row row;
  row.offset = std::to_string(f.offset);
  if (HasTag(f)) {
    row.tag = HexBytes(f.offset, f.value_offset);
    row.wire = std::to_string(f.number) + ":" + WireTypeName(f.wire_type);
  }
  row.raw = HexBytes(f.value_offset, raw_end);
  row.text = std::move(text);
  row.depth = depth;
  rows_.push_back(std::move(row));
}

std::string Dump::HexBytes(size_t begin, size_t end) const {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = begin; i < end && i < begin + kMaxRawBytes; ++i) {
    if (!text.empty()) text += ' ';
    text += kDigits[static_cast<uint8_t>(bytes_[i]) >> 4];
    text += kDigits[static_cast<uint8_t>(bytes_[i]) & 0xf];
  }
  if (end - begin > kMaxRawBytes) text += " ...(+" + std::to_string(end - begin - kMaxRawBytes) + ")";
  return text;
}

std::string Dump::Render(const std::string& header, const std::vector<std::string>& notes) const {
  const Row titles{"offset", "tag", "field:wire", "bytes", "value", 0};
  size_t offset_width = titles.offset.size(), tag_width = titles.tag.size(),
         wire_width = titles.wire.size(), raw_width = titles.raw.size();
  for (const Row& r : rows_) {
    offset_width = std::max(offset_width, r.offset.size());
    tag_width = std::max(tag_width, r.tag.size());
    wire_width = std::max(wire_width, r.wire.size());
    raw_width = std::max(raw_width, r.raw.size());
  }
  auto render = [&](const Row& r) {
    std::string line = std::string(offset_width - r.offset.size(), ' ') + r.offset + "  ";
    line += r.tag + std::string(tag_width - r.tag.size() + 2, ' ');
    line += r.wire + std::string(wire_width - r.wire.size() + 2, ' ');
    line += r.raw + std::string(raw_width - r.raw.size() + 2, ' ');
    line += std::string(2 * static_cast<size_t>(r.depth), ' ') + r.text;
    return line + "\n";
  };
  std::string out = header + "\n" + render(titles);
  for (const Row& r : rows_) out += render(r);
  std::string summary = Plural(tagged_, "field", "fields");
  if (unknown_ > 0) summary += ", " + Plural(unknown_, "unknown field", "unknown fields");
  if (out_of_range_ > 0) {
    summary += ", " + Plural(out_of_range_, "enumeration number out of range",
                             "enumeration numbers out of range");
  }
  if (fault_) summary += " before the fault";
  out += summary + "\n";
  for (const std::string& note : notes) out += note + "\n";
  return out;
}

}  // namespace

std::string Annotate(const google::protobuf::Descriptor* type, std::string_view bytes,
                     const std::vector<std::string>& notes) {
  WireWalk walk = WalkWire(type, bytes);
  Dump dump(bytes, type == nullptr);
  dump.AddFields(walk.fields, 0);
  if (walk.fault) dump.AddFault(*walk.fault);
  return dump.Render((type ? type->full_name() : std::string("Raw fields")) + ", " +
                         Plural(bytes.size(), "byte", "bytes"),
                     notes);
}

}  // namespace session_proto
