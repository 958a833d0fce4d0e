// Message classes of session/velocity.proto: the drive command
// CommandVelocity and the requests, commands and status reports it carries
// for the robot's peripherals (auto-docking, gyroscope and camera
// calibration, a pan-tilt-zoom camera, a laser pointer, a candy dispenser).
#ifndef SESSION_VELOCITY_PB_H_
#define SESSION_VELOCITY_PB_H_

#include "calibration_common/calibration.pb.h"
#include "protolib/message_decl.h"

// Registers the schema file (after the calibration file it imports) with the
// runtime's generated pool and creates the default instances. Runs when the
// library is loaded; later calls do nothing.
SESSION_PROTOLIB_API void protobuf_AddDesc_session_2fvelocity_2eproto();

enum LaserState : int {
  OFF = 0,
  ON = 1,
  UNCHANGED = 2,
};
// True exactly for the declared numbers 0, 1 and 2.
SESSION_PROTOLIB_API bool LaserState_IsValid(int value);
SESSION_PROTOLIB_API const ::google::protobuf::EnumDescriptor* LaserState_descriptor();

enum CandySlot : int {
  BIN0 = 0,
  BIN1 = 1,
  BIN2 = 2,
};
// True exactly for the declared numbers 0, 1 and 2.
SESSION_PROTOLIB_API bool CandySlot_IsValid(int value);
SESSION_PROTOLIB_API const ::google::protobuf::EnumDescriptor* CandySlot_descriptor();

class SESSION_PROTOLIB_API AutoDockingRequest : public ::google::protobuf::Message {
  PROTOLIB_MESSAGE(AutoDockingRequest)
  PROTOLIB_INT32(dock_id, DockId, 1, 0)
};

class SESSION_PROTOLIB_API CalibrationRequest : public ::google::protobuf::Message {
  PROTOLIB_MESSAGE(CalibrationRequest)
  PROTOLIB_INT32(calibration_id, CalibrationId, 1, 0)
  PROTOLIB_BOOL(calibrate_gyroscope, CalibrateGyroscope, 2, 1)
  PROTOLIB_BOOL(calibrate_cameras, CalibrateCameras, 3, 2)
};

class SESSION_PROTOLIB_API PTZMoveCommand : public ::google::protobuf::Message {
  PROTOLIB_MESSAGE(PTZMoveCommand)
  PROTOLIB_INT32(pan_target, PanTarget, 1, 0)
  PROTOLIB_INT32(tilt_target, TiltTarget, 2, 1)
  PROTOLIB_INT32(zoom_target, ZoomTarget, 3, 2)
  PROTOLIB_INT32(pan_speed, PanSpeed, 4, 3)
  PROTOLIB_INT32(tilt_speed, TiltSpeed, 5, 4)
};

class SESSION_PROTOLIB_API PTZResetCommand : public ::google::protobuf::Message {
  PROTOLIB_MESSAGE(PTZResetCommand)
  PROTOLIB_BOOL(reset_pan_tilt_zoom, ResetPanTiltZoom, 1, 0)
};

class SESSION_PROTOLIB_API PTZFocusCommand : public ::google::protobuf::Message {
  PROTOLIB_MESSAGE(PTZFocusCommand)
  PROTOLIB_BOOL(autofocus, Autofocus, 1, 0)
  PROTOLIB_INT32(focus_value, FocusValue, 2, 1)
};

class SESSION_PROTOLIB_API PTZStatus : public ::google::protobuf::Message {
  PROTOLIB_MESSAGE(PTZStatus)
  PROTOLIB_BOOL(moving, Moving, 1, 0)
  PROTOLIB_INT32(current_pan, CurrentPan, 2, 1)
  PROTOLIB_INT32(current_tilt, CurrentTilt, 3, 2)
  PROTOLIB_INT32(current_zoom, CurrentZoom, 4, 3)
  PROTOLIB_INT32(current_focus, CurrentFocus, 8, 4)
  PROTOLIB_UINT32(last_move_command_id, LastMoveCommandId, 5, 5)
  PROTOLIB_BOOL(ptz_present, PtzPresent, 6, 6)
  PROTOLIB_DOUBLE(ptz_powered_in_s, PtzPoweredInS, 7, 7)
};

class SESSION_PROTOLIB_API PTZDataRequest : public ::google::protobuf::Message {
  PROTOLIB_MESSAGE(PTZDataRequest)
  PROTOLIB_BOOL(request_calibration, RequestCalibration, 1, 0)
};

// The camera's envelope. Its calibration parameters come from the
// calibration library; this message never checks their required fields.
class SESSION_PROTOLIB_API PTZMessage : public ::google::protobuf::Message {
  PROTOLIB_MESSAGE(PTZMessage)
  PROTOLIB_UINT32(message_id, MessageId, 1, 0)
  PROTOLIB_MESSAGE_FIELD(PTZMoveCommand, move, Move, 2, 1)
  PROTOLIB_MESSAGE_FIELD(PTZFocusCommand, focus, Focus, 6, 2)
  PROTOLIB_MESSAGE_FIELD(PTZResetCommand, reset, Reset, 7, 3)
  PROTOLIB_MESSAGE_FIELD(PTZStatus, status, Status, 3, 4)
  PROTOLIB_MESSAGE_FIELD(PTZDataRequest, data_request, DataRequest, 4, 5)
  PROTOLIB_IMPORTED_MESSAGE_FIELD(::tolva::calibration::PTZCameraParameters, calibration,
                                  Calibration, 5, 6)
};

