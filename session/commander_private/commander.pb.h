// Message classes of session/commander_private/commander.proto: the messages
// with which the two ends of a commander session keep a shared set of named
// properties in step, plus a command header and a ping.
#ifndef SESSION_COMMANDER_PRIVATE_COMMANDER_PB_H_
#define SESSION_COMMANDER_PRIVATE_COMMANDER_PB_H_

#include "protolib/message_decl.h"

// Registers the schema file with the runtime's generated pool and creates the
// default instances. Runs when the library is loaded; later calls do nothing.
SESSION_PROTOLIB_API void protobuf_AddDesc_session_2fcommander_5fprivate_2fcommander_2eproto();

class SESSION_PROTOLIB_API CommandHeader : public ::google::protobuf::Message {
  PROTOLIB_MESSAGE(CommandHeader)
  PROTOLIB_UINT64(time, Time, 1, 0)
  PROTOLIB_UINT32(seq, Seq, 2, 1)
  PROTOLIB_UINT32(type, Type, 3, 2)
};

// PropertyChanged.KVPair: one key/value annotation of a property.
class SESSION_PROTOLIB_API PropertyChanged_KVPair : public ::google::protobuf::Message {
  PROTOLIB_MESSAGE(PropertyChanged_KVPair)
  PROTOLIB_REQUIRED_STRING(key, Key, 1, 0)
  PROTOLIB_REQUIRED_BYTES(value, Value, 2, 1)
};

// One changed property: its path, its new value and annotations.
class SESSION_PROTOLIB_API PropertyChanged : public ::google::protobuf::Message {
  PROTOLIB_MESSAGE(PropertyChanged)
  PROTOLIB_UINT64(last_change_time, LastChangeTime, 1, 0)
  PROTOLIB_INT32(last_change_id, LastChangeId, 8, 1)
  PROTOLIB_BOOL(ack, Ack, 2, 2)
  PROTOLIB_STRING(path, Path, 3, 3)
  PROTOLIB_BYTES(value, Value, 4, 4)
  PROTOLIB_REPEATED_MESSAGE(PropertyChanged_KVPair, metadata, Metadata, 5, 5)
  PROTOLIB_BOOL(authority, Authority, 6, 6)
  PROTOLIB_FIXED32(path_hash, PathHash, 7, 7)
};

// A change set: several property changes with its identifiers.
class SESSION_PROTOLIB_API MultiPropertyChangedData : public ::google::protobuf::Message {
  PROTOLIB_MESSAGE(MultiPropertyChangedData)
  PROTOLIB_REPEATED_MESSAGE(PropertyChanged, properties, Properties, 1, 0)
  PROTOLIB_INT32(change_set_id, ChangeSetId, 2, 1)
  PROTOLIB_INT32(ack_id, AckId, 3, 2)
};

// One change set, as a message or as opaque (compressed) bytes, or both.
class SESSION_PROTOLIB_API MultiPropertyChanged : public ::google::protobuf::Message {
  PROTOLIB_MESSAGE(MultiPropertyChanged)
  PROTOLIB_MESSAGE_FIELD(MultiPropertyChangedData, change, Change, 1, 0)
  PROTOLIB_BYTES(compressed_change, CompressedChange, 2, 1)
};

// A heartbeat and its reply.
class SESSION_PROTOLIB_API Ping : public ::google::protobuf::Message {
  PROTOLIB_MESSAGE(Ping)
  PROTOLIB_UINT64(time, Time, 1, 0)
  PROTOLIB_BOOL(is_reply, IsReply, 2, 1)
};

// The messages of the file in declaration order, a nested message right
// after its container: X(Class, arg) for each. commander.pb.cc defines, lays
// out and registers them from this list, checked against the file's
// descriptor at compile time.
#define SESSION_COMMANDER_PRIVATE_COMMANDER_PROTO_MESSAGES(X, arg) \
  X(CommandHeader, arg)                                            \
  X(PropertyChanged, arg)                                          \
  X(PropertyChanged_KVPair, arg)                                   \
  X(MultiPropertyChangedData, arg)                                 \
  X(MultiPropertyChanged, arg)                                     \
  X(Ping, arg)
using CommanderProtoMessages =
    PROTOLIB_MESSAGE_LIST(SESSION_COMMANDER_PRIVATE_COMMANDER_PROTO_MESSAGES);

#endif  // SESSION_COMMANDER_PRIVATE_COMMANDER_PB_H_
