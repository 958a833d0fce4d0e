// The family behaviour over a class's field list (Core): has-bits, destroy,
// clear, merge, the required-field check, sizing, writing, parsing, swap and
// the default instances. Uses unknown_fields.h, and each field's operations
// (field_ops.h) through the field's Ops type, resolved when a class expands.
//
// Room past the data: the parse reads a sub-message's length two bytes at a
// time, the second before it knows the first is the last; ParseContext keeps
// 16 readable bytes past any position the parse loop reaches (see
// wire_codecs.h). The writers write exactly the bytes of the message.
#ifndef PROTOLIB_FAMILY_OPS_H_
#define PROTOLIB_FAMILY_OPS_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <tuple>
#include <utility>

#include <google/protobuf/parse_context.h>
#include <google/protobuf/stubs/common.h>
#include <google/protobuf/stubs/logging.h>
#include <google/protobuf/unknown_field_set.h>
#include <google/protobuf/wire_format.h>
#include <google/protobuf/wire_format_lite.h>

#include "protolib/message_decl.h"
#include "protolib/unknown_fields.h"
#include "protolib/wire_codecs.h"

namespace protolib {
namespace internal {

// A class's field list, read from its field macros (field_ops.h).
template <class C>
struct FieldListOf;
template <class C>
using FieldsOf = typename FieldListOf<C>::type;

// Whether a message of class C may hold, at any depth, a message of a class
// from another library (field_ops.h).
template <class C>
constexpr bool MayHoldImported();

// Parses a sub-message of class T the runtime's way (field_ops.h).
template <class T>
struct DirectParser;

// Reports a message merged into itself: a fatal check failure raised at line
// `at` of the source unit `unit` (its failure routine), naming the line of
// the merge.
[[noreturn]] inline void SelfMergeFailed(const char* unit, int at, int line) {
  pb::internal::LogFinisher() = pb::internal::LogMessage(pb::LOGLEVEL_FATAL, unit, at)
                                << "CHECK failed: false: " << unit << ":" << line;
  // A fatal log does not return; this keeps the promise if a handler does.
  std::abort();
}

// ---------------------------------------------------------------------------
// The family behaviour, over a class's field list.

// Access to the private parts of a message class; every class befriends Core.
struct Core {
  // The description of the field of declaration index I of class C, or
  // NoField (message_decl.h).
  template <class C, int I>
  static auto FieldDeclOf() -> decltype(C::_protolib_field(FieldSlot<I>()));
  template <class C, int I>
  using FieldDecl = decltype(FieldDeclOf<C, I>());

  template <class C>
  static constexpr uint32_t HasBitsOffset() {
    return static_cast<uint32_t>(__builtin_offsetof(C, _has_bits_));
  }
  template <class C>
  static constexpr uint32_t MetadataOffset() {
    return static_cast<uint32_t>(__builtin_offsetof(C, _internal_metadata_));
  }

  template <class F, class C>
  static bool Has(const C& m) {
    if constexpr (F::Ops::kRepeated) {
      return !(m.*F::kMember).empty();
    } else {
      return (m._has_bits_[F::kWord] & F::kMask) != 0;
    }
  }
  template <class F, class C>
  static void SetHas(C& m) {
    m._has_bits_[F::kWord] |= F::kMask;
  }
  template <class C>
  static UnknownFieldSet* Unknown(C& m) {
    return m._internal_metadata_.template mutable_unknown_fields<UnknownFieldSet>();
  }
  // The cached size of a class of the family, read without a virtual call.
  template <class C>
  static int CachedSize(const C& m) {
    return m._cached_size_.Get();
  }
  template <class C>
  static C* DefaultInstancePtr() {
    return C::default_instance_;
  }

  template <class C>
  static void Destroy(C& m) {
    ForEach<C>([&](auto f) { decltype(f)::Ops::template Destroy<decltype(f)>(m); });
    m._internal_metadata_.template Delete<UnknownFieldSet>();
  }

  // Empties the message but keeps what it has allocated for reuse: owned
  // strings, sub-messages, repeated elements and the unknown-field record.
  template <class C>
  static void Clear(C& m) {
    const auto has = HasWords(m);
    ForEach<C>([&](auto f) {
      using F = decltype(f);
      if constexpr (F::Ops::kRepeated || F::Ops::kPlainValue) {
        F::Ops::template Clear<F>(m);
      } else if (has[F::kWord] & F::kMask) {
        F::Ops::template Clear<F>(m);
      }
    });
    m._has_bits_.Clear();
    m._internal_metadata_.template Clear<UnknownFieldSet>();
  }

