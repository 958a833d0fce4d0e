// Which messages of a stream decode prints: --where PATH=VALUE conditions,
// all of which must hold.
#ifndef SESSION_PROTO_SELECTION_H_
#define SESSION_PROTO_SELECTION_H_

#include <cstdint>
#include <string>
#include <vector>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>

namespace session_proto {

class Selection {
 public:
  // Adds "PATH=VALUE" (the field at PATH is set and holds VALUE) or "PATH"
  // (the field is set). PATH names fields by schema or JSON name, separated
  // by dots; where it passes a repeated field, any element will do. False,
  // with *error, when the condition does not fit `type`.
  bool Add(const google::protobuf::Descriptor& type, const std::string& condition,
           std::string* error);

  bool empty() const { return conditions_.empty(); }
  bool Matches(const google::protobuf::Message& message) const;

 private:
  struct Condition {
    std::vector<const google::protobuf::FieldDescriptor*> path;
    bool any_value = true;
    int64_t int_value = 0;
    uint64_t uint_value = 0;
    double double_value = 0;
    std::string string_value;
  };

  static bool Holds(const Condition& condition, const google::protobuf::Message& message,
                    size_t step);
  static bool Equals(const Condition& condition, const google::protobuf::Message& message,
                     const google::protobuf::FieldDescriptor& field, int index);

  std::vector<Condition> conditions_;
};

}  // namespace session_proto

#endif  // SESSION_PROTO_SELECTION_H_
