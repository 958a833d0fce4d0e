#include "tools/schema_loader.h"

namespace protolib {
namespace tools {

namespace pb = google::protobuf;

namespace {
class ErrorCollector : public pb::compiler::MultiFileErrorCollector {
 public:
  void AddError(const std::string& file, int line, int column,
                const std::string& message) override {
    text += file + ":" + std::to_string(line + 1) + ":" + std::to_string(column + 1) +
            ": " + message + "\n";
  }
  std::string text;
};

void StripToCanonical(pb::DescriptorProto* message) {
  for (auto& field : *message->mutable_field()) field.clear_json_name();
  for (auto& nested : *message->mutable_nested_type()) StripToCanonical(&nested);
}
}  // namespace

struct SchemaLoader::Impl {
  pb::compiler::DiskSourceTree tree;
  ErrorCollector errors;
  pb::compiler::Importer importer{&tree, &errors};
};

SchemaLoader::SchemaLoader(const std::string& root) : impl_(new Impl) {
  impl_->tree.MapPath("", root);
}

SchemaLoader::~SchemaLoader() = default;

const pb::FileDescriptor* SchemaLoader::Load(const std::string& file,
                                             std::string* error) {
  impl_->errors.text.clear();
  const pb::FileDescriptor* result = impl_->importer.Import(file);
  if (result == nullptr) *error = impl_->errors.text.empty() ? "cannot load " + file
                                                             : impl_->errors.text;
  return result;
}

const pb::DescriptorPool* SchemaLoader::pool() const {
  return impl_->importer.pool();
}

bool CanonicalDescriptorBytes(const std::string& root, const std::string& file,
                              std::string* bytes, std::string* error) {
  SchemaLoader loader(root);
  const pb::FileDescriptor* descriptor = loader.Load(file, error);
  if (descriptor == nullptr) return false;
  if (descriptor->syntax() != pb::FileDescriptor::SYNTAX_PROTO2) {
    *error = file + ": the message core takes proto2 files only";
    return false;
  }
  pb::FileDescriptorProto proto;
  descriptor->CopyTo(&proto);
  proto.clear_syntax();
  proto.clear_source_code_info();
  for (auto& message : *proto.mutable_message_type()) StripToCanonical(&message);
  return proto.SerializeToString(bytes);
}

}  // namespace tools
}  // namespace protolib
