// Message classes of session/commander_private/commander.proto. The family
// behaviour is protolib/message_impl.h's; the classes' fields are their
// header's; this file gives the file's registration data and defines the
// classes of the header's list.
#include "session/commander_private/commander.pb.h"

#include "protolib/message_impl.h"

namespace {

namespace pl = ::protolib::internal;

// The file's FileDescriptorProto as the runtime serializes it, printed by
// tools/descriptor_literal.cc (built as descriptor_literal):
//   descriptor_literal . session/commander_private/commander.proto
constexpr char kDescriptor[] =
    "\012)session/commander_private/commander.proto\0428\012\015CommandHe"
    "ader\022\014\012\004time\030\001 \001(\004\022\013\012\003seq\030\002"
    " \001(\015\022\014\012\004type\030\003 \001(\015\042\344\001\012\017"
    "PropertyChanged\022\030\012\020last_change_time\030\001 \001(\004\022"
    "\026\012\016last_change_id\030\010 \001(\005\022\013\012\003ack\030\002"
    " \001(\010\022\014\012\004path\030\003 \001(\011\022\015\012\005valu"
    "e\030\004 \001(\014\022)\012\010metadata\030\005 \003(\0132\027.Prop"
    "ertyChanged.KVPair\022\021\012\011authority\030\006 \001(\010\022\021"
    "\012\011path_hash\030\007 \001(\007\032$\012\006KVPair\022\013\012\003"
    "key\030\001 \002(\011\022\015\012\005value\030\002 \002(\014\042g\012"
    "\030MultiPropertyChangedData\022$\012\012properties\030\001 \003(\013"
    "2\020.PropertyChanged\022\025\012\015change_set_id\030\002 \001(\005"
    "\022\016\012\006ack_id\030\003 \001(\005\042\134\012\024MultiPropert"
    "yChanged\022)\012\006change\030\001 \001(\0132\031.MultiPropertyChan"
    "gedData\022\031\012\021compressed_change\030\002 \001(\014\042&\012\004"
    "Ping\022\014\012\004time\030\001 \001(\004\022\020\012\010is_reply\030"
    "\002 \001(\010";

struct CommanderFile : pl::SchemaFile<CommanderProtoMessages, kDescriptor> {
  static constexpr const char* kUnit = "session/commander_private/commander.pb.cc";
  // Reports a message of the file merged into itself.
  [[noreturn]] static void SelfMergeFailed(int line) {
    pl::SelfMergeFailed(kUnit, __LINE__, line);
  }
  static const ::google::protobuf::internal::DescriptorTable table;
  static void RegisterDependencies() {}
};
const ::google::protobuf::internal::DescriptorTable CommanderFile::table =
    PROTOLIB_DESCRIPTOR_TABLE(CommanderFile, "session/commander_private/commander.proto",
                              nullptr, 0, nullptr);

}  // namespace

void protobuf_AddDesc_session_2fcommander_5fprivate_2fcommander_2eproto() {
  pl::FileFrame<CommanderFile>::Register();
}

SESSION_COMMANDER_PRIVATE_COMMANDER_PROTO_MESSAGES(PROTOLIB_DEFINE_MESSAGE, CommanderFile)
// The merges from a google::protobuf::Message, on a line of their own.
SESSION_COMMANDER_PRIVATE_COMMANDER_PROTO_MESSAGES(PROTOLIB_DEFINE_GENERIC_MERGE, CommanderFile)
