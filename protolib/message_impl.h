// The behaviour shared by every message class: construction, destruction,
// clearing, merging, the required-field check, sizing, writing, parsing,
// swapping, default instances and the reflection wiring of a schema file.
//
// Each message's source file lists the class's fields once, in declaration
// order:
//
//   PROTOLIB_SCHEMA(Ping, time, is_reply)
//
// and defines the class's out-of-line members with PROTOLIB_DEFINE_MESSAGE.
// Everything below is expanded per class at compile time from that list, so
// the classes run as fast as hand-unrolled code while no class repeats
// another's bodies.
//
// Internal to the libraries; not installed.
#ifndef PROTOLIB_MESSAGE_IMPL_H_
#define PROTOLIB_MESSAGE_IMPL_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <tuple>
#include <type_traits>
#include <utility>

#include <google/protobuf/generated_message_reflection.h>
#include <google/protobuf/generated_message_util.h>
#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/parse_context.h>
#include <google/protobuf/reflection_ops.h>
#include <google/protobuf/stubs/common.h>
#include <google/protobuf/stubs/logging.h>
#include <google/protobuf/unknown_field_set.h>
#include <google/protobuf/wire_format.h>
#include <google/protobuf/wire_format_lite.h>

#include "protolib/message_decl.h"

namespace protolib {
namespace internal {

namespace pb = ::google::protobuf;
using pb::UnknownFieldSet;
using pb::internal::ParseContext;
using pb::internal::WireFormatLite;
using pb::io::CodedOutputStream;
using pb::io::EpsCopyOutputStream;

constexpr uint32_t kNoOffset = ~0u;

// ---------------------------------------------------------------------------
// Scalar encodings: how one value is sized, written and read, tag excluded.

// Base-128 varints, written in line: most values here take a byte or two,
// where a call costs more than the loop.
template <class U>
inline __attribute__((always_inline)) uint8_t* WriteVarint(U v, uint8_t* p) {
  while (v >= 0x80) {
    *p++ = static_cast<uint8_t>(v | 0x80);
    v >>= 7;
  }
  *p++ = static_cast<uint8_t>(v);
  return p;
}

// uint64 and uint32. A longer varint for a uint32 keeps its low 32 bits.
template <class U>
struct VarintUnsigned {
  using T = U;
  static constexpr int kWireType = WireFormatLite::WIRETYPE_VARINT;
  static size_t Size(T v) {
    if constexpr (sizeof(T) == 8) {
      return CodedOutputStream::VarintSize64(v);
    } else {
      return CodedOutputStream::VarintSize32(v);
    }
  }
  static uint8_t* Write(T v, uint8_t* p) { return WriteVarint(v, p); }
  static const char* Read(const char* p, T* v) {
    *v = static_cast<T>(pb::internal::ReadVarint64(&p));
    return p;
  }
};
using VarintU64 = VarintUnsigned<uint64_t>;
using VarintU32 = VarintUnsigned<uint32_t>;

// int32 and enumerations: negative values travel as their 64-bit sign
// extension, ten bytes.
struct VarintI32 {
  using T = int32_t;
  static constexpr int kWireType = WireFormatLite::WIRETYPE_VARINT;
  static size_t Size(T v) {
    return v < 0 ? 10 : CodedOutputStream::VarintSize32(static_cast<uint32_t>(v));
  }
  // A negative value's 64-bit sign extension has ones in bits 32..63: the
  // last five of its ten bytes are always FF FF FF FF 01, and the first five
  // carry the low 32 bits. The caller's EnsureSpace leaves room for the
  // eight-byte store.
  static uint8_t* Write(T v, uint8_t* p) {
    if (__builtin_expect(v >= 0, 1)) return WriteVarint(static_cast<uint32_t>(v), p);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    const uint64_t u = static_cast<uint32_t>(v);
    const uint64_t low = (u & 0x7f) | ((u << 1) & 0x7f00) | ((u << 2) & 0x7f0000) |
                         ((u << 3) & 0x7f000000) | ((u << 4) & 0x0f00000000ull) |
                         0xFFFFFFF080808080ull;
    std::memcpy(p, &low, 8);
    p[8] = 0xFF;
    p[9] = 0x01;
    return p + 10;
#else
    return CodedOutputStream::WriteVarint32SignExtendedToArray(v, p);
#endif
  }
  static const char* Read(const char* p, T* v) {
    *v = static_cast<int32_t>(pb::internal::ReadVarint64(&p));
    return p;
  }
};

struct VarintBool {
  using T = bool;
  static constexpr int kWireType = WireFormatLite::WIRETYPE_VARINT;
  static size_t Size(T) { return 1; }
  static uint8_t* Write(T v, uint8_t* p) {
    *p = v ? 1 : 0;
    return p + 1;
  }
  static const char* Read(const char* p, T* v) {
    *v = pb::internal::ReadVarint64(&p) != 0;
    return p;
  }
};

// Little-endian fixed-width values. The parse context guarantees readable
// slop bytes past the current position; an overrun is caught by the next
// bounds check of the parse loop, exactly as for the runtime's own parsers.
template <class V, int WireType>
struct FixedWidth {
  using T = V;
  static constexpr int kWireType = WireType;
  static size_t Size(T) { return sizeof(T); }
  static uint8_t* Write(T v, uint8_t* p) {
    static_assert(sizeof(T) == 4 || sizeof(T) == 8, "fixed width");
    if constexpr (sizeof(T) == 4) {
      uint32_t bits;
      std::memcpy(&bits, &v, 4);
      return CodedOutputStream::WriteLittleEndian32ToArray(bits, p);
    } else {
      uint64_t bits;
      std::memcpy(&bits, &v, 8);
      return CodedOutputStream::WriteLittleEndian64ToArray(bits, p);
    }
  }
  static const char* Read(const char* p, T* v) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(p);
    if constexpr (sizeof(T) == 4) {
      uint32_t bits;
      pb::io::CodedInputStream::ReadLittleEndian32FromArray(bytes, &bits);
      std::memcpy(v, &bits, 4);
    } else {
      uint64_t bits;
      pb::io::CodedInputStream::ReadLittleEndian64FromArray(bytes, &bits);
      std::memcpy(v, &bits, 8);
    }
    return p + sizeof(T);
  }
};

constexpr uint32_t MakeTag(int number, int wire_type) {
  return (static_cast<uint32_t>(number) << 3) | static_cast<uint32_t>(wire_type);
}

// Access to the private parts of a message class; every class befriends Core.
struct Core;

// ---------------------------------------------------------------------------
// Field operations by kind. Each Ops type provides, for a field F of a class
// C (F::kMember is the member pointer):
//   kRepeated, NeedsInitCheck(), Accepts(tag),
//   Clear, Merge, Present, Size, Write, Parse, Swap, Destroy, IsInitialized,
//   WireDefault (point the default instance's sub-message at its default).

// What most kinds do without: nothing to free, no required fields to
// consult, nothing to wire into the default instance.
struct PlainOps {
  static constexpr bool NeedsInitCheck() { return false; }
  template <class F, class C>
  static void Destroy(C&) {}
  template <class F, class C>
  static bool IsInitialized(const C&) {
    return true;
  }
  template <class F, class C>
  static void WireDefault(C&) {}
};

template <class Codec>
struct ScalarOps : PlainOps {
  static constexpr bool kRepeated = false;
  template <class F>
  static bool Accepts(uint32_t tag) {
    return tag == MakeTag(F::kNumber, Codec::kWireType);
  }
  template <class F, class C>
  static void Clear(C& m) {
    m.*F::kMember = {};
  }
  template <class F, class C>
  static void Merge(C& to, const C& from) {
    to.*F::kMember = from.*F::kMember;
  }
  template <class F, class C>
  static size_t Size(const C& m) {
    return 1 + Codec::Size(m.*F::kMember);
  }
  template <class F, class C>
  static uint8_t* Write(const C& m, uint8_t* p, EpsCopyOutputStream* s) {
    p = s->EnsureSpace(p);
    *p++ = static_cast<uint8_t>(MakeTag(F::kNumber, Codec::kWireType));
    return Codec::Write(m.*F::kMember, p);
  }
  template <class F, class C>
  static const char* Parse(C& m, uint32_t, const char* p, ParseContext*);
  template <class F, class C>
  static void Swap(C& a, C& b) {
    std::swap(a.*F::kMember, b.*F::kMember);
  }
};

// A closed enumeration: numbers the schema does not declare are kept among
// the unknown fields as varints (sign-extended from 32 bits), and the field
// stays as it was.
template <bool (*IsValid)(int)>
struct EnumOps : ScalarOps<VarintI32> {
  template <class F, class C>
  static const char* Parse(C& m, uint32_t, const char* p, ParseContext*);
};

template <class Kind>
struct TextOps : PlainOps {
  static constexpr bool kRepeated = false;
  template <class F>
  static bool Accepts(uint32_t tag) {
    return tag == MakeTag(F::kNumber, WireFormatLite::WIRETYPE_LENGTH_DELIMITED);
  }
  template <class F, class C>
  static void Clear(C& m);
  template <class F, class C>
  static void Merge(C& to, const C& from) {
    (to.*F::kMember).Set((from.*F::kMember).Get(), nullptr);
  }
  template <class F, class C>
  static size_t Size(const C& m) {
    return 1 + WireFormatLite::StringSize((m.*F::kMember).Get());
  }
  template <class F, class C>
  static uint8_t* Write(const C& m, uint8_t* p, EpsCopyOutputStream* s) {
    return s->WriteStringMaybeAliased(F::kNumber, (m.*F::kMember).Get(), p);
  }
  template <class F, class C>
  static const char* Parse(C& m, uint32_t, const char* p, ParseContext* ctx);
  template <class F, class C>
  static void Swap(C& a, C& b) {
    pb::internal::ArenaStringPtr::InternalSwap(&(a.*F::kMember), nullptr,
                                               &(b.*F::kMember), nullptr);
  }
  template <class F, class C>
  static void Destroy(C& m) {
    (m.*F::kMember).Destroy();
  }
};

// A required field: present or the message is not initialized.
template <class Ops>
struct RequiredOps : Ops {
  static constexpr bool NeedsInitCheck() { return true; }
  template <class F, class C>
  static bool IsInitialized(const C& m);
};

// A singular sub-message. kLocal: T belongs to this library, so its family
// operations are called directly and its required fields are consulted; an
// imported T is handled through its virtual interface alone and never asked
// whether it is initialized.
template <class T, bool kLocal>
struct MessageOps {
  static constexpr bool kRepeated = false;
  static constexpr bool NeedsInitCheck();
  template <class F>
  static bool Accepts(uint32_t tag) {
    return tag == MakeTag(F::kNumber, WireFormatLite::WIRETYPE_LENGTH_DELIMITED);
  }
  template <class F, class C>
  static void Clear(C& m) {
    if (T* sub = m.*F::kMember) sub->Clear();
  }
  template <class F, class C>
  static void Merge(C& to, const C& from) {
    const T* sub = from.*F::kMember;
    Mutable<F>(to)->MergeFrom(sub != nullptr ? *sub : T::default_instance());
  }
  template <class F, class C>
  static size_t Size(const C& m);
  template <class F, class C>
  static uint8_t* Write(const C& m, uint8_t* p, EpsCopyOutputStream* s);
  template <class F, class C>
  static const char* Parse(C& m, uint32_t, const char* p, ParseContext* ctx);
  template <class F, class C>
  static void Swap(C& a, C& b) {
    std::swap(a.*F::kMember, b.*F::kMember);
  }
  // The default instance's pointers are the field types' default instances,
  // which are freed in their own turn.
  template <class F, class C>
  static void Destroy(C& m);
  template <class F, class C>
  static bool IsInitialized(const C& m);
  template <class F, class C>
  static void WireDefault(C& m) {
    m.*F::kMember = const_cast<T*>(&T::default_instance());
  }
  template <class F, class C>
  static T* Mutable(C& m);
};

template <class Codec>
struct RepeatedScalarOps : PlainOps {
  static constexpr bool kRepeated = true;
  static constexpr uint32_t ElementTag(int number) {
    return MakeTag(number, Codec::kWireType);
  }
  template <class F>
  static bool Accepts(uint32_t tag) {
    return tag == ElementTag(F::kNumber) ||
           tag == MakeTag(F::kNumber, WireFormatLite::WIRETYPE_LENGTH_DELIMITED);
  }
  template <class F, class C>
  static void Clear(C& m) {
    (m.*F::kMember).Clear();
  }
  template <class F, class C>
  static void Merge(C& to, const C& from) {
    (to.*F::kMember).MergeFrom(from.*F::kMember);
  }
  template <class F, class C>
  static size_t Size(const C& m) {
    const auto& values = m.*F::kMember;
    if constexpr (Codec::kWireType != WireFormatLite::WIRETYPE_VARINT) {
      return values.size() * (1 + sizeof(typename Codec::T));
    } else {
      size_t total = values.size();
      for (auto v : values) total += Codec::Size(static_cast<typename Codec::T>(v));
      return total;
    }
  }
  template <class F, class C>
  static uint8_t* Write(const C& m, uint8_t* p, EpsCopyOutputStream* s) {
    for (auto v : m.*F::kMember) {
      p = s->EnsureSpace(p);
      *p++ = static_cast<uint8_t>(ElementTag(F::kNumber));
      p = Codec::Write(static_cast<typename Codec::T>(v), p);
    }
    return p;
  }
  template <class F, class C>
  static const char* Parse(C& m, uint32_t tag, const char* p, ParseContext* ctx);
  template <class F, class C>
  static void Swap(C& a, C& b) {
    (a.*F::kMember).InternalSwap(&(b.*F::kMember));
  }
};

template <bool (*IsValid)(int)>
struct RepeatedEnumOps : RepeatedScalarOps<VarintI32> {
  template <class F, class C>
  static const char* Parse(C& m, uint32_t tag, const char* p, ParseContext* ctx);
};

template <class T>
struct RepeatedMessageOps : PlainOps {
  static constexpr bool kRepeated = true;
  static constexpr bool NeedsInitCheck();
  template <class F>
  static bool Accepts(uint32_t tag) {
    return tag == MakeTag(F::kNumber, WireFormatLite::WIRETYPE_LENGTH_DELIMITED);
  }
  template <class F, class C>
  static void Clear(C& m) {
    (m.*F::kMember).Clear();
  }
  // Element by element, after growing the pointer array once: each new
  // element is counted before anything is merged into it, so a failed
  // allocation leaves a partly merged but owned and counted element.
  template <class F, class C>
  static void Merge(C& to, const C& from) {
    auto& elements = to.*F::kMember;
    elements.Reserve(elements.size() + (from.*F::kMember).size());
    for (const T& e : from.*F::kMember) elements.Add()->MergeFrom(e);
  }
  template <class F, class C>
  static size_t Size(const C& m);
  template <class F, class C>
  static uint8_t* Write(const C& m, uint8_t* p, EpsCopyOutputStream* s);
  template <class F, class C>
  static const char* Parse(C& m, uint32_t, const char* p, ParseContext* ctx);
  template <class F, class C>
  static void Swap(C& a, C& b) {
    (a.*F::kMember).InternalSwap(&(b.*F::kMember));
  }
  template <class F, class C>
  static bool IsInitialized(const C& m) {
    if constexpr (NeedsInitCheck()) {
      return pb::internal::AllAreInitialized(m.*F::kMember);
    } else {
      return true;
    }
  }
};

// Kind to operations.
template <class Kind>
struct OpsOf;
template <> struct OpsOf<kind::UInt64> { using type = ScalarOps<VarintU64>; };
template <> struct OpsOf<kind::UInt32> { using type = ScalarOps<VarintU32>; };
template <> struct OpsOf<kind::Int32> { using type = ScalarOps<VarintI32>; };
template <> struct OpsOf<kind::Bool> { using type = ScalarOps<VarintBool>; };
template <> struct OpsOf<kind::Float> {
  using type = ScalarOps<FixedWidth<float, WireFormatLite::WIRETYPE_FIXED32>>;
};
template <> struct OpsOf<kind::Double> {
  using type = ScalarOps<FixedWidth<double, WireFormatLite::WIRETYPE_FIXED64>>;
};
template <> struct OpsOf<kind::Fixed32> {
  using type = ScalarOps<FixedWidth<uint32_t, WireFormatLite::WIRETYPE_FIXED32>>;
};
template <bool (*V)(int)> struct OpsOf<kind::Enum<V>> { using type = EnumOps<V>; };
template <> struct OpsOf<kind::String> { using type = TextOps<kind::String>; };
template <> struct OpsOf<kind::Bytes> { using type = TextOps<kind::Bytes>; };
template <class K> struct OpsOf<kind::Required<K>> {
  using type = RequiredOps<typename OpsOf<K>::type>;
};
template <class T> struct OpsOf<kind::Message<T>> {
  using type = MessageOps<T, /*kLocal=*/true>;
};
template <class T> struct OpsOf<kind::ImportedMessage<T>> {
  using type = MessageOps<T, /*kLocal=*/false>;
};
template <> struct OpsOf<kind::Repeated<kind::UInt32>> {
  using type = RepeatedScalarOps<VarintU32>;
};
template <> struct OpsOf<kind::Repeated<kind::Float>> {
  using type = RepeatedScalarOps<FixedWidth<float, WireFormatLite::WIRETYPE_FIXED32>>;
};
template <bool (*V)(int)> struct OpsOf<kind::Repeated<kind::Enum<V>>> {
  using type = RepeatedEnumOps<V>;
};
template <class T> struct OpsOf<kind::RepeatedMessage<T>> {
  using type = RepeatedMessageOps<T>;
};

// One field of a class: its declaration (kind, number, index), its member
// and the member's byte offset, which reflection reads.
template <class Decl, auto Member, uint32_t Offset>
struct Field {
  using Ops = typename OpsOf<typename Decl::kind>::type;
  static constexpr auto kMember = Member;
  static constexpr int kNumber = Decl::number;
  static constexpr const int* kNumberConstant = Decl::number_constant;
  static constexpr int kIndex = Decl::index;
  static constexpr uint32_t kOffset = Offset;
  static constexpr uint32_t kMask = 1u << Decl::index;
  static_assert(kNumber >= 1 && kNumber <= 15, "every tag is one byte");
  static_assert(kIndex < 32, "one has-bits word");
};

template <class... F>
struct FieldList {
  static constexpr size_t kCount = sizeof...(F);
  using Tuple = std::tuple<F...>;
  static constexpr bool kNeedsInitCheck = (F::Ops::NeedsInitCheck() || ...);
  using NumberConstants = std::array<const int*, kCount>;