  // Folds `from` into `to`, another object: repeated fields append, present
  // singular fields overwrite (sub-messages merge), unknown fields append.
  // Never clears.
  template <class C>
  static void Merge(C& to, const C& from) {
    ForEach<C>([&](auto f) {
      using F = decltype(f);
      if constexpr (F::Ops::kRepeated) F::Ops::template Merge<F>(to, from);
    });
    if (!from._has_bits_.empty()) {
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
  static PROTOLIB_ALWAYS_INLINE size_t ByteSize(const C& m) {
    size_t total = 0;
    const auto has = HasWords(m);
    ForEach<C>([&](auto f) {
      using F = decltype(f);
      if constexpr (F::Ops::kRepeated) {
        if (Has<F>(m)) total += F::Ops::template Size<F>(m);
      } else {
        if (has[F::kWord] & F::kMask) total += F::Ops::template Size<F>(m);
      }
    });
    if (__builtin_expect(m._internal_metadata_.have_unknown_fields(), 0)) {
      return m.ComputeUnknownFieldsSize(total, &m._cached_size_);
    }
    m._cached_size_.Set(static_cast<int>(total));
    return total;
  }

  template <class C>
  static PROTOLIB_ALWAYS_INLINE uint8_t* Serialize(const C& m, uint8_t* p, EpsCopyOutputStream* s) {
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

  // The recursion budget of a parse: `depth` is the number of levels of
  // sub-messages and groups the parse may still enter, as the runtime's
  // ParseContext::depth() counts it. It is taken from the context where the
  // runtime hands a message over (here, and a sub-message parsed the
  // runtime's way), one level is taken from it wherever the parse descends
  // without the runtime's count (ParseNested, an unknown group) and given
  // back on the way up, and every check reads it as it is.
  template <class C>
  static const char* Parse(C& m, const char* ptr, ParseContext* ctx) {
    return ParseAt(m, ptr, ctx, ctx->depth());
  }

  // Parses a length-delimited sub-message of this library into `sub`, the
  // length at `p`. The runtime's ParseMessage counts each level against the
  // recursion limit with an out-of-line call; here the level is taken from
  // `depth` instead, checked exactly as the runtime checks it, and the length
  // read and the limit pushed in line. A message that may hold another
  // library's is descended into the runtime's way, so that the context's own
  // count is right where the parse enters that library's message. A
  // sub-message whose length runs past the message that holds it is not read
  // at all.
  template <class T>
  static const char* ParseNested(T& sub, const char* p, ParseContext* ctx, int depth) {
    if constexpr (MayHoldImported<T>()) {
      DirectParser<T> parser{&sub, p, ctx->BytesUntilLimit(p)};
      return ctx->ParseMessage(&parser, p);
    } else {
      int size;
      const uint8_t b0 = static_cast<uint8_t>(p[0]);
      const uint8_t b1 = static_cast<uint8_t>(p[1]);
      if (b0 < 0x80) {
        size = b0;
        ++p;
      } else if (b1 < 0x80) {
        size = (b0 & 0x7f) | (b1 << 7);
        p += 2;
      } else {
        size = static_cast<int>(pb::internal::ReadSize(&p));
        if (p == nullptr) return nullptr;
      }
      const int room = ctx->BytesUntilLimit(p);
      // In the runtime's order: the limit is pushed before the depth is
      // checked, and popped whatever the outcome.
      const int old_limit = ctx->PushLimit(p, size);
      if (depth < 1 || size > room) {
        p = nullptr;
      } else {
        p = ParseAt(sub, p, ctx, depth - 1);
      }
      if (!ctx->PopLimit(old_limit)) return nullptr;
      return p;
    }
  }

  // The loop tests the common case, more input before the limit, in line,
  // whatever the compiler makes of the rest of Done.
  template <class C>
  static const char* ParseAt(C& m, const char* ptr, ParseContext* ctx, int depth) {
    while (ctx->DataAvailable(ptr) || !ctx->Done(&ptr)) {
      uint32_t tag;
      ptr = pb::internal::ReadTag(ptr, &tag);
      if (ptr == nullptr) return nullptr;
      const char* next = ptr;
      if (ParseDeclared(m, tag, &next, ctx, depth)) {
        if (next == nullptr) return nullptr;
        ptr = next;
        continue;
      }
      if (tag == 0 || (tag & 7) == WireFormatLite::WIRETYPE_END_GROUP) {
        ctx->SetLastTag(tag);
        return ptr;
      }
      ptr = ParseUnknownField(tag, Unknown(m), ptr, ctx, depth);
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
    std::swap(a._has_bits_, b._has_bits_);
    int size = a._cached_size_.Get();
    a._cached_size_.Set(b._cached_size_.Get());
    b._cached_size_.Set(size);
    a._internal_metadata_.InternalSwap(&b._internal_metadata_);
  }

  // A new heap object; with an arena, the arena deletes it at its reset.
  template <class C>
  static C* New(pb::Arena* arena) {
    std::unique_ptr<C> m(new C);
    if (arena != nullptr) arena->Own(m.get());  // may throw: m is still ours
    return m.release();
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

 private:
  // The has-bits words of a message, read once: stores through the byte
  // pointers of the writers could otherwise make the compiler read them again.
  template <class C>
  static PROTOLIB_ALWAYS_INLINE auto HasWords(const C& m) {
    std::array<uint32_t, sizeof(m._has_bits_) / 4> words;
    for (size_t i = 0; i < words.size(); ++i) words[i] = m._has_bits_[static_cast<int>(i)];
    return words;
  }

  // Calls fn with each field of C in declaration order, in line: a field
  // list expanded by index rather than through std::apply, which the
  // compiler may leave as a call of its own.
  template <class C, class Fn>
  static PROTOLIB_ALWAYS_INLINE void ForEach(Fn&& fn) {
    ForEachAt<typename FieldsOf<C>::Tuple>(fn, std::make_index_sequence<FieldsOf<C>::kCount>{});
  }
  template <class Tuple, class Fn, size_t... I>
  static PROTOLIB_ALWAYS_INLINE void ForEachAt(Fn& fn, std::index_sequence<I...>) {
    (fn(std::tuple_element_t<I, Tuple>{}), ...);
  }

  template <class C, size_t... I>
  static PROTOLIB_ALWAYS_INLINE uint8_t* SerializeByNumber(const C& m, uint8_t* p, EpsCopyOutputStream* s,
                                    std::index_sequence<I...>) {
    using L = FieldsOf<C>;
    constexpr auto order = L::ByNumber();
    const auto has = HasWords(m);
    (
        [&] {
          using F = std::tuple_element_t<order[I], typename L::Tuple>;
          if constexpr (F::Ops::kRepeated) {
            if (Has<F>(m)) p = F::Ops::template Write<F>(m, p, s);
          } else {
            if (has[F::kWord] & F::kMask) p = F::Ops::template Write<F>(m, p, s);
          }
        }(),
        ...);
    return p;
  }

  // Parses the value of a declared field when the tag is one the field
  // takes; *ptr becomes the position after it, or null on failure. One jump
  // on a field number of 1 to 15 (one-byte tags), a binary search among the
  // class's larger numbers, then the wire type check of the one field with
  // that number.
  template <class C>
  static PROTOLIB_ALWAYS_INLINE bool ParseDeclared(C& m, uint32_t tag, const char** ptr,
                                                   ParseContext* ctx, int depth) {
    if constexpr (FieldsOf<C>::kMaxNumber > 15) {
      if (tag >> 3 > 15) return ParseLarge<C>(m, tag, ptr, ctx, depth);
    }
    switch (tag >> 3) {
#define PROTOLIB_PARSE_NUMBER_(n) \
  case n:                         \
    return ParseNumber<C, n>(m, tag, ptr, ctx, depth);
      PROTOLIB_PARSE_NUMBER_(1) PROTOLIB_PARSE_NUMBER_(2) PROTOLIB_PARSE_NUMBER_(3)
      PROTOLIB_PARSE_NUMBER_(4) PROTOLIB_PARSE_NUMBER_(5) PROTOLIB_PARSE_NUMBER_(6)
      PROTOLIB_PARSE_NUMBER_(7) PROTOLIB_PARSE_NUMBER_(8) PROTOLIB_PARSE_NUMBER_(9)
      PROTOLIB_PARSE_NUMBER_(10) PROTOLIB_PARSE_NUMBER_(11) PROTOLIB_PARSE_NUMBER_(12)
      PROTOLIB_PARSE_NUMBER_(13) PROTOLIB_PARSE_NUMBER_(14) PROTOLIB_PARSE_NUMBER_(15)
#undef PROTOLIB_PARSE_NUMBER_
      default:
        return false;
    }
  }
  template <class C, size_t kLow = 0, size_t kHigh = FieldsOf<C>::LargeNumbers().size()>
  static PROTOLIB_ALWAYS_INLINE bool ParseLarge(C& m, uint32_t tag, const char** ptr,
                                                ParseContext* ctx, int depth) {
    constexpr auto numbers = FieldsOf<C>::LargeNumbers();
    if constexpr (kHigh - kLow == 1) {
      return tag >> 3 == numbers[kLow] &&
             ParseNumber<C, numbers[kLow]>(m, tag, ptr, ctx, depth);
    } else {
      constexpr size_t kMiddle = (kLow + kHigh) / 2;
      if (tag >> 3 < numbers[kMiddle]) {
        return ParseLarge<C, kLow, kMiddle>(m, tag, ptr, ctx, depth);
      }
      return ParseLarge<C, kMiddle, kHigh>(m, tag, ptr, ctx, depth);
    }
  }
  template <class C, int N>
  static PROTOLIB_ALWAYS_INLINE bool ParseNumber(C& m, uint32_t tag, const char** ptr,
                                                 ParseContext* ctx, int depth) {
    return std::apply(
        [&](auto... f) {
          return ((decltype(f)::kNumber == N &&
                   decltype(f)::Ops::template Accepts<decltype(f)>(tag) &&
                   (*ptr = ParseField<decltype(f)>(m, tag, *ptr, ctx, depth), true)) ||
                  ...);
        },
        typename FieldsOf<C>::Tuple{});
  }
  template <class F, class C>
  static PROTOLIB_ALWAYS_INLINE const char* ParseField(C& m, uint32_t tag, const char* p,
                                                      ParseContext* ctx, int depth) {
    if constexpr (F::Ops::kNested) {
      return F::Ops::template Parse<F>(m, tag, p, ctx, depth);
    } else {
      return F::Ops::template Parse<F>(m, tag, p, ctx);
    }
  }
};

}  // namespace internal
}  // namespace protolib

#endif  // PROTOLIB_FAMILY_OPS_H_
