#include "tools/session_proto/wire_walk.h"

#include <algorithm>
#include <limits>

#include <google/protobuf/wire_format_lite.h>

namespace session_proto {

using google::protobuf::Descriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::internal::WireFormatLite;

const char* WireTypeName(int wire_type) {
  static const char* const kNames[] = {"VARINT", "I64", "LEN", "SGROUP", "EGROUP", "I32"};
  return wire_type >= 0 && wire_type < 6 ? kNames[wire_type] : "?";
}

bool KeptAsUnknown(FieldRole role) {
  return role == FieldRole::kUnknown || role == FieldRole::kWrongWireType ||
         role == FieldRole::kEnumOutOfRange;
}

namespace {

// Limits of the runtime's parser: tags and lengths are read as at most five
// bytes, other varints as at most ten, and a length must stay clear of
// INT_MAX by the parser's 16 bytes of slop.
constexpr int kMaxTagBytes = 5;
constexpr int kMaxVarintBytes = 10;
constexpr uint64_t kMaxLength = std::numeric_limits<int32_t>::max() - 16;

std::string Join(const std::string& path, const std::string& name) {
  return path.empty() ? name : path + "." + name;
}

// Where in the message a fault lies, for the reason's tail.
std::string InField(const std::string& path, const FieldDescriptor* field,
                    uint32_t number) {
  if (field != nullptr) {
    return " in " + Join(path, field->name()) + " (field " + std::to_string(number) + ")";
  }
  return " in unknown field " + std::to_string(number) + (path.empty() ? "" : " of " + path);
}

std::string Bytes(uint64_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

std::string BytesLeft(size_t n) { return " (" + Bytes(n) + " left)"; }

std::string TooDeep() {
  return "nesting too deep (more than " + std::to_string(kMaxNesting) + " levels)";
}

std::string InMessage(const std::string& path) {
  return path.empty() ? "" : " in " + path;
}

bool IsEnumValue(const FieldDescriptor& field, uint64_t raw) {
  return field.enum_type()->FindValueByNumber(static_cast<int32_t>(raw)) != nullptr;
}

// How the parser takes a field with this number and wire type.
FieldRole Classify(const FieldDescriptor* field, int wire_type) {
  if (field == nullptr) return FieldRole::kUnknown;
  int expected = WireFormatLite::WireTypeForFieldType(
      static_cast<WireFormatLite::FieldType>(field->type()));
  if (wire_type == expected) return FieldRole::kDeclared;
  if (field->is_packable() && wire_type == kLen) return FieldRole::kPacked;
  return FieldRole::kWrongWireType;
}

class Walker {
 public:
  // `raw`: no schema; length-delimited fields are tried as messages.
  Walker(std::string_view bytes, bool raw) : bytes_(bytes), raw_(raw) {}

  // Walks the fields from `pos` to `end` of a message of `type` (null: the
  // contents of an unknown group) at nesting `depth`, into `out`. For the
  // contents of a group, `group` is the group's field: the walk stops after
  // its end-group tag, which must come before `end`. False after a fault.
  bool WalkFields(const Descriptor* type, size_t pos, size_t end, int depth,
                  WireField* group, const std::string& path, std::vector<WireField>* out);

  std::optional<WireFault> TakeFault() { return std::move(fault_); }
  size_t fault_offset() const { return fault_ ? fault_->offset : 0; }

 private:
  enum class Varint { kOk, kTruncated, kTooLong };

  Varint ReadVarint(size_t* pos, size_t end, int max_bytes, uint64_t* value) const;
  bool ReadValue(size_t end, int depth, const std::string& path, WireField* f);
  bool ReadFixed(size_t* pos, size_t end, int width, uint64_t* bits, const std::string& where);
  bool ReadLength(WireField* f, size_t end, const std::string& where);
  bool WalkPacked(WireField* f, const std::string& where);
  bool Fail(size_t offset, std::string reason) {
    fault_ = WireFault{offset, std::move(reason)};
    return false;
  }

  std::string_view bytes_;
  bool raw_;
  std::optional<WireFault> fault_;
};

Walker::Varint Walker::ReadVarint(size_t* pos, size_t end, int max_bytes,
                                  uint64_t* value) const {
  uint64_t result = 0;
  for (size_t i = 0; i < static_cast<size_t>(max_bytes); ++i) {
    if (*pos + i >= end) return Varint::kTruncated;
    uint8_t byte = static_cast<uint8_t>(bytes_[*pos + i]);
    result |= static_cast<uint64_t>(byte & 0x7f) << (7 * i);
    if (byte < 0x80) {
      *pos += i + 1;
      *value = result;
      return Varint::kOk;
    }
  }
  return Varint::kTooLong;
}

bool Walker::WalkFields(const Descriptor* type, size_t pos, size_t end, int depth,
                        WireField* group, const std::string& path,
                        std::vector<WireField>* out) {
  while (pos < end) {
    WireField f;
    f.offset = pos;
    uint64_t tag;
    switch (ReadVarint(&pos, end, kMaxTagBytes, &tag)) {
      case Varint::kTruncated:
        return Fail(f.offset, "truncated varint in a tag" + InMessage(path));
      case Varint::kTooLong:
        return Fail(f.offset, "tag longer than 5 bytes" + InMessage(path));
      case Varint::kOk:
        break;
    }
    f.number = static_cast<uint32_t>(tag) >> 3;
    f.wire_type = static_cast<int>(tag & 7);
    f.value_offset = pos;
    if (f.wire_type == kEndGroup) {
      if (group == nullptr) {
        return Fail(f.offset, "end-group tag without a start-group tag" + InMessage(path));
      }
      if (f.number != group->number) {
        return Fail(f.offset, "end-group tag of field " + std::to_string(f.number) +
                                  " inside group " + std::to_string(group->number));
      }
      group->end_tag_offset = f.offset;
      group->end = pos;
      return true;
    }
    if (f.number == 0) return Fail(f.offset, "invalid field number 0" + InMessage(path));
    if (f.wire_type > kI32) {
      return Fail(f.offset, "invalid wire type " + std::to_string(f.wire_type) +
                                " (field " + std::to_string(f.number) + ")" +
                                InMessage(path));
    }
    f.field = type != nullptr ? type->FindFieldByNumber(static_cast<int>(f.number)) : nullptr;
    f.role = Classify(f.field, f.wire_type);
    if (!ReadValue(end, depth, path, &f)) {
      // What was read of a sub-message, group or packed run before the
      // fault, for a dump that shows how far the bytes got.
      if (!f.children.empty() || f.payload_offset > 0 || f.wire_type == kStartGroup) {
        f.end = f.end_tag_offset = std::max(
            {fault_offset(), f.payload_offset, f.children.empty() ? 0 : f.children.back().end});
        f.cut = true;
        out->push_back(std::move(f));
      }
      return false;
    }
    pos = f.end;
    out->push_back(std::move(f));
  }
  if (group != nullptr) {
    return Fail(group->offset, "group of field " + std::to_string(group->number) +
                                   " has no end-group tag" + InMessage(path));
  }
  return true;
}

// Reads the value of `f`, whose tag has been read, up to `end` at most.
bool Walker::ReadValue(size_t end, int depth, const std::string& path, WireField* f) {
  const FieldDescriptor* declared = KeptAsUnknown(f->role) ? nullptr : f->field;
  const std::string where = InField(path, declared, f->number);
  size_t pos = f->value_offset;
  switch (f->wire_type) {
    case kVarint:
      switch (ReadVarint(&pos, end, kMaxVarintBytes, &f->value)) {
        case Varint::kTruncated:
          return Fail(f->value_offset, "truncated varint" + where);
        case Varint::kTooLong:
          return Fail(f->value_offset, "varint longer than 10 bytes" + where);
        case Varint::kOk:
          break;
      }
      if (declared != nullptr && declared->enum_type() != nullptr &&
          !IsEnumValue(*declared, f->value)) {
        f->role = FieldRole::kEnumOutOfRange;
      }
      f->end = pos;
      return true;
    case kI64:
    case kI32:
      if (!ReadFixed(&pos, end, f->wire_type == kI64 ? 8 : 4, &f->value, where)) return false;
      f->end = pos;
      return true;
    case kLen:
      if (!ReadLength(f, end, where)) return false;
      if (f->role == FieldRole::kPacked) return WalkPacked(f, where);
      if (declared != nullptr && declared->message_type() != nullptr) {
        if (depth + 1 > kMaxNesting) {
          return Fail(f->offset, TooDeep() + where);
        }
        return WalkFields(declared->message_type(), f->payload_offset, f->end, depth + 1,
                          nullptr, Join(path, declared->name()), &f->children);
      }
      if (raw_ && f->end > f->payload_offset && depth + 1 <= kMaxNesting) {
        Walker nested(bytes_, true);  // a fault inside only means it is no message
        if (!nested.WalkFields(nullptr, f->payload_offset, f->end, depth + 1, nullptr, path,
                               &f->children)) {
          f->children.clear();
        }
      }
      return true;
    default: {  // kStartGroup
      if (depth + 1 > kMaxNesting) {
        return Fail(f->offset, TooDeep() + where);
      }
      const Descriptor* group_type = declared != nullptr ? declared->message_type() : nullptr;
      return WalkFields(group_type, f->value_offset, end, depth + 1, f, path, &f->children);
    }
  }
}

bool Walker::ReadFixed(size_t* pos, size_t end, int width, uint64_t* bits,
                       const std::string& where) {
  if (end - *pos < static_cast<size_t>(width)) {
    return Fail(*pos, "truncated " + std::to_string(width * 8) + "-bit value" +
                          BytesLeft(end - *pos) + where);
  }
  *bits = 0;
  for (int i = width - 1; i >= 0; --i) {
    *bits = (*bits << 8) | static_cast<uint8_t>(bytes_[*pos + static_cast<size_t>(i)]);
  }
  *pos += static_cast<size_t>(width);
  return true;
}

bool Walker::ReadLength(WireField* f, size_t end, const std::string& where) {
  size_t pos = f->value_offset;
  switch (ReadVarint(&pos, end, kMaxTagBytes, &f->value)) {
    case Varint::kTruncated:
      return Fail(f->value_offset, "truncated varint in a length" + where);
    case Varint::kTooLong:
      return Fail(f->value_offset, "length longer than 5 bytes" + where);
    case Varint::kOk:
      break;
  }
  if (f->value > kMaxLength) {
    return Fail(f->value_offset, "length " + std::to_string(f->value) +
                                     " is beyond the 2 GiB limit" + where);
  }
  if (f->value > end - pos) {
    return Fail(f->value_offset, "length " + std::to_string(f->value) +
                                     " runs past the end" + BytesLeft(end - pos) + where);
  }
  f->payload_offset = pos;
  f->end = pos + static_cast<size_t>(f->value);
  return true;
}

// The elements of a packed run: fixed-width values filling it exactly, or
// varints of which the last ends where the run does.
bool Walker::WalkPacked(WireField* f, const std::string& where) {
  const FieldDescriptor& field = *f->field;
  int element_wire_type = WireFormatLite::WireTypeForFieldType(
      static_cast<WireFormatLite::FieldType>(field.type()));
  int width = element_wire_type == kI64 ? 8 : element_wire_type == kI32 ? 4 : 0;
  if (width != 0 && f->value % static_cast<uint64_t>(width) != 0) {
    return Fail(f->payload_offset, "packed run of " + Bytes(f->value) +
                                       " is not a whole number of " +
                                       std::to_string(width) + "-byte values" + where);
  }
  for (size_t pos = f->payload_offset; pos < f->end;) {
    WireField element;
    element.role = FieldRole::kElement;
    element.field = &field;
    element.number = f->number;
    element.wire_type = element_wire_type;
    element.offset = element.value_offset = pos;
    if (width != 0) {
      if (!ReadFixed(&pos, f->end, width, &element.value, where)) return false;
    } else {
      switch (ReadVarint(&pos, f->end, kMaxVarintBytes, &element.value)) {
        case Varint::kTruncated:
          return Fail(element.offset, "truncated varint in a packed run" + where);
        case Varint::kTooLong:
          return Fail(element.offset, "varint longer than 10 bytes" + where);
        case Varint::kOk:
          break;
      }
    }
    if (field.enum_type() != nullptr && !IsEnumValue(field, element.value)) {
      element.role = FieldRole::kEnumOutOfRange;
    }
    element.end = pos;
    f->children.push_back(std::move(element));
  }
  return true;
}

}  // namespace

WireWalk WalkWire(const Descriptor* type, std::string_view bytes) {
  Walker walker(bytes, type == nullptr);
  WireWalk walk;
  walker.WalkFields(type, 0, bytes.size(), 0, nullptr, "", &walk.fields);
  walk.fault = walker.TakeFault();
  return walk;
}

}  // namespace session_proto