  // Positions of the fields in ascending field-number order, the order in
  // which they are written.
  static constexpr std::array<size_t, kCount> ByNumber() {
    std::array<int, kCount> numbers{F::kNumber...};
    std::array<size_t, kCount> order{};
    for (size_t i = 0; i < kCount; ++i) order[i] = i;
    for (size_t i = 1; i < kCount; ++i) {
      for (size_t j = i; j > 0 && numbers[order[j - 1]] > numbers[order[j]]; --j) {
        size_t t = order[j];
        order[j] = order[j - 1];
        order[j - 1] = t;
      }
    }
    return order;
  }

  static constexpr bool IndexesMatchPositions() {
    std::array<int, kCount> indexes{F::kIndex...};
    for (size_t i = 0; i < kCount; ++i) {
      if (indexes[i] != static_cast<int>(i)) return false;
    }
    return true;
  }
  static_assert(IndexesMatchPositions(),
                "fields must be listed in declaration order");
};

template <class C>
using FieldsOf = typename Schema<C>::Fields;

template <class T, bool kLocal>
constexpr bool MessageOps<T, kLocal>::NeedsInitCheck() {
  if constexpr (kLocal) {
    return FieldsOf<T>::kNeedsInitCheck;
  } else {
    return false;
  }
}

template <class T>
constexpr bool RepeatedMessageOps<T>::NeedsInitCheck() {
  return FieldsOf<T>::kNeedsInitCheck;
}

// ---------------------------------------------------------------------------
// Unknown fields. The runtime's set allocates a string or group before it
// grows its array of fields, and loses that allocation if the growth fails.
// These routines grow the array first (by adding and removing a varint), so
// that an allocation failure while storing unknown fields leaks nothing.

inline void ReserveUnknownField(UnknownFieldSet* set) {
  set->AddVarint(0, 0);
  set->DeleteSubrange(set->field_count() - 1, 1);
}

inline void MergeUnknownFields(const UnknownFieldSet& from, UnknownFieldSet* to) {
  for (int i = 0; i < from.field_count(); ++i) {
    const pb::UnknownField& f = from.field(i);
    switch (f.type()) {
      case pb::UnknownField::TYPE_VARINT:
        to->AddVarint(f.number(), f.varint());
        break;
      case pb::UnknownField::TYPE_FIXED32:
        to->AddFixed32(f.number(), f.fixed32());
        break;
      case pb::UnknownField::TYPE_FIXED64:
        to->AddFixed64(f.number(), f.fixed64());
        break;
      case pb::UnknownField::TYPE_LENGTH_DELIMITED:
        ReserveUnknownField(to);
        to->AddLengthDelimited(f.number())->assign(f.length_delimited());
        break;
      case pb::UnknownField::TYPE_GROUP:
        ReserveUnknownField(to);
        MergeUnknownFields(f.group(), to->AddGroup(f.number()));
        break;
    }
  }
}

inline const char* ParseUnknownField(uint32_t tag, UnknownFieldSet* set, const char* ptr,
                                     ParseContext* ctx);

// The fields of an unknown group, up to its end-group tag.
struct UnknownGroup {
  UnknownFieldSet* set;
  const char* _InternalParse(const char* ptr, ParseContext* ctx) {
    while (!ctx->Done(&ptr)) {
      uint32_t tag;
      ptr = pb::internal::ReadTag(ptr, &tag);
      if (ptr == nullptr) return nullptr;
      if (tag == 0 || (tag & 7) == WireFormatLite::WIRETYPE_END_GROUP) {
        ctx->SetLastTag(tag);
        return ptr;
      }
      ptr = ParseUnknownField(tag, set, ptr, ctx);
      if (ptr == nullptr) return nullptr;
    }
    return ptr;
  }
};

// Reads one field that the message does not declare into its unknown-field
// set, by its wire type; groups count against the recursion limit.
inline const char* ParseUnknownField(uint32_t tag, UnknownFieldSet* set, const char* ptr,
                                     ParseContext* ctx) {
  const int number = static_cast<int>(tag >> 3);
  if (number == 0) return nullptr;
  switch (tag & 7) {
    case WireFormatLite::WIRETYPE_VARINT: {
      const uint64_t value = pb::internal::ReadVarint64(&ptr);
      if (ptr != nullptr) set->AddVarint(number, value);
      return ptr;
    }
    case WireFormatLite::WIRETYPE_FIXED64: {
      uint64_t value;
      pb::io::CodedInputStream::ReadLittleEndian64FromArray(
          reinterpret_cast<const uint8_t*>(ptr), &value);
      set->AddFixed64(number, value);
      return ptr + 8;
    }
    case WireFormatLite::WIRETYPE_LENGTH_DELIMITED: {
      const int size = pb::internal::ReadSize(&ptr);
      if (ptr == nullptr) return nullptr;
      ReserveUnknownField(set);
      return ctx->ReadString(ptr, size, set->AddLengthDelimited(number));
    }
    case WireFormatLite::WIRETYPE_START_GROUP: {
      ReserveUnknownField(set);
      UnknownGroup group{set->AddGroup(number)};
      return ctx->ParseGroup(&group, ptr, tag);
    }
    case WireFormatLite::WIRETYPE_FIXED32: {
      uint32_t value;
      pb::io::CodedInputStream::ReadLittleEndian32FromArray(
          reinterpret_cast<const uint8_t*>(ptr), &value);
      set->AddFixed32(number, value);
      return ptr + 4;
    }
    default:
      return nullptr;
  }
}

// Reports a message merged into itself: a fatal check failure that names the
// source unit and the line of the merge.
[[noreturn]] inline void SelfMergeFailed(const char* unit, int line) {
  pb::internal::LogFinisher() =
      pb::internal::LogMessage(pb::LOGLEVEL_FATAL, unit, __LINE__)
      << "CHECK failed: false: " << unit << ":" << line;
  // A fatal log does not return; this keeps the promise if a handler does.
  std::abort();
}

// ---------------------------------------------------------------------------
// The family behaviour, over a class's field list.

struct Core {
  template <class F, class C>
  static bool Has(const C& m) {
    if constexpr (F::Ops::kRepeated) {
      return !(m.*F::kMember).empty();
    } else {
      return (m._has_bits_[0] & F::kMask) != 0;
    }
  }
  template <class F, class C>
  static void SetHas(C& m) {
    m._has_bits_[0] |= F::kMask;
  }
  template <class C>
  static UnknownFieldSet* Unknown(C& m) {
    return m._internal_metadata_.template mutable_unknown_fields<UnknownFieldSet>();
  }
  template <class C>
  static C* DefaultInstancePtr() {
    return C::default_instance_;
  }

