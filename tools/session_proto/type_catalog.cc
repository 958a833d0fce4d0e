#include "tools/session_proto/type_catalog.h"

#include <algorithm>
#include <cctype>
#include <map>

#include <google/protobuf/descriptor.pb.h>
#include <google/protobuf/stubs/strutil.h>

#include "calibration_common/calibration.pb.h"
#include "session/commander_private/commander.pb.h"
#include "session/velocity.pb.h"

namespace session_proto {
namespace {

using google::protobuf::Descriptor;
using google::protobuf::DescriptorPool;
using google::protobuf::EnumDescriptor;
using google::protobuf::FieldDescriptor;
using google::protobuf::FileDescriptor;

const char* const kSchemaFileNames[] = {
    "session/commander_private/commander.proto",
    "session/velocity.proto",
    "calibration_common/calibration.proto",
};

// One line on each message class of the libraries, whose lists the table is
// built from: a class without one fails to compile.
template <class C>
struct MissingDescription {
  static_assert(sizeof(C) == 0,
                "every message class of the libraries needs its line in type_catalog.cc");
};
template <class C>
constexpr const char* kDescription = MissingDescription<C>::kText;
#define SESSION_PROTO_DESCRIBE(C, text) \
  template <>                           \
  constexpr const char* kDescription<C> = text;
SESSION_PROTO_DESCRIBE(CommandHeader, "Time, sequence number and type of a command.")
SESSION_PROTO_DESCRIBE(PropertyChanged, "A property's new value at a path, with metadata.")
SESSION_PROTO_DESCRIBE(PropertyChanged_KVPair, "A metadata entry of a property change.")
SESSION_PROTO_DESCRIBE(MultiPropertyChangedData,
                       "A change set: the changed properties and its ids.")
SESSION_PROTO_DESCRIBE(MultiPropertyChanged, "A change set as sent, plain or compressed.")
SESSION_PROTO_DESCRIBE(Ping, "A keep-alive ping or its reply.")
SESSION_PROTO_DESCRIBE(AutoDockingRequest, "Request to dock at a docking station.")
SESSION_PROTO_DESCRIBE(CalibrationRequest, "Request to calibrate the gyroscope and cameras.")
SESSION_PROTO_DESCRIBE(PTZMoveCommand, "Pan, tilt and zoom targets and speeds.")
SESSION_PROTO_DESCRIBE(PTZResetCommand, "Request to reset pan, tilt and zoom.")
SESSION_PROTO_DESCRIBE(PTZFocusCommand, "Autofocus or a fixed focus value.")
SESSION_PROTO_DESCRIBE(PTZStatus, "Camera head position, focus and power state.")
SESSION_PROTO_DESCRIBE(PTZDataRequest, "Request for the camera's calibration.")
SESSION_PROTO_DESCRIBE(PTZMessage, "Camera command, status or calibration.")
SESSION_PROTO_DESCRIBE(CommandAck, "Acknowledges commands by message id.")
SESSION_PROTO_DESCRIBE(LaserOnCommand, "Switches the laser pointer on or off.")
SESSION_PROTO_DESCRIBE(LaserPointToCommand, "Points the laser along a ray.")
SESSION_PROTO_DESCRIBE(LaserStatus, "Laser pointer target, direction and state.")
SESSION_PROTO_DESCRIBE(LaserMessage, "Laser pointer command or status.")
SESSION_PROTO_DESCRIBE(CandyMessage, "Which candy slots are active.")
SESSION_PROTO_DESCRIBE(CommandVelocity, "The drive command: velocities, time, peripherals.")
SESSION_PROTO_DESCRIBE(tolva::calibration::PTZCameraParameters,
                       "Lens intrinsics and mounting of a PTZ camera.")
#undef SESSION_PROTO_DESCRIBE

template <class... C>
void AddDescriptions(protolib::MessageList<C...>, std::map<std::string, std::string>* out) {
  (((*out)[C::descriptor()->full_name()] = kDescription<C>), ...);
}

const std::map<std::string, std::string>& Descriptions() {
  static const auto* descriptions = [] {
    auto* table = new std::map<std::string, std::string>;
    AddDescriptions(CommanderProtoMessages{}, table);
    AddDescriptions(VelocityProtoMessages{}, table);
    AddDescriptions(tolva::calibration::CalibrationProtoMessages{}, table);
    return table;
  }();
  return *descriptions;
}

void AddWithNested(const Descriptor* type, std::vector<const Descriptor*>* out) {
  out->push_back(type);
  for (int i = 0; i < type->nested_type_count(); ++i) AddWithNested(type->nested_type(i), out);
}

// The name the C++ class has within its namespace: PropertyChanged_KVPair.
std::string ClassName(const Descriptor& type) {
  const std::string& package = type.file()->package();
  std::string name = type.full_name().substr(package.empty() ? 0 : package.size() + 1);
  std::replace(name.begin(), name.end(), '.', '_');
  return name;
}

bool AnswersTo(const Descriptor& type, const std::string& name) {
  const std::string& full = type.full_name();
  return full == name || ClassName(type) == name ||
         (full.size() > name.size() && full.compare(full.size() - name.size(), name.size(), name) == 0 &&
          full[full.size() - name.size() - 1] == '.');
}

std::vector<const Descriptor*> AllTypes() {
  std::vector<const Descriptor*> all;
  for (const FileDescriptor* file : SchemaFiles()) {
    for (const Descriptor* type : MessageTypes(*file)) all.push_back(type);
  }
  return all;
}

// A type's name as written in its file (relative to the file's package).
std::string TypeReference(const std::string& full_name, const FileDescriptor& file) {
  const std::string& package = file.package();
  if (!package.empty() && full_name.compare(0, package.size() + 1, package + ".") == 0) {
    return full_name.substr(package.size() + 1);
  }
  return full_name;
}

std::string FieldLine(const FieldDescriptor& field) {
  std::string type;
  if (field.message_type() != nullptr) {
    type = TypeReference(field.message_type()->full_name(), *field.file());
  } else if (field.enum_type() != nullptr) {
    type = TypeReference(field.enum_type()->full_name(), *field.file());
  } else {
    type = field.type_name();
  }
  const char* label = field.is_required() ? "required" : field.is_repeated() ? "repeated" : "optional";
  std::string line = std::string(label) + " " + type + " " + field.name() + " = " +
                     std::to_string(field.number());
  google::protobuf::FieldDescriptorProto declared;
  field.CopyTo(&declared);
  std::vector<std::string> options;
  if (declared.has_default_value()) {
    std::string value = declared.default_value();  // bytes come escaped already
    if (field.type() == FieldDescriptor::TYPE_STRING) value = google::protobuf::CEscape(value);
    if (field.cpp_type() == FieldDescriptor::CPPTYPE_STRING) value = "\"" + value + "\"";
    options.push_back("default = " + value);
  }
  if (declared.options().packed()) options.push_back("packed = true");
  for (size_t i = 0; i < options.size(); ++i) line += (i ? ", " : " [") + options[i];
  return line + (options.empty() ? ";" : "];");
}

std::string Indent(int level) { return std::string(2 * static_cast<size_t>(level), ' '); }

void AppendEnum(const EnumDescriptor& type, int level, std::string* out) {
  *out += Indent(level) + "enum " + type.name() + " {\n";
  for (int i = 0; i < type.value_count(); ++i) {
    *out += Indent(level + 1) + type.value(i)->name() + " = " +
            std::to_string(type.value(i)->number()) + ";\n";
  }
  *out += Indent(level) + "}\n";
}

void AppendMessage(const Descriptor& type, int level, std::string* out) {
  *out += Indent(level) + "message " + type.name() + " {\n";
  for (int i = 0; i < type.enum_type_count(); ++i) AppendEnum(*type.enum_type(i), level + 1, out);
  for (int i = 0; i < type.nested_type_count(); ++i) {
    AppendMessage(*type.nested_type(i), level + 1, out);
  }
  for (int i = 0; i < type.field_count(); ++i) {
    *out += Indent(level + 1) + FieldLine(*type.field(i)) + "\n";
  }
  *out += Indent(level) + "}\n";
}

bool IsWithin(const Descriptor* inner, const Descriptor& outer) {
  for (; inner != nullptr; inner = inner->containing_type()) {
    if (inner == &outer) return true;
  }
  return false;
}

// The enumerations that fields of `type` (or of its nested types) use and
// that are declared outside it, in order of first use.
void CollectOutsideEnums(const Descriptor& type, const Descriptor& outer,
                         std::vector<const EnumDescriptor*>* out) {
  for (int i = 0; i < type.field_count(); ++i) {
    const EnumDescriptor* used = type.field(i)->enum_type();
    if (used != nullptr && !IsWithin(used->containing_type(), outer) &&
        std::find(out->begin(), out->end(), used) == out->end()) {
      out->push_back(used);
    }
  }
  for (int i = 0; i < type.nested_type_count(); ++i) {
    CollectOutsideEnums(*type.nested_type(i), outer, out);
  }
}

// Edits (insertions, deletions, substitutions) that turn `a` into `b`.
size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      size_t above = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
      diagonal = above;
    }
  }
  return row[b.size()];
}

