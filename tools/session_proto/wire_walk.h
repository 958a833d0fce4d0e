// A walk over the wire encoding of one message, guided by its descriptor:
// where each field lies, how the message classes' parser takes it (declared,
// packed, unknown, an enumeration number out of range) and, when the parser
// would refuse the bytes, the first fault with its byte offset and reason.
//
// Without a type (a raw walk) every field is undeclared, and a
// length-delimited field whose bytes are a sequence of fields gets them as
// its children.
//
// The walk accepts exactly what the parser accepts. It never reads outside
// the bytes it is given and descends at most kMaxNesting levels, the
// runtime's recursion limit, so any input is safe to walk.
#ifndef SESSION_PROTO_WIRE_WALK_H_
#define SESSION_PROTO_WIRE_WALK_H_

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <google/protobuf/descriptor.h>

namespace session_proto {

constexpr int kMaxNesting = 100;

enum WireType : int {
  kVarint = 0,
  kI64 = 1,
  kLen = 2,
  kStartGroup = 3,
  kEndGroup = 4,
  kI32 = 5,
};

// "VARINT", "I64", "LEN", "SGROUP", "EGROUP", "I32", or "?" for 6 and 7.
const char* WireTypeName(int wire_type);

enum class FieldRole {
  kDeclared,        // a field of the message, taken as declared
  kPacked,          // a packed run of a repeated field; children: its elements
  kElement,         // one element of a packed run (it has no tag)
  kUnknown,         // a number the message does not declare
  kWrongWireType,   // a declared number with a wire type it does not take
  kEnumOutOfRange,  // a number its closed enumeration does not have
};

// Whether the parser keeps the field among the unknown fields.
bool KeptAsUnknown(FieldRole role);

struct WireField {
  FieldRole role = FieldRole::kUnknown;
  const google::protobuf::FieldDescriptor* field = nullptr;  // null if undeclared
  uint32_t number = 0;
  int wire_type = kVarint;
  size_t offset = 0;          // the tag's first byte (an element's first byte)
  size_t value_offset = 0;    // the first byte after the tag
  size_t payload_offset = 0;  // LEN: the first byte after the length
  size_t end = 0;             // past the last byte (groups: past the end tag)
  size_t end_tag_offset = 0;  // groups: where the end-group tag begins
  uint64_t value = 0;         // VARINT: the number; I32, I64: the bits; LEN: length
  bool cut = false;           // holds the fault: its end is the fault's offset
  // Of a sub-message, group or packed run; of a raw walk's length-delimited
  // field that reads as fields.
  std::vector<WireField> children;
};

struct WireFault {
  size_t offset = 0;
  std::string reason;  // e.g. "truncated varint in ptz_message.move.pan_target (field 1)"
};

struct WireWalk {
  // After a fault: the fields before it, and the sub-message, group or
  // packed run it lies in with what was read of it (its end is the fault).
  std::vector<WireField> fields;
  std::optional<WireFault> fault;  // set when the parser refuses the bytes
};

WireWalk WalkWire(const google::protobuf::Descriptor* type, std::string_view bytes);
inline WireWalk WalkWire(const google::protobuf::Descriptor& type, std::string_view bytes) {
  return WalkWire(&type, bytes);
}

}  // namespace session_proto

#endif  // SESSION_PROTO_WIRE_WALK_H_