  template <class C>
  static void Destroy(C& m) {
    std::apply([&](auto... f) { (decltype(f)::Ops::template Destroy<decltype(f)>(m), ...); },
               typename FieldsOf<C>::Tuple{});
    m._internal_metadata_.template Delete<UnknownFieldSet>();
  }

  // Empties the message but keeps what it has allocated for reuse: owned
  // strings, sub-messages, repeated elements and the unknown-field record.
  template <class C>
  static void Clear(C& m) {
    ForEach<C>([&](auto f) {
      using F = decltype(f);
      if constexpr (F::Ops::kRepeated) {
        F::Ops::template Clear<F>(m);
      } else if (Has<F>(m)) {
        F::Ops::template Clear<F>(m);
      }
    });
    m._has_bits_.Clear();
    m._internal_metadata_.template Clear<UnknownFieldSet>();
  }

  // Folds `from` into `to`: repeated fields append, present singular fields
  // overwrite (sub-messages merge), unknown fields append. Never clears.
  template <class C>
  static void Merge(C& to, const C& from, const char* unit, int line) {
    if (&to == &from) SelfMergeFailed(unit, line);
    ForEach<C>([&](auto f) {
      using F = decltype(f);
      if constexpr (F::Ops::kRepeated) F::Ops::template Merge<F>(to, from);
    });
    if (from._has_bits_[0] != 0) {
      ForEach<C>([&](auto f) {
        using F = decltype(f);
        if constexpr (!F::Ops::kRepeated) {
          if (Has<F>(from)) {
            F::Ops::template Merge<F>(to, from);
            SetHas<F>(to);  // after: a failed merge marks nothing present
          }
        }
      });
    }
    if (from._internal_metadata_.have_unknown_fields()) {
      MergeUnknownFields(from.unknown_fields(), Unknown(to));
    }
  }

