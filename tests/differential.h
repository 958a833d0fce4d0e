// The differential comparison of a message class with the runtime's
// DynamicMessage of the same type, shared by the oracle test and the fuzz
// targets. The two must write the same bytes through every writer, read the
// same through reflection, agree on initialization and, given the same
// bytes, on every parser's outcome. Each routine returns a report of the
// differences, empty when the two agree. Flat buffers, written and parsed,
// end at a page that faults when touched: a read or write past the data's
// end stops the test.
#ifndef PROTOLIB_TESTS_DIFFERENTIAL_H_
#define PROTOLIB_TESTS_DIFFERENTIAL_H_

#include <cstdint>
#include <memory>
#include <string>

#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/message.h>

#include "tests/known_differences.h"
#include "tests/test_util.h"

namespace protolib_test {

inline uint64_t Fnv(const std::string& text) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (unsigned char c : text) h = (h ^ c) * 0x100000001b3ull;
  return h;
}

// A message's bytes through each of the runtime's writers, its view through
// reflection and its initialization state.
struct Writes {
  size_t byte_size = 0;
  std::string coded_stream;  // CodedOutputStream over a StringOutputStream
  std::string as_string;     // SerializePartialAsString
  std::string checked;       // SerializeAsString, if initialized (it refuses otherwise)
  std::string to_array;      // ByteSizeLong, then SerializeWithCachedSizesToArray
  std::string tiny_blocks;   // CodedOutputStream over blocks of a few bytes
  std::string view;          // what reflection reads
  bool initialized = false;
  std::string missing;  // InitializationErrorString
};

inline Writes WriteAll(const google::protobuf::Message& m, int block_size) {
  Writes w;
  w.initialized = m.IsInitialized();
  if (!w.initialized) w.missing = m.InitializationErrorString();
  w.view = m.DebugString();
  w.byte_size = m.ByteSizeLong();
  w.coded_stream = StreamBytes(m);
  // The other writers trust ByteSizeLong with their buffers.
  if (w.coded_stream.size() != w.byte_size) return w;
  w.as_string = m.SerializePartialAsString();
  if (w.initialized) w.checked = m.SerializeAsString();
  w.to_array = EncodeToArray(m);
  std::string buffer(w.byte_size, '\0');
  google::protobuf::io::ArrayOutputStream stream(&buffer[0], static_cast<int>(buffer.size()),
                                                 block_size);
  {
    google::protobuf::io::CodedOutputStream coded(&stream);
    m.SerializeWithCachedSizes(&coded);
  }
  buffer.resize(stream.ByteCount());
  w.tiny_blocks = buffer;
  return w;
}

// A class instance `c` and a dynamic message `o` of the same content.
inline std::string CompareWrites(const google::protobuf::Message& c,
                                 const google::protobuf::Message& o, int block_size) {
  const Writes wc = WriteAll(c, block_size);
  const Writes wo = WriteAll(o, block_size);
  std::string report;
  auto expect = [&](bool same, const std::string& what, const std::string& from_class,
                    const std::string& from_oracle) {
    if (!same) {
      report += "\n  " + what + " differs:\n    class:   " + from_class +
                "\n    dynamic: " + from_oracle;
    }
  };
  auto expect_bytes = [&](const std::string& what, const std::string& from_class,
                          const std::string& from_oracle) {
    if (from_class != from_oracle) expect(false, what, Hex(from_class), Hex(from_oracle));
  };
  expect(wc.byte_size == wo.byte_size, "ByteSizeLong", std::to_string(wc.byte_size),
         std::to_string(wo.byte_size));
  expect_bytes("CodedOutputStream", wc.coded_stream, wo.coded_stream);
  if (wc.coded_stream.size() != wc.byte_size) {
    report += "\n  the class writes " + std::to_string(wc.coded_stream.size()) +
              " bytes after ByteSizeLong gave " + std::to_string(wc.byte_size);
  } else {
    expect_bytes("SerializePartialAsString", wc.as_string, wo.as_string);
    expect_bytes("SerializeAsString", wc.checked, wo.checked);
    expect_bytes("SerializeWithCachedSizesToArray", wc.to_array, wo.to_array);
    expect_bytes("CodedOutputStream in blocks of " + std::to_string(block_size),
                 wc.tiny_blocks, wo.tiny_blocks);
  }
  expect(wc.view == wo.view, "the content read through reflection", wc.view, wo.view);
  expect(wc.initialized == wo.initialized, "IsInitialized", wc.initialized ? "true" : "false",
         wo.initialized ? "true" : "false");
  expect(wc.missing == wo.missing, "InitializationErrorString", wc.missing, wo.missing);
  return report;
}

