#include "tools/session_proto/byte_stream.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <cstring>
#include <limits>

#include <google/protobuf/io/coded_stream.h>

#include "tools/session_proto/fd_output.h"

namespace session_proto {
namespace {

#if defined(_WIN32)
// Bytes as they are: no newline translation, no end of file at ^Z.
constexpr int kOpenFlags = O_RDONLY | O_BINARY;
#else
constexpr int kOpenFlags = O_RDONLY | O_CLOEXEC;
#endif
constexpr size_t kChunkSize = 64 * 1024;
constexpr int kMaxVarintBytes = 10;
// The runtime's limit on the size of one message.
constexpr uint64_t kMaxMessageSize = std::numeric_limits<int32_t>::max();

}  // namespace

std::unique_ptr<InputBytes> InputBytes::Open(const std::string& path, ByteForm form,
                                             std::string* error) {
  if (path == "-") {
    return std::unique_ptr<InputBytes>(new InputBytes(STDIN_FILENO, false, "<stdin>", form));
  }
  int fd = ::open(path.c_str(), kOpenFlags);
  if (fd < 0) {
    *error = "cannot open " + path + ": " + std::strerror(errno);
    return nullptr;
  }
  return std::unique_ptr<InputBytes>(new InputBytes(fd, true, path, form));
}

InputBytes::InputBytes(int fd, bool owns_fd, std::string name, ByteForm form)
    : fd_(fd), owns_fd_(owns_fd), name_(std::move(name)), decoder_(form) {}

InputBytes::~InputBytes() {
  if (owns_fd_) ::close(fd_);
}

// Reads the next chunk of the file and decodes it after what is left of the
// buffer. False when nothing more can come.
bool InputBytes::Refill() {
  if (at_end_ || !error_.empty()) return false;
  buffer_.erase(0, pos_);
  pos_ = 0;
  char chunk[kChunkSize];
  ssize_t n;
  while (true) {
    do {
      n = ::read(fd_, chunk, sizeof chunk);
    } while (n < 0 && errno == EINTR);
    if (n != 0 || !follow_) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // a growing file
    // Windows' C runtime answers every read after the end with nothing until
    // the file position is set again.
    ::lseek(fd_, 0, SEEK_CUR);
  }
  if (n < 0) {
    error_ = "cannot read " + name_ + ": " + std::strerror(errno);
    return false;
  }
  if (n == 0) {
    at_end_ = true;
    if (!decoder_.Finish()) error_ = name_ + ": " + decoder_.error();
    return false;
  }
  if (!decoder_.Feed(std::string_view(chunk, static_cast<size_t>(n)), &buffer_)) {
    error_ = name_ + ": " + decoder_.error();
    return false;
  }
  return true;
}

void InputBytes::Follow() { follow_ = IsRegularFile(fd_); }

std::string_view InputBytes::Peek(size_t count) {
  while (buffer_.size() - pos_ < count && Refill()) {
  }
  return std::string_view(buffer_).substr(pos_, count);
}

bool InputBytes::ReadByte(uint8_t* byte) {
  while (pos_ == buffer_.size()) {
    if (!Refill()) return false;
  }
  *byte = static_cast<uint8_t>(buffer_[pos_++]);
  ++offset_;
  return true;
}

size_t InputBytes::Read(size_t count, std::string* out) {
  size_t done = 0;
  while (done < count) {
    if (pos_ == buffer_.size() && !Refill()) break;
    size_t take = std::min(count - done, buffer_.size() - pos_);
    out->append(buffer_, pos_, take);
    pos_ += take;
    done += take;
  }
  offset_ += done;
  return done;
}

bool InputBytes::ReadAll(std::string* out) {
  while (Read(kChunkSize, out) == kChunkSize) {
  }
  return error_.empty();
}

bool InputBytes::ReadLine(std::string* line) {
  line->clear();
  while (true) {
    if (pos_ == buffer_.size() && !Refill()) {
      return !line->empty() && error_.empty();
    }
    size_t newline = buffer_.find('\n', pos_);
    size_t end = newline == std::string::npos ? buffer_.size() : newline;
    line->append(buffer_, pos_, end - pos_);
    offset_ += end - pos_ + (newline == std::string::npos ? 0 : 1);
    pos_ = newline == std::string::npos ? end : end + 1;
    if (newline != std::string::npos) return true;
  }
}

FrameResult ReadFrame(InputBytes& input, std::string* payload, uint64_t* payload_offset,
                      FrameFault* fault) {
  fault->offset = input.offset();
  uint64_t length = 0;
  for (int i = 0;; ++i) {
    uint8_t byte;
    if (!input.ReadByte(&byte)) {
      if (!input.error().empty()) return FrameResult::kInputError;
      if (i == 0) return FrameResult::kEnd;
      fault->reason = "truncated length prefix";
      return FrameResult::kBadFrame;
    }
    length |= static_cast<uint64_t>(byte & 0x7f) << (7 * i);
    if (byte < 0x80) break;
    if (i + 1 == kMaxVarintBytes) {
      fault->reason = "length prefix longer than 10 bytes";
      return FrameResult::kBadFrame;
    }
  }
  if (length > kMaxMessageSize) {
    fault->reason = "length prefix " + std::to_string(length) +
                    " is beyond the 2 GiB limit of a message";
    return FrameResult::kBadFrame;
  }
  *payload_offset = input.offset();
  payload->clear();
  size_t got = input.Read(static_cast<size_t>(length), payload);
  if (got < length) {
    if (!input.error().empty()) return FrameResult::kInputError;
    fault->reason = "message length " + std::to_string(length) +
                    " runs past the end of the input (" + std::to_string(got) +
                    (got == 1 ? " byte left)" : " bytes left)");
    return FrameResult::kBadFrame;
  }
  return FrameResult::kMessage;
}

void OutputBytes::Write(std::string_view bytes) {
  if (form_ == ByteForm::kRaw) {
    out_.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return;
  }
  text_.clear();
  encoder_.Feed(bytes, &text_);
  out_ << text_;
}

void OutputBytes::WriteFrame(std::string_view message) {
  uint8_t prefix[kMaxVarintBytes];
  uint8_t* end = google::protobuf::io::CodedOutputStream::WriteVarint64ToArray(
      message.size(), prefix);
  Write(std::string_view(reinterpret_cast<const char*>(prefix),
                         static_cast<size_t>(end - prefix)));
  Write(message);
}

void OutputBytes::Finish() {
  if (form_ != ByteForm::kRaw) {
    text_.clear();
    encoder_.Finish(&text_);
    out_ << text_ << '\n';
  }
  out_.flush();
}

}  // namespace session_proto