std::string Lower(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// "; did you mean CommandVelocity?" for a slip of the keyboard, or the
// types whose names begin with what was typed.
std::string Suggestion(const std::string& wanted) {
  for (const Descriptor* type : AllTypes()) {
    for (const std::string* name : {&type->name(), &type->full_name()}) {
      if (EditDistance(wanted, *name) <= 2) return "; did you mean " + type->full_name() + "?";
    }
  }
  std::vector<std::string> begun;
  for (const Descriptor* type : AllTypes()) {
    if (!wanted.empty() && Lower(type->name()).compare(0, wanted.size(), Lower(wanted)) == 0) {
      begun.push_back(type->full_name());
    }
  }
  if (begun.empty()) return "";
  std::string text = "; did you mean ";
  for (size_t i = 0; i < begun.size(); ++i) {
    text += (i == 0 ? "" : i + 1 == begun.size() ? " or " : ", ") + begun[i];
  }
  return text + "?";
}

void AppendFileHeader(const FileDescriptor& file, std::string* out) {
  *out += "syntax = \"" + std::string(FileDescriptor::SyntaxName(file.syntax())) + "\";\n";
  if (!file.package().empty()) *out += "package " + file.package() + ";\n";
}

}  // namespace

const std::vector<const FileDescriptor*>& SchemaFiles() {
  static const auto* files = [] {
    auto* found = new std::vector<const FileDescriptor*>;
    for (const char* name : kSchemaFileNames) {
      if (const FileDescriptor* file = DescriptorPool::generated_pool()->FindFileByName(name)) {
        found->push_back(file);
      }
    }
    return found;
  }();
  return *files;
}

