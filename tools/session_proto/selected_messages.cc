#include "tools/session_proto/selected_messages.h"

#include "tools/session_proto/commands.h"

namespace session_proto {
namespace {

std::string Plural(uint64_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

SelectedMessages::SelectedMessages(const google::protobuf::Descriptor& type,
                                   const SelectionOptions& options, std::ostream& err)
    : type_(type), options_(options), err_(err), decoder_(type) {}

bool SelectedMessages::Open() {
  source_ = OpenMessages(options_.file, options_.input, options_.framing, err_);
  if (!source_) return false;
  if (options_.follow) source_->Follow();
  if (options_.keep_going && options_.framing == Framing::kDelimited) {
    std::unique_ptr<google::protobuf::Message> scratch(message().New());
    source_->Resynchronize(
        [scratch = std::shared_ptr<google::protobuf::Message>(std::move(scratch))](
            std::string_view bytes) {
          return scratch->ParsePartialFromArray(bytes.data(), static_cast<int>(bytes.size()));
        });
  }
  return true;
}

bool SelectedMessages::Next(const std::function<void(const SourcedMessage&)>& undecodable) {
  std::string problem;
  // One message at a time: memory is bounded by the largest message, not by
  // the length of the stream.
  while (!stopped_ && !(options_.limit && taken_ >= *options_.limit)) {
    const MessageSource::Result result = source_->Next(&current_, &problem);
    switch (result) {
      case MessageSource::Result::kEnd:
        return false;
      case MessageSource::Result::kFault:
        Report(err_, problem);
        stopped_ = true;
        return false;
      case MessageSource::Result::kSkippedBytes:
        Report(err_, problem);
        ++damaged_;
        continue;
      case MessageSource::Result::kBadMessage:
        read_ = current_.index;
        if (current_.index > options_.skip) Refuse(problem);
        continue;
      case MessageSource::Result::kMessage:
        break;
    }
    read_ = current_.index;
    if (current_.index <= options_.skip) continue;
    if (!decoder_.Decode(current_.bytes, base(), options_.partial, &problem)) {
      if (undecodable) undecodable(current_);
      Refuse(problem);
      continue;
    }
    if (options_.where && !options_.where->Matches(message())) continue;
    return true;
  }
  return false;
}

void SelectedMessages::Refuse(const std::string& problem) {
  if (!options_.keep_going) {
    Report(err_, current_.where + problem);
    stopped_ = true;
    return;
  }
  Report(err_, current_.where + problem + " (skipped)");
  ++skipped_;
}

int SelectedMessages::Finish() {
  if (stopped_) return kExitBadInput;
  if (skipped_ > 0) {
    Report(err_, std::to_string(skipped_) + " of " + Plural(read_, "message", "messages") +
                     " skipped");
  }
  if (damaged_ > 0) Report(err_, Plural(damaged_, "damaged stretch", "damaged stretches") +
                                     " of the stream skipped");
  return skipped_ > 0 || damaged_ > 0 ? kExitBadInput : kExitOk;
}

}  // namespace session_proto
