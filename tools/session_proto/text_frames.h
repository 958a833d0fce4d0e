// Messages in text input, one after another: in a delimited stream, lines
// that start with "---" separate them (the header lines decode writes), and
// in JSON lines whose first non-blank character is '#' are comments (text
// format has its own '#' comments). Text before the first separator is a
// message only if it holds more than blanks and comments; after a separator
// it always is, if only an empty one.
#ifndef SESSION_PROTO_TEXT_FRAMES_H_
#define SESSION_PROTO_TEXT_FRAMES_H_

#include <istream>
#include <string>

namespace session_proto {

class TextFrameReader {
 public:
  // With `split` false, the whole input is one message.
  TextFrameReader(std::istream& in, bool split, bool json) : in_(in), split_(split), json_(json) {}

  // The next message's text and the input line (from 1) on which it begins.
  // False when there are no more; check the stream for read errors then.
  bool Next(std::string* text, int* first_line);

 private:
  std::istream& in_;
  bool split_;
  bool json_;
  int line_ = 0;
  bool seen_separator_ = false;
  bool done_ = false;
};

}  // namespace session_proto

#endif  // SESSION_PROTO_TEXT_FRAMES_H_
