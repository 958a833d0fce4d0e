// Bytes in and out: reading a file or standard input in any ByteForm a piece
// at a time, the length-prefixed framing of recorded sessions, and writing
// bytes to an output stream in any ByteForm.
#ifndef SESSION_PROTO_BYTE_STREAM_H_
#define SESSION_PROTO_BYTE_STREAM_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "tools/session_proto/byte_codec.h"

namespace session_proto {

// The bytes of a file or of standard input, decoded from their ByteForm as
// they are read. Offsets count decoded bytes.
class InputBytes {
 public:
  // Opens `path` ("-" for standard input). Null with *error on failure.
  static std::unique_ptr<InputBytes> Open(const std::string& path, ByteForm form,
                                          std::string* error);
  ~InputBytes();
  InputBytes(const InputBytes&) = delete;
  InputBytes& operator=(const InputBytes&) = delete;

  // "<stdin>" or the path.
  const std::string& name() const { return name_; }
  // Bytes consumed so far.
  uint64_t offset() const { return offset_; }

  // Reads one byte; false at the end of the input or on an error.
  bool ReadByte(uint8_t* byte);
  // Appends up to `count` bytes to `out`; fewer only at the end or on an
  // error. Returns how many were appended.
  size_t Read(size_t count, std::string* out);
  // Appends everything that is left; false on an error.
  bool ReadAll(std::string* out);
  // Replaces *line by the next line, without its newline; false at the end
  // of the input or on an error.
  bool ReadLine(std::string* line);
  // The next `count` bytes without consuming them (fewer at the end of the
  // input or on an error), valid until the next call.
  std::string_view Peek(size_t count);
  // Consumes `count` bytes that Peek has shown.
  void Skip(size_t count) {
    pos_ += count;
    offset_ += count;
  }

  // At the end of a regular file, waits for it to grow instead (as tail -f
  // does); other inputs end as they do.
  void Follow();

  // See TextDecoder::RequireWrappedLines.
  void RequireWrappedLines() { decoder_.RequireWrappedLines(); }

  // Why reading stopped early (the file could not be read, or its text is
  // not of the form); empty while all is well.
  const std::string& error() const { return error_; }

 private:
  InputBytes(int fd, bool owns_fd, std::string name, ByteForm form);
  bool Refill();

  int fd_;
  bool owns_fd_;
  std::string name_;
  TextDecoder decoder_;
  std::string buffer_;  // decoded, not yet consumed from pos_ on
  size_t pos_ = 0;
  bool at_end_ = false;
  bool follow_ = false;
  uint64_t offset_ = 0;
  std::string error_;
};

// A frame of a delimited input that could not be read.
struct FrameFault {
  uint64_t offset = 0;  // where the frame's length prefix begins
  std::string reason;
};

enum class FrameResult { kMessage, kEnd, kBadFrame, kInputError };

// Reads the next varint-length-prefixed message of `input` into `payload`
// (replacing its contents); `payload_offset` is where its bytes begin. Reads
// no more than the frame, so memory stays bounded by the largest message.
FrameResult ReadFrame(InputBytes& input, std::string* payload, uint64_t* payload_offset,
                      FrameFault* fault);

// Bytes written to a stream in a ByteForm. Text forms end with a newline.
class OutputBytes {
 public:
  OutputBytes(std::ostream& out, ByteForm form) : out_(out), form_(form), encoder_(form) {}
  void Write(std::string_view bytes);
  // Writes `message` preceded by its length as a varint.
  void WriteFrame(std::string_view message);
  void Finish();

 private:
  std::ostream& out_;
  ByteForm form_;
  TextEncoder encoder_;
  std::string text_;
};

}  // namespace session_proto

#endif  // SESSION_PROTO_BYTE_STREAM_H_