class SESSION_PROTOLIB_API CommandAck : public ::google::protobuf::Message {
  PROTOLIB_MESSAGE(CommandAck)
  PROTOLIB_REPEATED_UINT32(message_ids, MessageIds, 1, 0)
};

class SESSION_PROTOLIB_API LaserOnCommand : public ::google::protobuf::Message {
  PROTOLIB_MESSAGE(LaserOnCommand)
  PROTOLIB_BOOL(laser_on, LaserOn, 1, 0)
};

class SESSION_PROTOLIB_API LaserPointToCommand : public ::google::protobuf::Message {
  PROTOLIB_MESSAGE(LaserPointToCommand)
  PROTOLIB_REPEATED_FLOAT(ray_origin, RayOrigin, 1, 0)
  PROTOLIB_REPEATED_FLOAT(ray_direction, RayDirection, 2, 1)
  PROTOLIB_ENUM(LaserState, state_while_moving, StateWhileMoving, 3, 2)
  PROTOLIB_ENUM(LaserState, state_after_moving, StateAfterMoving, 4, 3)
};

class SESSION_PROTOLIB_API LaserStatus : public ::google::protobuf::Message {
  PROTOLIB_MESSAGE(LaserStatus)
  PROTOLIB_REPEATED_FLOAT(targeted_direction, TargetedDirection, 1, 0)
  PROTOLIB_REPEATED_FLOAT(targeted_point, TargetedPoint, 2, 1)
  PROTOLIB_UINT32(target_message_id, TargetMessageId, 3, 2)
  PROTOLIB_REPEATED_FLOAT(current_direction, CurrentDirection, 4, 3)
  PROTOLIB_REPEATED_FLOAT(laser_center, LaserCenter, 5, 4)
  PROTOLIB_BOOL(state, State, 6, 5)
  PROTOLIB_BOOL(moving, Moving, 7, 6)
  PROTOLIB_BOOL(laser_unavailable, LaserUnavailable, 8, 7)
};

class SESSION_PROTOLIB_API LaserMessage : public ::google::protobuf::Message {
  PROTOLIB_MESSAGE(LaserMessage)
  PROTOLIB_UINT32(message_id, MessageId, 1, 0)
  PROTOLIB_MESSAGE_FIELD(LaserOnCommand, onoff, Onoff, 2, 1)
  PROTOLIB_MESSAGE_FIELD(LaserPointToCommand, point_to, PointTo, 3, 2)
  PROTOLIB_MESSAGE_FIELD(LaserStatus, status, Status, 4, 3)
};

class SESSION_PROTOLIB_API CandyMessage : public ::google::protobuf::Message {
  PROTOLIB_MESSAGE(CandyMessage)
  PROTOLIB_UINT32(message_id, MessageId, 1, 0)
  PROTOLIB_REPEATED_ENUM(CandySlot, active_slots, ActiveSlots, 2, 1)
};

// The drive command: velocities, limits, a time stamp, and any of the
// peripheral requests and messages.
class SESSION_PROTOLIB_API CommandVelocity : public ::google::protobuf::Message {
  PROTOLIB_MESSAGE(CommandVelocity)
  PROTOLIB_FLOAT(linear, Linear, 1, 0)
  PROTOLIB_FLOAT(angular, Angular, 2, 1)
  PROTOLIB_UINT64(velocity_limiter_tag, VelocityLimiterTag, 4, 2)
  PROTOLIB_FLOAT(allowed_linear_distance, AllowedLinearDistance, 5, 3)
  PROTOLIB_FLOAT(allowed_angular_distance, AllowedAngularDistance, 6, 4)
  PROTOLIB_UINT64(send_timestamp_ns, SendTimestampNs, 7, 5)
  PROTOLIB_MESSAGE_FIELD(AutoDockingRequest, autodocking, Autodocking, 8, 6)
  PROTOLIB_MESSAGE_FIELD(CalibrationRequest, calibration, Calibration, 9, 7)
  PROTOLIB_BOOL(override_disabled_driving, OverrideDisabledDriving, 10, 8)
  PROTOLIB_MESSAGE_FIELD(PTZMessage, ptz_message, PtzMessage, 11, 9)
  PROTOLIB_MESSAGE_FIELD(CommandAck, command_ack, CommandAck, 12, 10)
  PROTOLIB_MESSAGE_FIELD(LaserMessage, laser_message, LaserMessage, 13, 11)
  PROTOLIB_MESSAGE_FIELD(CandyMessage, candy_message, CandyMessage, 14, 12)
};

// The messages of the file in declaration order: X(Class, arg) for each.
// velocity.pb.cc defines, lays out and registers them from this list,
// checked against the file's descriptor at compile time.
#define SESSION_VELOCITY_PROTO_MESSAGES(X, arg) \
  X(AutoDockingRequest, arg)                    \
  X(CalibrationRequest, arg)                    \
  X(PTZMoveCommand, arg)                        \
  X(PTZResetCommand, arg)                       \
  X(PTZFocusCommand, arg)                       \
  X(PTZStatus, arg)                             \
  X(PTZDataRequest, arg)                        \
  X(PTZMessage, arg)                            \
  X(CommandAck, arg)                            \
  X(LaserOnCommand, arg)                        \
  X(LaserPointToCommand, arg)                   \
  X(LaserStatus, arg)                           \
  X(LaserMessage, arg)                          \
  X(CandyMessage, arg)                          \
  X(CommandVelocity, arg)
using VelocityProtoMessages = PROTOLIB_MESSAGE_LIST(SESSION_VELOCITY_PROTO_MESSAGES);

#endif  // SESSION_VELOCITY_PB_H_
