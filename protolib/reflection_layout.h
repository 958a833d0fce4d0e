// The reflection layout of a schema file: its messages as its descriptor
// literal describes them, checked at compile time against the classes, and
// the offsets table and migration schemas the runtime's reflection reads.
// Uses field_ops.h's field lists.
#ifndef PROTOLIB_REFLECTION_LAYOUT_H_
#define PROTOLIB_REFLECTION_LAYOUT_H_

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <tuple>
#include <type_traits>
#include <utility>

#include <google/protobuf/descriptor.pb.h>
#include <google/protobuf/generated_message_reflection.h>

#include "protolib/field_ops.h"
#include "protolib/message_decl.h"

namespace protolib {
namespace internal {

// ---------------------------------------------------------------------------
// The descriptor literal, read at compile time: a FileDescriptorProto whose
// messages (and their fields) are listed in declaration order, each nested
// message right after its container.

using FieldProto = pb::FieldDescriptorProto;

struct DescribedField {
  std::string_view name;
  int number = 0;
  int label = 0;
  int type = 0;
  bool plain = true;  // no default value, options or oneof
};

struct DescribedMessage {
  std::string_view name;
  int depth = 0;        // 0 for a top-level message
  size_t first_field = 0;
  size_t field_count = 0;
  size_t subtree = 0;   // the message and its nested messages
  bool plain = true;    // no oneofs, extensions or options
};

template <size_t kMessages, size_t kFields>
struct DescribedFile {
  std::array<DescribedMessage, kMessages> messages{};
  std::array<DescribedField, kFields> fields{};
  size_t message_count = 0;
  size_t field_count = 0;

