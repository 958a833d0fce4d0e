// Message classes of tests/schema/extremes.proto, a schema at the extremes
// of what the message core takes, compiled into the tests' own library.
#ifndef TESTS_SCHEMA_EXTREMES_PB_H_
#define TESTS_SCHEMA_EXTREMES_PB_H_

#include "calibration_common/calibration.pb.h"
#include "protolib/message_decl.h"

namespace extremes {

// Registers the schema file; runs when the program starts.
void protobuf_AddDesc_tests_2fschema_2fextremes_2eproto();

enum Choice : int { FIRST = 0, SECOND = 1, LAST = 1000000 };
bool Choice_IsValid(int value);

using ::tolva::calibration::PTZCameraParameters;

class Extremes_Nested : public ::google::protobuf::Message {
  PROTOLIB_MESSAGE(Extremes_Nested)
  PROTOLIB_REQUIRED_INT32(id, Id, 1, 0)
  PROTOLIB_REPEATED_STRING(tags, Tags, 16, 1)
  PROTOLIB_IMPORTED_MESSAGE_FIELD(PTZCameraParameters, camera, Camera, 2048, 2)
  PROTOLIB_REQUIRED_BOOL(flag, Flag, 536870911, 3)
};

class Extremes : public ::google::protobuf::Message {
  PROTOLIB_MESSAGE(Extremes, 2)
  PROTOLIB_UINT64(u64, U64, 1, 0)
  PROTOLIB_UINT32(u32, U32, 16, 1)
  PROTOLIB_INT32(i32, I32, 2047, 2)
  PROTOLIB_BOOL(b, B, 2048, 3)
  PROTOLIB_FLOAT(f, F, 262143, 4)
  PROTOLIB_DOUBLE(d, D, 262144, 5)
  PROTOLIB_FIXED32(fx, Fx, 536870911, 6)
  PROTOLIB_ENUM(Choice, e, E, 15, 7)
  PROTOLIB_STRING(s, S, 33554431, 8)
  PROTOLIB_BYTES(by, By, 33554432, 9)
  PROTOLIB_MESSAGE_FIELD(Extremes_Nested, nested, Nested, 2, 10)
  PROTOLIB_IMPORTED_MESSAGE_FIELD(PTZCameraParameters, imported, Imported, 100000, 11)
  PROTOLIB_REPEATED_UINT64(r_u64, RU64, 3, 12)
  PROTOLIB_REPEATED_UINT32(r_u32, RU32, 4, 13)
  PROTOLIB_REPEATED_INT32(r_i32, RI32, 5, 14)
  PROTOLIB_REPEATED_BOOL(r_b, RB, 6, 15)
  PROTOLIB_REPEATED_FLOAT(r_f, RF, 7, 16)
  PROTOLIB_REPEATED_DOUBLE(r_d, RD, 8, 17)
  PROTOLIB_REPEATED_FIXED32(r_fx, RFx, 9, 18)
  PROTOLIB_REPEATED_ENUM(Choice, r_e, RE, 10, 19)
  PROTOLIB_REPEATED_STRING(r_s, RS, 11, 20)
  PROTOLIB_REPEATED_BYTES(r_by, RBy, 12, 21)
  PROTOLIB_REPEATED_MESSAGE(Extremes_Nested, r_nested, RNested, 13, 22)
  PROTOLIB_REPEATED_IMPORTED_MESSAGE(PTZCameraParameters, r_imported, RImported, 14, 23)
  PROTOLIB_REPEATED_UINT64(far_u64, FarU64, 17, 24)
  PROTOLIB_REPEATED_UINT32(far_u32, FarU32, 300000, 25)
  PROTOLIB_REPEATED_INT32(far_i32, FarI32, 20000, 26)
  PROTOLIB_REPEATED_BOOL(far_b, FarB, 18999, 27)
  PROTOLIB_REPEATED_FLOAT(far_f, FarF, 40000, 28)
  PROTOLIB_REPEATED_DOUBLE(far_d, FarD, 536870910, 29)
  PROTOLIB_REPEATED_FIXED32(far_fx, FarFx, 50000000, 30)
  PROTOLIB_REPEATED_ENUM(Choice, far_e, FarE, 2049, 31)
  PROTOLIB_REPEATED_STRING(far_s, FarS, 1000, 32)
  PROTOLIB_REPEATED_BYTES(far_by, FarBy, 123456789, 33)
  PROTOLIB_REPEATED_MESSAGE(Extremes_Nested, far_nested, FarNested, 4000, 34)
  PROTOLIB_REPEATED_IMPORTED_MESSAGE(PTZCameraParameters, far_imported, FarImported, 5000, 35)
  PROTOLIB_REQUIRED_UINT32(req_u32, ReqU32, 18, 36)
  PROTOLIB_REQUIRED_ENUM(Choice, req_e, ReqE, 19, 37)
  PROTOLIB_REQUIRED_STRING(req_s, ReqS, 20, 38)
  PROTOLIB_REQUIRED_MESSAGE_FIELD(Extremes_Nested, req_nested, ReqNested, 21, 39)
  PROTOLIB_FLOAT(last, Last, 22, 40)
};

#define TESTS_SCHEMA_EXTREMES_PROTO_MESSAGES(X, arg) X(Extremes, arg) X(Extremes_Nested, arg)
using ExtremesProtoMessages = PROTOLIB_MESSAGE_LIST(TESTS_SCHEMA_EXTREMES_PROTO_MESSAGES);

}  // namespace extremes

#endif  // TESTS_SCHEMA_EXTREMES_PB_H_
