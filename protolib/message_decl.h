// Declarations shared by every message class of the message libraries.
//
// What a schema file may hold, and how its classes declare it:
// - proto2 messages, nested ones included, and closed enumerations, in a
//   package (a namespace) or none; imports of files whose classes another
//   library of this core defines;
// - fields numbered 1 to 536,870,911 (19000 to 19999 are the wire format's),
//   any number of them: a class declares one has-bits word of 32 fields,
//   PROTOLIB_MESSAGE(Class), or more, PROTOLIB_MESSAGE(Class, words);
// - optional fields, one macro line each, of the types
//     uint64 uint32 int32 bool float double fixed32   PROTOLIB_UINT64 ...
//     a closed enumeration                             PROTOLIB_ENUM
//     string bytes                                     PROTOLIB_STRING ...
//     a message of the library                         PROTOLIB_MESSAGE_FIELD
//     a message of another library                     PROTOLIB_IMPORTED_MESSAGE_FIELD
//   required ones (PROTOLIB_REQUIRED_UINT64 ... PROTOLIB_REQUIRED_MESSAGE_FIELD),
//   and repeated ones (PROTOLIB_REPEATED_UINT64 ... PROTOLIB_REPEATED_MESSAGE,
//   PROTOLIB_REPEATED_IMPORTED_MESSAGE), written unpacked and read in either
//   form.
// Not: proto3 files, int64, sint, sfixed and fixed64 fields, groups, oneofs,
// maps, extensions, default values, field options such as packed, and
// messages that hold their own type. The class file checks its classes
// against the file's descriptor at compile time, and a schema the core
// cannot take fails there or where a field is declared, with a message
// saying what to do.
//
// A message class is declared as
//
//   class SESSION_PROTOLIB_API Ping : public ::google::protobuf::Message {
//     PROTOLIB_MESSAGE(Ping)
//     PROTOLIB_UINT64(time, Time, 1, 0)
//     PROTOLIB_BOOL(is_reply, IsReply, 2, 1)
//   };
//
// PROTOLIB_MESSAGE declares the members every message has (construction,
// copying, the virtual operations of google::protobuf::Message, the default
// instance and reflection entry points). Each field macro takes the field
// name, the same name in upper camel case, the field number and the field's
// declaration index, which is also the index of its bit in the has-bits
// words, and declares the field's storage, its accessors, its field-number
// constant and its description, from which the class's field list is read.
// The behaviour behind the declarations (clearing, merging, sizing, writing
// and parsing) is written once, in the headers message_impl.h includes, and
// expanded per class from that field list in the class file.
#ifndef PROTOLIB_MESSAGE_DECL_H_
#define PROTOLIB_MESSAGE_DECL_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#include <google/protobuf/arena.h>
#include <google/protobuf/arenastring.h>
#include <google/protobuf/generated_message_util.h>
#include <google/protobuf/has_bits.h>
#include <google/protobuf/message.h>
#include <google/protobuf/metadata_lite.h>
#include <google/protobuf/repeated_field.h>
#include <google/protobuf/repeated_ptr_field.h>
#include <google/protobuf/unknown_field_set.h>

#include "protolib/export.h"

#if GOOGLE_PROTOBUF_VERSION < 3021000 || GOOGLE_PROTOBUF_VERSION >= 3022000
#error "These message classes are written against libprotobuf 3.21."
#endif

