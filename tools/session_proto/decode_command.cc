// session-proto decode: bytes in, a readable message out.
#include <string>
#include <string_view>
#include <vector>

#include "tools/session_proto/annotate.h"
#include "tools/session_proto/commands.h"
#include "tools/session_proto/decoding.h"
#include "tools/session_proto/message_source.h"
#include "tools/session_proto/text_forms.h"
#include "tools/session_proto/wire_paths.h"

namespace session_proto {
namespace {

class Decoder {
 public:
  Decoder(const google::protobuf::Descriptor& type, const DecodeOptions& options)
      : type_(type), options_(options), decoder_(type) {}

  // Decodes `bytes` (found at `offset` of the input) into message().
  bool Decode(std::string_view bytes, uint64_t offset, std::string* problem) {
    return decoder_.Decode(bytes, offset, options_.partial, problem);
  }
  const google::protobuf::Message& message() const { return decoder_.message(); }

  // Whether the decoded message can be printed; *problem says why not.
  bool Printable(std::string_view bytes, uint64_t offset, std::string* problem) const {
    if (options_.rendering == Rendering::kText || options_.rendering == Rendering::kAnnotate) {
      return true;
    }
    if (auto bad = FindInvalidUtf8(type_, bytes)) {
      *problem = "byte " + std::to_string(offset + bad->offset) + ": " + bad->reason +
                 ": JSON cannot hold it (text format can)";
      return false;
    }
    return true;
  }

  // Prints the decoded message; *notes gets what the form does not carry.
  void Print(std::string_view bytes, std::ostream& out, std::vector<std::string>* notes) {
    if (options_.rendering == Rendering::kAnnotate) {
      std::vector<std::string> missing;
      if (std::string m = MissingRequiredFields(message()); !m.empty()) missing.push_back(m);
      out << Annotate(type_, bytes, missing);
      return;
    }
    const TextForm form = options_.rendering == Rendering::kText   ? TextForm::kText
                          : options_.rendering == Rendering::kJson ? TextForm::kJson
                                                                   : TextForm::kJsonLine;
    PrintOptions print;
    print.strict_json = options_.strict_json;
    PrintTextForm(form, message(), print, out, notes);
  }

 private:
  const google::protobuf::Descriptor& type_;
  const DecodeOptions& options_;
  MessageDecoder decoder_;
};

std::string Plural(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Decodes and prints; `shown` counts the messages printed.
int DecodeMessages(const google::protobuf::Descriptor& type, const DecodeOptions& options,
                   Streams io, uint64_t& shown) {
  std::unique_ptr<MessageSource> source =
      OpenMessages(options.file, options.input, options.framing, io.err);
  if (!source) return kExitBadInput;
  const bool several = options.framing != Framing::kWhole;
  const bool headers = several && options.rendering != Rendering::kJsonLines;
  const bool selecting = options.skip > 0 || options.limit || options.where;
  Decoder decoder(type, options);
  SourcedMessage message;
  std::string problem;
  std::vector<std::string> notes;
  uint64_t skipped = 0, read = 0;
  // One message at a time: memory is bounded by the largest message, not by
  // the length of the stream.
  while (io.out && !(options.limit && shown >= *options.limit)) {
    MessageSource::Result result = source->Next(&message, &problem);
    if (result == MessageSource::Result::kEnd) break;
    if (result == MessageSource::Result::kFault) {
      Report(io.err, problem);
      return kExitBadInput;
    }
    read = message.index;
    if (message.index <= options.skip) continue;
    bool good = result == MessageSource::Result::kMessage;
    const uint64_t base = several && options.framing == Framing::kDelimited ? message.offset : 0;
    if (good && !decoder.Decode(message.bytes, base, &problem)) {
      good = false;
      problem = message.where + problem;
      // The dump of a message that does not decode shows how far it got.
      if (options.rendering == Rendering::kAnnotate) {
        if (headers) io.out << message.Header() << "\n";
        io.out << Annotate(type, message.bytes);
      }
    } else if (good) {
      if (options.where && !options.where->Matches(decoder.message())) continue;
      good = decoder.Printable(message.bytes, base, &problem);
      if (good) {
        if (headers) io.out << message.Header() << "\n";
        notes.clear();
        decoder.Print(message.bytes, io.out, &notes);
        for (const std::string& note : notes) Report(io.err, message.where + note);
        ++shown;
        continue;
      }
      problem = message.where + problem;
    }
    if (!options.keep_going) {
      Report(io.err, problem);
      return kExitBadInput;
    }
    Report(io.err, problem + " (skipped)");
    ++skipped;
  }
  if (headers) {
    io.out << "# " << Plural(shown, "message", "messages");
    if (selecting) io.out << " of " << read << " read";
    io.out << "\n";
  }
  if (skipped > 0) {
    Report(io.err, std::to_string(skipped) + " of " + Plural(read, "message", "messages") +
                       " skipped");
    return kExitBadInput;
  }
  return kExitOk;
}

}  // namespace

int RunDecode(const google::protobuf::Descriptor& type, const DecodeOptions& options,
              Streams io) {
  uint64_t shown = 0;
  const int status = DecodeMessages(type, options, io, shown);
  if (!options.exit_status) return status;
  // grep's convention: 0 when a message was printed, 1 when none, 2 on error.
  return status != kExitOk ? kExitUsage : shown > 0 ? kExitOk : kExitBadInput;
}

}  // namespace session_proto
