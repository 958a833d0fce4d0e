// The differential check shared by the fuzz targets.
//
// The input's first byte selects a message type of the target's type list;
// the class and a DynamicMessage of the same descriptor, the runtime's own
// reflection-driven reading of the schema, parse the rest and are compared as
// the oracle test compares them (tests/differential.h). The parsed message
// then goes through the family's typed operations (copying, assignment,
// merging, swapping, clearing), each checked against the DynamicMessage doing
// the same or against the bytes it must keep. Any disagreement prints the
// input and aborts.
#ifndef PROTOLIB_FUZZ_DIFFERENTIAL_H_
#define PROTOLIB_FUZZ_DIFFERENTIAL_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <google/protobuf/dynamic_message.h>

#include "fuzz/fuzz_types.h"
#include "tests/differential.h"

namespace protolib_fuzz {

namespace pb = ::google::protobuf;
using protolib_test::Hex;
using protolib_test::StreamBytes;

// Aborts with the report of a disagreement, if there is one.
inline void Expect(const std::string& type, const std::string& bytes, const std::string& report) {
  if (report.empty()) return;
  std::fprintf(stderr, "\n*** differential check failed: %s\n  type:    %s\n  input:   %s\n",
               report.c_str(), type.c_str(), Hex(bytes).c_str());
  std::fflush(stderr);
  std::abort();
}

// The DynamicMessage factory: sub-messages are dynamic too.
inline pb::DynamicMessageFactory& DynamicFactory() {
  static auto* factory = new pb::DynamicMessageFactory;
  return *factory;
}

template <class T>
void Check(const uint8_t* data, size_t size) {
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const std::string type = T::descriptor()->full_name();
  auto same = [&](const std::string& report) { Expect(type, bytes, report); };
  auto expect = [&](bool ok, const char* what) { Expect(type, bytes, ok ? "" : what); };
  expect(pb::MessageFactory::generated_factory()->GetPrototype(T::descriptor()) ==
             &T::default_instance(),
         "the generated factory's prototype is not the class's default instance");
  const pb::Message& dynamic_prototype = *DynamicFactory().GetPrototype(T::descriptor());
  same(protolib_test::CompareParse(T::default_instance(), dynamic_prototype, bytes));

  T m;
  if (!m.ParsePartialFromString(bytes)) {
    // What a failed parse leaves is unspecified but must be usable.
    expect(m.ByteSizeLong() == m.SerializePartialAsString().size(),
           "what a failed parse left is sized wrong");
    m.Clear();
    expect(m.ByteSizeLong() == 0, "a cleared message still has content");
    return;
  }
  protolib_test::AlignKnownDifferences(&m);
  const std::string once = StreamBytes(m);
  m.SpaceUsedLong();

  // Copies: copy constructor, assignment over content, CopyFrom.
  T copy(m);
  expect(StreamBytes(copy) == once, "the copy constructor changed the message");
  T assigned;
  assigned.MergeFrom(copy);
  assigned = m;
  expect(StreamBytes(assigned) == once, "assignment did not replace the content");
  assigned.CopyFrom(copy);
  expect(StreamBytes(assigned) == once, "CopyFrom did not replace the content");

  // Merging twice, by the class and by the DynamicMessage.
  std::unique_ptr<pb::Message> dynamic_twice(dynamic_prototype.New());
  dynamic_twice->ParsePartialFromString(once + once);
  protolib_test::AlignKnownDifferences(dynamic_twice.get());
  T twice(m);
  twice.MergeFrom(m);
  same(protolib_test::CompareWrites(twice, *dynamic_twice, 3));

  // Swaps: the class's own, then reflection's, which moves field by field.
  const std::string twice_bytes = StreamBytes(twice);
  m.Swap(&twice);
  expect(StreamBytes(m) == twice_bytes && StreamBytes(twice) == once,
         "Swap did not exchange the contents");
  m.GetReflection()->Swap(&m, &twice);
  expect(StreamBytes(m) == once && StreamBytes(twice) == twice_bytes,
         "reflection Swap did not exchange the contents");

  // Clear keeps allocations for reuse; the reused message must be as new.
  twice.Clear();
  expect(twice.ByteSizeLong() == 0 && twice.SerializePartialAsString().empty(),
         "a cleared message still has content");
  expect(twice.ParsePartialFromString(once) && StreamBytes(twice) == once,
         "reparsing after Clear gives another message");
}

// The fuzz entry: the first byte selects the type, the rest is the message.
template <class... T>
int Run(TypeList<T...>, const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  using Checker = void (*)(const uint8_t*, size_t);
  static constexpr Checker checks[] = {&Check<T>...};
  checks[data[0] % sizeof...(T)](data + 1, size - 1);
  return 0;
}

}  // namespace protolib_fuzz

#endif  // PROTOLIB_FUZZ_DIFFERENTIAL_H_
