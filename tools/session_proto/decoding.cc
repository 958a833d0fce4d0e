#include "tools/session_proto/decoding.h"

#include <limits>
#include <vector>

#include "tools/session_proto/wire_walk.h"

namespace session_proto {

using google::protobuf::Message;
using google::protobuf::MessageFactory;

MessageDecoder::MessageDecoder(const google::protobuf::Descriptor& type)
    : message_(MessageFactory::generated_factory()->GetPrototype(&type)->New()) {}

bool MessageDecoder::Decode(std::string_view bytes, uint64_t base_offset, bool partial,
                            std::string* problem) {
  message_->Clear();
  if (bytes.size() > static_cast<size_t>(std::numeric_limits<int>::max())) {
    *problem = "the input is beyond the 2 GiB limit of a message";
    return false;
  }
  if (!message_->ParsePartialFromArray(bytes.data(), static_cast<int>(bytes.size()))) {
    WireWalk walk = WalkWire(*message_->GetDescriptor(), bytes);
    if (walk.fault) {
      *problem = "byte " + std::to_string(base_offset + walk.fault->offset) + ": " +
                 walk.fault->reason;
    } else {
      *problem = "the message class refused the bytes, but no fault was found in them";
    }
    return false;
  }
  if (!partial) {
    *problem = MissingRequiredFields(*message_);
    if (!problem->empty()) {
      *problem += kPartialHint;
      return false;
    }
  }
  return true;
}

std::string MissingRequiredFields(const Message& message) {
  if (message.IsInitialized()) return "";
  std::vector<std::string> missing;
  message.FindInitializationErrors(&missing);
  if (missing.empty()) return "";
  std::string text = missing.size() == 1 ? "missing required field " : "missing required fields ";
  for (size_t i = 0; i < missing.size(); ++i) text += (i ? ", " : "") + missing[i];
  return text;
}

}  // namespace session_proto
