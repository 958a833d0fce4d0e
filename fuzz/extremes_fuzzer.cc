// Fuzz target for the tests' schema at the extremes of what the message core
// takes (tests/schema): the first byte selects the message type, in the order
// of the schema's list, the rest is parsed by the class and by a
// DynamicMessage and checked as differential.h describes.
#include <cstddef>
#include <cstdint>

#include "fuzz/differential.h"
#include "tests/schema/extremes.pb.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return protolib_fuzz::Run(extremes::ExtremesProtoMessages{}, data, size);
}
