// The two forms in which a person reads and writes a message: text format
// and JSON, both through the runtime (TextFormat and the JSON converter).
// Parsing leaves required fields unchecked; callers check them by name, the
// same way for every input form.
#ifndef SESSION_PROTO_TEXT_FORMS_H_
#define SESSION_PROTO_TEXT_FORMS_H_

#include <string>
#include <string_view>

#include <google/protobuf/message.h>

#include "tools/session_proto/json_locate.h"

namespace session_proto {

// kJsonLine: JSON on one line, for one message per line.
enum class TextForm { kText, kJson, kJsonLine };

// Replaces `message` by the message `text` holds. On failure, *problem
// gives the line and column (counted within `text`) and what is wrong.
bool ParseTextForm(TextForm form, std::string_view text, google::protobuf::Message* message,
                   TextProblem* problem);

// Writes the message in the form to *out, ending with a newline unless
// empty. JSON uses the schema's field names and is indented. False, with the
// reason in *out, if the JSON converter refuses the message. Strings must be
// valid UTF-8 for JSON (see FindInvalidUtf8).
bool PrintTextForm(TextForm form, const google::protobuf::Message& message, std::string* out);

}  // namespace session_proto

#endif  // SESSION_PROTO_TEXT_FORMS_H_
