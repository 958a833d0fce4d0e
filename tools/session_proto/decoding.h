// Decoding bytes with a message type's registered class (the hand-written
// parser), and saying why when that fails: the wire walker's fault with its
// byte offset, or the required fields that are missing.
#ifndef SESSION_PROTO_DECODING_H_
#define SESSION_PROTO_DECODING_H_

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>

namespace session_proto {

class MessageDecoder {
 public:
  // Uses the prototype the generated factory holds for `type`.
  explicit MessageDecoder(const google::protobuf::Descriptor& type);

  // Replaces message() by the decoding of `bytes`. On failure, *problem
  // says why; byte offsets in it count from `base_offset`. Missing required
  // fields are a failure unless `partial`.
  bool Decode(std::string_view bytes, uint64_t base_offset, bool partial,
              std::string* problem);

  const google::protobuf::Message& message() const { return *message_; }

 private:
  std::unique_ptr<google::protobuf::Message> message_;
};

// "missing required field change.properties[0].metadata[0].value" (or
// "fields a, b"); empty when `message` has all its required fields.
std::string MissingRequiredFields(const google::protobuf::Message& message);

// What failures over missing required fields add.
constexpr char kPartialHint[] = " (--partial accepts the message without them)";

}  // namespace session_proto

#endif  // SESSION_PROTO_DECODING_H_