  template <class C>
  static bool IsInitialized(const C& m) {
    if constexpr (FieldsOf<C>::kNeedsInitCheck) {
      bool ok = true;
      ForEach<C>([&](auto f) {
        using F = decltype(f);
        ok = ok && F::Ops::template IsInitialized<F>(m);
      });
      return ok;
    } else {
      return true;
    }
  }

  template <class C>
  static size_t ByteSize(const C& m) {
    size_t total = 0;
    const uint32_t has = m._has_bits_[0];
    ForEach<C>([&](auto f) {
      using F = decltype(f);
      if constexpr (F::Ops::kRepeated) {
        if (Has<F>(m)) total += F::Ops::template Size<F>(m);
      } else {
        if (has & F::kMask) total += F::Ops::template Size<F>(m);
      }
    });
    if (__builtin_expect(m._internal_metadata_.have_unknown_fields(), 0)) {
      return m.ComputeUnknownFieldsSize(total, &m._cached_size_);
    }
    m._cached_size_.Set(static_cast<int>(total));
    return total;
  }

  template <class C>
  static uint8_t* Serialize(const C& m, uint8_t* p, EpsCopyOutputStream* s) {
    p = SerializeByNumber(m, p, s,
                          std::make_index_sequence<FieldsOf<C>::kCount>{});
    if (m._internal_metadata_.have_unknown_fields()) {
      p = pb::internal::WireFormat::InternalSerializeUnknownFieldsToArray(
          m._internal_metadata_.template unknown_fields<UnknownFieldSet>(
              UnknownFieldSet::default_instance),
          p, s);
    }
    return p;
  }

