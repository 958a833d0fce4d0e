// Field operations by kind: for each field kind, how the field is cleared,
// merged, sized, written, parsed, swapped and destroyed, and which kind maps
// to which operations; then Field and FieldList, a class's fields. Uses
// wire_codecs.h, and family_ops.h for has-bits, unknown fields and sub-messages.
#ifndef PROTOLIB_FIELD_OPS_H_
#define PROTOLIB_FIELD_OPS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <tuple>
#include <utility>

#include <google/protobuf/arenastring.h>
#include <google/protobuf/generated_message_util.h>
#include <google/protobuf/parse_context.h>
#include <google/protobuf/wire_format_lite.h>

#include "protolib/family_ops.h"
#include "protolib/message_decl.h"
#include "protolib/wire_codecs.h"

namespace protolib {
namespace internal {

// ---------------------------------------------------------------------------
// Field operations by kind. Each Ops type provides, for a field F of a class
// C (F::kMember is the member pointer):
//   kRepeated, NeedsInitCheck(), Accepts(tag),
//   Clear, Merge, Present, Size, Write, Parse, Swap, Destroy, IsInitialized,
//   WireDefault (point the default instance's sub-message at its default).

// What most kinds do without: nothing to free, no required fields to
// consult, nothing to wire into the default instance.
struct PlainOps {
  // A number or enumeration held in the class: clearing it is one store,
  // done without consulting its has-bit (a field without its bit holds 0).
  static constexpr bool kPlainValue = false;
  static constexpr bool kNested = false;  // parses messages: see Core::ParseNested
  static constexpr bool HoldsImported() { return false; }
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

// A kind with one wire form: a tag is its field's when it has the field's
// number and that form.
template <int kWireType>
struct OneWireForm {
  // The field's tag, one byte: every declared number is 1 to 15.
  template <class F>
  static constexpr uint8_t Tag() {
    return static_cast<uint8_t>(MakeTag(F::kNumber, kWireType));
  }
  template <class F>
  static bool Accepts(uint32_t tag) {
    return tag == Tag<F>();
  }
};
using LengthDelimited = OneWireForm<WireFormatLite::WIRETYPE_LENGTH_DELIMITED>;

template <class Codec>
struct ScalarOps : PlainOps, OneWireForm<Codec::kWireType> {
  static constexpr bool kRepeated = false;
  static constexpr bool kPlainValue = true;
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
    *p++ = ScalarOps::template Tag<F>();
    return Codec::Write(m.*F::kMember, p);
  }
  template <class F, class C>
  static const char* Parse(C& m, uint32_t, const char* p, ParseContext* ctx);
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
  static const char* Parse(C& m, uint32_t, const char* p, ParseContext* ctx);
};

template <class Kind>
struct TextOps : PlainOps, LengthDelimited {
  static constexpr bool kRepeated = false;
  template <class F, class C>
  static void Clear(C& m);
  template <class F, class C>
  static void Merge(C& to, const C& from) {
    (to.*F::kMember).Set((from.*F::kMember).Get(), nullptr);
  }
  template <class F, class C>
  static size_t Size(const C& m) {
    return 1 + LengthDelimitedSize((m.*F::kMember).Get().size());
  }
  template <class F, class C>
  static uint8_t* Write(const C& m, uint8_t* p, EpsCopyOutputStream* s) {
    const std::string& value = (m.*F::kMember).Get();
    // A string of up to 14 bytes, 16 with its tag and length, fits the room
    // EnsureSpace leaves: copied in line rather than by a call. The runtime
    // writes such a string the same way, copying it, never keeping a
    // reference to it.
    const size_t size = value.size();
    if (size <= 14) {
      p = s->EnsureSpace(p);
      p[0] = Tag<F>();
      p[1] = static_cast<uint8_t>(size);
      CopySmall(p + 2, value.data(), size);
      return p + 2 + size;
    }
    return s->WriteStringMaybeAliased(F::kNumber, value, p);
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
// operations are called directly, and it is asked whether it is initialized
// when it has required fields; an imported T is handled through its virtual
// interface alone and never asked whether it is initialized.
template <class T, bool kLocal>
struct MessageOps : LengthDelimited {
  static constexpr bool kRepeated = false;
  static constexpr bool kPlainValue = false;
  static constexpr bool kNested = true;
  static constexpr bool HoldsImported();
  static constexpr bool NeedsInitCheck();
  template <class F, class C>
  static void Clear(C& m);
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
  static const char* Parse(C& m, uint32_t, const char* p, ParseContext* ctx, int skipped);
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
struct RepeatedMessageOps : PlainOps, LengthDelimited {
  static constexpr bool kRepeated = true;
  static constexpr bool kNested = true;
  static constexpr bool HoldsImported();
  static constexpr bool NeedsInitCheck();
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
  static const char* Parse(C& m, uint32_t, const char* p, ParseContext* ctx, int skipped);
  template <class F, class C>
  static void Swap(C& a, C& b) {
    (a.*F::kMember).InternalSwap(&(b.*F::kMember));
  }
  template <class F, class C>
  static bool IsInitialized(const C& m);
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

template <class C>
constexpr bool MayHoldImported() {
  return std::apply([](auto... f) { return (decltype(f)::Ops::HoldsImported() || ...); },
                    typename FieldsOf<C>::Tuple{});
}

template <class T, bool kLocal>
constexpr bool MessageOps<T, kLocal>::HoldsImported() {
  if constexpr (kLocal) {
    return MayHoldImported<T>();
  } else {
    return true;
  }
}

template <class T>
constexpr bool RepeatedMessageOps<T>::HoldsImported() {
  return MayHoldImported<T>();
}

// --- Out-of-line operations, those that reach into Core ----------------------

template <class Codec>
template <class F, class C>
PROTOLIB_ALWAYS_INLINE const char* ScalarOps<Codec>::Parse(C& m, uint32_t, const char* p,
                                                          ParseContext* ctx) {
  typename Codec::T v;
  p = Codec::Read(p, &v);
  if (p == nullptr || PastInput(p, ctx)) return nullptr;
  m.*F::kMember = v;
  Core::SetHas<F>(m);
  return p;
}

template <bool (*IsValid)(int)>
template <class F, class C>
PROTOLIB_ALWAYS_INLINE const char* EnumOps<IsValid>::Parse(C& m, uint32_t, const char* p,
                                                          ParseContext* ctx) {
  int32_t v;
  p = VarintI32::Read(p, &v);
  if (p == nullptr || PastInput(p, ctx)) return nullptr;
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
  if (PastInput(p, ctx)) return nullptr;  // the tag ran past the input
  Core::SetHas<F>(m);
  auto& field = m.*F::kMember;
  std::string* str =
      field.IsDefault() ? field.Mutable(nullptr) : field.UnsafeMutablePointer();
  int size = static_cast<int>(pb::internal::ReadSize(&p));
  if (p == nullptr) return nullptr;
  p = ctx->ReadString(p, size, str);
  if (p == nullptr || PastInput(p, ctx)) {
    str->clear();  // present, as it was being read, but with no bytes not read
    return nullptr;
  }
  return p;
}

// Parses a length-delimited sub-message of a class of this library with the
// runtime's inline ParseMessage template: no out-of-line ParseMessage, no
// virtual _InternalParse.
//
// `start` is where the length begins and `room` the bytes from there to the
// enclosing limit: a sub-message whose length runs past the message that
// holds it is not read at all.
template <class T>
struct DirectParser {
  T* message;
  const char* start;
  int room;
  const char* _InternalParse(const char* p, ParseContext* ctx) {
    if (ctx->BytesUntilLimit(p) > room - static_cast<int>(p - start)) return nullptr;
    return Core::Parse(*message, p, ctx);
  }
};

template <class T, bool kLocal>
template <class F, class C>
PROTOLIB_ALWAYS_INLINE size_t MessageOps<T, kLocal>::Size(const C& m) {
  const T& sub = *(m.*F::kMember);
  if constexpr (kLocal) {
    return 1 + LengthDelimitedSize(Core::ByteSize(sub));
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
    *p++ = Tag<F>();
    p = WriteVarint(static_cast<uint32_t>(Core::CachedSize(sub)), p);
    return Core::Serialize(sub, p, s);
  } else {
    p = s->EnsureSpace(p);
    return WireFormatLite::InternalWriteMessage(F::kNumber, sub, sub.GetCachedSize(), p, s);
  }
}

template <class T, bool kLocal>
template <class F, class C>
const char* MessageOps<T, kLocal>::Parse(C& m, uint32_t, const char* p, ParseContext* ctx,
                                         int skipped) {
  if (PastInput(p, ctx)) return nullptr;  // the tag ran past the input
  T* held = Mutable<F>(m);
  if constexpr (kLocal) {
    return Core::ParseNested(*held, p, ctx, skipped);
  } else {
    // Nothing is skipped on the path to a message of another library.
    if (!LengthFits(p, ctx)) return nullptr;
    return ctx->ParseMessage(held, p);
  }
}

template <class T>
template <class F, class C>
size_t RepeatedMessageOps<T>::Size(const C& m) {
  const auto& elements = m.*F::kMember;
  size_t total = elements.size();
  for (const T& e : elements) total += LengthDelimitedSize(Core::ByteSize(e));
  return total;
}

template <class T>
template <class F, class C>
uint8_t* RepeatedMessageOps<T>::Write(const C& m, uint8_t* p, EpsCopyOutputStream* s) {
  for (const T& e : m.*F::kMember) {
    p = s->EnsureSpace(p);
    *p++ = Tag<F>();
    p = WriteVarint(static_cast<uint32_t>(Core::CachedSize(e)), p);
    p = Core::Serialize(e, p, s);
  }
  return p;
}

template <class T>
template <class F, class C>
const char* RepeatedMessageOps<T>::Parse(C& m, uint32_t, const char* p, ParseContext* ctx,
                                        int skipped) {
  // No element for an occurrence past the input or the recursion limit.
  // Neither changes along a run: each element leaves the depth as it found
  // it, and NextTagIs takes only a tag inside the input.
  if (ctx->depth() - skipped <= 0 || PastInput(p, ctx)) return nullptr;
  auto& elements = m.*F::kMember;
  do {
    // No element is lost to a failed growth: grow first when full.
    if (elements.size() >= elements.Capacity()) elements.Reserve(elements.size() + 1);
    p = Core::ParseNested(*elements.Add(), p, ctx, skipped);
    if (p == nullptr) return nullptr;
  } while (NextTagIs(&p, ctx, Tag<F>()));
  return p;
}

// The elements are asked through their virtual IsInitialized, last to
// first: an element may be of a class derived from T that answers for
// itself. A T without required fields, at any depth, is not asked.
template <class T>
template <class F, class C>
bool RepeatedMessageOps<T>::IsInitialized(const C& m) {
  if constexpr (NeedsInitCheck()) {
    const auto& elements = m.*F::kMember;
    for (int i = elements.size(); i-- > 0;) {
      if (!elements.Get(i).IsInitialized()) return false;
    }
  }
  return true;
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
void MessageOps<T, kLocal>::Clear(C& m) {
  if (T* sub = m.*F::kMember) {
    if constexpr (kLocal) {
      Core::Clear(*sub);
    } else {
      sub->Clear();
    }
  }
}

template <class T, bool kLocal>
template <class F, class C>
void MessageOps<T, kLocal>::Destroy(C& m) {
  if (&m != Core::DefaultInstancePtr<C>()) delete (m.*F::kMember);
}

// Asked through its virtual IsInitialized, as the elements of a repeated
// field are.
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
    return ParseElementRun<Codec>(p, ctx, ElementTag(F::kNumber),
                                  [values](typename Codec::T v) { values->Add(v); });
  }
  if constexpr (Codec::kWireType == WireFormatLite::WIRETYPE_FIXED32) {
    return ParsePackedFixed(values, p, ctx);
  } else {
    return ParsePackedVarints(p, ctx, [values](uint64_t v) {
      values->Add(static_cast<typename Codec::T>(v));
    });
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
    return ParseElementRun<VarintU64>(p, ctx, ElementTag(F::kNumber), add);
  }
  return ParsePackedVarints(p, ctx, add);
}

}  // namespace internal
}  // namespace protolib

#endif  // PROTOLIB_FIELD_OPS_H_