namespace protolib {

// The message classes of a schema file in declaration order, a nested
// message right after its container: each class header's list
// (PROTOLIB_MESSAGE_LIST).
template <class... T>
struct MessageList {};

namespace internal {

template <class Void, class... T>
using MessageListOf = MessageList<T...>;

// Field kinds. Their wire behaviour is defined in field_ops.h.
namespace kind {
struct UInt64;
struct UInt32;
struct Int32;
struct Bool;
struct Float;
struct Double;
struct Fixed32;
struct String;
struct Bytes;
template <bool (*IsValid)(int)>
struct Enum;  // a closed enumeration, checked on parse
template <class Kind>
struct Required;  // a required field of the given kind
template <class T>
struct Message;  // a singular sub-message of class T
template <class T>
struct ImportedMessage;  // the same, of a class from another library: its
                         // required fields are that library's business
template <class Kind>
struct Repeated;  // a repeated scalar, enumeration, string or bytes field
template <class T>
struct RepeatedMessage;
template <class T>
struct RepeatedImportedMessage;
}  // namespace kind

// A class's field of declaration index I answers the call
// _protolib_field(FieldSlot<I>()) with its description (the nested struct
// the field macro declares); any other slot with NoField. The field list
// of a class is read from these answers, in index order.
template <int I>
struct FieldSlot {};
struct NoField {};
struct BeforeFirstField {};

// What a class may hold, checked where each field is declared.
template <class C, class F, class Previous, class Same, size_t kHasBitsWords>
struct FieldCheck {
  static_assert(F::kNumber >= 1 && F::kNumber <= (1 << 29) - 1,
                "a field number is 1 to 536,870,911: renumber the field in the .proto, the "
                "class header and the descriptor literal");
  static_assert(F::kNumber < 19000 || F::kNumber > 19999,
                "field numbers 19000 to 19999 are reserved by the wire format: renumber the field");
  static_assert(!std::is_same<Previous, NoField>::value,
                "a field's last argument, its declaration index, is the previous field's plus "
                "one (the first field's is 0): declare the fields in the .proto's order, "
                "indexed 0, 1, 2... without gaps");
  static_assert(std::is_same<Same, NoField>::value,
                "two fields of the class have the same declaration index (the last argument): "
                "each field's is the previous field's plus one");
  static_assert(F::kIndex < 32 * static_cast<int>(kHasBitsWords),
                "the class has more fields than its has-bits words hold, 32 each: give the "
                "number of words as PROTOLIB_MESSAGE's second argument, "
                "PROTOLIB_MESSAGE(Class, words)");
  static constexpr bool kOk = true;
};

struct Core;  // the family behaviour

}  // namespace internal
}  // namespace protolib

// Members common to every message class, whose presence bits take one
// 32-bit word, or `words` words: PROTOLIB_MESSAGE(C) or
// PROTOLIB_MESSAGE(C, words). Opens with public access and leaves it public.
#define PROTOLIB_MESSAGE(...) PROTOLIB_MESSAGE_(__VA_ARGS__, 1, )
#define PROTOLIB_MESSAGE_(C, words, ...)                                      \
 public:                                                                      \
  C();                                                                        \
  C(const C& from);                                                           \
  ~C() override;                                                              \
  C& operator=(const C& from) {                                               \
    CopyFrom(from);                                                           \
    return *this;                                                             \
  }                                                                           \
  static const C& default_instance();                                         \
  static const ::google::protobuf::Descriptor* descriptor();                  \
  ::google::protobuf::Metadata GetMetadata() const override;                  \
  void Swap(C* other);                                                        \
  C* New() const { return New(nullptr); }                                     \
  C* New(::google::protobuf::Arena* arena) const override;                    \
  using ::google::protobuf::Message::CopyFrom;                                \
  void CopyFrom(const C& from);                                               \
  using ::google::protobuf::Message::MergeFrom;                               \
  void MergeFrom(const C& from);                                              \
  void Clear() override;                                                      \
  bool IsInitialized() const override;                                        \
  size_t ByteSizeLong() const override;                                       \
  const char* _InternalParse(const char* ptr,                                 \
                             ::google::protobuf::internal::ParseContext* ctx) \
      override;                                                               \
  uint8_t* _InternalSerialize(                                                \
      uint8_t* target, ::google::protobuf::io::EpsCopyOutputStream* stream)   \
      const override;                                                         \
  int GetCachedSize() const override { return _cached_size_.Get(); }          \
  const ::google::protobuf::UnknownFieldSet& unknown_fields() const {         \
    return _internal_metadata_                                                \
        .unknown_fields<::google::protobuf::UnknownFieldSet>(                 \
            ::google::protobuf::UnknownFieldSet::default_instance);           \
  }                                                                           \
  ::google::protobuf::UnknownFieldSet* mutable_unknown_fields() {             \
    return _internal_metadata_                                                \
        .mutable_unknown_fields<::google::protobuf::UnknownFieldSet>();       \
  }                                                                           \
                                                                              \
 protected:                                                                   \
  const ::google::protobuf::Message::ClassData* GetClassData() const override; \
                                                                              \
 private:                                                                     \
  void SetCachedSize(int size) const override { _cached_size_.Set(size); }    \
  static void MergeImpl(::google::protobuf::Message& to,                      \
                        const ::google::protobuf::Message& from);             \
  static const ::google::protobuf::Message::ClassData _class_data_;           \
  static C* default_instance_;                                                \
  ::google::protobuf::internal::HasBits<words> _has_bits_;                    \
  mutable ::google::protobuf::internal::CachedSize _cached_size_;             \
  friend struct ::protolib::internal::Core;                                   \
  using _protolib_self = C;                                                   \
  static ::protolib::internal::NoField _protolib_field(...);                  \
  static ::protolib::internal::BeforeFirstField _protolib_field(              \
      ::protolib::internal::FieldSlot<-1>);                                   \
                                                                              \
 public:

