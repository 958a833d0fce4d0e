// session-proto decode: bytes in, a readable message out.
#include <string>
#include <string_view>
#include <vector>

#include "tools/session_proto/annotate.h"
#include "tools/session_proto/byte_stream.h"
#include "tools/session_proto/commands.h"
#include "tools/session_proto/decoding.h"
#include "tools/session_proto/text_forms.h"

namespace session_proto {
namespace {

class Decoder {
 public:
  Decoder(const google::protobuf::Descriptor& type, const DecodeOptions& options)
      : type_(type), options_(options), decoder_(type) {}

  // Decodes `bytes` (found at `offset` of the input) and renders the
  // message in the chosen form into *text, or says why not in *problem.
  bool Render(std::string_view bytes, uint64_t offset, std::string* text,
              std::string* problem) {
    if (!decoder_.Decode(bytes, offset, options_.partial, problem)) return false;
    if (options_.annotate) {
      std::vector<std::string> notes;
      std::string missing = MissingRequiredFields(decoder_.message());
      if (!missing.empty()) notes.push_back(missing);
      *text = Annotate(type_, bytes, notes);
      return true;
    }
    if (PrintTextForm(options_.json ? TextForm::kJson : TextForm::kText, decoder_.message(),
                      text)) {
      return true;
    }
    *problem = *text;
    return false;
  }

 private:
  const google::protobuf::Descriptor& type_;
  const DecodeOptions& options_;
  MessageDecoder decoder_;
};

int DecodeOne(Decoder& decoder, InputBytes& input, Streams io) {
  std::string bytes, text, problem;
  if (!input.ReadAll(&bytes)) {
    Report(io.err, input.error());
    return kExitBadInput;
  }
  if (!decoder.Render(bytes, 0, &text, &problem)) {
    Report(io.err, input.name() + ": " + problem);
    return kExitBadInput;
  }
  io.out << text;
  return kExitOk;
}

// One message at a time: memory is bounded by the largest message, not by
// the length of the stream.
int DecodeStream(Decoder& decoder, InputBytes& input, Streams io) {
  std::string bytes, text, problem;
  uint64_t count = 0;
  while (true) {
    uint64_t offset = 0;
    FrameFault fault;
    FrameResult result = ReadFrame(input, &bytes, &offset, &fault);
    if (result == FrameResult::kEnd) break;
    const std::string where =
        input.name() + ": message " + std::to_string(count + 1) + ": ";
    if (result == FrameResult::kInputError) {
      Report(io.err, input.error());
      return kExitBadInput;
    }
    if (result == FrameResult::kBadFrame) {
      Report(io.err, where + "byte " + std::to_string(fault.offset) + ": " + fault.reason);
      return kExitBadInput;
    }
    if (!decoder.Render(bytes, offset, &text, &problem)) {
      Report(io.err, where + problem);
      return kExitBadInput;
    }
    ++count;
    io.out << "--- message " << count << ": " << bytes.size() << " bytes at offset " << offset
           << "\n"
           << text;
  }
  io.out << "# " << count << (count == 1 ? " message" : " messages") << "\n";
  return kExitOk;
}

}  // namespace

int RunDecode(const google::protobuf::Descriptor& type, const DecodeOptions& options,
              Streams io) {
  std::string error;
  std::unique_ptr<InputBytes> input = InputBytes::Open(options.file, options.input, &error);
  if (!input) {
    Report(io.err, error);
    return kExitBadInput;
  }
  Decoder decoder(type, options);
  int status = options.delimited ? DecodeStream(decoder, *input, io)
                                 : DecodeOne(decoder, *input, io);
  io.out.flush();
  return status;
}

}  // namespace session_proto
