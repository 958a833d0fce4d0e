// Shut-down frees every default instance exactly once: each library deletes
// its own, and a default instance never deletes the ones wired into it.
#include <cstdlib>
#include <map>
#include <mutex>
#include <new>

#include <gtest/gtest.h>
#include <google/protobuf/stubs/common.h>

#include "fuzz/fuzz_types.h"

namespace {

// Counts the deletions of the addresses being watched, and notes the order
// of the first deletion of each.
std::map<const void*, int>* watched = nullptr;
std::map<const void*, int>* order = nullptr;
int deletions_seen = 0;

void NoteDelete(void* p) {
  if (watched == nullptr || p == nullptr) return;
  auto it = watched->find(p);
  if (it == watched->end()) return;
  ++it->second;
  order->emplace(p, deletions_seen++);
}

}  // namespace

void operator delete(void* p) noexcept {
  NoteDelete(p);
  std::free(p);
}
void operator delete(void* p, std::size_t) noexcept {
  NoteDelete(p);
  std::free(p);
}
void* operator new(std::size_t n) {
  if (void* p = std::malloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}

#if defined(_WIN32)
// On Windows a DLL calls the operator delete of the C++ runtime's DLL, never
// this executable's: while a watch is on, the message libraries' import
// table entries for it lead here instead.
#define NOMINMAX
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <cstring>

namespace {

using Delete = void (*)(void*);
using SizedDelete = void (*)(void*, std::size_t);
Delete runtime_delete = nullptr;
SizedDelete runtime_sized_delete = nullptr;
void WatchedDelete(void* p) {
  NoteDelete(p);
  runtime_delete(p);
}
void WatchedSizedDelete(void* p, std::size_t n) {
  NoteDelete(p);
  runtime_sized_delete(p, n);
}

// Points MODULE's imports of NAME at TARGET; returns what they pointed at.
void* PatchImport(const char* module, const char* name, void* target) {
  auto* base = reinterpret_cast<BYTE*>(GetModuleHandleA(module));
  if (base == nullptr) return nullptr;
  auto* headers = reinterpret_cast<IMAGE_NT_HEADERS*>(
      base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const DWORD imports =
      headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT].VirtualAddress;
  void* before = nullptr;
  for (auto* d = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports); d->Name; ++d) {
    auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->OriginalFirstThunk);
    auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + d->FirstThunk);
    for (; names->u1.AddressOfData != 0; ++names, ++slots) {
      if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
      auto* by_name = reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
      if (std::strcmp(reinterpret_cast<const char*>(by_name->Name), name) != 0) continue;
      DWORD protection;
      VirtualProtect(&slots->u1.Function, sizeof(void*), PAGE_READWRITE, &protection);
      before = reinterpret_cast<void*>(slots->u1.Function);
      slots->u1.Function = reinterpret_cast<ULONG_PTR>(target);
      VirtualProtect(&slots->u1.Function, sizeof(void*), protection, &protection);
    }
  }
  return before;
}

// Hooks both libraries for its lifetime.
class DeletesInTheLibrariesWatched {
 public:
  DeletesInTheLibrariesWatched() { Patch(false); }
  ~DeletesInTheLibrariesWatched() { Patch(true); }

 private:
  static void Patch(bool restore) {
    const char* sized = sizeof(std::size_t) == 8 ? "_ZdlPvy" : "_ZdlPvj";
    for (const char* module : {"session_protolib.dll", "calibration_protolib.dll"}) {
      void* plain = PatchImport(module, "_ZdlPv", restore ? reinterpret_cast<void*>(runtime_delete)
                                                        : reinterpret_cast<void*>(&WatchedDelete));
      void* with_size =
          PatchImport(module, sized, restore ? reinterpret_cast<void*>(runtime_sized_delete)
                                             : reinterpret_cast<void*>(&WatchedSizedDelete));
      if (restore) continue;
      if (plain != nullptr) runtime_delete = reinterpret_cast<Delete>(plain);
      if (with_size != nullptr) runtime_sized_delete = reinterpret_cast<SizedDelete>(with_size);
    }
  }
};

}  // namespace
#endif

namespace {

template <class... T>
void Watch(protolib_fuzz::TypeList<T...>, std::map<const void*, int>* into) {
  (((*into)[&T::default_instance()] = 0), ...);
}

// Also shows the order of registration at load: the runtime runs shut-down
// routines in the reverse order of their registration, and each file queues
// its routine when it registers. The calibration file registers first (its
// library loads first), then the commander file, then the velocity file.
TEST(Shutdown, DeletesEachDefaultInstanceExactlyOnceInReverseRegistrationOrder) {
  std::map<const void*, int> deletions;
  Watch(protolib_fuzz::CommanderTypes{}, &deletions);
  Watch(protolib_fuzz::VelocityTypes{}, &deletions);
  ASSERT_EQ(deletions.size(), 22u);
  CommandVelocity::descriptor();  // reflection built too
  MultiPropertyChanged::descriptor();
  std::map<const void*, int> first_deleted;
  const void* velocity = &AutoDockingRequest::default_instance();
  const void* commander = &CommandHeader::default_instance();
  const void* calibration = &tolva::calibration::PTZCameraParameters::default_instance();
  {
#if defined(_WIN32)
    const DeletesInTheLibrariesWatched hooked;
#endif
    watched = &deletions;
    order = &first_deleted;
    google::protobuf::ShutdownProtobufLibrary();
    watched = nullptr;
  }
  for (const auto& [address, count] : deletions) EXPECT_EQ(count, 1) << address;
  EXPECT_LT(first_deleted[velocity], first_deleted[commander]);
  EXPECT_LT(first_deleted[commander], first_deleted[calibration]);
}

}  // namespace
