// Hex and base64: the text forms in which captured bytes travel in logs and
// chat. Both directions work incrementally, so that long inputs stream.
#ifndef SESSION_PROTO_BYTE_CODEC_H_
#define SESSION_PROTO_BYTE_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace session_proto {

// How bytes are given or wanted: as they are, or as text.
enum class ByteForm { kRaw, kHex, kBase64 };

// Turns bytes into text: lowercase hex digits without separators, or base64
// in the standard alphabet with padding. Raw passes bytes through.
class TextEncoder {
 public:
  explicit TextEncoder(ByteForm form) : form_(form) {}
  // Appends the text for `bytes` to `out`.
  void Feed(std::string_view bytes, std::string* out);
  // Appends what is still held back (base64's last group) to `out`.
  void Finish(std::string* out);

 private:
  ByteForm form_;
  uint32_t pending_ = 0;  // base64: bytes not yet making a group of three
  int pending_count_ = 0;
};

// Turns text back into bytes. Whitespace is ignored anywhere; base64 accepts
// the standard and the URL-safe alphabet, with or without padding. Raw
// passes bytes through.
class TextDecoder {
 public:
  explicit TextDecoder(ByteForm form) : form_(form) {}
  // Appends the bytes for `text` to `out`. False on text that is not of the
  // form; error() then tells what and where (offset in the text).
  bool Feed(std::string_view text, std::string* out);
  // Checks that the text did not stop in the middle of a byte or group.
  bool Finish();
  const std::string& error() const { return error_; }

  // Accepts several lines only as the wrapping of one block (as xxd -p and
  // base64 write it): every line as long as the first, which is at least 32
  // characters, the last no longer. Other lines are likely several
  // messages, and are refused.
  void RequireWrappedLines() { wrapped_only_ = true; }

 private:
  bool EndLine();
  bool FeedHex(char c, std::string* out);
  bool FeedBase64(char c, std::string* out);
  bool Fail(const std::string& what);

  ByteForm form_;
  uint64_t text_offset_ = 0;
  uint32_t bits_ = 0;  // hex: the high digit; base64: undelivered bits
  int bit_count_ = 0;
  int symbols_ = 0;  // base64: symbols and padding seen
  int padding_ = 0;
  bool wrapped_only_ = false;
  uint64_t line_ = 1, line_symbols_ = 0;
  uint64_t first_length_ = 0, first_line_ = 0, short_line_ = 0;
  std::string error_;
};

// Whole-string conveniences over the two classes.
std::string EncodeText(ByteForm form, std::string_view bytes);
bool DecodeText(ByteForm form, std::string_view text, std::string* bytes,
                std::string* error);

}  // namespace session_proto

#endif  // SESSION_PROTO_BYTE_CODEC_H_
