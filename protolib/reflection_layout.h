// The reflection layout: the offsets table row of each class and the
// offsets and migration schemas of a schema file's messages, computed at
// compile time. Uses field_ops.h's field lists.
#ifndef PROTOLIB_REFLECTION_LAYOUT_H_
#define PROTOLIB_REFLECTION_LAYOUT_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>

#include <google/protobuf/generated_message_reflection.h>

#include "protolib/field_ops.h"
#include "protolib/message_decl.h"

namespace protolib {
namespace internal {

constexpr uint32_t kNoOffset = ~0u;

// The reflection layout of one class: has-bits and metadata offsets, four
// unused entries, the field offsets, then the has-bit index of each field
// (none for repeated fields), all in declaration order.
template <class C>
constexpr size_t OffsetRowSize() {
  return 6 + 2 * FieldsOf<C>::kCount;
}
template <class C, size_t N>
constexpr void AppendOffsets(std::array<uint32_t, N>& out, size_t& pos) {
  out[pos++] = Core::HasBitsOffset<C>();
  out[pos++] = Core::MetadataOffset<C>();
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
    std::array<uint32_t, (OffsetRowSize<Msgs>() + ...)> out{};
    size_t pos = 0;
    (AppendOffsets<Msgs>(out, pos), ...);
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
          pos += static_cast<int>(OffsetRowSize<Msgs>());
        }(),
        ...);
    return out;
  }

  static constexpr auto kOffsets = MakeOffsets();
  static constexpr auto kSchemas = MakeSchemas();
};

}  // namespace internal
}  // namespace protolib

#endif  // PROTOLIB_REFLECTION_LAYOUT_H_