  template <class C>
  static const char* Parse(C& m, const char* ptr, ParseContext* ctx) {
    while (!ctx->Done(&ptr)) {
      uint32_t tag;
      ptr = pb::internal::ReadTag(ptr, &tag);
      if (ptr == nullptr) return nullptr;
      const char* next = ptr;
      if (ParseDeclared(m, tag, &next, ctx)) {
        if (next == nullptr) return nullptr;
        ptr = next;
        continue;
      }
      if (tag == 0 || (tag & 7) == WireFormatLite::WIRETYPE_END_GROUP) {
        ctx->SetLastTag(tag);
        return ptr;
      }
      ptr = ParseUnknownField(tag, Unknown(m), ptr, ctx);
      if (ptr == nullptr) return nullptr;
    }
    return ptr;
  }

  template <class C>
  static void Swap(C& a, C& b) {
    if (&a == &b) return;
    ForEach<C>([&](auto f) {
      using F = decltype(f);
      F::Ops::template Swap<F>(a, b);
    });
    std::swap(a._has_bits_[0], b._has_bits_[0]);
    int size = a._cached_size_.Get();
    a._cached_size_.Set(b._cached_size_.Get());
    b._cached_size_.Set(size);
    a._internal_metadata_.InternalSwap(&b._internal_metadata_);
  }

  // A new heap object; with an arena, the arena deletes it at its reset.
  template <class C>
  static C* New(pb::Arena* arena) {
    C* m = new C;
    if (arena != nullptr) arena->Own(m);
    return m;
  }

  template <class C>
  static void CreateDefaultInstance(const pb::Message** slot) {
    C::default_instance_ = new C;
    *slot = C::default_instance_;
  }
  template <class C>
  static void WireDefaultInstance() {
    ForEach<C>([&](auto f) {
      using F = decltype(f);
      F::Ops::template WireDefault<F>(*C::default_instance_);
    });
  }
  template <class C>
  static void DeleteDefaultInstance() {
    delete C::default_instance_;
    C::default_instance_ = nullptr;
  }

  // The reflection layout of one class: has-bits and metadata offsets, four
  // unused entries, the field offsets, then the has-bit index of each field
  // (none for repeated fields), all in declaration order.
  template <class C>
  static constexpr size_t OffsetRowSize() {
    return 6 + 2 * FieldsOf<C>::kCount;
  }
  template <class C, size_t N>
  static constexpr void AppendOffsets(std::array<uint32_t, N>& out, size_t& pos) {
    out[pos++] = Schema<C>::kHasBitsOffset;
    out[pos++] = Schema<C>::kMetadataOffset;
    for (int i = 0; i < 4; ++i) out[pos++] = kNoOffset;
    std::apply([&](auto... f) { ((out[pos++] = decltype(f)::kOffset), ...); },
               typename FieldsOf<C>::Tuple{});
    std::apply(
        [&](auto... f) {
          ((out[pos++] = decltype(f)::Ops::kRepeated
                             ? kNoOffset
                             : static_cast<uint32_t>(decltype(f)::kIndex)),
           ...);
        },
        typename FieldsOf<C>::Tuple{});
  }

 private:
  template <class C, class Fn>
  static void ForEach(Fn&& fn) {
    std::apply([&](auto... f) { (fn(f), ...); }, typename FieldsOf<C>::Tuple{});
  }

  template <class C, size_t... I>
  static uint8_t* SerializeByNumber(const C& m, uint8_t* p, EpsCopyOutputStream* s,
                                    std::index_sequence<I...>) {
    using L = FieldsOf<C>;
    constexpr auto order = L::ByNumber();
    const uint32_t has = m._has_bits_[0];
    (
        [&] {
          using F = std::tuple_element_t<order[I], typename L::Tuple>;
          if constexpr (F::Ops::kRepeated) {
            if (Has<F>(m)) p = F::Ops::template Write<F>(m, p, s);
          } else {
            if (has & F::kMask) p = F::Ops::template Write<F>(m, p, s);
          }
        }(),
        ...);
    return p;
  }