// The field-number constant, and the field's description for its class:
// kind, number, declaration index, member and offset.
#define PROTOLIB_FIELD_SPEC_(Kind, name, Name, number, bit)                   \
 public:                                                                      \
  static constexpr int k##Name##FieldNumber = number;                         \
                                                                              \
 private:                                                                     \
  struct _protolib_field_##name {                                             \
    using FieldKind = Kind;                                                   \
    static constexpr const char* kName = #name;                               \
    static constexpr int kNumber = k##Name##FieldNumber;                      \
    static constexpr int kIndex = bit;                                        \
    static constexpr const int* NumberConstant() {                            \
      return &k##Name##FieldNumber;                                           \
    }                                                                         \
    template <class Self = _protolib_self>                                    \
    static constexpr auto Member() {                                          \
      return &Self::name##_;                                                  \
    }                                                                         \
    template <class Self = _protolib_self>                                    \
    static constexpr uint32_t Offset() {                                      \
      return static_cast<uint32_t>(__builtin_offsetof(Self, name##_));        \
    }                                                                         \
  };                                                                          \
  static_assert(::protolib::internal::FieldCheck<                             \
                    _protolib_self, _protolib_field_##name,                   \
                    decltype(_protolib_field(                                 \
                        ::protolib::internal::FieldSlot<(bit) - 1>())),       \
                    decltype(_protolib_field(                                 \
                        ::protolib::internal::FieldSlot<bit>())),             \
                    sizeof(_has_bits_) / 4>::kOk);                            \
  static _protolib_field_##name _protolib_field(                              \
      ::protolib::internal::FieldSlot<bit>);                                  \
                                                                              \
 public:

// Presence of a singular field: one bit of the has-bits words.
#define PROTOLIB_PRESENCE_(name, bit)                                         \
  bool has_##name() const {                                                   \
    return (_has_bits_[(bit) / 32] & (1u << ((bit) % 32))) != 0;              \
  }                                                                           \
                                                                              \
 private:                                                                     \
  void set_has_##name() { _has_bits_[(bit) / 32] |= 1u << ((bit) % 32); }     \
  void clear_has_##name() { _has_bits_[(bit) / 32] &= ~(1u << ((bit) % 32)); } \
                                                                              \
 public:

#define PROTOLIB_SCALAR_(Kind, T, name, Name, number, bit)                    \
  PROTOLIB_FIELD_SPEC_(Kind, name, Name, number, bit)                         \
  PROTOLIB_PRESENCE_(name, bit)                                               \
  T name() const { return name##_; }                                          \
  void set_##name(T value) {                                                  \
    set_has_##name();                                                         \
    name##_ = value;                                                          \
  }                                                                           \
  void clear_##name() {                                                       \
    name##_ = T();                                                            \
    clear_has_##name();                                                       \
  }                                                                           \
                                                                              \
 private:                                                                     \
  T name##_ = T();                                                            \
                                                                              \
 public:

