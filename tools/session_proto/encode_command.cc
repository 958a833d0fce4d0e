// session-proto encode: a message written by a person in, bytes out.
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

// Parses the text of one message, which begins on line `first_line` of the
// input, into `message`. On failure, *problem is "LINE:COLUMN: what", or
// "LINE: what" with the message's first line for missing required fields.
bool Encode(TextForm form, const std::string& text, int first_line, bool partial,
            google::protobuf::Message* message, std::string* problem) {
  TextProblem parse;
  if (!ParseTextForm(form, text, message, &parse)) {
    *problem = std::to_string(first_line + parse.where.line - 1) + ":" +
               std::to_string(parse.where.column) + ": " + parse.message;
    return false;
  }
  const std::string missing = partial ? "" : MissingRequiredFields(*message);
  if (missing.empty()) return true;
  *problem = std::to_string(first_line) + ": " + missing + kPartialHint;
  return false;
}

}  // namespace

int RunEncode(const google::protobuf::Descriptor& type, const EncodeOptions& options,
              Streams io) {
  std::ifstream file;
  const bool from_stdin = options.file == "-";
  if (!from_stdin) {
    file.open(options.file);
    if (!file) {
      Report(io.err, "cannot open " + options.file);
      return kExitBadInput;
    }
  }
  std::istream& in = from_stdin ? std::cin : file;
  const std::string name = from_stdin ? "<stdin>" : options.file;

  std::unique_ptr<google::protobuf::Message> message(
      google::protobuf::MessageFactory::generated_factory()->GetPrototype(&type)->New());
  const TextForm form = options.json ? TextForm::kJson : TextForm::kText;
  TextFrameReader frames(in, options.delimited, options.json);
  OutputBytes output(io.out, options.output);
  std::string text, problem;
  int first_line = 1, written = 0;
  int status = kExitOk;
  while (status == kExitOk && frames.Next(&text, &first_line)) {
    if (Encode(form, text, first_line, options.partial, message.get(), &problem)) {
      const std::string bytes = message->SerializePartialAsString();
      options.delimited ? output.WriteFrame(bytes) : output.Write(bytes);
      ++written;
      continue;
    }
    Report(io.err, name + ":" + problem);
    status = kExitBadInput;
  }
  if (status == kExitOk && in.bad()) {
    Report(io.err, "cannot read " + name);
    status = kExitBadInput;
  }
  // The output holds exactly the messages before a failed one: none at all
  // (not even a newline) if the first one failed.
  if (status == kExitOk || written > 0) output.Finish();
  return status;
}

}  // namespace session_proto