  // Where the runtime's reflection puts message i: nested messages before
  // their container.
  constexpr size_t RuntimeIndex(size_t i) const {
    return i - static_cast<size_t>(messages[i].depth) + messages[i].subtree - 1;
  }
};

constexpr uint64_t ReadLiteralVarint(const char*& p) {
  uint64_t value = 0;
  for (int shift = 0;; shift += 7) {
    const uint8_t byte = static_cast<uint8_t>(*p++);
    value |= static_cast<uint64_t>(byte & 0x7f) << shift;
    if (byte < 0x80) return value;
  }
}

// Calls visit(number, value, bytes) for each entry of the serialized message
// [p, end): a varint's value, or a length-delimited entry's bytes.
template <class Visit>
constexpr void ForEachEntry(const char* p, const char* end, Visit visit) {
  while (p < end) {
    const uint64_t tag = ReadLiteralVarint(p);
    const int number = static_cast<int>(tag >> 3);
    switch (tag & 7) {
      case WireFormatLite::WIRETYPE_VARINT:
        visit(number, ReadLiteralVarint(p), std::string_view());
        break;
      case WireFormatLite::WIRETYPE_LENGTH_DELIMITED: {
        const size_t size = static_cast<size_t>(ReadLiteralVarint(p));
        visit(number, 0, std::string_view(p, size));
        p += size;
        break;
      }
      case WireFormatLite::WIRETYPE_FIXED64:
        p += 8;
        break;
      default:
        p += 4;
    }
  }
}

// Reads a DescriptorProto and its nested messages into `file`, or only
// counts them when File is a counter.
template <class File>
constexpr void ReadMessage(std::string_view bytes, int depth, File& file) {
  const size_t self = file.message_count++;
  const char* begin = bytes.data();
  const char* end = begin + bytes.size();
  DescribedMessage message;
  message.depth = depth;
  message.first_field = file.field_count;
  ForEachEntry(begin, end, [&](int number, uint64_t, std::string_view entry) {
    if (number == 1) message.name = entry;
    if (number >= 5 && number <= 8) message.plain = false;  // extensions, options, oneofs
    if (number != 2) return;
    DescribedField field;
    ForEachEntry(entry.data(), entry.data() + entry.size(),
                 [&](int n, uint64_t value, std::string_view text) {
                   if (n == 1) field.name = text;
                   if (n == 3) field.number = static_cast<int>(value);
                   if (n == 4) field.label = static_cast<int>(value);
                   if (n == 5) field.type = static_cast<int>(value);
                   if (n == 7 || n == 8 || n == 9 || n == 17) field.plain = false;
                 });
    file.AddField(field);
  });
  message.field_count = file.field_count - message.first_field;
  ForEachEntry(begin, end, [&](int number, uint64_t, std::string_view entry) {
    if (number == 3) ReadMessage(entry, depth + 1, file);
  });
  message.subtree = file.message_count - self;
  file.SetMessage(self, message);
}

template <size_t kMessages, size_t kFields>
struct DescribedFileBuilder : DescribedFile<kMessages, kFields> {
  constexpr void AddField(const DescribedField& f) { this->fields[this->field_count++] = f; }
  constexpr void SetMessage(size_t i, const DescribedMessage& m) { this->messages[i] = m; }
};
struct DescribedFileCounter {
  size_t message_count = 0;
  size_t field_count = 0;
  constexpr void AddField(const DescribedField&) { ++field_count; }
  constexpr void SetMessage(size_t, const DescribedMessage&) {}
};

template <class File, size_t N>
constexpr void ReadFile(const char (&literal)[N], File& file) {
  ForEachEntry(literal, literal + N - 1, [&](int number, uint64_t, std::string_view entry) {
    if (number == 4) ReadMessage(entry, 0, file);
  });
}

template <const auto& kLiteral>
constexpr auto DescribeFile() {
  constexpr DescribedFileCounter counts = [] {
    DescribedFileCounter counter;
    ReadFile(kLiteral, counter);
    return counter;
  }();
  DescribedFileBuilder<counts.message_count, counts.field_count> file;
  ReadFile(kLiteral, file);
  return DescribedFile<counts.message_count, counts.field_count>(file);
}

// What a field kind is in a descriptor: its label and type.
template <class Kind>
struct Described;
template <int kTypeOfKind>
struct DescribedOptional {
  static constexpr int kLabel = FieldProto::LABEL_OPTIONAL;
  static constexpr int kType = kTypeOfKind;
};
template <> struct Described<kind::UInt64> : DescribedOptional<FieldProto::TYPE_UINT64> {};
template <> struct Described<kind::UInt32> : DescribedOptional<FieldProto::TYPE_UINT32> {};
template <> struct Described<kind::Int32> : DescribedOptional<FieldProto::TYPE_INT32> {};
template <> struct Described<kind::Bool> : DescribedOptional<FieldProto::TYPE_BOOL> {};
template <> struct Described<kind::Float> : DescribedOptional<FieldProto::TYPE_FLOAT> {};
template <> struct Described<kind::Double> : DescribedOptional<FieldProto::TYPE_DOUBLE> {};
template <> struct Described<kind::Fixed32> : DescribedOptional<FieldProto::TYPE_FIXED32> {};
template <> struct Described<kind::String> : DescribedOptional<FieldProto::TYPE_STRING> {};
template <> struct Described<kind::Bytes> : DescribedOptional<FieldProto::TYPE_BYTES> {};
template <bool (*V)(int)>
struct Described<kind::Enum<V>> : DescribedOptional<FieldProto::TYPE_ENUM> {};
template <class T>
struct Described<kind::Message<T>> : DescribedOptional<FieldProto::TYPE_MESSAGE> {};
template <class T>
struct Described<kind::ImportedMessage<T>> : Described<kind::Message<T>> {};
template <class K>
struct Described<kind::Required<K>> : Described<K> {
  static constexpr int kLabel = FieldProto::LABEL_REQUIRED;
};
template <class K>
struct Described<kind::Repeated<K>> : Described<K> {
  static constexpr int kLabel = FieldProto::LABEL_REPEATED;
};
template <class T>
struct Described<kind::RepeatedMessage<T>> : Described<kind::Repeated<kind::Message<T>>> {};
template <class T>
struct Described<kind::RepeatedImportedMessage<T>> : Described<kind::RepeatedMessage<T>> {};

// ---------------------------------------------------------------------------
// A file's classes checked against its descriptor literal. Each class of the
// file's list must have the fields of the literal's message at the same
// place, in the same order, with the same names, numbers, labels and types.

template <class C, class F, const auto& kFile, size_t kAt>
struct FieldMatches {
  static constexpr DescribedField kField = kFile.fields[kAt];
  using D = Described<typename F::Kind>;
  static_assert(kField.number == F::kNumber && kField.name == F::kName,
                "the field's name or number differs from the descriptor literal's field at its "
                "place: declare the fields in the .proto's order with its names and numbers, and "
                "regenerate the literal with descriptor_literal");
  static_assert(kField.label == D::kLabel && kField.type == D::kType,
                "the field's macro does not declare the label and type the .proto gives it: "
                "use the macro of that type, PROTOLIB_REPEATED_ for a repeated field and "
                "PROTOLIB_REQUIRED_ for a required one (message_decl.h lists them)");
  static_assert(kField.plain,
                "the .proto gives the field a default value, options (such as packed) or a "
                "oneof, which the message core does not take: remove them");
  static constexpr bool kOk = true;
};

template <class C, const auto& kFile, size_t kAt>
struct MessageMatches {
  static constexpr DescribedMessage kMessage = kFile.messages[kAt];
  using Fields = FieldsOf<C>;
  static_assert(kMessage.field_count == Fields::kCount,
                "the class has another number of fields than the descriptor literal's message at "
                "its place in the file's message list: list the messages in declaration order, "
                "each nested one right after its container, give the class a line per field, and "
                "regenerate the literal with descriptor_literal");
  static_assert(kMessage.plain,
                "the .proto's message has oneofs, extensions or options, which the message core "
                "does not take");
  template <size_t... I>
  static constexpr bool FieldsMatch(std::index_sequence<I...>) {
    if constexpr (kMessage.field_count == Fields::kCount) {
      return (FieldMatches<C, std::tuple_element_t<I, typename Fields::Tuple>, kFile,
                           kMessage.first_field + I>::kOk &&
              ...);
    } else {
      return false;
    }
  }
  static constexpr bool kOk = FieldsMatch(std::make_index_sequence<Fields::kCount>{});
};

// ---------------------------------------------------------------------------
// The reflection layout of one class: has-bits and metadata offsets, four
// unused entries, the field offsets, then the has-bit index of each field
// (none for repeated fields), all in declaration order.

constexpr uint32_t kNoOffset = ~0u;

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

// The layout of a schema file whose descriptor literal is kLiteral and whose
// classes are listed in file order (declaration order, a nested message
// right after its container): the offsets table and migration schemas in the
// runtime's order, a nested message before its container.
template <const auto& kLiteral, class List>
struct FileLayout;
template <const auto& kLiteral, class... Msgs>
struct FileLayout<kLiteral, MessageList<Msgs...>> {
  using Messages = MessageList<Msgs...>;
  static constexpr int kNumMessages = sizeof...(Msgs);
  static constexpr auto kDescribed = DescribeFile<kLiteral>();
  static_assert(kDescribed.messages.size() == sizeof...(Msgs),
                "the file's message list (in its class header) and its descriptor literal have "
                "different numbers of messages: list every message of the .proto, nested ones "
                "included, and regenerate the literal with descriptor_literal");

