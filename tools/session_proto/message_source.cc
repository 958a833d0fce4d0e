#include "tools/session_proto/message_source.h"

namespace session_proto {

std::string SourcedMessage::Header() const {
  std::string header = "--- message " + std::to_string(index) + ": " +
                       std::to_string(bytes.size()) + (bytes.size() == 1 ? " byte" : " bytes");
  return header + (framing == Framing::kLines ? " on line " + std::to_string(index)
                                              : " at offset " + std::to_string(offset));
}

namespace {

constexpr int kRun = 3;
// Frames are taken as resynchronization points only up to this size, so that
// a damaged prefix cannot make the scan read gigabytes ahead.
constexpr uint64_t kMaxResyncFrame = 64 << 20;

}  // namespace

bool MessageSource::FrameAt(size_t at, size_t* end, std::string_view* payload) {
  std::string_view data = input_->Peek(at + 10);
  uint64_t length = 0;
  size_t i = at;
  for (int shift = 0;; shift += 7, ++i) {
    if (i >= data.size() || shift > 63) return false;
    const uint8_t byte = static_cast<uint8_t>(data[i]);
    length |= static_cast<uint64_t>(byte & 0x7f) << shift;
    if (byte < 0x80) break;
  }
  ++i;
  if (length > kMaxResyncFrame) return false;
  data = input_->Peek(i + length);
  if (data.size() < i + length) return false;
  *end = i + length;
  *payload = data.substr(i, length);
  return true;
}

bool MessageSource::RunParsesAt(size_t at) {
  for (int frames = 0; frames < kRun; ++frames) {
    if (frames > 0 && input_->Peek(at + 1).size() == at) return true;  // the end exactly
    // Empty messages do not count: zeros would pass for a run of them.
    std::string_view payload;
    if (!FrameAt(at, &at, &payload) || payload.empty() || !parses_(payload)) return false;
  }
  return true;
}

MessageSource::Result MessageSource::Resynchronized(SourcedMessage* message,
                                                    std::string* problem) {
  const uint64_t start = input_->offset();
  if (input_->Peek(1).empty()) {
    done_ = true;
    if (input_->error().empty()) return Result::kEnd;
    *problem = input_->error();
    return Result::kFault;
  }
  size_t end;
  std::string_view payload;
  std::string why;
  if (FrameAt(0, &end, &payload)) {
    // A message that does not parse, but with the stream sound after it,
    // is one bad message: decoding reports it.
    const size_t length = payload.size();  // the view goes with the next Peek
    if (parses_(payload) || input_->Peek(end + 1).size() == end || RunParsesAt(end)) {
      message->offset = start + (end - length);
      message->bytes.assign(input_->Peek(end).substr(end - length));
      input_->Skip(end);
      return Result::kMessage;
    }
    why = "message length " + std::to_string(length) + " leads to no message";
  } else {
    why = "damaged length prefix";
  }
  size_t resume = 1;
  while (input_->Peek(resume + 1).size() > resume && !RunParsesAt(resume)) ++resume;
  if (!input_->error().empty()) {
    done_ = true;
    *problem = input_->error();
    return Result::kFault;
  }
  input_->Skip(resume);
  *problem = message->where + "byte " + std::to_string(start) + ": " + why + "; bytes " +
             std::to_string(start) + " to " + std::to_string(start + resume - 1) +
             " skipped (" + std::to_string(resume) + (resume == 1 ? " byte" : " bytes") +
             " lost)";
  return Result::kSkippedBytes;
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
      if (parses_) return Resynchronized(message, problem);
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
    *problem = error;
    return Result::kBadMessage;
  }
  done_ = true;
  if (input_->error().empty()) return Result::kEnd;
  *problem = input_->error();
  return Result::kFault;
}

}  // namespace session_proto
