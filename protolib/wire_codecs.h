// Scalar wire encodings: how one value of each scalar kind is sized, written
// and read, tag excluded, how a tag is made, and how values are kept to the
// bytes of the input. Owns the namespace aliases the other core headers
// share. Uses only the runtime's stream primitives.
//
// Room past the data. The readers here read a value before they know it
// lies inside the input, and load whole words: a varint's first eight bytes
// at once, a fixed-width value whole, the next tag of a run. Each read starts
// before the current limit, or within the tag and value of a field that does,
// and ends at most 15 bytes past that position (a five-byte tag and a
// ten-byte varint). ParseContext keeps 16 readable bytes past any such
// position (kSlopBytes in parse_context.h: a flat buffer is parsed in place
// only up to 16 bytes before its end, the rest from a copy with 16 bytes of
// room; a stream's chunks are handed over with 16 bytes of overlap), and
// PastInput tells a value read from them apart before it is stored. The
// writers store exactly a value's bytes, whole words only where the value
// fills them, after EnsureSpace has left 16 writable bytes for a field's tag
// and value; a buffer of exactly ByteSizeLong bytes is written to its last
// byte and no further.
#ifndef PROTOLIB_WIRE_CODECS_H_
#define PROTOLIB_WIRE_CODECS_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/parse_context.h>
#include <google/protobuf/repeated_field.h>
#include <google/protobuf/unknown_field_set.h>
#include <google/protobuf/wire_format_lite.h>