// The scalar kinds: PROTOLIB_UINT64 ... and PROTOLIB_REQUIRED_UINT64 ...
#define PROTOLIB_SCALAR_KIND_(K, T, name, Name, number, bit) \
  PROTOLIB_SCALAR_(::protolib::internal::kind::K, T, name, Name, number, bit)
#define PROTOLIB_REQUIRED_KIND_(K, T, name, Name, number, bit)                          \
  PROTOLIB_SCALAR_(::protolib::internal::kind::Required<::protolib::internal::kind::K>, \
                   T, name, Name, number, bit)
#define PROTOLIB_UINT64(...) PROTOLIB_SCALAR_KIND_(UInt64, uint64_t, __VA_ARGS__)
#define PROTOLIB_UINT32(...) PROTOLIB_SCALAR_KIND_(UInt32, uint32_t, __VA_ARGS__)
#define PROTOLIB_INT32(...) PROTOLIB_SCALAR_KIND_(Int32, int32_t, __VA_ARGS__)
#define PROTOLIB_BOOL(...) PROTOLIB_SCALAR_KIND_(Bool, bool, __VA_ARGS__)
#define PROTOLIB_FLOAT(...) PROTOLIB_SCALAR_KIND_(Float, float, __VA_ARGS__)
#define PROTOLIB_DOUBLE(...) PROTOLIB_SCALAR_KIND_(Double, double, __VA_ARGS__)
#define PROTOLIB_FIXED32(...) PROTOLIB_SCALAR_KIND_(Fixed32, uint32_t, __VA_ARGS__)
#define PROTOLIB_REQUIRED_UINT64(...) PROTOLIB_REQUIRED_KIND_(UInt64, uint64_t, __VA_ARGS__)
#define PROTOLIB_REQUIRED_UINT32(...) PROTOLIB_REQUIRED_KIND_(UInt32, uint32_t, __VA_ARGS__)
#define PROTOLIB_REQUIRED_INT32(...) PROTOLIB_REQUIRED_KIND_(Int32, int32_t, __VA_ARGS__)
#define PROTOLIB_REQUIRED_BOOL(...) PROTOLIB_REQUIRED_KIND_(Bool, bool, __VA_ARGS__)
#define PROTOLIB_REQUIRED_FLOAT(...) PROTOLIB_REQUIRED_KIND_(Float, float, __VA_ARGS__)
#define PROTOLIB_REQUIRED_DOUBLE(...) PROTOLIB_REQUIRED_KIND_(Double, double, __VA_ARGS__)
#define PROTOLIB_REQUIRED_FIXED32(...) PROTOLIB_REQUIRED_KIND_(Fixed32, uint32_t, __VA_ARGS__)