  // Parses the value of a declared field when the tag is one the field
  // takes; *ptr becomes the position after it, or null on failure.
  template <class C>
  static bool ParseDeclared(C& m, uint32_t tag, const char** ptr, ParseContext* ctx) {
    return std::apply(
        [&](auto... f) {
          return ((decltype(f)::Ops::template Accepts<decltype(f)>(tag) &&
                   (*ptr = decltype(f)::Ops::template Parse<decltype(f)>(m, tag, *ptr, ctx),
                    true)) ||
                  ...);
        },
        typename FieldsOf<C>::Tuple{});
  }
};

// --- Out-of-line operations that need Core ---------------------------------

template <class Codec>
template <class F, class C>
const char* ScalarOps<Codec>::Parse(C& m, uint32_t, const char* p, ParseContext*) {
  typename Codec::T v;
  p = Codec::Read(p, &v);
  if (p == nullptr) return nullptr;
  m.*F::kMember = v;
  Core::SetHas<F>(m);
  return p;
}

template <bool (*IsValid)(int)>
template <class F, class C>
const char* EnumOps<IsValid>::Parse(C& m, uint32_t, const char* p, ParseContext*) {
  int32_t v;
  p = VarintI32::Read(p, &v);
  if (p == nullptr) return nullptr;
  if (IsValid(v)) {
    m.*F::kMember = v;
    Core::SetHas<F>(m);
  } else {
    Core::Unknown(m)->AddVarint(F::kNumber, static_cast<uint64_t>(static_cast<int64_t>(v)));
  }
  return p;
}

template <class Kind>
template <class F, class C>
void TextOps<Kind>::Clear(C& m) {
  auto& field = m.*F::kMember;
  if (!field.IsDefault()) field.ClearNonDefaultToEmpty();
}

template <class Kind>
template <class F, class C>
const char* TextOps<Kind>::Parse(C& m, uint32_t, const char* p, ParseContext* ctx) {
  Core::SetHas<F>(m);
  auto& field = m.*F::kMember;
  std::string* str =
      field.IsDefault() ? field.Mutable(nullptr) : field.UnsafeMutablePointer();
  int size = static_cast<int>(pb::internal::ReadSize(&p));
  if (p == nullptr) return nullptr;
  return ctx->ReadString(p, size, str);
}

// Parses a length-delimited sub-message of a class of this library with the
// runtime's inline ParseMessage template: no out-of-line ParseMessage, no
// virtual _InternalParse.
template <class T>
struct DirectParser {
  T* message;
  const char* _InternalParse(const char* p, ParseContext* ctx) {
    return Core::Parse(*message, p, ctx);
  }
};

template <class T, bool kLocal>
template <class F, class C>
size_t MessageOps<T, kLocal>::Size(const C& m) {
  const T& sub = *(m.*F::kMember);
  if constexpr (kLocal) {
    return 1 + WireFormatLite::LengthDelimitedSize(Core::ByteSize(sub));
  } else {
    return 1 + WireFormatLite::MessageSize(sub);
  }
}

template <class T, bool kLocal>
template <class F, class C>
uint8_t* MessageOps<T, kLocal>::Write(const C& m, uint8_t* p, EpsCopyOutputStream* s) {
  const T& sub = *(m.*F::kMember);
  if constexpr (kLocal) {
    p = s->EnsureSpace(p);
    *p++ = static_cast<uint8_t>(MakeTag(F::kNumber, WireFormatLite::WIRETYPE_LENGTH_DELIMITED));
    p = WriteVarint(static_cast<uint32_t>(sub.GetCachedSize()), p);
    return Core::Serialize(sub, p, s);
  } else {
    p = s->EnsureSpace(p);
    return WireFormatLite::InternalWriteMessage(F::kNumber, sub, sub.GetCachedSize(), p, s);
  }
}

template <class T, bool kLocal>
template <class F, class C>
const char* MessageOps<T, kLocal>::Parse(C& m, uint32_t, const char* p,
                                                ParseContext* ctx) {
  if constexpr (kLocal) {
    DirectParser<T> sub{Mutable<F>(m)};
    return ctx->ParseMessage(&sub, p);
  } else {
    return ctx->ParseMessage(Mutable<F>(m), p);
  }
}

template <class T>
template <class F, class C>
size_t RepeatedMessageOps<T>::Size(const C& m) {
  const auto& elements = m.*F::kMember;
  size_t total = elements.size();
  for (const T& e : elements) total += WireFormatLite::LengthDelimitedSize(Core::ByteSize(e));
  return total;
}

template <class T>
template <class F, class C>
uint8_t* RepeatedMessageOps<T>::Write(const C& m, uint8_t* p, EpsCopyOutputStream* s) {
  for (const T& e : m.*F::kMember) {
    p = s->EnsureSpace(p);
    *p++ = static_cast<uint8_t>(MakeTag(F::kNumber, WireFormatLite::WIRETYPE_LENGTH_DELIMITED));
    p = WriteVarint(static_cast<uint32_t>(e.GetCachedSize()), p);
    p = Core::Serialize(e, p, s);
  }
  return p;
}

template <class T>
template <class F, class C>
const char* RepeatedMessageOps<T>::Parse(C& m, uint32_t, const char* p, ParseContext* ctx) {
  auto& elements = m.*F::kMember;
  elements.Reserve(elements.size() + 1);  // no element is lost to a failed growth
  DirectParser<T> sub{elements.Add()};
  return ctx->ParseMessage(&sub, p);
}

template <class Ops>
template <class F, class C>
bool RequiredOps<Ops>::IsInitialized(const C& m) {
  return Core::Has<F>(m);
}

template <class T, bool kLocal>
template <class F, class C>
T* MessageOps<T, kLocal>::Mutable(C& m) {
  T*& sub = m.*F::kMember;
  if (sub == nullptr) sub = new T;  // before the has-bit: see mutable_
  Core::SetHas<F>(m);
  return sub;
}

template <class T, bool kLocal>
template <class F, class C>
void MessageOps<T, kLocal>::Destroy(C& m) {
  if (&m != Core::DefaultInstancePtr<C>()) delete (m.*F::kMember);
}

template <class T, bool kLocal>
template <class F, class C>
bool MessageOps<T, kLocal>::IsInitialized(const C& m) {
  if constexpr (NeedsInitCheck()) {
    return !Core::Has<F>(m) || (m.*F::kMember)->IsInitialized();
  } else {
    return true;
  }
}

template <class Codec>
template <class F, class C>
const char* RepeatedScalarOps<Codec>::Parse(C& m, uint32_t tag, const char* p,
                                            ParseContext* ctx) {
  auto* values = &(m.*F::kMember);
  if (tag == ElementTag(F::kNumber)) {
    typename Codec::T v;
    p = Codec::Read(p, &v);
    if (p == nullptr) return nullptr;
    values->Add(v);
    return p;
  }
  if constexpr (Codec::kWireType == WireFormatLite::WIRETYPE_FIXED32) {
    return pb::internal::PackedFloatParser(values, p, ctx);
  } else {
    return pb::internal::PackedUInt32Parser(values, p, ctx);
  }
}

template <bool (*IsValid)(int)>
template <class F, class C>
const char* RepeatedEnumOps<IsValid>::Parse(C& m, uint32_t tag, const char* p,
                                            ParseContext* ctx) {
  auto* values = &(m.*F::kMember);
  auto add = [&m, values](uint64_t raw) {
    int32_t v = static_cast<int32_t>(raw);
    if (IsValid(v)) {
      values->Add(v);
    } else {
      Core::Unknown(m)->AddVarint(F::kNumber,
                                  static_cast<uint64_t>(static_cast<int64_t>(v)));
    }
  };
  if (tag == ElementTag(F::kNumber)) {
    uint64_t raw = pb::internal::ReadVarint64(&p);
    if (p == nullptr) return nullptr;
    add(raw);
    return p;
  }
  return ctx->ReadPackedVarint(p, add);
}

// ---------------------------------------------------------------------------
// Reflection layout of a schema file: the offsets table and the migration
// schemas of its messages, listed in the runtime's order (a nested message
// before its parent, top-level messages in file order).

template <class... Msgs>
struct FileLayout {
  static constexpr int kNumMessages = sizeof...(Msgs);

