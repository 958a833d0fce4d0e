// session-proto encode: a message written by a person in, bytes out.
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>

#include <google/protobuf/message.h>

#include "tools/session_proto/byte_stream.h"
#include "tools/session_proto/commands.h"
#include "tools/session_proto/decoding.h"
#include "tools/session_proto/text_forms.h"
#include "tools/session_proto/text_frames.h"

namespace session_proto {
namespace {

// Where a message of the input failed, counted in the whole input, and why.
// Column 0 names the line as a whole.
struct InputProblem {
  TextPosition where;
  std::string what;
};

// Moves a place past the last character of `text` that is not blank (the
// end of the text, for a parser) to just after that character.
TextPosition WithinText(std::string_view text, TextPosition where) {
  TextPosition at, last;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\n') {
      ++at.line, at.column = 1;
      continue;
    }
    if ((static_cast<uint8_t>(c) & 0xc0) != 0x80) ++at.column;
    if (c != ' ' && c != '\t' && c != '\r') last = at;
  }
  if (where.line > last.line || (where.line == last.line && where.column > last.column)) {
    return last;
  }
  return where;
}

// Parses the text of one message, which begins on line `first_line` of the
// input, into `message`. Missing required fields are placed at the
// message's first line.
bool Encode(TextForm form, const std::string& text, int first_line, bool partial,
            google::protobuf::Message* message, InputProblem* problem) {
  TextProblem parse;
  if (!ParseTextForm(form, text, message, &parse)) {
    const TextPosition at = WithinText(text, parse.where);
    *problem = InputProblem{{first_line + at.line - 1, at.column}, parse.What()};
    return false;
  }
  const std::string missing = partial ? "" : MissingRequiredFields(*message);
  if (missing.empty()) return true;
  *problem = InputProblem{{first_line, 0}, missing + kPartialHint};
  return false;
}

}  // namespace

int RunEncode(const google::protobuf::Descriptor& type, const EncodeOptions& options,
              Streams io) {
  std::ifstream file;
  const bool from_stdin = options.file == "-";
  if (!from_stdin) {
    errno = 0;
    file.open(options.file, std::ios::binary);
    if (!file) {
      Report(io.err, "cannot open " + options.file + ": " + std::strerror(errno));
      return kExitBadInput;
    }
  }
  std::istream& in = from_stdin ? std::cin : file;
  const std::string name = from_stdin ? "<stdin>" : options.file;

  std::unique_ptr<google::protobuf::Message> message(
      google::protobuf::MessageFactory::generated_factory()->GetPrototype(&type)->New());
  const bool several = options.delimited || options.lines;
  TextFrameReader frames(in,
                         options.json_lines ? TextFrameReader::Split::kLines
                         : several          ? TextFrameReader::Split::kSeparators
                                            : TextFrameReader::Split::kNone,
                         options.json || options.json_lines);
  const TextForm form = options.json || options.json_lines ? TextForm::kJson : TextForm::kText;
  OutputBytes output(io.out, options.output);
  std::string text;
  InputProblem problem;
  int first_line = 1;
  uint64_t written = 0;
  int status = kExitOk;
  // A stream is written as it is read: after a failure, the messages before
  // the failed one have been written, and the report says how many.
  while (status == kExitOk && io.out && frames.Next(&text, &first_line)) {
    if (Encode(form, text, first_line, options.partial, message.get(), &problem)) {
      const std::string bytes = message->SerializePartialAsString();
      if (options.lines) {
        output.Write(bytes);
        output.Finish();
      } else {
        options.delimited ? output.WriteFrame(bytes) : output.Write(bytes);
        if (options.flush_each) io.out.flush();
      }
      ++written;
      continue;
    }
    // The text forms end their output with a newline before the report.
    if (written > 0 && !options.lines) output.Finish();
    const std::string which =
        several ? "message " + std::to_string(written + 1) + ": " : std::string();
    Report(io.err, name + ":" + std::to_string(problem.where.line) + ":" +
                       (problem.where.column > 0 ? std::to_string(problem.where.column) + ": "
                                                 : " ") +
                       which + problem.what);
    if (written > 0) {
      Report(io.err, "the " + std::to_string(written) +
                         (written == 1 ? " message before it was" : " messages before it were") +
                         " written");
    }
    status = kExitBadInput;
  }
  if (status == kExitOk) {
    if (!options.lines) output.Finish();
    if (in.bad()) {
      Report(io.err, "cannot read " + name + ": " + std::strerror(errno));
      status = kExitBadInput;
    }
  }
  return status;
}

}  // namespace session_proto
