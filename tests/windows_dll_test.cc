// The libraries as Windows DLLs: the session library's entry point, and the
// objects each DLL owns as the other modules see them.
#include <gtest/gtest.h>

#include "calibration_common/calibration.pb.h"
#include "session/commander_private/commander.pb.h"
#include "session/velocity.pb.h"

#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <winternl.h>

namespace {

// The loader's record of a module, up to its flags: the layout of every
// Windows since NT 4, and Wine's.
struct LoaderEntry {
  LIST_ENTRY in_load_order;
  LIST_ENTRY in_memory_order;
  LIST_ENTRY in_initialization_order;
  void* base;
  void* entry_point;
  ULONG image_size;
  UNICODE_STRING full_name;
  UNICODE_STRING base_name;
  ULONG flags;
};
// Set by DisableThreadLibraryCalls: the loader skips the module on thread
// attach and detach.
constexpr ULONG kNoThreadCalls = 0x00040000;

const LoaderEntry* FindModule(const char* name) {
  const HMODULE module = GetModuleHandleA(name);
  LIST_ENTRY* head = &NtCurrentTeb()->ProcessEnvironmentBlock->Ldr->InMemoryOrderModuleList;
  for (LIST_ENTRY* e = head->Flink; module != nullptr && e != head; e = e->Flink) {
    auto* entry = CONTAINING_RECORD(e, LoaderEntry, in_memory_order);
    if (entry->base == module) return entry;
  }
  return nullptr;
}

// The module whose image holds the object's virtual table: the one whose
// code made the object.
const char* VtableOwner(const void* object) {
  const auto vtable = *static_cast<const char* const*>(object);
  for (const char* name : {"session_protolib.dll", "calibration_protolib.dll"}) {
    const LoaderEntry* m = FindModule(name);
    if (m != nullptr && vtable >= static_cast<const char*>(m->base) &&
        vtable < static_cast<const char*>(m->base) + m->image_size)
      return name;
  }
  return "another module";
}

// The loader refuses to turn thread notifications off for an image with a
// TLS directory (the compiler runtime's, with MinGW): there the entry point
// keeps receiving them.
bool HasTlsDirectory(const LoaderEntry* m) {
  const auto* base = static_cast<const BYTE*>(m->base);
  const auto* headers = reinterpret_cast<const IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  return headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_TLS].Size != 0;
}

TEST(WindowsDll, EntryPointTurnsOffThreadCallsAndSucceedsForEveryReason) {
  const LoaderEntry* session = FindModule("session_protolib.dll");
  ASSERT_NE(session, nullptr);
  EXPECT_EQ((session->flags & kNoThreadCalls) != 0, !HasTlsDirectory(session))
      << "flags " << std::hex << session->flags;
  // Attach succeeded, or this process would not have started. Thread
  // notifications must succeed as well.
  using EntryPoint = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);
  const auto entry = reinterpret_cast<EntryPoint>(session->entry_point);
  for (DWORD reason : {DLL_THREAD_ATTACH, DLL_THREAD_DETACH})
    EXPECT_TRUE(entry(static_cast<HINSTANCE>(session->base), reason, nullptr)) << reason;
}

// Each default instance is one object, made by its own library: the
// session library wires the calibration library's default into PTZMessage
// rather than a copy of its own.
TEST(WindowsDll, DefaultInstancesAreMadeByTheirOwnLibrary) {
  using tolva::calibration::PTZCameraParameters;
  const PTZCameraParameters& calibration = PTZCameraParameters::default_instance();
  EXPECT_EQ(&PTZMessage::default_instance().calibration(), &calibration);
  EXPECT_EQ(&CommandVelocity::default_instance().ptz_message().calibration(), &calibration);
  EXPECT_STREQ(VtableOwner(&calibration), "calibration_protolib.dll");
  EXPECT_STREQ(VtableOwner(&PTZMessage::default_instance()), "session_protolib.dll");
  EXPECT_STREQ(VtableOwner(&CommandHeader::default_instance()), "session_protolib.dll");
  PTZMessage made;
  EXPECT_STREQ(VtableOwner(made.mutable_calibration()), "calibration_protolib.dll");
}

}  // namespace