// A closed enumeration E with its E_IsValid function. The setter stores any
// number; only the parser sets out-of-range numbers apart.
#define PROTOLIB_ENUM(E, ...) \
  PROTOLIB_ENUM_(::protolib::internal::kind::Enum<&E##_IsValid>, E, __VA_ARGS__)
#define PROTOLIB_REQUIRED_ENUM(E, ...)                                                   \
  PROTOLIB_ENUM_(                                                                        \
      ::protolib::internal::kind::Required<::protolib::internal::kind::Enum<&E##_IsValid>>, \
      E, __VA_ARGS__)
#define PROTOLIB_ENUM_(Kind, E, name, Name, number, bit)                      \
  PROTOLIB_FIELD_SPEC_(Kind, name, Name, number, bit)                         \
  PROTOLIB_PRESENCE_(name, bit)                                               \
  E name() const { return static_cast<E>(name##_); }                          \
  void set_##name(E value) {                                                  \
    set_has_##name();                                                         \
    name##_ = value;                                                          \
  }                                                                           \
  void clear_##name() {                                                       \
    name##_ = 0;                                                              \
    clear_has_##name();                                                       \
  }                                                                           \
                                                                              \
 private:                                                                     \
  int name##_ = 0;                                                            \
                                                                              \
 public:

// String and bytes fields. Until a field holds a string of its own it points
// at the runtime's shared empty string; the message owns what it allocates.
#define PROTOLIB_TEXT_(Kind, DataT, name, Name, number, bit)                  \
  PROTOLIB_FIELD_SPEC_(Kind, name, Name, number, bit)                         \
  PROTOLIB_PRESENCE_(name, bit)                                               \
  const std::string& name() const { return name##_.Get(); }                   \
  void set_##name(const std::string& value) {                                 \
    set_has_##name();                                                         \
    name##_.Set(value, nullptr);                                              \
  }                                                                           \
  void set_##name(const char* value) {                                        \
    set_has_##name();                                                         \
    name##_.Set(value, nullptr);                                              \
  }                                                                           \
  void set_##name(const DataT* value, size_t size) {                          \
    set_has_##name();                                                         \
    name##_.SetBytes(static_cast<const void*>(value), size, nullptr);         \
  }                                                                           \
  std::string* mutable_##name() {                                             \
    set_has_##name();                                                         \
    return name##_.Mutable(nullptr);                                          \
  }                                                                           \
  std::string* release_##name() {                                             \
    clear_has_##name();                                                       \
    return name##_.Release();                                                 \
  }                                                                           \
  /* Takes value itself as the owned string, allocating nothing; handing */   \
  /* back the string the field holds keeps it (and marks it set). */          \
  void set_allocated_##name(std::string* value) {                             \
    if (value == nullptr) {                                                   \
      clear_has_##name();                                                     \
      name##_.Destroy();                                                      \
      name##_.InitDefault();                                                  \
      return;                                                                 \
    }                                                                         \
    set_has_##name();                                                         \
    if (value != name##_.UnsafeGetPointer()) {                                \
      name##_.Destroy();                                                      \
      name##_.InitAllocated(value, nullptr);                                  \
    }                                                                         \
  }                                                                           \
  void clear_##name() {                                                       \
    name##_.ClearToEmpty();                                                   \
    clear_has_##name();                                                       \
  }                                                                           \
                                                                              \
 private:                                                                     \
  ::google::protobuf::internal::ArenaStringPtr name##_{                       \
      &::google::protobuf::internal::fixed_address_empty_string,              \
      ::google::protobuf::internal::ConstantInitialized{}};                   \
                                                                              \
 public:

#define PROTOLIB_STRING(...) \
  PROTOLIB_TEXT_(::protolib::internal::kind::String, char, __VA_ARGS__)
#define PROTOLIB_BYTES(...) \
  PROTOLIB_TEXT_(::protolib::internal::kind::Bytes, void, __VA_ARGS__)
#define PROTOLIB_REQUIRED_STRING(...)                                                \
  PROTOLIB_TEXT_(                                                                    \
      ::protolib::internal::kind::Required<::protolib::internal::kind::String>, char, \
      __VA_ARGS__)
#define PROTOLIB_REQUIRED_BYTES(...)                                                 \
  PROTOLIB_TEXT_(                                                                    \
      ::protolib::internal::kind::Required<::protolib::internal::kind::Bytes>, void, \
      __VA_ARGS__)

// A singular sub-message of class T, owned by the message once allocated.
// While nothing is held, the getter returns T's default instance, which the
// file registration wired into this class's default instance.
#define PROTOLIB_SUBMESSAGE_(Kind, T, name, Name, number, bit)               \
  PROTOLIB_FIELD_SPEC_(Kind, name, Name, number, bit)                         \
  PROTOLIB_PRESENCE_(name, bit)                                               \
  const T& name() const {                                                     \
    const T* held = name##_;                                                  \
    return held != nullptr ? *held : *default_instance().name##_;             \
  }                                                                           \
  /* Allocates before marking the field present, so that a failed */        \
  /* allocation never leaves a present field without an object. */            \
  T* mutable_##name() {                                                       \
    if (name##_ == nullptr) name##_ = new T;                                  \
    set_has_##name();                                                         \
    return name##_;                                                           \
  }                                                                           \
  T* release_##name() {                                                       \
    clear_has_##name();                                                       \
    T* held = name##_;                                                        \
    name##_ = nullptr;                                                        \
    return held;                                                              \
  }                                                                           \
  /* Handing back the object the field holds keeps it (and marks it set). */ \
  void set_allocated_##name(T* value) {                                       \
    if (value != name##_) delete name##_;                                     \
    name##_ = value;                                                          \
    if (value != nullptr) {                                                   \
      set_has_##name();                                                       \
    } else {                                                                  \
      clear_has_##name();                                                     \
    }                                                                         \
  }                                                                           \
  void clear_##name() {                                                       \
    if (name##_ != nullptr) name##_->Clear();                                 \
    clear_has_##name();                                                       \
  }                                                                           \
                                                                              \
 private:                                                                     \
  T* name##_ = nullptr;                                                       \
                                                                              \
 public:

