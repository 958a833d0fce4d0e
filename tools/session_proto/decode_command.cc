// session-proto decode: bytes in, a readable message out.
#include <string>
#include <string_view>
#include <vector>

#include "tools/session_proto/annotate.h"
#include "tools/session_proto/commands.h"
#include "tools/session_proto/decoding.h"
#include "tools/session_proto/selected_messages.h"
#include "tools/session_proto/text_forms.h"
#include "tools/session_proto/wire_paths.h"
#include "tools/session_proto/wire_walk.h"

namespace session_proto {
namespace {

// Whether a string field of the message (at any depth) is not UTF-8.
bool HoldsInvalidUtf8(const google::protobuf::Message& message) {
  const google::protobuf::Reflection& r = *message.GetReflection();
  std::vector<const google::protobuf::FieldDescriptor*> fields;
  r.ListFields(message, &fields);
  for (const google::protobuf::FieldDescriptor* field : fields) {
    const int count = field->is_repeated() ? r.FieldSize(message, field) : 1;
    for (int i = 0; i < count; ++i) {
      if (field->message_type() != nullptr) {
        if (HoldsInvalidUtf8(field->is_repeated() ? r.GetRepeatedMessage(message, field, i)
                                                  : r.GetMessage(message, field))) {
          return true;
        }
      } else if (field->type() == google::protobuf::FieldDescriptor::TYPE_STRING) {
        std::string scratch;
        const std::string& value =
            field->is_repeated() ? r.GetRepeatedStringReference(message, field, i, &scratch)
                                 : r.GetStringReference(message, field, &scratch);
        if (FirstInvalidUtf8(value) < value.size()) return true;
      }
    }
  }
  return false;
}

// Whether the decoded message can be printed in the form; *problem says
// why not.
bool Printable(const google::protobuf::Message& message, Rendering rendering,
               std::string_view bytes, uint64_t offset, std::string* problem) {
  if (rendering != Rendering::kJson && rendering != Rendering::kJsonLines) return true;
  if (!HoldsInvalidUtf8(message)) return true;
  // Where, from the bytes.
  if (auto bad = FindInvalidUtf8(*message.GetDescriptor(), bytes)) {
    *problem = "byte " + std::to_string(offset + bad->offset) + ": " + bad->reason +
               ": JSON cannot hold it (text format can)";
    return false;
  }
  return true;
}

// Prints the decoded message; *notes gets what the form does not carry.
void Print(const SelectedMessages& messages, const DecodeOptions& options, std::ostream& out,
           std::vector<std::string>* notes) {
  const google::protobuf::Message& message = messages.message();
  if (options.rendering == Rendering::kColumns) {
    options.columns->Row(messages.source(), message, out);
    return;
  }
  if (options.rendering == Rendering::kAnnotate) {
    std::vector<std::string> missing;
    if (std::string m = MissingRequiredFields(message); !m.empty()) missing.push_back(m);
    out << Annotate(*message.GetDescriptor(), messages.source().bytes, missing);
    return;
  }
  const TextForm form = options.rendering == Rendering::kText   ? TextForm::kText
                        : options.rendering == Rendering::kJson ? TextForm::kJson
                                                                : TextForm::kJsonLine;
  PrintOptions print;
  print.strict_json = options.strict_json;
  PrintTextForm(form, message, print, out, notes);
}

std::string Plural(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

// Decodes and prints; `shown` counts the messages printed.
int DecodeMessages(const google::protobuf::Descriptor& type, const DecodeOptions& options,
                   Streams io, uint64_t& shown) {
  SelectedMessages messages(type, options.selection, io.err);
  if (!messages.Open()) return kExitBadInput;
  const bool several = options.selection.framing != Framing::kWhole;
  const bool headers = several && options.rendering != Rendering::kJsonLines &&
                       options.rendering != Rendering::kColumns;
  if (options.columns != nullptr) options.columns->Header(io.out);
  // The dump of a message that does not decode shows how far it got.
  auto dump = [&](const SourcedMessage& message) {
    if (options.rendering != Rendering::kAnnotate) return;
    if (headers) io.out << message.Header() << "\n";
    io.out << Annotate(type, message.bytes);
  };
  std::string problem;
  std::vector<std::string> notes;
  while (io.out && messages.Next(dump)) {
    const SourcedMessage& message = messages.source();
    if (!Printable(messages.message(), options.rendering, message.bytes, messages.base(),
                   &problem)) {
      messages.Refuse(problem);
      continue;
    }
    if (headers) io.out << message.Header() << "\n";
    notes.clear();
    Print(messages, options, io.out, &notes);
    for (const std::string& note : notes) Report(io.err, message.where + note);
    messages.Take();
    if (options.flush_each) io.out.flush();
  }
  shown = messages.taken();
  if (messages.stopped()) return kExitBadInput;
  if (headers) {
    io.out << "# " << Plural(shown, "message", "messages");
    if (messages.selecting()) io.out << " of " << messages.read() << " read";
    io.out << "\n";
  }
  return messages.Finish();
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

int RunDecodeRaw(const DecodeOptions& options, Streams io) {
  std::unique_ptr<MessageSource> source = OpenMessages(
      options.selection.file, options.selection.input, options.selection.framing, io.err);
  if (!source) return kExitBadInput;
  const bool headers = options.selection.framing != Framing::kWhole;
  SourcedMessage message;
  std::string problem;
  uint64_t shown = 0;
  for (MessageSource::Result result; (result = source->Next(&message, &problem)) !=
                                     MessageSource::Result::kEnd;) {
    if (result != MessageSource::Result::kMessage) {
      Report(io.err, (result == MessageSource::Result::kBadMessage ? message.where : "") +
                         problem);
      return kExitBadInput;
    }
    if (headers) io.out << message.Header() << "\n";
    io.out << Annotate(nullptr, message.bytes);
    ++shown;
    if (options.flush_each) io.out.flush();
    if (auto fault = WalkWire(nullptr, message.bytes).fault) {
      const uint64_t base = headers && options.selection.framing == Framing::kDelimited
                                ? message.offset
                                : 0;
      Report(io.err, message.where + "byte " + std::to_string(base + fault->offset) + ": " +
                         fault->reason);
      return kExitBadInput;
    }
  }
  if (headers) io.out << "# " << Plural(shown, "message", "messages") << "\n";
  return kExitOk;
}

}  // namespace session_proto
