#include "tools/session_proto/message_source.h"

namespace session_proto {

std::string SourcedMessage::Header() const {
  std::string header = "--- message " + std::to_string(index) + ": " +
                       std::to_string(bytes.size()) + (bytes.size() == 1 ? " byte" : " bytes");
  return header + (framing == Framing::kLines ? " on line " + std::to_string(index)
                                              : " at offset " + std::to_string(offset));
}

std::unique_ptr<MessageSource> MessageSource::Open(const std::string& path, ByteForm form,
                                                   Framing framing, std::string* error) {
  // Lines are decoded from their text one by one.
  std::unique_ptr<InputBytes> input =
      InputBytes::Open(path, framing == Framing::kLines ? ByteForm::kRaw : form, error);
  if (!input) return nullptr;
  if (framing == Framing::kWhole) input->RequireWrappedLines();
  return std::unique_ptr<MessageSource>(new MessageSource(std::move(input), form, framing));
}

MessageSource::Result MessageSource::Next(SourcedMessage* message, std::string* problem) {
  if (done_) return Result::kEnd;
  message->framing = framing_;
  message->index = ++index_;
  const std::string& name = input_->name();
  switch (framing_) {
    case Framing::kWhole:
      done_ = true;
      message->where = name + ": ";
      message->bytes.clear();
      if (input_->ReadAll(&message->bytes)) return Result::kMessage;
      *problem = input_->error();
      return Result::kFault;
    case Framing::kDelimited: {
      message->where = name + ": message " + std::to_string(index_) + ": ";
      FrameFault fault;
      switch (ReadFrame(*input_, &message->bytes, &message->offset, &fault)) {
        case FrameResult::kMessage:
          return Result::kMessage;
        case FrameResult::kEnd:
          done_ = true;
          return Result::kEnd;
        case FrameResult::kBadFrame:
          *problem = message->where + "byte " + std::to_string(fault.offset) + ": " + fault.reason;
          break;
        case FrameResult::kInputError:
          *problem = input_->error();
          break;
      }
      done_ = true;
      return Result::kFault;
    }
    case Framing::kLines:
      break;
  }
  // One message per line; a blank line is an empty message, as encode
  // --lines writes it.
  if (input_->ReadLine(&text_)) {
    message->where = name + ": line " + std::to_string(index_) + ": ";
    message->bytes.clear();
    std::string error;
    if (DecodeText(form_, text_, &message->bytes, &error)) return Result::kMessage;
    *problem = message->where + error;
    return Result::kBadMessage;
  }
  done_ = true;
  if (input_->error().empty()) return Result::kEnd;
  *problem = input_->error();
  return Result::kFault;
}

}  // namespace session_proto
