// Which messages of a stream decode prints: --where conditions on field
// values, all of which must hold.
#ifndef SESSION_PROTO_SELECTION_H_
#define SESSION_PROTO_SELECTION_H_

#include <cstdint>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>

namespace session_proto {

// The fields a dotted path names ("ptz_message.move.pan_target"; schema or
// JSON names), from `type` down. False, with *error, if a name is not a
// field where it stands.
bool ResolveFieldPath(const google::protobuf::Descriptor& type, const std::string& path,
                      std::vector<const google::protobuf::FieldDescriptor*>* fields,
                      std::string* error);

class Selection {
 public:
  // Adds "PATH" (the field is set), "PATH=VALUE", "PATH!=VALUE", "PATH<VALUE",
  // "PATH<=VALUE", "PATH>VALUE", "PATH>=VALUE" (on numbers) or "PATH~REGEX"
  // (on strings and bytes: the expression is found in the value). PATH
  // names fields by schema or JSON name, separated by dots; where it passes
  // a repeated field, any element will do. Integers are decimal; a float or
  // double is compared as the field holds it, and "nan" matches any NaN.
  // False, with *error, when the condition does not fit `type`.
  bool Add(const google::protobuf::Descriptor& type, const std::string& condition,
           std::string* error);

  bool empty() const { return conditions_.empty(); }
  bool Matches(const google::protobuf::Message& message) const;

 private:
  enum class Op { kSet, kEq, kNe, kLt, kLe, kGt, kGe, kFind };
  struct Condition {
    std::vector<const google::protobuf::FieldDescriptor*> path;
    Op op = Op::kSet;
    int64_t int_value = 0;
    uint64_t uint_value = 0;
    double double_value = 0;
    float float_value = 0;
    std::string string_value;
    std::shared_ptr<std::regex> pattern;
  };

  static bool Holds(const Condition& condition, const google::protobuf::Message& message,
                    size_t step);
  static bool Compare(const Condition& condition, const google::protobuf::Message& message,
                      const google::protobuf::FieldDescriptor& field, int index);

  std::vector<Condition> conditions_;
};

}  // namespace session_proto

#endif  // SESSION_PROTO_SELECTION_H_
