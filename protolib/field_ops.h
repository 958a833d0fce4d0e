// Field operations by kind: for each field kind, how the field is cleared,
// merged, sized, written, parsed, swapped and destroyed, and which kind maps
// to which operations; then Field and FieldList, a class's fields. Uses
// wire_codecs.h, and family_ops.h for has-bits, unknown fields and sub-messages.
//
// Room past the data: a value is read whole (wire_codecs.h's readers) before
// PastInput tells whether it lay inside the input, from the 16 readable bytes
// ParseContext keeps past any position the parse loop reaches. A field is
// written after EpsCopyOutputStream::EnsureSpace, which leaves 16 writable
// bytes: a tag of up to five bytes and a value of up to ten, or a short
// string with its tag and length, fit without another check. Only the
// field's own bytes are written, so a buffer of exactly ByteSizeLong bytes,
// which the stream writes into directly, is never written past.
#ifndef PROTOLIB_FIELD_OPS_H_
#define PROTOLIB_FIELD_OPS_H_

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <tuple>
#include <type_traits>
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
  template <class F>
  using Tag = ConstTag<F::kNumber, kWireType>;
  template <class F>
  static bool Accepts(uint32_t tag) {
    return tag == Tag<F>::kValue;
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
    return ScalarOps::template Tag<F>::kSize + Codec::Size(m.*F::kMember);
  }
  template <class F, class C>
  static uint8_t* Write(const C& m, uint8_t* p, EpsCopyOutputStream* s) {
    p = ScalarOps::template Tag<F>::Write(s->EnsureSpace(p));
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
    return Tag<F>::kSize + LengthDelimitedSize((m.*F::kMember).Get().size());
  }
  template <class F, class C>
  static uint8_t* Write(const C& m, uint8_t* p, EpsCopyOutputStream* s) {
    return WriteText<F>((m.*F::kMember).Get(), p, s);
  }
  // Writes one string of field F. A string that fits, with its tag and
  // one-byte length, the 16 bytes of room EnsureSpace leaves (14 bytes after
  // a one-byte tag) is copied in line rather than by a call. The runtime
  // writes such a string the same way, copying it, never keeping a reference
  // to it.
  template <class F>
  static PROTOLIB_ALWAYS_INLINE uint8_t* WriteText(const std::string& value, uint8_t* p,
                                                   EpsCopyOutputStream* s) {
    const size_t size = value.size();
    constexpr size_t kInLine = 15 - Tag<F>::kSize;
    if (size <= kInLine) {
      p = Tag<F>::Write(s->EnsureSpace(p));
      p[0] = static_cast<uint8_t>(size);
      CopySmall(p + 1, value.data(), size);
      return p + 1 + size;
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

// A required field: present, and initialized if it is a message, or the
// message holding it is not initialized.
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
  static const char* Parse(C& m, uint32_t, const char* p, ParseContext* ctx, int depth);
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

// What the containers of repeated scalars, strings and bytes do alike:
// clearing keeps the storage, merging appends, swapping exchanges internals.
struct RepeatedOps : PlainOps {
  static constexpr bool kRepeated = true;
  template <class F, class C>
  static void Clear(C& m) {
    (m.*F::kMember).Clear();
  }
  template <class F, class C>
  static void Merge(C& to, const C& from) {
    (to.*F::kMember).MergeFrom(from.*F::kMember);
  }
  template <class F, class C>
  static void Swap(C& a, C& b) {
    (a.*F::kMember).InternalSwap(&(b.*F::kMember));
  }
};

template <class Codec>
struct RepeatedScalarOps : RepeatedOps {
  // The tag of one element; a packed run has the length-delimited one.
  template <class F>
  using Tag = ConstTag<F::kNumber, Codec::kWireType>;
  template <class F>
  static bool Accepts(uint32_t tag) {
    return tag == Tag<F>::kValue ||
           tag == MakeTag(F::kNumber, WireFormatLite::WIRETYPE_LENGTH_DELIMITED);
  }
  template <class F, class C>
  static size_t Size(const C& m) {
    const auto& values = m.*F::kMember;
    if constexpr (Codec::kWireType != WireFormatLite::WIRETYPE_VARINT) {
      return values.size() * (Tag<F>::kSize + sizeof(typename Codec::T));
    } else {
      size_t total = values.size() * Tag<F>::kSize;
      for (auto v : values) total += Codec::Size(static_cast<typename Codec::T>(v));
      return total;
    }
  }
  template <class F, class C>
  static uint8_t* Write(const C& m, uint8_t* p, EpsCopyOutputStream* s) {
    for (auto v : m.*F::kMember) {
      p = Tag<F>::Write(s->EnsureSpace(p));
      p = Codec::Write(static_cast<typename Codec::T>(v), p);
    }
    return p;
  }
  template <class F, class C>
  static const char* Parse(C& m, uint32_t tag, const char* p, ParseContext* ctx);
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
  static const char* Parse(C& m, uint32_t, const char* p, ParseContext* ctx, int depth);
  template <class F, class C>
  static void Swap(C& a, C& b) {
    (a.*F::kMember).InternalSwap(&(b.*F::kMember));
  }
  template <class F, class C>
  static bool IsInitialized(const C& m);
};

// Repeated strings and bytes, each element written and read as a singular
// one is.
template <class Kind>
struct RepeatedTextOps : RepeatedOps, LengthDelimited {
  template <class F, class C>
  static size_t Size(const C& m) {
    const auto& values = m.*F::kMember;
    size_t total = values.size() * Tag<F>::kSize;
    for (const std::string& v : values) total += LengthDelimitedSize(v.size());
    return total;
  }
  template <class F, class C>
  static uint8_t* Write(const C& m, uint8_t* p, EpsCopyOutputStream* s) {
    for (const std::string& v : m.*F::kMember) p = TextOps<Kind>::template WriteText<F>(v, p, s);
    return p;
  }
  template <class F, class C>
  static const char* Parse(C& m, uint32_t, const char* p, ParseContext* ctx);
};

// A repeated sub-message of a class from another library: as a repeated
// message of this library, but each element sized, written and parsed
// through its virtual interface and never asked whether it is initialized.
template <class T>
struct RepeatedImportedOps : RepeatedMessageOps<T> {
  using Base = RepeatedMessageOps<T>;
  static constexpr bool HoldsImported() { return true; }
  static constexpr bool NeedsInitCheck() { return false; }
  template <class F, class C>
  static size_t Size(const C& m) {
    const auto& elements = m.*F::kMember;
    size_t total = elements.size() * Base::template Tag<F>::kSize;
    for (const T& e : elements) total += WireFormatLite::MessageSize(e);
    return total;
  }
  template <class F, class C>
  static uint8_t* Write(const C& m, uint8_t* p, EpsCopyOutputStream* s) {
    for (const T& e : m.*F::kMember) {
      p = WireFormatLite::InternalWriteMessage(F::kNumber, e, e.GetCachedSize(),
                                               s->EnsureSpace(p), s);
    }
    return p;
  }
  template <class F, class C>
  static const char* Parse(C& m, uint32_t, const char* p, ParseContext* ctx, int depth);
  template <class F, class C>
  static bool IsInitialized(const C&) {
    return true;
  }
};

// Kind to operations.
template <class Kind>
struct CodecOf;  // of a scalar kind
template <> struct CodecOf<kind::UInt64> { using type = VarintU64; };
template <> struct CodecOf<kind::UInt32> { using type = VarintU32; };
template <> struct CodecOf<kind::Int32> { using type = VarintI32; };
template <> struct CodecOf<kind::Bool> { using type = VarintBool; };
template <> struct CodecOf<kind::Float> {
  using type = FixedWidth<float, WireFormatLite::WIRETYPE_FIXED32>;
};
template <> struct CodecOf<kind::Double> {
  using type = FixedWidth<double, WireFormatLite::WIRETYPE_FIXED64>;
};
template <> struct CodecOf<kind::Fixed32> {
  using type = FixedWidth<uint32_t, WireFormatLite::WIRETYPE_FIXED32>;
};

template <class Kind>
struct OpsOf {  // a scalar kind
  using type = ScalarOps<typename CodecOf<Kind>::type>;
};
template <class Kind> struct OpsOf<kind::Repeated<Kind>> {
  using type = RepeatedScalarOps<typename CodecOf<Kind>::type>;
};
template <bool (*V)(int)> struct OpsOf<kind::Enum<V>> { using type = EnumOps<V>; };
template <bool (*V)(int)> struct OpsOf<kind::Repeated<kind::Enum<V>>> {
  using type = RepeatedEnumOps<V>;
};
template <> struct OpsOf<kind::String> { using type = TextOps<kind::String>; };
template <> struct OpsOf<kind::Bytes> { using type = TextOps<kind::Bytes>; };
template <> struct OpsOf<kind::Repeated<kind::String>> {
  using type = RepeatedTextOps<kind::String>;
};
template <> struct OpsOf<kind::Repeated<kind::Bytes>> {
  using type = RepeatedTextOps<kind::Bytes>;
};
template <class K> struct OpsOf<kind::Required<K>> {
  using type = RequiredOps<typename OpsOf<K>::type>;
};
template <class T> struct OpsOf<kind::Message<T>> {
  using type = MessageOps<T, /*kLocal=*/true>;
};
template <class T> struct OpsOf<kind::ImportedMessage<T>> {
  using type = MessageOps<T, /*kLocal=*/false>;
};
template <class T> struct OpsOf<kind::RepeatedImportedMessage<T>> {
  using type = RepeatedImportedOps<T>;
};
template <class T> struct OpsOf<kind::RepeatedMessage<T>> {
  using type = RepeatedMessageOps<T>;
};

// One field of a class, from the description its field macro declares:
// kind, number and declaration index, which is also its has-bit's index;
// its member and the member's byte offset, which reflection reads.
template <class Decl>
struct Field {
  using Kind = typename Decl::FieldKind;
  using Ops = typename OpsOf<Kind>::type;
  static constexpr const char* kName = Decl::kName;
  static constexpr auto kMember = Decl::template Member<>();
  static constexpr int kNumber = Decl::kNumber;
  static constexpr const int* kNumberConstant = Decl::NumberConstant();
  static constexpr int kIndex = Decl::kIndex;
  static constexpr uint32_t kOffset = Decl::template Offset<>();
  static constexpr int kWord = kIndex / 32;  // of the has-bits
  static constexpr uint32_t kMask = 1u << (kIndex % 32);
};

template <class... F>
struct FieldList {
  static constexpr size_t kCount = sizeof...(F);
  using Tuple = std::tuple<F...>;
  static constexpr bool kNeedsInitCheck = (F::Ops::NeedsInitCheck() || ...);
  static constexpr int kMaxNumber = std::max({0, F::kNumber...});
  using NumberConstants = std::array<const int*, kCount>;
  static constexpr NumberConstants kNumberConstants = {F::kNumberConstant...};

  static constexpr int CountNumber(int number) { return (0 + ... + (F::kNumber == number)); }

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

  // The field numbers above 15, ascending: those with tags of two bytes or
  // more, which the parser finds by binary search.
  static constexpr auto LargeNumbers() {
    std::array<uint32_t, (0 + ... + (F::kNumber > 15))> large{};
    const std::array<int, kCount> numbers{F::kNumber...};
    size_t n = 0;
    for (size_t i : ByNumber()) {
      if (numbers[i] > 15) large[n++] = static_cast<uint32_t>(numbers[i]);
    }
    return large;
  }
};

// Checked for each field of class C when the class's operations are defined.
template <class C, class F, int kFieldsWithItsNumber>
struct NumberCheck {
  static_assert(kFieldsWithItsNumber == 1,
                "two fields of the class have the same number: renumber one in the .proto, "
                "the class header and the descriptor literal");
  static constexpr bool kOk = true;
};

// The class of this library a field of the kind holds, or void.
template <class Kind>
struct HeldClass {
  using type = void;
};
template <class T> struct HeldClass<kind::Message<T>> { using type = T; };
template <class T> struct HeldClass<kind::RepeatedMessage<T>> { using type = T; };
template <class K> struct HeldClass<kind::Required<K>> : HeldClass<K> {};

// Whether a message of class C holds one of class Target, at any depth;
// Seen are the classes already gone through.
template <class Target, class C, class... Seen>
constexpr bool Holds() {
  if constexpr (std::is_void<C>::value || (std::is_same<C, Seen>::value || ...)) {
    return false;
  } else {
    return std::apply(
        [](auto... f) {
          return ((std::is_same<typename HeldClass<typename decltype(f)::Kind>::type,
                                Target>::value ||
                   Holds<Target, typename HeldClass<typename decltype(f)::Kind>::type, C,
                         Seen...>()) ||
                  ...);
        },
        typename FieldsOf<C>::Tuple{});
  }
}

// Checked for each class when its operations are defined.
template <class C>
struct RecursionCheck {
  static_assert(!Holds<C, C>(),
                "the message holds a message of its own type, directly or through other "
                "messages, which the message core does not take");
  static constexpr bool kOk = true;
};

// The field list of class C, read from its field macros: the fields of
// declaration index 0, 1, 2... up to the first index without one.
template <class C>
struct FieldListOf {
  // The fields from index kFrom on, probed 32 at a time.
  template <int kFrom, int... I>
  static constexpr int CountFrom(std::integer_sequence<int, I...> chunk) {
    constexpr bool present[] = {!std::is_same<Core::FieldDecl<C, kFrom + I>, NoField>::value...};
    if constexpr ((present[I] && ...)) {
      return CountFrom<kFrom + static_cast<int>(sizeof...(I))>(chunk);
    } else {
      int n = 0;
      while (present[n]) ++n;
      return kFrom + n;
    }
  }
  template <int... I>
  static FieldList<Field<Core::FieldDecl<C, I>>...> Make(std::integer_sequence<int, I...>);

  using type = decltype(Make(
      std::make_integer_sequence<int, CountFrom<0>(std::make_integer_sequence<int, 32>{})>{}));

  template <class... F>
  static constexpr bool Check(FieldList<F...>) {
    return (NumberCheck<C, F, type::CountNumber(F::kNumber)>::kOk && ...) &&
           RecursionCheck<C>::kOk;
  }
  static constexpr bool kChecked = Check(type{});
};

// Refers to the field-number constants of C, so that the library defining
// C's operations defines and exports them (PROTOLIB_DEFINE_MESSAGE
// instantiates it).
template <class C>
struct NumberConstants {
  static const typename FieldsOf<C>::NumberConstants kAll;
};
template <class C>
const typename FieldsOf<C>::NumberConstants NumberConstants<C>::kAll =
    FieldsOf<C>::kNumberConstants;

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
    return Tag<F>::kSize + LengthDelimitedSize(Core::ByteSize(sub));
  } else {
    return Tag<F>::kSize + WireFormatLite::MessageSize(sub);
  }
}

