// The messages of an input that the selection options let through, each
// decoded by its class: what decode prints and stats counts.
#ifndef SESSION_PROTO_SELECTED_MESSAGES_H_
#define SESSION_PROTO_SELECTED_MESSAGES_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>

#include "tools/session_proto/decoding.h"
#include "tools/session_proto/message_source.h"
#include "tools/session_proto/selection.h"

namespace session_proto {

struct SelectionOptions {
  std::string file = "-";
  ByteForm input = ByteForm::kRaw;
  Framing framing = Framing::kWhole;
  bool partial = false;  // accept messages that lack required fields
  // Of a stream: the first `skip` messages are passed over, at most `limit`
  // are taken, and only those `where` selects.
  uint64_t skip = 0;
  std::optional<uint64_t> limit;
  const Selection* where = nullptr;
  // Of a stream: a message whose bytes do not decode, or damaged framing,
  // is reported and skipped; the exit status says so at the end.
  bool keep_going = false;
  bool follow = false;  // wait for a regular file to grow at its end
};

class SelectedMessages {
 public:
  SelectedMessages(const google::protobuf::Descriptor& type, const SelectionOptions& options,
                   std::ostream& err);

  // Opens the input; false once `err` has been told why.
  bool Open();
  // Moves to the next selected message that decodes. False at the end, at
  // the limit, or when a fault stops the stream (reported). A message that
  // does not decode is shown to `undecodable` before it is reported.
  bool Next(const std::function<void(const SourcedMessage&)>& undecodable = nullptr);
  // Refuses the current message for `problem` ("byte N: ..." or the like):
  // skipped with --keep-going, otherwise the stream stops.
  void Refuse(const std::string& problem);
  // Counts the current message as taken, for the limit.
  void Take() { ++taken_; }

  const SourcedMessage& source() const { return current_; }
  const google::protobuf::Message& message() const { return decoder_.message(); }
  // Where byte offsets in reports about the current message count from.
  uint64_t base() const { return options_.framing == Framing::kDelimited ? current_.offset : 0; }

  uint64_t taken() const { return taken_; }
  uint64_t read() const { return read_; }
  bool selecting() const { return options_.skip > 0 || options_.limit || options_.where; }
  // Whether a fault stopped the stream.
  bool stopped() const { return stopped_; }
  // The exit status, after reporting what was skipped.
  int Finish();

 private:
  const google::protobuf::Descriptor& type_;
  const SelectionOptions& options_;
  std::ostream& err_;
  std::unique_ptr<MessageSource> source_;
  MessageDecoder decoder_;
  SourcedMessage current_;
  uint64_t taken_ = 0, read_ = 0, skipped_ = 0, damaged_ = 0;
  bool stopped_ = false;
};

}  // namespace session_proto

#endif  // SESSION_PROTO_SELECTED_MESSAGES_H_
