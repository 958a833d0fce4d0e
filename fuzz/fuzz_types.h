// The message types each fuzz target covers, in the order in which the
// input's first byte selects them (byte % count): the seed files of
// fuzz/corpus start with their type's position here. The lists are the
// class headers' own, in file order. The tests use them too, to go over
// every class.
#ifndef PROTOLIB_FUZZ_FUZZ_TYPES_H_
#define PROTOLIB_FUZZ_FUZZ_TYPES_H_

#include "calibration_common/calibration.pb.h"
#include "session/commander_private/commander.pb.h"
#include "session/velocity.pb.h"

namespace protolib_fuzz {

template <class... T>
using TypeList = ::protolib::MessageList<T...>;

template <class... T, class... U>
TypeList<T..., U...> Join(TypeList<T...>, TypeList<U...>);

// session/commander_private/commander.proto
using CommanderTypes = CommanderProtoMessages;

// session/velocity.proto and the calibration file it imports.
using VelocityTypes =
    decltype(Join(VelocityProtoMessages{}, ::tolva::calibration::CalibrationProtoMessages{}));

}  // namespace protolib_fuzz

#endif  // PROTOLIB_FUZZ_FUZZ_TYPES_H_
