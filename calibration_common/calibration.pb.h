// Message class of calibration_common/calibration.proto (package
// tolva.calibration): the calibration of a pan-tilt-zoom camera.
#ifndef CALIBRATION_COMMON_CALIBRATION_PB_H_
#define CALIBRATION_COMMON_CALIBRATION_PB_H_

#include <google/protobuf/generated_message_reflection.h>

#include "protolib/message_decl.h"

// The file's descriptor table, which the tables of files importing it name.
extern CALIBRATION_PROTOLIB_API const ::google::protobuf::internal::DescriptorTable
    descriptor_table_calibration_5fcommon_2fcalibration_2eproto;

namespace tolva {
namespace calibration {

// Registers the schema file with the runtime's generated pool and creates the
// default instance. Runs when the library is loaded; later calls do nothing.
CALIBRATION_PROTOLIB_API void protobuf_AddDesc_calibration_5fcommon_2fcalibration_2eproto();

// Lens intrinsics at the widest zoom and the camera's mounting on the robot.
class CALIBRATION_PROTOLIB_API PTZCameraParameters : public ::google::protobuf::Message {
  PROTOLIB_MESSAGE(PTZCameraParameters)
  PROTOLIB_DOUBLE(focal_length_x, FocalLengthX, 1, 0)
  PROTOLIB_DOUBLE(focal_length_y, FocalLengthY, 2, 1)
  PROTOLIB_DOUBLE(principal_point_x, PrincipalPointX, 3, 2)
  PROTOLIB_DOUBLE(principal_point_y, PrincipalPointY, 4, 3)
  PROTOLIB_REPEATED_FLOAT(distortion, Distortion, 5, 4)
  PROTOLIB_FLOAT(mount_height_m, MountHeightM, 6, 5)
  PROTOLIB_FLOAT(pan_offset_rad, PanOffsetRad, 7, 6)
  PROTOLIB_FLOAT(tilt_offset_rad, TiltOffsetRad, 8, 7)
  PROTOLIB_UINT32(image_width, ImageWidth, 9, 8)
  PROTOLIB_UINT32(image_height, ImageHeight, 10, 9)
  PROTOLIB_STRING(camera_serial, CameraSerial, 11, 10)
};

// The messages of the file in declaration order: X(Class, arg) for each,
// named within the file's namespace. calibration.pb.cc defines, lays out and
// registers them from this list, checked against the file's descriptor at
// compile time.
#define CALIBRATION_COMMON_CALIBRATION_PROTO_MESSAGES(X, arg) X(PTZCameraParameters, arg)
using CalibrationProtoMessages =
    PROTOLIB_MESSAGE_LIST(CALIBRATION_COMMON_CALIBRATION_PROTO_MESSAGES);

}  // namespace calibration
}  // namespace tolva

#endif  // CALIBRATION_COMMON_CALIBRATION_PB_H_