inline std::unique_ptr<google::protobuf::Message> CopyOf(const google::protobuf::Message& m) {
  std::unique_ptr<google::protobuf::Message> copy(m.New());
  copy->CopyFrom(m);
  return copy;
}

// The class (from its prototype `c`) and the dynamic message (from `o`)
// parse `bytes`, or merge them into copies of `class_start` and
// `oracle_start` when given: same outcome, and on success the same content.
// A parse from nothing is also made with the required-field check, and by
// the class once more from blocks of a few bytes, to the same result.
inline std::string CompareParse(const google::protobuf::Message& c,
                                const google::protobuf::Message& o, const std::string& bytes,
                                const google::protobuf::Message* class_start = nullptr,
                                const google::protobuf::Message* oracle_start = nullptr) {
  const bool merge = class_start != nullptr;
  std::unique_ptr<google::protobuf::Message> pc = merge ? CopyOf(*class_start) : CopyOf(c);
  std::unique_ptr<google::protobuf::Message> po = merge ? CopyOf(*oracle_start) : CopyOf(o);
  auto parse = [merge, &bytes](google::protobuf::Message* m) {
    if (!merge) return ParseAtPageEnd(m, bytes);
    google::protobuf::io::ArrayInputStream input(bytes.data(), static_cast<int>(bytes.size()));
    return m->MergePartialFromBoundedZeroCopyStream(&input, static_cast<int>(bytes.size()));
  };
  auto outcome = [](bool ok) { return std::string(ok ? "success" : "failure"); };
  const bool class_ok = parse(pc.get());
  const bool oracle_ok = parse(po.get());
  const std::string how = merge ? "merging" : "parsing";
  std::string report;
  if (class_ok != oracle_ok) {
    return "\n  " + how + " gives " + outcome(class_ok) + " for the class, " +
           outcome(oracle_ok) + " for the dynamic message";
  }
  if (class_ok) {
    AlignKnownDifferences(pc.get());
    AlignKnownDifferences(po.get());
    const std::string writes =
        CompareWrites(*pc, *po, 1 + static_cast<int>(Fnv(bytes) % 16));
    if (!writes.empty()) report += "\n  after " + how + ":" + writes;
  }
  if (merge) return report;
  const bool class_full = std::unique_ptr<google::protobuf::Message>(c.New())->ParseFromString(bytes);
  const bool oracle_full = std::unique_ptr<google::protobuf::Message>(o.New())->ParseFromString(bytes);
  if (class_full != oracle_full) {
    report += "\n  ParseFromString gives " + outcome(class_full) + " for the class, " +
              outcome(oracle_full) + " for the dynamic message";
  }
  const int block_size = 1 + static_cast<int>(Fnv(bytes) % 24);
  google::protobuf::io::ArrayInputStream blocks(bytes.data(), static_cast<int>(bytes.size()),
                                                block_size);
  std::unique_ptr<google::protobuf::Message> chunked(c.New());
  const bool chunked_ok = chunked->ParsePartialFromZeroCopyStream(&blocks);
  if (chunked_ok) AlignKnownDifferences(chunked.get());  // as pc was
  if (chunked_ok != class_ok || (chunked_ok && StreamBytes(*chunked) != StreamBytes(*pc))) {
    report += "\n  the class reading blocks of " + std::to_string(block_size) + " bytes gives " +
              (chunked_ok ? Hex(StreamBytes(*chunked)) : "failure") + ", reading them at once " +
              (class_ok ? Hex(StreamBytes(*pc)) : "failure");
  }
  return report;
}

}  // namespace protolib_test

#endif  // PROTOLIB_TESTS_DIFFERENTIAL_H_
