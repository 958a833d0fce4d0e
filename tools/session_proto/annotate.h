// The annotated dump of one message: a row per field with its byte offset,
// tag bytes, field number and wire type, raw value bytes and decoded value.
// Sub-messages, groups and packed runs are indented under their field;
// unknown fields and enumeration numbers out of range are marked as such.
#ifndef SESSION_PROTO_ANNOTATE_H_
#define SESSION_PROTO_ANNOTATE_H_

#include <string>
#include <string_view>
#include <vector>

#include <google/protobuf/descriptor.h>

namespace session_proto {

// Dumps `bytes`, an encoding of `type`; of bytes the message class refuses,
// the fields up to the fault and a row marking it. Without a type, the raw
// fields (see WalkWire). `notes` are appended as lines of their own (e.g.
// missing required fields).
std::string Annotate(const google::protobuf::Descriptor* type, std::string_view bytes,
                     const std::vector<std::string>& notes = {});
inline std::string Annotate(const google::protobuf::Descriptor& type, std::string_view bytes,
                            const std::vector<std::string>& notes = {}) {
  return Annotate(&type, bytes, notes);
}

}  // namespace session_proto

#endif  // SESSION_PROTO_ANNOTATE_H_
