// Small helpers shared by the test suites.
#ifndef PROTOLIB_TESTS_TEST_UTIL_H_
#define PROTOLIB_TESTS_TEST_UTIL_H_

#include <cstdint>
#include <initializer_list>
#include <string>

#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/message.h>

namespace protolib_test {

// Bytes from a list of octets: Bytes({0x08, 0x96, 0x01}).
inline std::string Bytes(std::initializer_list<int> octets) {
  std::string out;
  for (int b : octets) out.push_back(static_cast<char>(b));
  return out;
}

// Wire-format pieces, for encodings the classes never write themselves.
inline std::string Varint(uint64_t v) {
  std::string out;
  while (v >= 0x80) {
    out.push_back(static_cast<char>((v & 0x7f) | 0x80));
    v >>= 7;
  }
  out.push_back(static_cast<char>(v));
  return out;
}
inline std::string Tag(uint32_t number, int wire_type) {
  return Varint((static_cast<uint64_t>(number) << 3) | static_cast<uint64_t>(wire_type));
}
inline std::string Delimited(uint32_t number, const std::string& body) {
  return Tag(number, 2) + Varint(body.size()) + body;
}

inline std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out.push_back(' ');
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}

// Encodes through the array writer: sizes the tree, then writes with the
// cached sizes into a flat buffer.
inline std::string EncodeToArray(const google::protobuf::Message& m) {
  std::string out(m.ByteSizeLong(), '\0');
  uint8_t* end = m.SerializeWithCachedSizesToArray(reinterpret_cast<uint8_t*>(&out[0]));
  out.resize(end - reinterpret_cast<uint8_t*>(&out[0]));
  return out;
}

// Encodes through the stream writer, over a small-buffer stream so that
// the writer crosses buffer boundaries.
inline std::string EncodeToStream(const google::protobuf::Message& m) {
  std::string out;
  {
    google::protobuf::io::StringOutputStream raw(&out);
    google::protobuf::io::CodedOutputStream coded(&raw);
    m.ByteSizeLong();
    m.SerializeWithCachedSizes(&coded);
  }
  return out;
}

}  // namespace protolib_test

#endif  // PROTOLIB_TESTS_TEST_UTIL_H_
