// Loads schema files from a source tree with the runtime's own parser and
// descriptor pool, independently of any registered message classes.
#ifndef PROTOLIB_TOOLS_SCHEMA_LOADER_H_
#define PROTOLIB_TOOLS_SCHEMA_LOADER_H_

#include <memory>
#include <string>

#include <google/protobuf/compiler/importer.h>
#include <google/protobuf/descriptor.pb.h>

namespace protolib {
namespace tools {

// An importer over the directory `root` that collects parse errors as text.
class SchemaLoader {
 public:
  explicit SchemaLoader(const std::string& root);
  ~SchemaLoader();
  // The file's descriptor in the loader's own pool, or null with *error set.
  const google::protobuf::FileDescriptor* Load(const std::string& file,
                                               std::string* error);
  const google::protobuf::DescriptorPool* pool() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// The descriptor of `file` as the message libraries embed it: the runtime's
// FileDescriptorProto of the file without JSON names, syntax or source
// information, serialized by the runtime.
bool CanonicalDescriptorBytes(const std::string& root, const std::string& file,
                              std::string* bytes, std::string* error);

}  // namespace tools
}  // namespace protolib

#endif  // PROTOLIB_TOOLS_SCHEMA_LOADER_H_