template <class T, bool kLocal>
template <class F, class C>
uint8_t* MessageOps<T, kLocal>::Write(const C& m, uint8_t* p, EpsCopyOutputStream* s) {
  const T& sub = *(m.*F::kMember);
  if constexpr (kLocal) {
    p = Tag<F>::Write(s->EnsureSpace(p));
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
                                         int depth) {
  if (PastInput(p, ctx)) return nullptr;  // the tag ran past the input
  T* held = Mutable<F>(m);
  if constexpr (kLocal) {
    return Core::ParseNested(*held, p, ctx, depth);
  } else {
    // The context's count is `depth` here (Core::ParseNested): the runtime
    // counts this level itself.
    if (!LengthFits(p, ctx)) return nullptr;
    return ctx->ParseMessage(held, p);
  }
}

template <class T>
template <class F, class C>
size_t RepeatedMessageOps<T>::Size(const C& m) {
  const auto& elements = m.*F::kMember;
  size_t total = elements.size() * Tag<F>::kSize;
  for (const T& e : elements) total += LengthDelimitedSize(Core::ByteSize(e));
  return total;
}

template <class T>
template <class F, class C>
uint8_t* RepeatedMessageOps<T>::Write(const C& m, uint8_t* p, EpsCopyOutputStream* s) {
  for (const T& e : m.*F::kMember) {
    p = Tag<F>::Write(s->EnsureSpace(p));
    p = WriteVarint(static_cast<uint32_t>(Core::CachedSize(e)), p);
    p = Core::Serialize(e, p, s);
  }
  return p;
}

// Reads a run of occurrences of a repeated message field, the first one's
// tag already read, each with parse_one, which adds and reads an element. No
// element for an occurrence past the input or the recursion limit. Neither
// changes along a run: each element leaves the depth as it found it, and
// Tag::Next takes only a tag inside the input.
template <class Tag, class Elements, class ParseOne>
PROTOLIB_ALWAYS_INLINE const char* ParseMessageRun(Elements& elements, const char* p,
                                                   ParseContext* ctx, int depth,
                                                   ParseOne parse_one) {
  if (depth <= 0 || PastInput(p, ctx)) return nullptr;
  do {
    // No element is lost to a failed growth: grow first when full.
    if (elements.size() >= elements.Capacity()) elements.Reserve(elements.size() + 1);
    p = parse_one(p);
    if (p == nullptr) return nullptr;
  } while (Tag::Next(&p, ctx));
  return p;
}

template <class T>
template <class F, class C>
const char* RepeatedMessageOps<T>::Parse(C& m, uint32_t, const char* p, ParseContext* ctx,
                                        int depth) {
  auto& elements = m.*F::kMember;
  return ParseMessageRun<Tag<F>>(elements, p, ctx, depth, [&](const char* q) {
    return Core::ParseNested(*elements.Add(), q, ctx, depth);
  });
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
  return Core::Has<F>(m) && Ops::template IsInitialized<F>(m);
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
  if (tag == Tag<F>::kValue) {
    return ParseElementRun<Codec, Tag<F>>(p, ctx,
                                          [values](typename Codec::T v) { values->Add(v); });
  }
  if constexpr (Codec::kWireType != WireFormatLite::WIRETYPE_VARINT) {
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
  if (tag == Tag<F>::kValue) return ParseElementRun<VarintU64, Tag<F>>(p, ctx, add);
  return ParsePackedVarints(p, ctx, add);
}

template <class Kind>
template <class F, class C>
const char* RepeatedTextOps<Kind>::Parse(C& m, uint32_t, const char* p, ParseContext* ctx) {
  if (PastInput(p, ctx)) return nullptr;  // the tag ran past the input
  auto& values = m.*F::kMember;
  do {
    std::string* str = values.Add();
    const int size = static_cast<int>(pb::internal::ReadSize(&p));
    if (p != nullptr) p = ctx->ReadString(p, size, str);
    if (p == nullptr || PastInput(p, ctx)) {
      values.RemoveLast();  // no element of bytes not read
      return nullptr;
    }
  } while (Tag<F>::Next(&p, ctx));
  return p;
}

template <class T>
template <class F, class C>
const char* RepeatedImportedOps<T>::Parse(C& m, uint32_t, const char* p, ParseContext* ctx,
                                         int depth) {
  // The context's count is `depth` here (Core::ParseNested): the runtime
  // counts each element's level itself. An element whose length runs past
  // the message holding it is added but not read, as one of this library's.
  auto& elements = m.*F::kMember;
  return ParseMessageRun<typename Base::template Tag<F>>(elements, p, ctx, depth,
                                                         [&](const char* q) -> const char* {
    T* element = elements.Add();
    return LengthFits(q, ctx) ? ctx->ParseMessage(element, q) : nullptr;
  });
}

}  // namespace internal
}  // namespace protolib

#endif  // PROTOLIB_FIELD_OPS_H_
