// The differential check shared by the fuzz targets.
//
// The input's first byte selects a message type of the target's type list;
// the rest is parsed twice: by the hand-written class, created through the
// runtime's generated factory, and by a DynamicMessage of the same
// descriptor, the runtime's own reflection-driven reading of the schema. Both
// must agree on success or failure, and on success re-encode to the same
// bytes. The parsed message then goes through the family's other operations
// (copying, merging, swapping, clearing), each checked against the
// DynamicMessage doing the same or against the bytes it must keep. Any
// disagreement prints the input and aborts.
#ifndef PROTOLIB_FUZZ_DIFFERENTIAL_H_
#define PROTOLIB_FUZZ_DIFFERENTIAL_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/dynamic_message.h>
#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/message.h>

#include "fuzz/fuzz_types.h"
#include "tests/known_differences.h"

namespace protolib_fuzz {

namespace pb = ::google::protobuf;

inline std::string Hex(const void* data, size_t size) {
  static const char digits[] = "0123456789abcdef";
  const auto* bytes = static_cast<const uint8_t*>(data);
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    if (i != 0) out.push_back(' ');
    out.push_back(digits[bytes[i] >> 4]);
    out.push_back(digits[bytes[i] & 15]);
  }
  return out;
}

inline std::string Hex(const std::string& s) { return Hex(s.data(), s.size()); }

// What is being checked, for the report.
struct Input {
  const pb::Descriptor* type;
  const uint8_t* data;
  size_t size;
};

[[noreturn]] inline void Fail(const Input& in, const char* what,
                              const std::string& hand = std::string(),
                              const std::string& dynamic = std::string()) {
  std::fprintf(stderr,
               "\n*** differential check failed: %s\n  type:    %s\n"
               "  input:   %s\n",
               what, in.type->full_name().c_str(), Hex(in.data, in.size).c_str());
  if (!hand.empty() || !dynamic.empty()) {
    std::fprintf(stderr, "  class:   %s\n  dynamic: %s\n", Hex(hand).c_str(),
                 Hex(dynamic).c_str());
  }
  std::fflush(stderr);
  std::abort();
}

// Encodes through the array writer (SerializePartialToString sizes the tree,
// then writes one flat buffer) and checks ByteSizeLong against the result.
inline std::string Encode(const Input& in, const pb::Message& m, const char* what) {
  std::string out;
  if (!m.SerializePartialToString(&out)) Fail(in, what);
  if (m.ByteSizeLong() != out.size()) Fail(in, what, out);
  return out;
}

// Encodes through the stream writer into 3-byte blocks, so that every field
// may straddle a block boundary.
inline std::string EncodeInBlocks(const Input& in, const pb::Message& m) {
  std::string out(m.ByteSizeLong(), '\0');
  {
    pb::io::ArrayOutputStream blocks(out.empty() ? nullptr : &out[0],
                                     static_cast<int>(out.size()), 3);
    if (!m.SerializePartialToZeroCopyStream(&blocks)) {
      Fail(in, "writing to a block stream failed");
    }
    if (static_cast<size_t>(blocks.ByteCount()) != out.size()) {
      Fail(in, "block stream byte count differs from ByteSizeLong");
    }
  }
  return out;
}

// The DynamicMessage factory: sub-messages are dynamic too.
inline pb::DynamicMessageFactory& DynamicFactory() {
  static auto* factory = new pb::DynamicMessageFactory;
  return *factory;
}

// Every repeated field of `doubled` holds twice as many elements as in
// `single`.
inline bool RepeatedFieldsDoubled(const pb::Message& doubled, const pb::Message& single) {
  const pb::Descriptor* d = single.GetDescriptor();
  for (int i = 0; i < d->field_count(); ++i) {
    const pb::FieldDescriptor* f = d->field(i);
    if (!f->is_repeated()) continue;
    int before = single.GetReflection()->FieldSize(single, f);
    int after = doubled.GetReflection()->FieldSize(doubled, f);
    if (after != 2 * before) return false;
  }
  return true;
}

