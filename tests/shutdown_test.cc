// Shut-down frees every default instance exactly once: each library deletes
// its own, and a default instance never deletes the ones wired into it.
#include <cstdlib>
#include <map>
#include <mutex>
#include <new>

#include <gtest/gtest.h>
#include <google/protobuf/stubs/common.h>

#include "calibration_common/calibration.pb.h"
#include "session/commander_private/commander.pb.h"
#include "session/velocity.pb.h"

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

namespace {

template <class... T>
void Watch(std::map<const void*, int>* into) {
  (((*into)[&T::default_instance()] = 0), ...);
}

// Also shows the order of registration at load: the runtime runs shut-down
// routines in the reverse order of their registration, and each file queues
// its routine when it registers. The calibration file registers first (its
// library loads first), then the commander file, then the velocity file.
TEST(Shutdown, DeletesEachDefaultInstanceExactlyOnceInReverseRegistrationOrder) {
  std::map<const void*, int> deletions;
  Watch<CommandHeader, PropertyChanged, PropertyChanged_KVPair, MultiPropertyChangedData,
        MultiPropertyChanged, Ping, AutoDockingRequest, CalibrationRequest, PTZMoveCommand,
        PTZResetCommand, PTZFocusCommand, PTZStatus, PTZDataRequest, PTZMessage, CommandAck,
        LaserOnCommand, LaserPointToCommand, LaserStatus, LaserMessage, CandyMessage,
        CommandVelocity, tolva::calibration::PTZCameraParameters>(&deletions);
  ASSERT_EQ(deletions.size(), 22u);
  CommandVelocity::descriptor();  // reflection built too
  MultiPropertyChanged::descriptor();
  std::map<const void*, int> first_deleted;
  const void* velocity = &AutoDockingRequest::default_instance();
  const void* commander = &CommandHeader::default_instance();
  const void* calibration = &tolva::calibration::PTZCameraParameters::default_instance();
  watched = &deletions;
  order = &first_deleted;
  google::protobuf::ShutdownProtobufLibrary();
  watched = nullptr;
  for (const auto& [address, count] : deletions) EXPECT_EQ(count, 1) << address;
  EXPECT_LT(first_deleted[velocity], first_deleted[commander]);
  EXPECT_LT(first_deleted[commander], first_deleted[calibration]);
}

}  // namespace
