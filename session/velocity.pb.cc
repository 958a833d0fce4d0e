// Message classes and enumerations of session/velocity.proto. The family
// behaviour is protolib/message_impl.h's; the classes' fields are their
// header's; this file gives the file's registration data and defines the
// classes of the header's list.
#include "session/velocity.pb.h"

#include "protolib/message_impl.h"

bool LaserState_IsValid(int value) { return static_cast<unsigned>(value) <= 2u; }
bool CandySlot_IsValid(int value) { return static_cast<unsigned>(value) <= 2u; }

namespace {

namespace pl = ::protolib::internal;

// The file's FileDescriptorProto as the runtime serializes it, printed by
// tools/descriptor_literal.cc (built as descriptor_literal):
//   descriptor_literal . session/velocity.proto
constexpr char kDescriptor[] =
    "\012\026session/velocity.proto\032$calibration_common/calibration.pr"
    "oto\042%\012\022AutoDockingRequest\022\017\012\007dock_id\030\001 \001"
    "(\005\042d\012\022CalibrationRequest\022\026\012\016calibration_id\030"
    "\001 \001(\005\022\033\012\023calibrate_gyroscope\030\002 \001(\010\022"
    "\031\012\021calibrate_cameras\030\003 \001(\010\042u\012\016PTZMoveC"
    "ommand\022\022\012\012pan_target\030\001 \001(\005\022\023\012\013ti"
    "lt_target\030\002 \001(\005\022\023\012\013zoom_target\030\003 \001("
    "\005\022\021\012\011pan_speed\030\004 \001(\005\022\022\012\012tilt_"
    "speed\030\005 \001(\005\042.\012\017PTZResetCommand\022\033\012\023r"
    "eset_pan_tilt_zoom\030\001 \001(\010\0429\012\017PTZFocusCommand\022"
    "\021\012\011autofocus\030\001 \001(\010\022\023\012\013focus_value\030"
    "\002 \001(\005\042\300\001\012\011PTZStatus\022\016\012\006moving\030"
    "\001 \001(\010\022\023\012\013current_pan\030\002 \001(\005\022\024\012"
    "\014current_tilt\030\003 \001(\005\022\024\012\014current_zoom\030\004"
    " \001(\005\022\025\012\015current_focus\030\010 \001(\005\022\034\012"
    "\024last_move_command_id\030\005 \001(\015\022\023\012\013ptz_presen"
    "t\030\006 \001(\010\022\030\012\020ptz_powered_in_s\030\007 \001(\001"
    "\042-\012\016PTZDataRequest\022\033\012\023request_calibration\030\001"
    " \001(\010\042\201\002\012\012PTZMessage\022\022\012\012message_id\030"
    "\001 \001(\015\022\035\012\004move\030\002 \001(\0132\017.PTZMoveCom"
    "mand\022\037\012\005focus\030\006 \001(\0132\020.PTZFocusCommand\022"
    "\037\012\005reset\030\007 \001(\0132\020.PTZResetCommand\022\032\012"
    "\006status\030\003 \001(\0132\012.PTZStatus\022%\012\014data_request"
    "\030\004 \001(\0132\017.PTZDataRequest\022;\012\013calibration\030\005"
    " \001(\0132&.tolva.calibration.PTZCameraParameters\042!\012\012Comma"
    "ndAck\022\023\012\013message_ids\030\001 \003(\015\042\042\012\016La"
    "serOnCommand\022\020\012\010laser_on\030\001 \001(\010\042\222\001\012"
    "\023LaserPointToCommand\022\022\012\012ray_origin\030\001 \003(\002\022"
    "\025\012\015ray_direction\030\002 \003(\002\022'\012\022state_while_"
    "moving\030\003 \001(\0162\013.LaserState\022'\012\022state_after_mov"
    "ing\030\004 \001(\0162\013.LaserState\042\307\001\012\013LaserStatus"
    "\022\032\012\022targeted_direction\030\001 \003(\002\022\026\012\016"
    "targeted_point\030\002 \003(\002\022\031\012\021target_message_id\030"
    "\003 \001(\015\022\031\012\021current_direction\030\004 \003(\002\022"
    "\024\012\014laser_center\030\005 \003(\002\022\015\012\005state\030\006"
    " \001(\010\022\016\012\006moving\030\007 \001(\010\022\031\012\021la"
    "ser_unavailable\030\010 \001(\010\042\210\001\012\014LaserMessage\022"
    "\022\012\012message_id\030\001 \001(\015\022\036\012\005onoff\030\002"
    " \001(\0132\017.LaserOnCommand\022&\012\010point_to\030\003 \001(\013"
    "2\024.LaserPointToCommand\022\034\012\006status\030\004 \001(\0132\014"
    ".LaserStatus\042D\012\014CandyMessage\022\022\012\012message_id\030\001"
    " \001(\015\022 \012\014active_slots\030\002 \003(\0162\012.CandySlot"
    "\042\265\003\012\017CommandVelocity\022\016\012\006linear\030\001 \001"
    "(\002\022\017\012\007angular\030\002 \001(\002\022\034\012\024veloci"
    "ty_limiter_tag\030\004 \001(\004\022\037\012\027allowed_linear_dista"
    "nce\030\005 \001(\002\022 \012\030allowed_angular_distance\030\006 \001"
    "(\002\022\031\012\021send_timestamp_ns\030\007 \001(\004\022(\012\013"
    "autodocking\030\010 \001(\0132\023.AutoDockingRequest\022(\012\013ca"
    "libration\030\011 \001(\0132\023.CalibrationRequest\022!\012\031over"
    "ride_disabled_driving\030\012 \001(\010\022 \012\013ptz_message\030\013"
    " \001(\0132\013.PTZMessage\022 \012\013command_ack\030\014 \001(\013"
    "2\013.CommandAck\022$\012\015laser_message\030\015 \001(\0132\015.La"
    "serMessage\022$\012\015candy_message\030\016 \001(\0132\015.CandyMes"
    "sage*,\012\012LaserState\022\007\012\003OFF\020\000\022\006\012\002O"
    "N\020\001\022\015\012\011UNCHANGED\020\002*)\012\011CandySlot\022\010"
    "\012\004BIN0\020\000\022\010\012\004BIN1\020\001\022\010\012\004BIN2"
    "\020\002";

// LaserState, CandySlot.
const ::google::protobuf::EnumDescriptor* enum_descriptors[2] = {};

// The imported file's table; filled in at registration, since the address of
// data in another library is not a link-time constant on every platform.
const ::google::protobuf::internal::DescriptorTable* imports[1] = {};

struct VelocityFile : pl::SchemaFile<VelocityProtoMessages, kDescriptor> {
  static constexpr const char* kUnit = "session/velocity.pb.cc";
  // Reports a message of the file merged into itself.
  [[noreturn]] static void SelfMergeFailed(int line) {
    pl::SelfMergeFailed(kUnit, __LINE__, line);
  }
  static const ::google::protobuf::internal::DescriptorTable table;
  // The imported file is in the pool, and its default instance exists,
  // before this file's descriptor names it and PTZMessage is wired to it.
  static void RegisterDependencies() {
    ::tolva::calibration::protobuf_AddDesc_calibration_5fcommon_2fcalibration_2eproto();
    imports[0] = &descriptor_table_calibration_5fcommon_2fcalibration_2eproto;
  }
};
const ::google::protobuf::internal::DescriptorTable VelocityFile::table =
    PROTOLIB_DESCRIPTOR_TABLE(VelocityFile, "session/velocity.proto", imports, 1,
                              enum_descriptors);

const ::google::protobuf::EnumDescriptor* EnumDescriptor(int index) {
  ::google::protobuf::internal::AssignDescriptors(&VelocityFile::table);
  return enum_descriptors[index];
}

}  // namespace

void protobuf_AddDesc_session_2fvelocity_2eproto() { pl::FileFrame<VelocityFile>::Register(); }

const ::google::protobuf::EnumDescriptor* LaserState_descriptor() { return EnumDescriptor(0); }
const ::google::protobuf::EnumDescriptor* CandySlot_descriptor() { return EnumDescriptor(1); }

SESSION_VELOCITY_PROTO_MESSAGES(PROTOLIB_DEFINE_MESSAGE, VelocityFile)
// The merges from a google::protobuf::Message, on a line of their own.
SESSION_VELOCITY_PROTO_MESSAGES(PROTOLIB_DEFINE_GENERIC_MERGE, VelocityFile)