template <class T>
void Check(const uint8_t* data, size_t size) {
  const pb::Descriptor* type = T::descriptor();
  const Input in{type, data, size};

  const pb::Message* prototype = pb::MessageFactory::generated_factory()->GetPrototype(type);
  if (prototype != &T::default_instance()) {
    Fail(in, "the generated factory's prototype is not the class's default instance");
  }
  std::unique_ptr<pb::Message> hand(prototype->New());
  T* typed = dynamic_cast<T*>(hand.get());
  if (typed == nullptr) Fail(in, "the prototype's New() is not of the class");
  const pb::Message* dynamic_prototype = DynamicFactory().GetPrototype(type);
  std::unique_ptr<pb::Message> dyn(dynamic_prototype->New());

  const int n = static_cast<int>(size);
  const bool hand_ok = hand->ParsePartialFromArray(data, n);
  const bool dyn_ok = dyn->ParsePartialFromArray(data, n);
  if (hand_ok != dyn_ok) {
    Fail(in, hand_ok ? "the class accepts what DynamicMessage rejects"
                     : "the class rejects what DynamicMessage accepts");
  }

  // The same bytes delivered in small blocks: the parser's buffer seams.
  {
    std::unique_ptr<pb::Message> chunked(prototype->New());
    pb::io::ArrayInputStream blocks(data, n, 1 + static_cast<int>(size % 5));
    if (chunked->ParsePartialFromZeroCopyStream(&blocks) != hand_ok) {
      Fail(in, "parsing from a block stream gives another outcome");
    }
    if (hand_ok && Encode(in, *chunked, "encoding the block-parsed message") !=
                       Encode(in, *hand, "encoding")) {
      Fail(in, "parsing from a block stream gives another message");
    }
  }

  if (!hand_ok) {
    // What a failed parse leaves is unspecified but must be usable.
    Encode(in, *hand, "encoding what a failed parse left");
    hand->Clear();
    if (hand->ByteSizeLong() != 0 || !hand->SerializePartialAsString().empty()) {
      Fail(in, "a cleared message still has content");
    }
    return;
  }

  // The known, meant differences (see tests/known_differences.h).
  protolib_test::AlignKnownDifferences(hand.get());
  protolib_test::AlignKnownDifferences(dyn.get());
  const std::string bytes = Encode(in, *hand, "encoding the class");
  const std::string dyn_bytes = Encode(in, *dyn, "encoding the DynamicMessage");
  if (bytes != dyn_bytes) Fail(in, "re-encoded bytes differ", bytes, dyn_bytes);
  if (EncodeInBlocks(in, *hand) != bytes) {
    Fail(in, "the stream writer and the array writer differ", EncodeInBlocks(in, *hand),
         bytes);
  }
  if (hand->IsInitialized() != dyn->IsInitialized()) {
    Fail(in, "IsInitialized differs");
  }
  // Reflection reads the class through its offsets table.
  if (hand->DebugString() != dyn->DebugString()) {
    Fail(in, "the reflection views differ");
  }
  hand->SpaceUsedLong();

  // Copies: copy constructor, assignment, CopyFrom over a non-empty target.
  T constructed(*typed);
  if (Encode(in, constructed, "encoding a copy") != bytes) {
    Fail(in, "the copy constructor changed the message");
  }
  T assigned;
  assigned.MergeFrom(constructed);
  assigned = *typed;
  if (Encode(in, assigned, "encoding an assigned copy") != bytes) {
    Fail(in, "assignment did not replace the content");
  }
  std::unique_ptr<pb::Message> copied(prototype->New());
  copied->CopyFrom(constructed);
  copied->CopyFrom(*hand);
  if (Encode(in, *copied, "encoding CopyFrom's result") != bytes) {
    Fail(in, "CopyFrom did not replace the content");
  }

  // Merging the message into a second instance twice.
  std::unique_ptr<pb::Message> twice(prototype->New());
  std::unique_ptr<pb::Message> dyn_twice(dynamic_prototype->New());
  for (int i = 0; i < 2; ++i) {
    twice->MergeFrom(*hand);
    dyn_twice->MergeFrom(*dyn);
  }
  const std::string twice_bytes = Encode(in, *twice, "encoding a double merge");
  const std::string dyn_twice_bytes =
      Encode(in, *dyn_twice, "encoding the DynamicMessage's double merge");
  if (twice_bytes != dyn_twice_bytes) {
    Fail(in, "merging twice differs", twice_bytes, dyn_twice_bytes);
  }
  if (!RepeatedFieldsDoubled(*twice, *hand)) {
    Fail(in, "merging twice did not double the repeated fields");
  }

  // Merging the message with a copy of itself.
  std::unique_ptr<pb::Message> dyn_copy(dynamic_prototype->New());
  dyn_copy->CopyFrom(*dyn);
  typed->MergeFrom(constructed);
  dyn->MergeFrom(*dyn_copy);
  const std::string self_bytes = Encode(in, *hand, "encoding the self-merge");
  const std::string dyn_self_bytes =
      Encode(in, *dyn, "encoding the DynamicMessage's self-merge");
  if (self_bytes != dyn_self_bytes) {
    Fail(in, "merging with a copy of itself differs", self_bytes, dyn_self_bytes);
  }
  if (self_bytes != twice_bytes) {
    Fail(in, "merging with a copy of itself differs from merging twice", self_bytes,
         twice_bytes);
  }
  if (!RepeatedFieldsDoubled(*hand, constructed)) {
    Fail(in, "merging with a copy of itself did not double the repeated fields");
  }

  // Swaps: the class's own, then reflection's, which moves field by field.
  typed->Swap(&constructed);
  if (Encode(in, *hand, "encoding after Swap") != bytes ||
      Encode(in, constructed, "encoding after Swap") != self_bytes) {
    Fail(in, "Swap did not exchange the contents");
  }
  hand->GetReflection()->Swap(hand.get(), &constructed);
  if (Encode(in, *hand, "encoding after reflection Swap") != self_bytes ||
      Encode(in, constructed, "encoding after reflection Swap") != bytes) {
    Fail(in, "reflection Swap did not exchange the contents");
  }

  // Clear keeps allocations for reuse; the reused message must be as new.
  hand->Clear();
  if (hand->ByteSizeLong() != 0 || !hand->SerializePartialAsString().empty()) {
    Fail(in, "a cleared message still has content");
  }
  if (!hand->ParsePartialFromArray(data, n)) Fail(in, "reparsing after Clear failed");
  if (Encode(in, *hand, "encoding after Clear and reparse") != bytes) {
    Fail(in, "reparsing after Clear gives another message");
  }
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