namespace protolib {
namespace internal {

namespace pb = ::google::protobuf;
using pb::UnknownFieldSet;
using pb::internal::ParseContext;
using pb::internal::WireFormatLite;
using pb::io::CodedOutputStream;
using pb::io::EpsCopyOutputStream;

// For the small steps of the parse loop and the writers, which the compiler
// would otherwise leave as calls once a class has a dozen fields.
#define PROTOLIB_ALWAYS_INLINE inline __attribute__((always_inline))

// Word-at-a-time varint code for little-endian machines; a byte loop
// elsewhere.
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define PROTOLIB_LITTLE_ENDIAN 1
#else
#define PROTOLIB_LITTLE_ENDIAN 0
#endif

// ---------------------------------------------------------------------------
// Scalar encodings: how one value is sized, written and read, tag excluded.

// Base-128 varints, written in line. Values of three bytes or more take no
// loop: their 7-bit groups are spread over the bytes of a word with shifts,
// the continuation bits set on all but the last, and the word stored in at
// most three overlapping stores that write exactly the varint's bytes (an
// array being written may end right after it). Nanosecond timestamps and
// 64-bit tags take nine or ten bytes, ids past 2^28 five.
template <class U>
PROTOLIB_ALWAYS_INLINE uint8_t* WriteVarint(U v, uint8_t* p) {
  if (__builtin_expect(v < 0x80, 1)) {
    *p = static_cast<uint8_t>(v);
    return p + 1;
  }
  if (v < 0x4000) {
    p[0] = static_cast<uint8_t>(v | 0x80);
    p[1] = static_cast<uint8_t>(v >> 7);
    return p + 2;
  }
#if PROTOLIB_LITTLE_ENDIAN
  const uint64_t u = v;
  uint64_t x = u & 0x00ffffffffffffffull;
  x = (x & 0x000000000fffffffull) | ((x & 0x00fffffff0000000ull) << 4);
  x = (x & 0x00003fff00003fffull) | ((x & 0x0fffc0000fffc000ull) << 2);
  x = (x & 0x007f007f007f007full) | ((x & 0x3f803f803f803f80ull) << 1);
  if (sizeof(U) == 4 || u < (uint64_t{1} << 56)) {
    // 1 + floor(log2(v) / 7) without a division, as the runtime sizes it.
    const int bytes = ((63 - __builtin_clzll(u)) * 9 + 73) / 64;  // 3 to 8
    x |= 0x8080808080808080ull & ((uint64_t{1} << (8 * (bytes - 1))) - 1);
    if (bytes >= 4) {
      const uint32_t head = static_cast<uint32_t>(x);
      const uint32_t tail = static_cast<uint32_t>(x >> (8 * (bytes - 4)));
      std::memcpy(p, &head, 4);
      std::memcpy(p + bytes - 4, &tail, 4);
    } else {
      const uint16_t head = static_cast<uint16_t>(x);
      std::memcpy(p, &head, 2);
      p[2] = static_cast<uint8_t>(x >> 16);
    }
    return p + bytes;
  }
  x |= 0x8080808080808080ull;
  std::memcpy(p, &x, 8);
  const uint64_t high = u >> 56;
  if (high < 0x80) {
    p[8] = static_cast<uint8_t>(high);
    return p + 9;
  }
  p[8] = static_cast<uint8_t>(high | 0x80);
  p[9] = 1;
  return p + 10;
#else
  while (v >= 0x80) {
    *p++ = static_cast<uint8_t>(v | 0x80);
    v >>= 7;
  }
  *p++ = static_cast<uint8_t>(v);
  return p;
#endif
}

// Reads a varint of up to ten bytes, as the runtime's reader does: bits past
// the 64th are dropped, an eleventh byte is a failure (null). The parse
// context keeps sixteen readable bytes past any position the parse loop
// reaches, so the eight-byte load never leaves the buffer. Long varints
// (timestamps, 64-bit tags, negative int32s) take no loop: the first eight
// bytes are masked at their last byte and their 7-bit groups packed with
// shifts, whatever the length.
PROTOLIB_ALWAYS_INLINE const char* ReadVarint(const char* p, uint64_t* out) {
  const uint8_t first = static_cast<uint8_t>(*p);
  if (__builtin_expect(first < 0x80, 1)) {
    *out = first;
    return p + 1;
  }
#if PROTOLIB_LITTLE_ENDIAN
  uint64_t x;
  std::memcpy(&x, p, 8);
  const uint64_t stops = ~x & 0x8080808080808080ull;
  if (stops != 0) x &= stops ^ (stops - 1);  // through the last byte
  x &= 0x7f7f7f7f7f7f7f7full;
  x = (x & 0x007f007f007f007full) | ((x & 0x7f007f007f007f00ull) >> 1);
  x = (x & 0x00003fff00003fffull) | ((x & 0x3fff00003fff0000ull) >> 2);
  x = (x & 0x000000000fffffffull) | ((x & 0x0fffffff00000000ull) >> 4);
  if (stops != 0) {
    *out = x;
    return p + (__builtin_ctzll(stops) + 1) / 8;
  }
  const uint8_t b8 = static_cast<uint8_t>(p[8]);
  x |= static_cast<uint64_t>(b8 & 0x7f) << 56;
  if (b8 < 0x80) {
    *out = x;
    return p + 9;
  }
  const uint8_t b9 = static_cast<uint8_t>(p[9]);
  *out = x | (static_cast<uint64_t>(b9) << 63);
  return b9 < 0x80 ? p + 10 : nullptr;
#else
  *out = pb::internal::ReadVarint64(&p);
  return p;
#endif
}

// Copies 0 to 16 bytes with at most four loads and stores, overlapping.
PROTOLIB_ALWAYS_INLINE void CopySmall(uint8_t* to, const char* from, size_t size) {
  if (size >= 8) {
    uint64_t head, tail;
    std::memcpy(&head, from, 8);
    std::memcpy(&tail, from + size - 8, 8);
    std::memcpy(to, &head, 8);
    std::memcpy(to + size - 8, &tail, 8);
  } else if (size >= 4) {
    uint32_t head, tail;
    std::memcpy(&head, from, 4);
    std::memcpy(&tail, from + size - 4, 4);
    std::memcpy(to, &head, 4);
    std::memcpy(to + size - 4, &tail, 4);
  } else if (size > 0) {
    to[0] = static_cast<uint8_t>(from[0]);
    to[size / 2] = static_cast<uint8_t>(from[size / 2]);
    to[size - 1] = static_cast<uint8_t>(from[size - 1]);
  }
}

// The bytes of a length and the bytes it counts. A length under 128, the
// common case, is answered by a branch that the processor predicts, without
// waiting for the arithmetic.
PROTOLIB_ALWAYS_INLINE size_t LengthDelimitedSize(size_t n) {
  if (__builtin_expect(n < 0x80, 1)) return 1 + n;
  return CodedOutputStream::VarintSize64(n) + n;
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
  static PROTOLIB_ALWAYS_INLINE const char* Read(const char* p, T* v) {
    uint64_t raw;
    p = ReadVarint(p, &raw);
    *v = static_cast<T>(raw);
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
  static PROTOLIB_ALWAYS_INLINE uint8_t* Write(T v, uint8_t* p) {
    if (__builtin_expect(v >= 0, 1)) return WriteVarint(static_cast<uint32_t>(v), p);
#if PROTOLIB_LITTLE_ENDIAN
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
  static PROTOLIB_ALWAYS_INLINE const char* Read(const char* p, T* v) {
    uint64_t raw;
    p = ReadVarint(p, &raw);
    *v = static_cast<int32_t>(raw);
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
  static PROTOLIB_ALWAYS_INLINE const char* Read(const char* p, T* v) {
    uint64_t raw;
    p = ReadVarint(p, &raw);
    *v = raw != 0;
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
  static PROTOLIB_ALWAYS_INLINE const char* Read(const char* p, T* v) {
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

// ---------------------------------------------------------------------------
// Tags.

constexpr uint32_t MakeTag(int number, int wire_type) {
  return (static_cast<uint32_t>(number) << 3) | static_cast<uint32_t>(wire_type);
}

// The tag of field `kNumber` in wire form `kWireType`, known at compile time:
// one to five bytes. A one-byte tag, that of every field numbered 1 to 15,
// is written and matched as a byte; a longer one byte by byte, in the same
// few instructions as a constant.
template <int kNumber, int kWireType>
struct ConstTag {
  static constexpr uint32_t kValue = MakeTag(kNumber, kWireType);
  static constexpr int kSize = kValue < (1u << 7)    ? 1
                               : kValue < (1u << 14) ? 2
                               : kValue < (1u << 21) ? 3
                               : kValue < (1u << 28) ? 4
                                                     : 5;
  // Byte i of the encoding.
  static constexpr uint8_t Byte(int i) {
    return static_cast<uint8_t>(((kValue >> (7 * i)) & 0x7f) | (i + 1 < kSize ? 0x80 : 0));
  }

  static PROTOLIB_ALWAYS_INLINE uint8_t* Write(uint8_t* p) {
    if constexpr (kSize == 1) {
      *p = static_cast<uint8_t>(kValue);
    } else {
      WriteBytes(p, std::make_integer_sequence<int, kSize>{});
    }
    return p + kSize;
  }

  // Whether the next field of the input, before the limit, starts with this
  // tag; if so, *p moves past it. Lets a field read a run of its own
  // occurrences (elements of a repeated field, each with its tag) in one
  // call rather than one per turn of the message's parse loop; a tag in any
  // other form is left to that loop.
  static PROTOLIB_ALWAYS_INLINE bool Next(const char** p, ParseContext* ctx) {
    if (!ctx->DataAvailable(*p)) return false;
    if constexpr (kSize == 1) {
      if (static_cast<uint8_t>(**p) != kValue) return false;
    } else {
      if (!MatchBytes(*p, std::make_integer_sequence<int, kSize>{})) return false;
    }
    *p += kSize;
    return true;
  }

 private:
  template <int... I>
  static PROTOLIB_ALWAYS_INLINE void WriteBytes(uint8_t* p, std::integer_sequence<int, I...>) {
    ((p[I] = Byte(I)), ...);
  }
  template <int... I>
  static PROTOLIB_ALWAYS_INLINE bool MatchBytes(const char* p, std::integer_sequence<int, I...>) {
    return ((static_cast<uint8_t>(p[I]) == Byte(I)) && ...);
  }
};

// ---------------------------------------------------------------------------
// Reading within the input. The parse context lets a value be read from the
// bytes past the input's end or past a length's limit, and catches the
// overrun only at the next turn of the parse loop; a value read that way is
// no value of the input and is never stored (PastInput tells, after the
// read). The routines below keep whole runs to the bytes of the input, inside
// every enclosing length.

// True when a read that ended at `p` took bytes past the input's end or past
// the current limit. Within the limit (the common case) one comparison
// decides; the rest is out of line.
[[gnu::noinline, gnu::cold]] inline bool PastInputSlow(const char* p, ParseContext* ctx) {
  return ctx->IsExceedingLimit(p);
}
inline bool PastInput(const char* p, ParseContext* ctx) {
  return __builtin_expect(!ctx->DataAvailable(p - 1), 0) && PastInputSlow(p, ctx);
}

// Reads a run of occurrences of a repeated field, the first one's tag
// already read: each a value of Codec after the tag Tag (a ConstTag), handed
// to `add` once it is known to be input.
template <class Codec, class Tag, class Add>
PROTOLIB_ALWAYS_INLINE const char* ParseElementRun(const char* p, ParseContext* ctx, Add add) {
  do {
    typename Codec::T v;
    p = Codec::Read(p, &v);
    if (p == nullptr || PastInput(p, ctx)) return nullptr;
    add(v);
  } while (Tag::Next(&p, ctx));
  return p;
}

// The length at `p` lies before the current limit: nothing of a
// length-delimited value that runs past its enclosing message is read.
inline bool LengthFits(const char* p, ParseContext* ctx) {
  int size = static_cast<uint8_t>(*p);
  if (__builtin_expect(size < 0x80, 1)) {
    ++p;  // the one-byte length of most sub-messages, read in line
  } else {
    size = static_cast<int>(pb::internal::ReadSize(&p));
    if (p == nullptr) return false;
  }
  return size <= ctx->BytesUntilLimit(p);
}

// Reads a packed run of `size` bytes one value at a time: `read_one` reads the
// value at the position it is given, stores it only if it ends before the
// limit, and returns the position after it (null if it does not). A run
// longer than its limit allows keeps the values that lie inside it and fails.
template <class ReadOne>
[[gnu::noinline]] const char* ParsePackedRun(const char* p, int size, ParseContext* ctx,
                                             ReadOne read_one) {
  const int room = ctx->BytesUntilLimit(p);
  if (room < 0) return nullptr;
  const bool overlong = size > room;
  const int delta = ctx->PushLimit(p, overlong ? room : size);
  while (!ctx->Done(&p)) {
    p = read_one(p);
    if (p == nullptr) return nullptr;
  }
  if (p == nullptr || overlong || !ctx->PopLimit(delta)) return nullptr;
  return p;
}

// A packed run of varints, each handed to `add` once read whole.
template <class Add>
const char* ParsePackedVarints(const char* p, ParseContext* ctx, Add add) {
  const int size = static_cast<int>(pb::internal::ReadSize(&p));
  if (p == nullptr) return nullptr;
  return ParsePackedRun(p, size, ctx, [ctx, &add](const char* q) -> const char* {
    const uint64_t v = pb::internal::ReadVarint64(&q);
    if (q == nullptr || PastInput(q, ctx)) return nullptr;
    add(v);
    return q;
  });
}

// A packed run of fixed-width values: a length that is no multiple of the
// width fails before anything is stored. A run inside its limit is read in
// one block, and taken back whole if the input ends within it (only a stream
// can); a longer run keeps the values that lie inside the limit, so that its
// declared length never sizes an allocation.
template <class T>
const char* ParsePackedFixed(pb::RepeatedField<T>* values, const char* p, ParseContext* ctx) {
  const int size = static_cast<int>(pb::internal::ReadSize(&p));
  if (p == nullptr || size % sizeof(T) != 0) return nullptr;
  if (size == 0) return p;
  if (size <= ctx->BytesUntilLimit(p)) {
    const int old_size = values->size();
    values->Reserve(old_size + 1);  // the block read copies to the storage
    p = ctx->ReadPackedFixed(p, size, values);
    if (p == nullptr || PastInput(p, ctx)) {
      values->Truncate(old_size);
      return nullptr;
    }
    return p;
  }
  return ParsePackedRun(p, size, ctx, [ctx, values](const char* q) -> const char* {
    if (PastInput(q + sizeof(T), ctx)) return nullptr;
    T v;
    std::memcpy(&v, q, sizeof(T));
    values->Add(v);
    return q + sizeof(T);
  });
}

}  // namespace internal
}  // namespace protolib

#endif  // PROTOLIB_WIRE_CODECS_H_
