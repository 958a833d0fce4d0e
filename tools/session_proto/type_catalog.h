// The message types the libraries register, found by the names a person
// types, each with a line saying what it is, and its schema in .proto form.
#ifndef SESSION_PROTO_TYPE_CATALOG_H_
#define SESSION_PROTO_TYPE_CATALOG_H_

#include <string>
#include <vector>

#include <google/protobuf/descriptor.h>

namespace session_proto {

// The schema files, in the order the tool lists them.
const std::vector<const google::protobuf::FileDescriptor*>& SchemaFiles();

// Every message type of a file, nested ones after their parent.
std::vector<const google::protobuf::Descriptor*> MessageTypes(
    const google::protobuf::FileDescriptor& file);

// Finds a type by its full name ("PropertyChanged.KVPair",
// "tolva.calibration.PTZCameraParameters") or, when only one type answers
// to it, by a shorter name: a trailing part of the full name ("KVPair",
// "PTZCameraParameters") or the class-style name ("PropertyChanged_KVPair",
// "tolva::calibration::PTZCameraParameters"). Null if none or several
// answer; *error then says which.
const google::protobuf::Descriptor* FindMessageType(const std::string& name,
                                                    std::string* error);

// One line on what the type is for.
std::string Describe(const google::protobuf::Descriptor& type);

// The type in .proto form: its file, its declaration (nested types
// included) and the enumerations its fields use.
std::string SchemaText(const google::protobuf::Descriptor& type);

// An enumeration of the schema files, by full or short name; null if none.
const google::protobuf::EnumDescriptor* FindEnumType(const std::string& name);

// An enumeration in .proto form, with its file.
std::string EnumSchemaText(const google::protobuf::EnumDescriptor& type);

// A schema file in .proto form, whole: its messages and enumerations.
std::string FileSchemaText(const google::protobuf::FileDescriptor& file);

// The name within two edits of `wanted` (a slip of the keyboard), or "".
std::string ClosestName(const std::string& wanted, const std::vector<std::string>& names);

}  // namespace session_proto

#endif  // SESSION_PROTO_TYPE_CATALOG_H_
