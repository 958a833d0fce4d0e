#include "tools/session_proto/byte_codec.h"

#include <cctype>

namespace session_proto {
namespace {

constexpr char kHexDigits[] = "0123456789abcdef";
constexpr char kBase64Alphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

int Base64Value(char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+' || c == '-') return 62;
  if (c == '/' || c == '_') return 63;
  return -1;
}

// The shortest line taken for wrapped text: xxd -p wraps at 60 hex digits
// (32 with -c 16), base64 at 76 characters, PEM at 64. Shorter lines of
// equal length are more likely log lines, a message each.
constexpr uint64_t kMinWrapWidth = 32;

bool IsSpace(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

std::string Printable(char c) {
  if (std::isprint(static_cast<unsigned char>(c))) return std::string("'") + c + "'";
  std::string s = "byte 0x";
  s += kHexDigits[(static_cast<unsigned char>(c) >> 4) & 0xf];
  s += kHexDigits[static_cast<unsigned char>(c) & 0xf];
  return s;
}

}  // namespace

void TextEncoder::Feed(std::string_view bytes, std::string* out) {
  if (form_ == ByteForm::kRaw) {
    out->append(bytes);
    return;
  }
  for (unsigned char b : bytes) {
    if (form_ == ByteForm::kHex) {
      out->push_back(kHexDigits[b >> 4]);
      out->push_back(kHexDigits[b & 0xf]);
      continue;
    }
    pending_ = (pending_ << 8) | b;
    if (++pending_count_ == 3) {
      for (int shift = 18; shift >= 0; shift -= 6) {
        out->push_back(kBase64Alphabet[(pending_ >> shift) & 0x3f]);
      }
      pending_ = 0;
      pending_count_ = 0;
    }
  }
}

void TextEncoder::Finish(std::string* out) {
  if (form_ != ByteForm::kBase64 || pending_count_ == 0) return;
  const uint32_t group = pending_ << (8 * (3 - pending_count_));
  for (int i = 0; i < 4; ++i) {
    out->push_back(i <= pending_count_ ? kBase64Alphabet[(group >> (18 - 6 * i)) & 0x3f]
                                       : '=');
  }
  pending_ = 0;
  pending_count_ = 0;
}

bool TextDecoder::Feed(std::string_view text, std::string* out) {
  if (!error_.empty()) return false;
  if (form_ == ByteForm::kRaw) {
    out->append(text);
    text_offset_ += text.size();
    return true;
  }
  for (char c : text) {
    bool ok = c == '\n'  ? EndLine()
              : IsSpace(c) ? true
              : form_ == ByteForm::kHex ? FeedHex(c, out) : FeedBase64(c, out);
    if (!ok) return false;
    if (!IsSpace(c)) ++line_symbols_;
    ++text_offset_;
  }
  return true;
}

bool TextDecoder::EndLine() {
  const uint64_t length = line_symbols_, line = line_++;
  line_symbols_ = 0;
  if (!wrapped_only_ || length == 0) return true;
  if (first_length_ == 0) {
    first_length_ = length;
    first_line_ = line;
    return true;
  }
  if (short_line_ == 0 && first_length_ >= kMinWrapWidth && length <= first_length_) {
    if (length < first_length_) short_line_ = line;
    return true;
  }
  error_ = "line " + std::to_string(line) +
           " starts another message? Lines are read as one message only when wrapped "
           "(all as long as the first, at least " + std::to_string(kMinWrapWidth) +
           " characters, the last no longer); --lines decodes one message per line";
  return false;
}

bool TextDecoder::FeedHex(char c, std::string* out) {
  int v = HexValue(c);
  if (v < 0) return Fail("invalid hex digit " + Printable(c));
  if (bit_count_ == 0) {
    bits_ = static_cast<uint32_t>(v);
    bit_count_ = 4;
  } else {
    out->push_back(static_cast<char>((bits_ << 4) | static_cast<uint32_t>(v)));
    bit_count_ = 0;
  }
  return true;
}

bool TextDecoder::FeedBase64(char c, std::string* out) {
  if (c == '=') {
    ++padding_;
    ++symbols_;
    if (padding_ > 2 || symbols_ % 4 == 1 || symbols_ % 4 == 2) {
      return Fail("misplaced base64 padding '='");
    }
    return true;
  }
  int v = Base64Value(c);
  if (v < 0) return Fail("invalid base64 character " + Printable(c));
  if (padding_ > 0) return Fail("base64 data after padding '='");
  ++symbols_;
  bits_ = (bits_ << 6) | static_cast<uint32_t>(v);
  bit_count_ += 6;
  if (bit_count_ >= 8) {
    bit_count_ -= 8;
    out->push_back(static_cast<char>((bits_ >> bit_count_) & 0xff));
    bits_ &= (1u << bit_count_) - 1;
  }
  return true;
}

bool TextDecoder::Finish() {
  if (!error_.empty() || !EndLine()) return false;
  if (form_ == ByteForm::kHex && bit_count_ != 0) {
    return Fail("odd number of hex digits");
  }
  if (form_ == ByteForm::kBase64) {
    if (symbols_ % 4 == 1) return Fail("base64 text ends in the middle of a byte");
    if (padding_ > 0 && symbols_ % 4 != 0) return Fail("base64 padding is incomplete");
  }
  return true;
}

bool TextDecoder::Fail(const std::string& what) {
  error_ = what + " at text offset " + std::to_string(text_offset_);
  return false;
}

std::string EncodeText(ByteForm form, std::string_view bytes) {
  TextEncoder encoder(form);
  std::string text;
  encoder.Feed(bytes, &text);
  encoder.Finish(&text);
  return text;
}

bool DecodeText(ByteForm form, std::string_view text, std::string* bytes,
                std::string* error) {
  TextDecoder decoder(form);
  if (decoder.Feed(text, bytes) && decoder.Finish()) return true;
  *error = decoder.error();
  return false;
}

}  // namespace session_proto