#define PROTOLIB_MESSAGE_FIELD(T, ...) \
  PROTOLIB_SUBMESSAGE_(::protolib::internal::kind::Message<T>, T, __VA_ARGS__)
#define PROTOLIB_IMPORTED_MESSAGE_FIELD(T, ...) \
  PROTOLIB_SUBMESSAGE_(::protolib::internal::kind::ImportedMessage<T>, T, __VA_ARGS__)
#define PROTOLIB_REQUIRED_MESSAGE_FIELD(T, ...)                                            \
  PROTOLIB_SUBMESSAGE_(                                                                    \
      ::protolib::internal::kind::Required<::protolib::internal::kind::Message<T>>, T, \
      __VA_ARGS__)
#define PROTOLIB_REQUIRED_IMPORTED_MESSAGE_FIELD(T, ...)                                   \
  PROTOLIB_SUBMESSAGE_(                                                                    \
      ::protolib::internal::kind::Required<::protolib::internal::kind::ImportedMessage<T>>, \
      T, __VA_ARGS__)

// What every repeated field has: its container, its size, and clearing it
// (which keeps the storage, and the elements of a message container, for
// reuse).
#define PROTOLIB_CONTAINER_(Container, name)                                  \
 private:                                                                     \
  Container name##_;                                                          \
                                                                              \
 public:                                                                      \
  int name##_size() const { return name##_.size(); }                          \
  void clear_##name() { name##_.Clear(); }                                    \
  const Container& name() const { return name##_; }                           \
  Container* mutable_##name() { return &name##_; }                            \

// Repeated scalars: T is what the element accessors take and give, Elem what
// the container holds (they differ for enumerations, held as int).
#define PROTOLIB_REPEATED_(Kind, T, Elem, name, Name, number, bit)            \
  PROTOLIB_FIELD_SPEC_(::protolib::internal::kind::Repeated<Kind>, name,      \
                       Name, number, bit)                                     \
  PROTOLIB_CONTAINER_(::google::protobuf::RepeatedField<Elem>, name)          \
  T name(int i) const { return static_cast<T>(name##_.Get(i)); }              \
  void set_##name(int i, T value) { name##_.Set(i, value); }                  \
  void add_##name(T value) { name##_.Add(value); }

#define PROTOLIB_REPEATED_KIND_(K, T, ...) \
  PROTOLIB_REPEATED_(::protolib::internal::kind::K, T, T, __VA_ARGS__)
#define PROTOLIB_REPEATED_UINT64(...) PROTOLIB_REPEATED_KIND_(UInt64, uint64_t, __VA_ARGS__)
#define PROTOLIB_REPEATED_UINT32(...) PROTOLIB_REPEATED_KIND_(UInt32, uint32_t, __VA_ARGS__)
#define PROTOLIB_REPEATED_INT32(...) PROTOLIB_REPEATED_KIND_(Int32, int32_t, __VA_ARGS__)
#define PROTOLIB_REPEATED_BOOL(...) PROTOLIB_REPEATED_KIND_(Bool, bool, __VA_ARGS__)
#define PROTOLIB_REPEATED_FLOAT(...) PROTOLIB_REPEATED_KIND_(Float, float, __VA_ARGS__)
#define PROTOLIB_REPEATED_DOUBLE(...) PROTOLIB_REPEATED_KIND_(Double, double, __VA_ARGS__)
#define PROTOLIB_REPEATED_FIXED32(...) PROTOLIB_REPEATED_KIND_(Fixed32, uint32_t, __VA_ARGS__)
#define PROTOLIB_REPEATED_ENUM(E, ...)                                                 \
  PROTOLIB_REPEATED_(::protolib::internal::kind::Enum<&E##_IsValid>, E, int, __VA_ARGS__)

// Repeated strings and bytes: DataT as for the singular ones.
#define PROTOLIB_REPEATED_TEXT_(Kind, DataT, name, Name, number, bit)             \
  PROTOLIB_FIELD_SPEC_(::protolib::internal::kind::Repeated<Kind>, name, Name,    \
                       number, bit)                                               \
  PROTOLIB_CONTAINER_(::google::protobuf::RepeatedPtrField<std::string>, name)    \
  const std::string& name(int i) const { return name##_.Get(i); }                 \
  std::string* mutable_##name(int i) { return name##_.Mutable(i); }               \
  void set_##name(int i, const std::string& value) { *name##_.Mutable(i) = value; } \
  void set_##name(int i, const char* value) { *name##_.Mutable(i) = value; }      \
  void set_##name(int i, const DataT* value, size_t size) {                       \
    name##_.Mutable(i)->assign(static_cast<const char*>(value), size);            \
  }                                                                               \
  /* Grows first: a failed growth must not lose a new element. */                \
  std::string* add_##name() {                                                     \
    name##_.Reserve(name##_.size() + 1);                                          \
    return name##_.Add();                                                         \
  }                                                                               \
  void add_##name(const std::string& value) { *add_##name() = value; }           \
  void add_##name(const char* value) { *add_##name() = value; }                  \
  void add_##name(const DataT* value, size_t size) {                              \
    add_##name()->assign(static_cast<const char*>(value), size);                  \
  }
#define PROTOLIB_REPEATED_STRING(...) \
  PROTOLIB_REPEATED_TEXT_(::protolib::internal::kind::String, char, __VA_ARGS__)
#define PROTOLIB_REPEATED_BYTES(...) \
  PROTOLIB_REPEATED_TEXT_(::protolib::internal::kind::Bytes, void, __VA_ARGS__)

// A repeated sub-message of class T; the message owns the elements, and keeps
// cleared ones for reuse by the next add_.
#define PROTOLIB_REPEATED_MESSAGE(T, ...) \
  PROTOLIB_REPEATED_MESSAGE_(::protolib::internal::kind::RepeatedMessage<T>, T, __VA_ARGS__)
#define PROTOLIB_REPEATED_IMPORTED_MESSAGE(T, ...)                                    \
  PROTOLIB_REPEATED_MESSAGE_(::protolib::internal::kind::RepeatedImportedMessage<T>, T, \
                             __VA_ARGS__)
#define PROTOLIB_REPEATED_MESSAGE_(Kind, T, name, Name, number, bit)          \
  PROTOLIB_FIELD_SPEC_(Kind, name, Name, number, bit)                         \
  PROTOLIB_CONTAINER_(::google::protobuf::RepeatedPtrField<T>, name)         \
  const T& name(int i) const { return name##_.Get(i); }                       \
  T* mutable_##name(int i) { return name##_.Mutable(i); }                     \
  /* Grows first: a failed growth must not lose a new element. */            \
  T* add_##name() {                                                           \
    name##_.Reserve(name##_.size() + 1);                                      \
    return name##_.Add();                                                     \
  }

// The MessageList of the classes a list macro names. A schema file's class
// header defines its list macro, FILE_MESSAGES(X, arg), as X(Class, arg) for
// each message; its class file defines, lays out and registers the classes
// from it.
#define PROTOLIB_MESSAGE_LIST(LIST) \
  ::protolib::internal::MessageListOf<void LIST(PROTOLIB_LIST_ENTRY_, )>
#define PROTOLIB_LIST_ENTRY_(C, unused) , C

#endif  // PROTOLIB_MESSAGE_DECL_H_
