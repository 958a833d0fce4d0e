// Field paths over a wire walk ("change.properties[0].path"), and what JSON
// cannot carry: a string field's bytes that are not UTF-8.
#ifndef SESSION_PROTO_WIRE_PATHS_H_
#define SESSION_PROTO_WIRE_PATHS_H_

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/session_proto/wire_walk.h"

namespace session_proto {

// Calls `visit` on every field of the walk, nested ones after their parent,
// with its path: declared fields by name, indexed when repeated
// ("metadata[1]"), undeclared ones as "field 15"; a packed run's elements
// are visited, the run itself is not.
void ForEachField(const std::vector<WireField>& fields,
                  const std::function<void(const WireField&, const std::string&)>& visit);

// The first string field in `bytes` (an encoding of `type` the message class
// accepts) whose value is not valid UTF-8: where the bad sequence begins
// (offset in `bytes`), and "invalid UTF-8 in <path> (field N)".
std::optional<WireFault> FindInvalidUtf8(const google::protobuf::Descriptor& type,
                                         std::string_view bytes);

// The offset of the first byte of `text` that does not begin a valid UTF-8
// sequence (overlong forms, surrogates and values past U+10FFFF included),
// or text.size().
size_t FirstInvalidUtf8(std::string_view text);

}  // namespace session_proto

#endif  // SESSION_PROTO_WIRE_PATHS_H_
