// Messages in text input, one after another.
//
// Split by separators (encode --delimited or --lines): lines that start
// with "---" separate the messages. A piece that holds only blanks and
// comments is no message (so a trailing "---" adds none), unless its
// separator is a header "--- message N..." as decode prints them: that is
// how decode shows an empty message, which must read back as one.
//
// Split by lines (--json-lines): every line that is not blank or a comment
// is a message. In JSON, lines whose first non-blank character is '#' are
// comments (text format has its own '#' comments).
#ifndef SESSION_PROTO_TEXT_FRAMES_H_
#define SESSION_PROTO_TEXT_FRAMES_H_

#include <istream>
#include <string>

namespace session_proto {

class TextFrameReader {
 public:
  enum class Split { kNone, kSeparators, kLines };

  TextFrameReader(std::istream& in, Split split, bool json)
      : in_(in), split_(split), json_(json) {}

  // The next message's text and the input line (from 1) on which it begins.
  // False when there are no more; check the stream for read errors then.
  bool Next(std::string* text, int* first_line);

 private:
  std::istream& in_;
  Split split_;
  bool json_;
  int line_ = 0;
  bool after_header_ = false;
  bool done_ = false;
};

}  // namespace session_proto

#endif  // SESSION_PROTO_TEXT_FRAMES_H_
