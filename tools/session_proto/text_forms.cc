#include "tools/session_proto/text_forms.h"

#include <map>
#include <memory>
#include <mutex>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/io/tokenizer.h>
#include <google/protobuf/text_format.h>
#include <google/protobuf/type.pb.h>
#include <google/protobuf/util/json_util.h>
#include <google/protobuf/util/type_resolver.h>
#include <google/protobuf/util/type_resolver_util.h>

#include "tools/session_proto/wire_paths.h"

namespace session_proto {
namespace {

namespace pb = google::protobuf;

// Any prefix serves: the resolver and the converter only need to agree.
constexpr char kTypeUrlPrefix[] = "type.session-proto";

// The generated pool's types as the JSON converter sees them, with required
// fields relabelled optional. The converter would otherwise refuse a JSON
// text lacking a required field whatever the caller wants, while the tool
// reports missing fields by name, and accepts them with --partial, for
// every input form alike. The binary encoding does not depend on the label.
class RequiredAsOptionalResolver : public pb::util::TypeResolver {
 public:
  RequiredAsOptionalResolver()
      : pool_resolver_(pb::util::NewTypeResolverForDescriptorPool(
            kTypeUrlPrefix, pb::DescriptorPool::generated_pool())) {}

  // Each type is resolved once: the converter asks for every message of a
  // stream again, and building a Type from its descriptor is not cheap.
  pb::util::Status ResolveMessageType(const std::string& type_url, pb::Type* type) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = types_.find(type_url);
    if (found == types_.end()) {
      pb::Type resolved;
      pb::util::Status status = pool_resolver_->ResolveMessageType(type_url, &resolved);
      if (!status.ok()) return status;
      for (pb::Field& field : *resolved.mutable_fields()) {
        if (field.cardinality() == pb::Field::CARDINALITY_REQUIRED) {
          field.set_cardinality(pb::Field::CARDINALITY_OPTIONAL);
        }
      }
      found = types_.emplace(type_url, std::move(resolved)).first;
    }
    *type = found->second;
    return pb::util::Status();
  }

  pb::util::Status ResolveEnumType(const std::string& type_url, pb::Enum* type) override {
    std::lock_guard<std::mutex> lock(mutex_);
    auto found = enums_.find(type_url);
    if (found == enums_.end()) {
      pb::Enum resolved;
      pb::util::Status status = pool_resolver_->ResolveEnumType(type_url, &resolved);
      if (!status.ok()) return status;
      found = enums_.emplace(type_url, std::move(resolved)).first;
    }
    *type = found->second;
    return pb::util::Status();
  }

 private:
  std::unique_ptr<pb::util::TypeResolver> pool_resolver_;
  std::mutex mutex_;
  std::map<std::string, pb::Type> types_;
  std::map<std::string, pb::Enum> enums_;
};

pb::util::TypeResolver* Resolver() {
  static RequiredAsOptionalResolver* resolver = new RequiredAsOptionalResolver;
  return resolver;
}

std::string TypeUrl(const pb::Message& message) {
  return std::string(kTypeUrlPrefix) + "/" + message.GetDescriptor()->full_name();
}

// "type.session-proto/LaserState" in the converter's words becomes "LaserState".
std::string WithoutTypeUrls(std::string text) {
  const std::string prefix = std::string(kTypeUrlPrefix) + "/";
  for (size_t at; (at = text.find(prefix)) != std::string::npos;) text.erase(at, prefix.size());
  return text;
}

// Keeps the first error TextFormat reports.
class FirstError : public pb::io::ErrorCollector {
 public:
  void AddError(int line, pb::io::ColumnNumber column, const std::string& message) override {
    if (problem_.message.empty()) problem_ = TextProblem{{line + 1, column + 1}, message};
  }
  const TextProblem& problem() const { return problem_; }

 private:
  TextProblem problem_;
};

bool ParseText(std::string_view text, pb::Message* message, TextProblem* problem) {
  FirstError errors;
  pb::TextFormat::Parser parser;
  parser.RecordErrorsTo(&errors);
  parser.AllowPartialMessage(true);
  if (parser.ParseFromString(std::string(text), message)) return true;
  *problem = errors.problem();
  return false;
}

// The converter writes the binary encoding, which the message class then
// parses: JSON input goes through the hand-written parser too.
bool ParseJson(std::string_view text, pb::Message* message, TextProblem* problem) {
  JsonLocator locator;
  if (!locator.Scan(text, *message->GetDescriptor(), problem)) return false;
  std::string signed_zeros;
  if (!locator.negative_zeros().empty()) {
    signed_zeros = std::string(text);
    const auto& at = locator.negative_zeros();
    for (auto it = at.rbegin(); it != at.rend(); ++it) signed_zeros.insert(*it, ".0");
    text = signed_zeros;
  }
  std::string binary;
  pb::util::Status status = pb::util::JsonToBinaryString(
      Resolver(), TypeUrl(*message), pb::StringPiece(text.data(), text.size()), &binary,
      pb::util::JsonParseOptions());
  if (!status.ok()) {
    *problem = locator.Locate(WithoutTypeUrls(std::string(status.message())));
    return false;
  }
  if (!message->ParsePartialFromString(binary)) {
    *problem = TextProblem{{}, "the JSON converter wrote bytes the message class refuses"};
    return false;
  }
  // The converter takes any number for an enumeration; text format and the
  // message class take only the declared ones.
  if (auto undeclared = FindUndeclaredEnumNumber(*message->GetDescriptor(), binary)) {
    *problem = locator.Locate(*undeclared);
    return false;
  }
  return true;
}

// From the encoding rather than through MessageToJsonString, which refuses
// (fatally) a message that lacks required fields.
bool PrintJson(const pb::Message& message, bool one_line, std::string* out) {
  pb::util::JsonPrintOptions options;
  options.add_whitespace = !one_line;
  options.preserve_proto_field_names = true;
  out->clear();
  pb::util::Status status = pb::util::BinaryToJsonString(
      Resolver(), TypeUrl(message), message.SerializePartialAsString(), out, options);
  if (status.ok()) {
    if (one_line) out->push_back('\n');
    return true;
  }
  *out = "the JSON converter refuses the message: " + std::string(status.message());
  return false;
}

}  // namespace

bool ParseTextForm(TextForm form, std::string_view text, pb::Message* message,
                   TextProblem* problem) {
  message->Clear();
  return form != TextForm::kText ? ParseJson(text, message, problem)
                                 : ParseText(text, message, problem);
}

bool PrintTextForm(TextForm form, const pb::Message& message, std::string* out) {
  if (form != TextForm::kText) return PrintJson(message, form == TextForm::kJsonLine, out);
  return pb::TextFormat::Printer().PrintToString(message, out);
}

}  // namespace session_proto
