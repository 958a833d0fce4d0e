// Unknown fields: merging one message's unknown-field set into another and
// reading a field the message does not declare (groups included) into its set.
// Uses wire_codecs.h's aliases and the runtime's UnknownFieldSet.
//
// Room past the data: a fixed-width value is read whole before PastInput
// tells whether it lay inside the input, from the 16 readable bytes
// ParseContext keeps past any position the parse loop reaches (see
// wire_codecs.h).
#ifndef PROTOLIB_UNKNOWN_FIELDS_H_
#define PROTOLIB_UNKNOWN_FIELDS_H_

#include <cstdint>

#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/parse_context.h>
#include <google/protobuf/unknown_field_set.h>
#include <google/protobuf/wire_format_lite.h>

#include "protolib/wire_codecs.h"

namespace protolib {
namespace internal {

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
                                     ParseContext* ctx, int depth);

// The fields of an unknown group, up to its end-group tag.
struct UnknownGroup {
  UnknownFieldSet* set;
  int depth;  // the recursion budget inside the group (Core::Parse)
  const char* _InternalParse(const char* ptr, ParseContext* ctx) {
    while (!ctx->Done(&ptr)) {
      uint32_t tag;
      ptr = pb::internal::ReadTag(ptr, &tag);
      if (ptr == nullptr) return nullptr;
      if (tag == 0 || (tag & 7) == WireFormatLite::WIRETYPE_END_GROUP) {
        ctx->SetLastTag(tag);
        return ptr;
      }
      ptr = ParseUnknownField(tag, set, ptr, ctx, depth);
      if (ptr == nullptr) return nullptr;
    }
    return ptr;
  }
};

// A fixed-width unknown field: kept by `add` once its bytes are known to be
// input.
template <class Codec, class Add>
const char* ParseUnknownFixed(int number, UnknownFieldSet* set, const char* ptr,
                              ParseContext* ctx, Add add) {
  typename Codec::T value;
  ptr = Codec::Read(ptr, &value);
  if (PastInput(ptr, ctx)) return nullptr;
  (set->*add)(number, value);
  return ptr;
}

// Reads one field that the message does not declare into its unknown-field
// set, by its wire type; a group takes a level of the recursion budget
// `depth` (Core::Parse).
inline const char* ParseUnknownField(uint32_t tag, UnknownFieldSet* set, const char* ptr,
                                     ParseContext* ctx, int depth) {
  const int number = static_cast<int>(tag >> 3);
  if (number == 0) return nullptr;
  switch (tag & 7) {
    case WireFormatLite::WIRETYPE_VARINT: {
      const uint64_t value = pb::internal::ReadVarint64(&ptr);
      if (ptr == nullptr || PastInput(ptr, ctx)) return nullptr;
      set->AddVarint(number, value);
      return ptr;
    }
    case WireFormatLite::WIRETYPE_FIXED64:
      return ParseUnknownFixed<FixedWidth<uint64_t, WireFormatLite::WIRETYPE_FIXED64>>(
          number, set, ptr, ctx, &UnknownFieldSet::AddFixed64);
    case WireFormatLite::WIRETYPE_LENGTH_DELIMITED: {
      const int size = pb::internal::ReadSize(&ptr);
      if (ptr == nullptr) return nullptr;
      ReserveUnknownField(set);
      ptr = ctx->ReadString(ptr, size, set->AddLengthDelimited(number));
      if (ptr == nullptr || PastInput(ptr, ctx)) {
        set->DeleteSubrange(set->field_count() - 1, 1);
        return nullptr;
      }
      return ptr;
    }
    case WireFormatLite::WIRETYPE_START_GROUP: {
      // No group past the recursion limit.
      if (depth <= 0) return nullptr;
      ReserveUnknownField(set);
      UnknownGroup group{set->AddGroup(number), depth - 1};
      return ctx->ParseGroup(&group, ptr, tag);
    }
    case WireFormatLite::WIRETYPE_FIXED32:
      return ParseUnknownFixed<FixedWidth<uint32_t, WireFormatLite::WIRETYPE_FIXED32>>(
          number, set, ptr, ctx, &UnknownFieldSet::AddFixed32);
    default:
      return nullptr;
  }
}

}  // namespace internal
}  // namespace protolib

#endif  // PROTOLIB_UNKNOWN_FIELDS_H_
