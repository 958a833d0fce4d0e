// The file frame: a schema file's per-file state, its registration with the
// runtime (descriptor, default instances) and its teardown at shut-down.
// Uses reflection_layout.h and the default-instance operations of Core.
#ifndef PROTOLIB_FILE_FRAME_H_
#define PROTOLIB_FILE_FRAME_H_

#include <google/protobuf/generated_message_reflection.h>
#include <google/protobuf/generated_message_util.h>
#include <google/protobuf/message.h>
#include <google/protobuf/stubs/common.h>

#include "protolib/family_ops.h"
#include "protolib/reflection_layout.h"

namespace protolib {
namespace internal {

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

// What the description of a schema file (below) takes from the file's
// message list and descriptor literal: its layout, checked against the
// classes, and its state. The class file's description derives from it and
// adds kUnit, SelfMergeFailed(line), table and RegisterDependencies().
template <class List, const auto& kLiteral>
struct SchemaFile {
  static constexpr const auto& kDescriptor = kLiteral;
  using Layout = FileLayout<kLiteral, List>;
  static inline FileState<Layout::kNumMessages> state;
};

// Registration and teardown of one schema file. File provides kUnit, Layout
// (its FileLayout), table, state and RegisterDependencies(). The classes are
// walked in the file's order, a nested message right after its container.
template <class File, class Messages = typename File::Layout::Messages>
struct FileFrame;
template <class File, class... FileOrder>
struct FileFrame<File, MessageList<FileOrder...>> {
  static_assert(File::Layout::kChecked);

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
};

}  // namespace internal
}  // namespace protolib

#endif  // PROTOLIB_FILE_FRAME_H_
