// The two forms in which a person reads and writes a message: text format
// and JSON. Both carry everything the message classes keep, so that what
// is printed reads back into the same bytes:
//  - Unknown fields (and enumeration numbers a closed enumeration does not
//    declare, which the classes keep among them) print in text format as
//    "15: 7" (varint), "15: 0x00000007" (32-bit), "15: 0x0000000000000007"
//    (64-bit), "15: \"bytes\"" or "15 { ... }" (length-delimited, nested
//    when its bytes read back exactly as fields) and "15 group { ... }".
//  - JSON carries them in the member "@unknown_fields" of the object they
//    belong to: their wire encoding (tags included) in hex, in the order the
//    class keeps them. Strict JSON leaves the member out.
// What a form cannot carry is noted rather than changed silently: a NaN
// other than the default quiet one reads back as that one in both forms,
// and JSON cannot hold a string field that is not valid UTF-8 (callers
// check that first; see FindInvalidUtf8).
// Parsing leaves required fields unchecked; callers check them by name, the
// same way for every input form.
#ifndef SESSION_PROTO_TEXT_FORMS_H_
#define SESSION_PROTO_TEXT_FORMS_H_

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include <google/protobuf/message.h>

namespace session_proto {

// kJsonLine: JSON on one line, for one message per line.
enum class TextForm { kText, kJson, kJsonLine };

// The JSON member that holds a message's unknown fields.
constexpr char kUnknownFieldsMember[] = "@unknown_fields";

// A place in a text; lines and columns count from 1, columns in characters.
// Column 0: the line as a whole.
struct TextPosition {
  int line = 1;
  int column = 1;
};

// Why a text does not parse: where, the field path it concerns ("" for
// none), and what is wrong.
struct TextProblem {
  TextPosition where;
  std::string path;
  std::string message;
  // "path: message", or the message alone.
  std::string What() const { return path.empty() ? message : path + ": " + message; }
};

// Replaces `message` by the message `text` holds. On failure, *problem
// says where (counted within `text`) and why.
bool ParseTextForm(TextForm form, std::string_view text, google::protobuf::Message* message,
                   TextProblem* problem);

struct PrintOptions {
  bool strict_json = false;  // leave out kUnknownFieldsMember
};

// Writes the message in the form to `out`, ending with a newline unless an
// empty message in text format. Appends to *notes what the output does not
// carry ("path: what"): NaN payloads, and unknown fields left out of strict
// JSON. Strings must be valid UTF-8 for JSON (see FindInvalidUtf8).
void PrintTextForm(TextForm form, const google::protobuf::Message& message,
                   const PrintOptions& options, std::ostream& out,
                   std::vector<std::string>* notes);

// The same into a string.
std::string PrintedTextForm(TextForm form, const google::protobuf::Message& message,
                            const PrintOptions& options = {},
                            std::vector<std::string>* notes = nullptr);

}  // namespace session_proto

#endif  // SESSION_PROTO_TEXT_FORMS_H_
