// Places in a JSON text. The runtime's JSON converter names a field path
// when it refuses a value and gives no line or column for syntax errors;
// this strict scanner finds syntax errors itself, with their line and
// column, and records where the value of every field path lies, so that the
// converter's errors can be placed too.
#ifndef SESSION_PROTO_JSON_LOCATE_H_
#define SESSION_PROTO_JSON_LOCATE_H_

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <google/protobuf/descriptor.h>

namespace session_proto {

// A place in a text; lines and columns count from 1, columns in characters.
struct TextPosition {
  int line = 1;
  int column = 1;
};

struct TextProblem {
  TextPosition where;
  std::string message;
};

class JsonLocator {
 public:
  // Scans `text`, which should be a JSON object holding a message of
  // `type`. False on a syntax error, described by *problem.
  bool Scan(std::string_view text, const google::protobuf::Descriptor& type,
            TextProblem* problem);

  // Places an error message of the converter, such as
  // "(ptz_message.move.pan_target): invalid value 1.5 for type TYPE_INT32"
  // or "(ptz_message.move) panTargt: Cannot find field.", at the value or
  // key it names (the nearest recorded enclosing value if need be), and
  // words it as "ptz_message.move.pan_target: invalid value ...".
  TextProblem Locate(const std::string& converter_message) const;

  // Where a float or double field's value is written "-0": the converter
  // reads that as an integer and loses the sign, which "-0.0" keeps. The
  // offsets are those just past the "-0", in increasing order.
  const std::vector<size_t>& negative_zeros() const { return negative_zeros_; }

 private:
  TextPosition Find(std::string path) const;

  // Field path ("change.properties[0].path"; unknown keys as written) to
  // the place of its value (of the key, for unknown keys).
  std::map<std::string, TextPosition> positions_;
  std::vector<size_t> negative_zeros_;
};

}  // namespace session_proto

#endif  // SESSION_PROTO_JSON_LOCATE_H_
