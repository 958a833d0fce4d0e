// The message types each fuzz target covers, in the order in which the
// input's first byte selects them (byte % count). make_corpus writes its seed
// files with the same order, so the two must share this header.
#ifndef PROTOLIB_FUZZ_FUZZ_TYPES_H_
#define PROTOLIB_FUZZ_FUZZ_TYPES_H_

#include <cstddef>
#include <type_traits>

#include "calibration_common/calibration.pb.h"
#include "session/commander_private/commander.pb.h"
#include "session/velocity.pb.h"

namespace protolib_fuzz {

template <class... T>
struct TypeList {
  static constexpr size_t kSize = sizeof...(T);

  // The selector byte of type U.
  template <class U>
  static constexpr int IndexOf() {
    constexpr bool same[] = {std::is_same<U, T>::value...};
    for (size_t i = 0; i < kSize; ++i) {
      if (same[i]) return static_cast<int>(i);
    }
    return -1;
  }
};

// session/commander_private/commander.proto
using CommanderTypes =
    TypeList<CommandHeader, PropertyChanged_KVPair, PropertyChanged,
             MultiPropertyChangedData, MultiPropertyChanged, Ping>;

// session/velocity.proto and the calibration file it imports.
using VelocityTypes =
    TypeList<CommandVelocity, AutoDockingRequest, CalibrationRequest, PTZMoveCommand,
             PTZResetCommand, PTZFocusCommand, PTZStatus, PTZDataRequest, PTZMessage,
             CommandAck, LaserOnCommand, LaserPointToCommand, LaserStatus, LaserMessage,
             CandyMessage, ::tolva::calibration::PTZCameraParameters>;

}  // namespace protolib_fuzz

#endif  // PROTOLIB_FUZZ_FUZZ_TYPES_H_
