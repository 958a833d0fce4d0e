// The behaviour shared by every message class: construction, destruction,
// clearing, merging, the required-field check, sizing, writing, parsing,
// swapping, default instances and the reflection wiring of a schema file.
//
// A class's fields are those its header declares, one macro line each
// (message_decl.h), and a schema file's messages those its header's list
// macro names. The file's class file gives the descriptor literal and the
// file's registration data and expands PROTOLIB_DEFINE_MESSAGE and
// PROTOLIB_DEFINE_GENERIC_MERGE over the list. Everything in the headers
// below is expanded per class at compile time from the field list read from
// the declarations, so the classes run as fast as hand-unrolled code while
// no class repeats another's bodies.
//
// Internal to the libraries; not installed, nor are the headers below.
//
// The core is kept in rooms, each header owning one concern and included
// here in order:
//   wire_codecs.h        scalar encodings and tags
//   unknown_fields.h     merging and reading unknown fields
//   family_ops.h         Core: the family behaviour over a field list
//   field_ops.h          field operations by kind, Field and FieldList
//   reflection_layout.h  the classes checked against the descriptor literal,
//                        offsets table and migration schemas of a file
//   file_frame.h         per-file state, registration and teardown
// This header adds the macros the class files use.
#ifndef PROTOLIB_MESSAGE_IMPL_H_
#define PROTOLIB_MESSAGE_IMPL_H_

#include <cstdint>

#include <google/protobuf/generated_message_reflection.h>
#include <google/protobuf/generated_message_util.h>
#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/parse_context.h>
#include <google/protobuf/reflection_ops.h>

#include "protolib/message_decl.h"
#include "protolib/wire_codecs.h"
#include "protolib/unknown_fields.h"
#include "protolib/family_ops.h"
#include "protolib/field_ops.h"
#include "protolib/reflection_layout.h"
#include "protolib/file_frame.h"

// The out-of-line members of class C of a schema file described by File,
// which provides: kUnit (the source unit), SelfMergeFailed(line) (its report
// of a message merged into itself), Layout (a FileLayout), table (the file's
// DescriptorTable), state (its FileState) and RegisterDependencies() (see
// FileFrame). The merge from a google::protobuf::Message is
// PROTOLIB_DEFINE_GENERIC_MERGE's.
// Sizing and writing are flattened: each is one function for the whole tree
// of sub-messages of this library under C, without a call per level or per
// field; parsing is not (its code would grow more than its time shrinks).
#define PROTOLIB_DEFINE_MESSAGE(C, File)                                          \
  static_assert(::protolib::internal::FieldListOf<C>::kChecked);                  \
  template struct ::protolib::internal::NumberConstants<C>;                       \
  C* C::default_instance_ = nullptr;                                              \
  const ::google::protobuf::Message::ClassData C::_class_data_ = {                \
      ::google::protobuf::Message::CopyWithSourceCheck, C::MergeImpl};            \
  C::C() : ::google::protobuf::Message() {}                                       \
  /* Delegates, so that a failed copy is destroyed and leaks nothing. */         \
  C::C(const C& from) : C() { ::protolib::internal::Core::Merge(*this, from); }   \
  C::~C() { ::protolib::internal::Core::Destroy(*this); }                         \
  const C& C::default_instance() {                                                \
    if (default_instance_ == nullptr) {                                           \
      ::protolib::internal::FileFrame<File>::Register();                          \
    }                                                                             \
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
    ::protolib::internal::Core::Merge(*this, from);                               \
  }                                                                               \
  void C::MergeFrom(const C& from) {                                              \
    if (&from == this) File::SelfMergeFailed(__LINE__);                           \
    ::protolib::internal::Core::Merge(*this, from);                               \
  }                                                                               \
  void C::Clear() { ::protolib::internal::Core::Clear(*this); }                   \
  bool C::IsInitialized() const {                                                 \
    return ::protolib::internal::Core::IsInitialized(*this);                      \
  }                                                                               \
  __attribute__((flatten)) size_t C::ByteSizeLong() const {                       \
    return ::protolib::internal::Core::ByteSize(*this);                           \
  }                                                                               \
  const char* C::_InternalParse(const char* ptr,                                  \
                                ::google::protobuf::internal::ParseContext* ctx) { \
    return ::protolib::internal::Core::Parse(*this, ptr, ctx);                    \
  }                                                                               \
  __attribute__((flatten)) uint8_t* C::_InternalSerialize(                        \
      uint8_t* target, ::google::protobuf::io::EpsCopyOutputStream* stream) const { \
    return ::protolib::internal::Core::Serialize(*this, target, stream);          \
  }                                                                               \
  const ::google::protobuf::Message::ClassData* C::GetClassData() const {         \
    return &_class_data_;                                                         \
  }

// The merge behind google::protobuf::Message::MergeFrom for class C, on a
// line of its own, which a self-merge reports.
#define PROTOLIB_DEFINE_GENERIC_MERGE(C, File)                                    \
  void C::MergeImpl(::google::protobuf::Message& to,                              \
                    const ::google::protobuf::Message& from) {                    \
    if (&from == &to) File::SelfMergeFailed(__LINE__);                            \
    ::protolib::internal::Core::Merge(static_cast<C&>(to),                        \
                                      static_cast<const C&>(from));               \
  }

// The DescriptorTable of the schema file File (a SchemaFile): its .proto's
// name, its imports' tables and its enumeration descriptor slots (or null).
#define PROTOLIB_DESCRIPTOR_TABLE(File, filename, deps, num_deps, enums)            \
  {                                                                               \
    false, false, static_cast<int>(sizeof(File::kDescriptor) - 1), File::kDescriptor, \
        filename, &File::state.reflection_once, deps, num_deps,                   \
        File::Layout::kNumMessages, File::Layout::kSchemas.data(),                \
        File::state.default_instances, File::Layout::kOffsets.data(),             \
        File::state.metadata, enums, nullptr                                      \
  }

#endif  // PROTOLIB_MESSAGE_IMPL_H_
