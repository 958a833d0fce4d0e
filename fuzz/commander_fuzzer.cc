// Fuzz target for session/commander_private/commander.proto: the first byte
// selects the message type (see fuzz_types.h), the rest is parsed by the
// class and by a DynamicMessage and checked as differential.h describes.
#include <cstddef>
#include <cstdint>

#include "fuzz/differential.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return protolib_fuzz::Run(protolib_fuzz::CommanderTypes{}, data, size);
}
