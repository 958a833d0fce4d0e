#include "tools/session_proto/wire_paths.h"

#include <map>

namespace session_proto {
namespace {

using google::protobuf::FieldDescriptor;

void Visit(const std::vector<WireField>& fields, const std::string& path,
           const std::function<void(const WireField&, const std::string&)>& visit) {
  std::map<const FieldDescriptor*, int> indexes;
  for (const WireField& f : fields) {
    if (f.role == FieldRole::kPacked) {
      Visit(f.children, path, visit);
      continue;
    }
    std::string name;
    if (f.field == nullptr || f.role == FieldRole::kUnknown ||
        f.role == FieldRole::kWrongWireType) {
      name = "field " + std::to_string(f.number);
    } else {
      name = f.field->name();
      if (f.field->is_repeated()) name += "[" + std::to_string(indexes[f.field]++) + "]";
    }
    const std::string here = path.empty() ? name : path + "." + name;
    visit(f, here);
    Visit(f.children, here, visit);
  }
}

}  // namespace

void ForEachField(const std::vector<WireField>& fields,
                  const std::function<void(const WireField&, const std::string&)>& visit) {
  Visit(fields, "", visit);
}

size_t FirstInvalidUtf8(std::string_view text) {
  size_t i = 0;
  while (i < text.size()) {
    const uint8_t lead = static_cast<uint8_t>(text[i]);
    size_t length;
    uint32_t min, code;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if (lead >= 0xc2 && lead < 0xe0) {
      length = 2, min = 0x80, code = lead & 0x1f;
    } else if (lead >= 0xe0 && lead < 0xf0) {
      length = 3, min = 0x800, code = lead & 0x0f;
    } else if (lead >= 0xf0 && lead < 0xf5) {
      length = 4, min = 0x10000, code = lead & 0x07;
    } else {
      return i;
    }
    if (text.size() - i < length) return i;
    for (size_t k = 1; k < length; ++k) {
      const uint8_t next = static_cast<uint8_t>(text[i + k]);
      if ((next & 0xc0) != 0x80) return i;
      code = (code << 6) | (next & 0x3f);
    }
    if (code < min || code > 0x10ffff || (code >= 0xd800 && code < 0xe000)) return i;
    i += length;
  }
  return i;
}

std::optional<WireFault> FindInvalidUtf8(const google::protobuf::Descriptor& type,
                                         std::string_view bytes) {
  std::optional<WireFault> found;
  ForEachField(WalkWire(type, bytes).fields, [&](const WireField& f, const std::string& path) {
    if (found || f.role != FieldRole::kDeclared ||
        f.field->type() != FieldDescriptor::TYPE_STRING) {
      return;
    }
    std::string_view value = bytes.substr(f.payload_offset, f.end - f.payload_offset);
    size_t bad = FirstInvalidUtf8(value);
    if (bad < value.size()) {
      found = WireFault{f.payload_offset + bad, "invalid UTF-8 in " + path + " (field " +
                                                    std::to_string(f.number) + ")"};
    }
  });
  return found;
}

}  // namespace session_proto
