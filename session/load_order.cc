// Registers the library's schema files when it is loaded, in a fixed order:
// the commander file, then the velocity file (which registers the calibration
// file it imports first). One initializer for both keeps the order
// independent of the order in which the linker lays out translation units.
#include "session/commander_private/commander.pb.h"
#include "session/velocity.pb.h"

namespace {

struct RegisterAtLoad {
  RegisterAtLoad() {
    protobuf_AddDesc_session_2fcommander_5fprivate_2fcommander_2eproto();
    protobuf_AddDesc_session_2fvelocity_2eproto();
  }
};

const RegisterAtLoad register_at_load;

}  // namespace