  template <class C>
  static constexpr int IndexOf() {
    constexpr bool same[] = {std::is_same<C, Msgs>::value...};
    for (int i = 0; i < kNumMessages; ++i) {
      if (same[i]) return i;
    }
    return -1;
  }

  static constexpr auto MakeOffsets() {
    std::array<uint32_t, (Core::OffsetRowSize<Msgs>() + ...)> out{};
    size_t pos = 0;
    (Core::AppendOffsets<Msgs>(out, pos), ...);
    return out;
  }

  static constexpr std::array<pb::internal::MigrationSchema, kNumMessages>
  MakeSchemas() {
    std::array<pb::internal::MigrationSchema, kNumMessages> out{};
    int index = 0;
    int pos = 0;
    (
        [&] {
          int fields = static_cast<int>(FieldsOf<Msgs>::kCount);
          out[index++] = {pos, pos + 6 + fields, -1, static_cast<int>(sizeof(Msgs))};
          pos += static_cast<int>(Core::OffsetRowSize<Msgs>());
        }(),
        ...);
    return out;
  }

  static constexpr auto kOffsets = MakeOffsets();
  static constexpr auto kSchemas = MakeSchemas();
};

// The per-file state that the frame keeps: the registration flag, the
// default instances and the reflection metadata (both in the layout's order)
// and the once-flag under which reflection is built. Constant-initialized.
template <int N>
struct FileState {
  bool registered = false;
  const pb::Message* default_instances[N] = {};
  pb::Metadata metadata[N] = {};
  pb::internal::once_flag reflection_once;
};

// Registration and teardown of one schema file. File provides kUnit, Layout,
// table, state and RegisterDependencies(); FileOrder lists the file's classes
// in declaration order, a nested message right after its container.
template <class File, class... FileOrder>
struct FileFrame {
  // Hands the descriptor to the generated pool and factory, creates every
  // default instance before wiring any, and queues the teardown. Only the
  // first call does anything.
  static void Register() {
    auto& state = File::state;
    if (state.registered) return;
    state.registered = true;
    pb::internal::VerifyVersion(GOOGLE_PROTOBUF_VERSION, 3021000, File::kUnit);
    File::RegisterDependencies();
    pb::internal::AddDescriptorsRunner add_descriptors(&File::table);
    (Core::CreateDefaultInstance<FileOrder>(
         &state.default_instances[File::Layout::template IndexOf<FileOrder>()]),
     ...);
    (Core::WireDefaultInstance<FileOrder>(), ...);
    pb::internal::OnShutdown(&Teardown);
  }

  // Run by the runtime's shut-down. Reflection objects are the runtime's.
  static void Teardown() { (Core::DeleteDefaultInstance<FileOrder>(), ...); }

  static_assert(sizeof...(FileOrder) == File::Layout::kNumMessages,
                "every message of the file is registered");
};

}  // namespace internal
}  // namespace protolib

// Lists a class's fields in declaration order.
// Byte offset of a member; the classes are not standard-layout, which the
// compilers this library supports handle as the runtime's own reflection
// expects (build with -Wno-invalid-offsetof).
#define PROTOLIB_OFFSET_(C, member) __builtin_offsetof(C, member)

