// The messages of an input, one at a time, however it holds them: the whole
// input as one message, a length-prefixed stream (--delimited), or one
// hex or base64 message per line (--lines; a blank line is an empty one).
#ifndef SESSION_PROTO_MESSAGE_SOURCE_H_
#define SESSION_PROTO_MESSAGE_SOURCE_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "tools/session_proto/byte_codec.h"
#include "tools/session_proto/byte_stream.h"

namespace session_proto {

enum class Framing { kWhole, kDelimited, kLines };

struct SourcedMessage {
  std::string bytes;
  uint64_t index = 0;   // from 1; with --lines, the input line too
  uint64_t offset = 0;  // --delimited: where the bytes begin in the input
  // How errors name the message: "<stdin>: message 2: ", "<stdin>: line 7: "
  // or, for the whole input, "<stdin>: ".
  std::string where;
  // "--- message 2: 5 bytes at offset 7" (or "... on line 7"): the header
  // that precedes the message among several.
  std::string Header() const;
  Framing framing = Framing::kWhole;
};

class MessageSource {
 public:
  // kSkippedBytes: damaged framing was passed over (--keep-going); the
  // problem says which bytes, and the next call goes on after them.
  enum class Result { kMessage, kEnd, kBadMessage, kFault, kSkippedBytes };

  // Null, with *error, if the input cannot be opened.
  static std::unique_ptr<MessageSource> Open(const std::string& path, ByteForm form,
                                             Framing framing, std::string* error);

  // The next message. kBadMessage when one line's text is not of the form
  // (the next call goes on after it; *problem says why, message->where
  // where); kFault when the input cannot be read or framed any further
  // (nothing more comes; *problem says where and why).
  Result Next(SourcedMessage* message, std::string* problem);

  // Of a length-prefixed stream: a frame whose length prefix is damaged (it
  // runs past the end, or its message does not parse and neither does what
  // follows it) is not the end. The stream goes on from the next offset from
  // which a run of messages parses, `parses` telling whether bytes are one.
  void Resynchronize(std::function<bool(std::string_view)> parses) {
    parses_ = std::move(parses);
  }
  void Follow() { input_->Follow(); }

 private:
  // Whether kRun frames whose messages are not empty and parse, or as many
  // as there are up to the exact end of the input (at least one), begin
  // `at` bytes ahead.
  bool RunParsesAt(size_t at);
  // The frame `at` bytes ahead: false unless it lies whole in the input;
  // *end is where it ends, *payload its message.
  bool FrameAt(size_t at, size_t* end, std::string_view* payload);
  Result Resynchronized(SourcedMessage* message, std::string* problem);

  MessageSource(std::unique_ptr<InputBytes> input, ByteForm form, Framing framing)
      : input_(std::move(input)), form_(form), framing_(framing) {}

  std::unique_ptr<InputBytes> input_;
  ByteForm form_;
  Framing framing_;
  uint64_t index_ = 0;
  bool done_ = false;
  std::string text_;
  std::function<bool(std::string_view)> parses_;
};

}  // namespace session_proto

#endif  // SESSION_PROTO_MESSAGE_SOURCE_H_
