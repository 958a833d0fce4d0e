// The message types each fuzz target covers, in the order in which the
// input's first byte selects them (byte % count): the seed files of
// fuzz/corpus start with their type's position here. The tests use the
// lists too, to go over every class.
#ifndef PROTOLIB_FUZZ_FUZZ_TYPES_H_
#define PROTOLIB_FUZZ_FUZZ_TYPES_H_

#include "calibration_common/calibration.pb.h"
#include "session/commander_private/commander.pb.h"
#include "session/velocity.pb.h"

namespace protolib_fuzz {

template <class... T>
struct TypeList {};

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
