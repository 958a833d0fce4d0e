#include "tools/session_proto/text_frames.h"

namespace session_proto {
namespace {

bool IsComment(const std::string& line) {
  size_t first = line.find_first_not_of(" \t\r");
  return first != std::string::npos && line[first] == '#';
}

bool IsBlankOrComment(const std::string& line) {
  return line.find_first_not_of(" \t\r") == std::string::npos || IsComment(line);
}

}  // namespace

bool TextFrameReader::Next(std::string* text, int* first_line) {
  if (done_) return false;
  text->clear();
  *first_line = line_ + 1;
  bool blank = true;
  std::string line;
  while (std::getline(in_, line)) {
    ++line_;
    if (split_ == Split::kLines) {
      if (IsBlankOrComment(line)) continue;
      *first_line = line_;
      *text = line + '\n';
      return true;
    }
    if (split_ == Split::kSeparators && line.compare(0, 3, "---") == 0) {
      const bool is_message = !blank || after_header_;
      after_header_ = line.compare(0, 12, "--- message ") == 0;
      if (is_message) return true;
      text->clear();
      *first_line = line_ + 1;
      continue;
    }
    blank = blank && IsBlankOrComment(line);
    // JSON comments become empty lines, so that line numbers stay right.
    if (!(json_ && IsComment(line))) *text += line;
    *text += '\n';
  }
  done_ = true;
  return split_ == Split::kNone || !blank || after_header_;
}

}  // namespace session_proto