#define PROTOLIB_FIELD_(C, name)                                         \
  ::protolib::internal::Field<C::_spec_##name, &C::name##_,             \
                              PROTOLIB_OFFSET_(C, name##_)>

#define PROTOLIB_NUMBER_CONSTANT_(C, name) C::_spec_##name::number_constant

#define PROTOLIB_EXPAND_(x) x
#define PROTOLIB_MAP1_(m, C, a) m(C, a)
#define PROTOLIB_MAP2_(m, C, a, ...) m(C, a), PROTOLIB_EXPAND_(PROTOLIB_MAP1_(m, C, __VA_ARGS__))
#define PROTOLIB_MAP3_(m, C, a, ...) m(C, a), PROTOLIB_EXPAND_(PROTOLIB_MAP2_(m, C, __VA_ARGS__))
#define PROTOLIB_MAP4_(m, C, a, ...) m(C, a), PROTOLIB_EXPAND_(PROTOLIB_MAP3_(m, C, __VA_ARGS__))
#define PROTOLIB_MAP5_(m, C, a, ...) m(C, a), PROTOLIB_EXPAND_(PROTOLIB_MAP4_(m, C, __VA_ARGS__))
#define PROTOLIB_MAP6_(m, C, a, ...) m(C, a), PROTOLIB_EXPAND_(PROTOLIB_MAP5_(m, C, __VA_ARGS__))
#define PROTOLIB_MAP7_(m, C, a, ...) m(C, a), PROTOLIB_EXPAND_(PROTOLIB_MAP6_(m, C, __VA_ARGS__))
#define PROTOLIB_MAP8_(m, C, a, ...) m(C, a), PROTOLIB_EXPAND_(PROTOLIB_MAP7_(m, C, __VA_ARGS__))
#define PROTOLIB_MAP9_(m, C, a, ...) m(C, a), PROTOLIB_EXPAND_(PROTOLIB_MAP8_(m, C, __VA_ARGS__))
#define PROTOLIB_MAP10_(m, C, a, ...) m(C, a), PROTOLIB_EXPAND_(PROTOLIB_MAP9_(m, C, __VA_ARGS__))
#define PROTOLIB_MAP11_(m, C, a, ...) m(C, a), PROTOLIB_EXPAND_(PROTOLIB_MAP10_(m, C, __VA_ARGS__))
#define PROTOLIB_MAP12_(m, C, a, ...) m(C, a), PROTOLIB_EXPAND_(PROTOLIB_MAP11_(m, C, __VA_ARGS__))
#define PROTOLIB_MAP13_(m, C, a, ...) m(C, a), PROTOLIB_EXPAND_(PROTOLIB_MAP12_(m, C, __VA_ARGS__))
#define PROTOLIB_PICK_(_1, _2, _3, _4, _5, _6, _7, _8, _9, _10, _11, _12, _13, NAME, ...) NAME
#define PROTOLIB_MAP_(m, C, ...)                                                       \
  PROTOLIB_EXPAND_(PROTOLIB_PICK_(__VA_ARGS__, PROTOLIB_MAP13_, PROTOLIB_MAP12_,        \
                                  PROTOLIB_MAP11_, PROTOLIB_MAP10_, PROTOLIB_MAP9_,    \
                                  PROTOLIB_MAP8_, PROTOLIB_MAP7_, PROTOLIB_MAP6_,      \
                                  PROTOLIB_MAP5_, PROTOLIB_MAP4_, PROTOLIB_MAP3_,      \
                                  PROTOLIB_MAP2_, PROTOLIB_MAP1_)(m, C, __VA_ARGS__))

// The field list of class C, its fields named in declaration order. Must
// stand at global scope, after the field lists of C's sub-message types.
#define PROTOLIB_SCHEMA(C, ...)                                                   \
  template <>                                                                     \
  struct protolib::internal::Schema<C> {                                          \
    using Fields = ::protolib::internal::FieldList<PROTOLIB_MAP_(PROTOLIB_FIELD_, \
                                                                 C, __VA_ARGS__)>; \
    static constexpr uint32_t kHasBitsOffset = PROTOLIB_OFFSET_(C, _has_bits_); \
    static constexpr uint32_t kMetadataOffset =                                   \
        PROTOLIB_OFFSET_(C, _internal_metadata_);                                 \
    /* Refers to the field-number constants, so that the library defines */     \
    /* and exports them. */                                                       \
    static const Fields::NumberConstants kNumberConstants;                        \
  };                                                                              \
  const protolib::internal::Schema<C>::Fields::NumberConstants                    \
      protolib::internal::Schema<C>::kNumberConstants = {                         \
          PROTOLIB_MAP_(PROTOLIB_NUMBER_CONSTANT_, C, __VA_ARGS__)};

// The out-of-line members of class C of a schema file described by File,
// which provides: kUnit (the source unit named in fatal reports), Layout (a
// FileLayout), table (the file's DescriptorTable), state (its FileState) and
// Frame (its FileFrame).
#define PROTOLIB_DEFINE_MESSAGE(C, File)                                          \
  C* C::default_instance_ = nullptr;                                              \
  const ::google::protobuf::Message::ClassData C::_class_data_ = {                \
      ::google::protobuf::Message::CopyWithSourceCheck, C::MergeImpl};            \
  C::C() : ::google::protobuf::Message() {}                                       \
  /* Delegates, so that a failed copy is destroyed and leaks nothing. */         \
  C::C(const C& from) : C() {                                                     \
    ::protolib::internal::Core::Merge(*this, from, File::kUnit, __LINE__);        \
  }                                                                               \
  C::~C() { ::protolib::internal::Core::Destroy(*this); }                         \
  const C& C::default_instance() {                                                \
    if (default_instance_ == nullptr) File::Frame::Register();                    \
    return *default_instance_;                                                    \
  }                                                                               \
  const ::google::protobuf::Descriptor* C::descriptor() {                         \
    ::google::protobuf::internal::AssignDescriptors(&File::table);                \
    return File::state.metadata[File::Layout::template IndexOf<C>()].descriptor;  \
  }                                                                               \
  ::google::protobuf::Metadata C::GetMetadata() const {                           \
    ::google::protobuf::internal::AssignDescriptors(&File::table);                \
    return File::state.metadata[File::Layout::template IndexOf<C>()];             \
  }                                                                               \
  void C::Swap(C* other) { ::protolib::internal::Core::Swap(*this, *other); }     \
  C* C::New(::google::protobuf::Arena* arena) const {                             \
    return ::protolib::internal::Core::New<C>(arena);                             \
  }                                                                               \
  void C::CopyFrom(const C& from) {                                               \
    if (&from == this) return;                                                    \
    Clear();                                                                      \
    ::protolib::internal::Core::Merge(*this, from, File::kUnit, __LINE__);        \
  }                                                                               \
  void C::MergeFrom(const C& from) {                                              \
    ::protolib::internal::Core::Merge(*this, from, File::kUnit, __LINE__);        \
  }                                                                               \
  void C::MergeImpl(::google::protobuf::Message& to,                              \
                    const ::google::protobuf::Message& from) {                    \
    ::protolib::internal::Core::Merge(static_cast<C&>(to),                        \
                                      static_cast<const C&>(from), File::kUnit,   \
                                      __LINE__);                                  \
  }                                                                               \
  void C::Clear() { ::protolib::internal::Core::Clear(*this); }                   \
  bool C::IsInitialized() const {                                                 \
    return ::protolib::internal::Core::IsInitialized(*this);                      \
  }                                                                               \
  size_t C::ByteSizeLong() const {                                                \
    return ::protolib::internal::Core::ByteSize(*this);                           \
  }                                                                               \
  const char* C::_InternalParse(const char* ptr,                                  \
                                ::google::protobuf::internal::ParseContext* ctx) { \
    return ::protolib::internal::Core::Parse(*this, ptr, ctx);                    \
  }                                                                               \
  uint8_t* C::_InternalSerialize(                                                 \
      uint8_t* target, ::google::protobuf::io::EpsCopyOutputStream* stream) const { \
    return ::protolib::internal::Core::Serialize(*this, target, stream);          \
  }                                                                               \
  const ::google::protobuf::Message::ClassData* C::GetClassData() const {         \
    return &_class_data_;                                                         \
  }

// The DescriptorTable of a schema file: its serialized descriptor, its
// imports' tables, its FileLayout and FileState, and its enumeration
// descriptor slots (or null).
#define PROTOLIB_DESCRIPTOR_TABLE(bytes, filename, deps, num_deps, Layout, state, \
                                  enums)                                          \
  {                                                                               \
    false, false, static_cast<int>(sizeof(bytes) - 1), bytes, filename,           \
        &(state).reflection_once, deps, num_deps, Layout::kNumMessages,           \
        Layout::kSchemas.data(), (state).default_instances,                       \
        Layout::kOffsets.data(), (state).metadata, enums, nullptr                 \
  }

#endif  // PROTOLIB_MESSAGE_IMPL_H_
