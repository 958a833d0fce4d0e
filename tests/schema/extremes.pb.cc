// Message classes of tests/schema/extremes.proto: the file's registration
// data and the definitions of the header's list, as the libraries' class
// files give them.
#include "tests/schema/extremes.pb.h"

#include "protolib/message_impl.h"

using namespace ::extremes;  // the list's names

bool extremes::Choice_IsValid(int value) { return value == 0 || value == 1 || value == 1000000; }

namespace {

namespace pl = ::protolib::internal;

// Printed by descriptor_literal . tests/schema/extremes.proto
constexpr char kDescriptor[] =
    "\012\033tests/schema/extremes.proto\022\010extremes\032$calibration_"
    "common/calibration.proto\042\256\010\012\010Extremes\022\013\012\003"
    "u64\030\001 \001(\004\022\013\012\003u32\030\020 \001(\015\022\014\012"
    "\003i32\030\377\017 \001(\005\022\012\012\001b\030\200\020 \001(\010"
    "\022\013\012\001f\030\377\377\017 \001(\002\022\013\012\001d\030\200"
    "\200\020 \001(\001\022\016\012\002fx\030\377\377\377\377\001 \001(\007"
    "\022\033\012\001e\030\017 \001(\0162\020.extremes.Choice\022\014\012"
    "\001s\030\377\377\377\017 \001(\011\022\015\012\002by\030\200\200\200"
    "\020 \001(\014\022)\012\006nested\030\002 \001(\0132\031.extremes.Ex"
    "tremes.Nested\022:\012\010imported\030\240\215\006 \001(\0132&.tolva"
    ".calibration.PTZCameraParameters\022\015\012\005r_u64\030\003 \003(\004"
    "\022\015\012\005r_u32\030\004 \003(\015\022\015\012\005r_i32\030\005"
    " \003(\005\022\013\012\003r_b\030\006 \003(\010\022\013\012\003r_f\030"
    "\007 \003(\002\022\013\012\003r_d\030\010 \003(\001\022\014\012\004r"
    "_fx\030\011 \003(\007\022\035\012\003r_e\030\012 \003(\0162\020.extr"
    "emes.Choice\022\013\012\003r_s\030\013 \003(\011\022\014\012\004r_by"
    "\030\014 \003(\014\022+\012\010r_nested\030\015 \003(\0132\031.extre"
    "mes.Extremes.Nested\022:\012\012r_imported\030\016 \003(\0132&.tolva"
    ".calibration.PTZCameraParameters\022\017\012\007far_u64\030\021 \003"
    "(\004\022\021\012\007far_u32\030\340\247\022 \003(\015\022\021\012\007"
    "far_i32\030\240\234\001 \003(\005\022\017\012\005far_b\030\267\224\001"
    " \003(\010\022\017\012\005far_f\030\300\270\002 \003(\002\022\021\012"
    "\005far_d\030\376\377\377\377\001 \003(\001\022\021\012\006far_fx\030"
    "\200\341\353\027 \003(\007\022 \012\005far_e\030\201\020 \003(\0162\020"
    ".extremes.Choice\022\016\012\005far_s\030\350\007 \003(\011\022\021\012"
    "\006far_by\030\225\232\357: \003(\014\022.\012\012far_nested\030\240"
    "\037 \003(\0132\031.extremes.Extremes.Nested\022=\012\014far_importe"
    "d\030\210' \003(\0132&.tolva.calibration.PTZCameraParameters\022\017"
    "\012\007req_u32\030\022 \002(\015\022\037\012\005req_e\030\023 \002("
    "\0162\020.extremes.Choice\022\015\012\005req_s\030\024 \002(\011\022"
    "-\012\012req_nested\030\025 \002(\0132\031.extremes.Extremes.Nested\022"
    "\014\012\004last\030\026 \001(\002\032m\012\006Nested\022\012\012\002"
    "id\030\001 \002(\005\022\014\012\004tags\030\020 \003(\011\0227\012\006"
    "camera\030\200\020 \001(\0132&.tolva.calibration.PTZCameraParameters"
    "\022\020\012\004flag\030\377\377\377\377\001 \002(\010*+\012\006Choi"
    "ce\022\011\012\005FIRST\020\000\022\012\012\006SECOND\020\001\022\012"
    "\012\004LAST\020\300\204=";

const ::google::protobuf::EnumDescriptor* enum_descriptors[1] = {};
const ::google::protobuf::internal::DescriptorTable* imports[1] = {};

struct ExtremesFile : pl::SchemaFile<ExtremesProtoMessages, kDescriptor> {
  static constexpr const char* kUnit = "tests/schema/extremes.pb.cc";
  [[noreturn]] static void SelfMergeFailed(int line) {
    pl::SelfMergeFailed(kUnit, __LINE__, line);
  }
  static const ::google::protobuf::internal::DescriptorTable table;
  static void RegisterDependencies() {
    ::tolva::calibration::protobuf_AddDesc_calibration_5fcommon_2fcalibration_2eproto();
    imports[0] = &descriptor_table_calibration_5fcommon_2fcalibration_2eproto;
  }
};
const ::google::protobuf::internal::DescriptorTable ExtremesFile::table = PROTOLIB_DESCRIPTOR_TABLE(
    ExtremesFile, "tests/schema/extremes.proto", imports, 1, enum_descriptors);

const bool registered_at_load = (protobuf_AddDesc_tests_2fschema_2fextremes_2eproto(), true);

}  // namespace

void extremes::protobuf_AddDesc_tests_2fschema_2fextremes_2eproto() {
  pl::FileFrame<ExtremesFile>::Register();
}

TESTS_SCHEMA_EXTREMES_PROTO_MESSAGES(PROTOLIB_DEFINE_MESSAGE, ExtremesFile)
TESTS_SCHEMA_EXTREMES_PROTO_MESSAGES(PROTOLIB_DEFINE_GENERIC_MERGE, ExtremesFile)
