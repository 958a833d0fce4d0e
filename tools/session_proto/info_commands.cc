// session-proto types and session-proto schema.
#include <algorithm>
#include <set>

#include <google/protobuf/descriptor.pb.h>

#include "tools/session_proto/commands.h"
#include "tools/session_proto/type_catalog.h"

namespace session_proto {

int RunTypes(Streams io) {
  for (const auto* file : SchemaFiles()) {
    io.out << file->name() << "\n";
    size_t width = 0;
    for (const auto* type : MessageTypes(*file)) width = std::max(width, type->full_name().size());
    for (const auto* type : MessageTypes(*file)) {
      const std::string& name = type->full_name();
      io.out << "  " << name << std::string(width - name.size() + 2, ' ') << Describe(*type)
             << "\n";
    }
  }
  return kExitOk;
}

int RunSchema(const google::protobuf::Descriptor& type, Streams io) {
  io.out << SchemaText(type);
  return kExitOk;
}

namespace {

// Adds `file` to `set` after its imports, each file once.
void AddWithImports(const google::protobuf::FileDescriptor& file,
                    std::set<const google::protobuf::FileDescriptor*>* added,
                    google::protobuf::FileDescriptorSet* set) {
  if (!added->insert(&file).second) return;
  for (int i = 0; i < file.dependency_count(); ++i) AddWithImports(*file.dependency(i), added, set);
  google::protobuf::FileDescriptorProto* proto = set->add_file();
  file.CopyTo(proto);
}

}  // namespace

int RunDescriptorSet(const google::protobuf::Descriptor* type, Streams io) {
  google::protobuf::FileDescriptorSet set;
  std::set<const google::protobuf::FileDescriptor*> added;
  if (type != nullptr) {
    AddWithImports(*type->file(), &added, &set);
  } else {
    for (const auto* file : SchemaFiles()) AddWithImports(*file, &added, &set);
  }
  io.out << set.SerializeAsString();
  return kExitOk;
}

}  // namespace session_proto
