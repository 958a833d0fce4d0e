// Linked into every test executable: shuts the protocol-buffer runtime down
// when the executable exits, which frees the default instances, the
// reflection objects and the generated pool. A leak checker that runs after
// exit (valgrind, LeakSanitizer) then sees only what the code under test
// leaked. The runtime accepts repeated shut-downs, so a test that shuts down
// itself is unaffected.
//
// The shut-down runs after every other static object of the executable is
// destroyed (its object is constructed first, so it is destroyed last):
// objects that tests keep in statics, such as a DynamicMessageFactory whose
// messages refer to the generated pool's descriptors, are gone before the
// pool is freed. The runtime's own statics, in its shared library, outlive it.
#include <google/protobuf/stubs/common.h>

namespace {

struct ShutdownProtobufAtExit {
  ~ShutdownProtobufAtExit() { google::protobuf::ShutdownProtobufLibrary(); }
};

__attribute__((init_priority(101))) ShutdownProtobufAtExit shutdown_at_exit;

}  // namespace