  template <size_t... I>
  static constexpr bool Check(std::index_sequence<I...>) {
    if constexpr (kDescribed.messages.size() == sizeof...(Msgs)) {
      return (MessageMatches<Msgs, kDescribed, I>::kOk && ...);
    } else {
      return false;
    }
  }
  static constexpr bool kChecked = Check(std::index_sequence_for<Msgs...>{});

  // The runtime's index of class C.
  template <class C>
  static constexpr int IndexOf() {
    constexpr bool same[] = {std::is_same<C, Msgs>::value...};
    for (size_t i = 0; i < sizeof...(Msgs); ++i) {
      if (same[i]) return static_cast<int>(kDescribed.RuntimeIndex(i));
    }
    return -1;
  }
  // The class at the runtime's index k.
  static constexpr size_t FilePosition(size_t k) {
    for (size_t i = 0; i < sizeof...(Msgs); ++i) {
      if (kDescribed.RuntimeIndex(i) == k) return i;
    }
    return 0;
  }
  template <size_t k>
  using AtRuntimeIndex = std::tuple_element_t<FilePosition(k), std::tuple<Msgs...>>;

  template <size_t... K>
  static constexpr auto MakeOffsets(std::index_sequence<K...>) {
    std::array<uint32_t, (OffsetRowSize<Msgs>() + ...)> out{};
    size_t pos = 0;
    (AppendOffsets<AtRuntimeIndex<K>>(out, pos), ...);
    return out;
  }
  template <size_t... K>
  static constexpr auto MakeSchemas(std::index_sequence<K...>) {
    std::array<pb::internal::MigrationSchema, kNumMessages> out{};
    int pos = 0;
    (
        [&] {
          using C = AtRuntimeIndex<K>;
          const int fields = static_cast<int>(FieldsOf<C>::kCount);
          out[K] = {pos, pos + 6 + fields, -1, static_cast<int>(sizeof(C))};
          pos += static_cast<int>(OffsetRowSize<C>());
        }(),
        ...);
    return out;
  }

  static constexpr auto kOffsets = MakeOffsets(std::index_sequence_for<Msgs...>{});
  static constexpr auto kSchemas = MakeSchemas(std::index_sequence_for<Msgs...>{});
};

}  // namespace internal
}  // namespace protolib

#endif  // PROTOLIB_REFLECTION_LAYOUT_H_
