// session-proto types and session-proto schema.
#include <algorithm>

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

}  // namespace session_proto