std::vector<const Descriptor*> MessageTypes(const FileDescriptor& file) {
  std::vector<const Descriptor*> types;
  for (int i = 0; i < file.message_type_count(); ++i) AddWithNested(file.message_type(i), &types);
  return types;
}

const Descriptor* FindMessageType(const std::string& name, std::string* error) {
  std::string wanted = name;
  for (size_t at; (at = wanted.find("::")) != std::string::npos;) wanted.replace(at, 2, ".");
  if (!wanted.empty() && wanted[0] == '.') wanted.erase(0, 1);
  std::vector<const Descriptor*> matches;
  for (const Descriptor* type : AllTypes()) {
    if (type->full_name() == wanted) return type;
    if (AnswersTo(*type, wanted)) matches.push_back(type);
  }
  if (matches.size() == 1) return matches[0];
  if (matches.empty()) {
    *error = "unknown message type '" + name + "'" + Suggestion(wanted) +
             " (session-proto types lists them)";
  } else {
    *error = "message type '" + name + "' is ambiguous:";
    for (const Descriptor* type : matches) *error += " " + type->full_name();
  }
  return nullptr;
}

std::string Describe(const Descriptor& type) {
  auto found = Descriptions().find(type.full_name());
  return found != Descriptions().end() ? found->second : "(no description)";
}

std::string SchemaText(const Descriptor& type) {
  const FileDescriptor& file = *type.file();
  std::string out = "// " + type.full_name() + ": " + Describe(type) + "\n";
  out += "// from " + file.name() + "\n";
  AppendFileHeader(file, &out);
  out += "\n";
  AppendMessage(type, 0, &out);
  std::vector<const EnumDescriptor*> enums;
  CollectOutsideEnums(type, type, &enums);
  for (const EnumDescriptor* used : enums) {
    out += "\n";
    AppendEnum(*used, 0, &out);
  }
  return out;
}

std::string ClosestName(const std::string& wanted, const std::vector<std::string>& names) {
  for (const std::string& name : names) {
    if (EditDistance(wanted, name) <= 2) return name;
  }
  return "";
}

const EnumDescriptor* FindEnumType(const std::string& name) {
  for (const FileDescriptor* file : SchemaFiles()) {
    for (int i = 0; i < file->enum_type_count(); ++i) {
      const EnumDescriptor* type = file->enum_type(i);
      if (type->full_name() == name || type->name() == name) return type;
    }
    for (const Descriptor* message : MessageTypes(*file)) {
      for (int i = 0; i < message->enum_type_count(); ++i) {
        const EnumDescriptor* type = message->enum_type(i);
        if (type->full_name() == name || type->name() == name) return type;
      }
    }
  }
  return nullptr;
}

std::string EnumSchemaText(const EnumDescriptor& type) {
  std::string out = "// " + type.full_name() + "\n// from " + type.file()->name() + "\n";
  AppendFileHeader(*type.file(), &out);
  out += "\n";
  AppendEnum(type, 0, &out);
  return out;
}

std::string FileSchemaText(const FileDescriptor& file) {
  std::string out = "// " + file.name() + "\n";
  AppendFileHeader(file, &out);
  for (int i = 0; i < file.dependency_count(); ++i) {
    out += (i == 0 ? "\n" : "") + std::string("import \"") + file.dependency(i)->name() + "\";\n";
  }
  for (int i = 0; i < file.message_type_count(); ++i) {
    out += "\n";
    AppendMessage(*file.message_type(i), 0, &out);
  }
  for (int i = 0; i < file.enum_type_count(); ++i) {
    out += "\n";
    AppendEnum(*file.enum_type(i), 0, &out);
  }
  return out;
}

}  // namespace session_proto
