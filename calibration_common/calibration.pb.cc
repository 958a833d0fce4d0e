// Message class of calibration_common/calibration.proto, on the same message
// core as the session library. The class's fields are its header's; this
// file gives the file's registration data and defines the classes of the
// header's list, named within the file's namespace.
#include "calibration_common/calibration.pb.h"

#include "protolib/message_impl.h"

// The list names the classes within the file's namespace.
using namespace ::tolva::calibration;


namespace {

namespace pl = ::protolib::internal;

// The file's FileDescriptorProto as the runtime serializes it, printed by
// tools/descriptor_literal.cc (built as descriptor_literal):
//   descriptor_literal . calibration_common/calibration.proto
constexpr char kDescriptor[] =
    "\012$calibration_common/calibration.proto\022\021tolva.calibration\042"
    "\232\002\012\023PTZCameraParameters\022\026\012\016focal_length_x\030"
    "\001 \001(\001\022\026\012\016focal_length_y\030\002 \001(\001\022\031"
    "\012\021principal_point_x\030\003 \001(\001\022\031\012\021principal"
    "_point_y\030\004 \001(\001\022\022\012\012distortion\030\005 \003(\002"
    "\022\026\012\016mount_height_m\030\006 \001(\002\022\026\012\016pan_"
    "offset_rad\030\007 \001(\002\022\027\012\017tilt_offset_rad\030\010 "
    "\001(\002\022\023\012\013image_width\030\011 \001(\015\022\024\012\014"
    "image_height\030\012 \001(\015\022\025\012\015camera_serial\030\013 "
    "\001(\011";

struct CalibrationFile : pl::SchemaFile<CalibrationProtoMessages, kDescriptor> {
  static constexpr const char* kUnit = "calibration_common/calibration.pb.cc";
  // Reports a message of the file merged into itself.
  [[noreturn]] static void SelfMergeFailed(int line) {
    pl::SelfMergeFailed(kUnit, __LINE__, line);
  }
  static constexpr const ::google::protobuf::internal::DescriptorTable& table =
      descriptor_table_calibration_5fcommon_2fcalibration_2eproto;
  static void RegisterDependencies() {}
};

}  // namespace

const ::google::protobuf::internal::DescriptorTable
    descriptor_table_calibration_5fcommon_2fcalibration_2eproto =
        PROTOLIB_DESCRIPTOR_TABLE(CalibrationFile, "calibration_common/calibration.proto",
                                  nullptr, 0, nullptr);

namespace {

// The library registers its file when it is loaded.
const bool registered_at_load =
    (tolva::calibration::protobuf_AddDesc_calibration_5fcommon_2fcalibration_2eproto(),
     true);

}  // namespace

namespace tolva {
namespace calibration {

void protobuf_AddDesc_calibration_5fcommon_2fcalibration_2eproto() {
  pl::FileFrame<CalibrationFile>::Register();
}

}  // namespace calibration
}  // namespace tolva

CALIBRATION_COMMON_CALIBRATION_PROTO_MESSAGES(PROTOLIB_DEFINE_MESSAGE, CalibrationFile)
// The merges from a google::protobuf::Message, on a line of their own.
CALIBRATION_COMMON_CALIBRATION_PROTO_MESSAGES(PROTOLIB_DEFINE_GENERIC_MERGE, CalibrationFile)
