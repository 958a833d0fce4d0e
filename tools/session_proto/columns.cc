#include "tools/session_proto/columns.h"

#include <cmath>

#include <google/protobuf/stubs/strutil.h>

#include "tools/session_proto/byte_codec.h"
#include "tools/session_proto/selection.h"

namespace session_proto {
namespace {

namespace pb = google::protobuf;
using pb::FieldDescriptor;

// A value as text format writes it, but strings as they are and bytes in hex.
std::string Value(const pb::Message& m, const FieldDescriptor& field, int index) {
  const pb::Reflection& r = *m.GetReflection();
  const bool one = index < 0;
  switch (field.cpp_type()) {
    case FieldDescriptor::CPPTYPE_INT32:
      return std::to_string(one ? r.GetInt32(m, &field) : r.GetRepeatedInt32(m, &field, index));
    case FieldDescriptor::CPPTYPE_INT64:
      return std::to_string(one ? r.GetInt64(m, &field) : r.GetRepeatedInt64(m, &field, index));
    case FieldDescriptor::CPPTYPE_UINT32:
      return std::to_string(one ? r.GetUInt32(m, &field) : r.GetRepeatedUInt32(m, &field, index));
    case FieldDescriptor::CPPTYPE_UINT64:
      return std::to_string(one ? r.GetUInt64(m, &field) : r.GetRepeatedUInt64(m, &field, index));
    case FieldDescriptor::CPPTYPE_FLOAT: {
      const float v = one ? r.GetFloat(m, &field) : r.GetRepeatedFloat(m, &field, index);
      return std::isnan(v) ? "nan" : pb::SimpleFtoa(v);
    }
    case FieldDescriptor::CPPTYPE_DOUBLE: {
      const double v = one ? r.GetDouble(m, &field) : r.GetRepeatedDouble(m, &field, index);
      return std::isnan(v) ? "nan" : pb::SimpleDtoa(v);
    }
    case FieldDescriptor::CPPTYPE_BOOL:
      return (one ? r.GetBool(m, &field) : r.GetRepeatedBool(m, &field, index)) ? "true"
                                                                                 : "false";
    case FieldDescriptor::CPPTYPE_ENUM: {
      const int v = one ? r.GetEnumValue(m, &field) : r.GetRepeatedEnumValue(m, &field, index);
      const pb::EnumValueDescriptor* value = field.enum_type()->FindValueByNumber(v);
      return value ? value->name() : std::to_string(v);
    }
    case FieldDescriptor::CPPTYPE_STRING: {
      std::string v = one ? r.GetString(m, &field) : r.GetRepeatedString(m, &field, index);
      return field.type() == FieldDescriptor::TYPE_BYTES ? EncodeText(ByteForm::kHex, v) : v;
    }
    case FieldDescriptor::CPPTYPE_MESSAGE:
      break;
  }
  return "";
}

// Appends the values at `path` from `step` on, every element of repeated
// fields on the way.
void Collect(const pb::Message& m, const std::vector<const FieldDescriptor*>& path, size_t step,
             std::vector<std::string>* values) {
  const FieldDescriptor& field = *path[step];
  const pb::Reflection& r = *m.GetReflection();
  const int count = field.is_repeated() ? r.FieldSize(m, &field) : r.HasField(m, &field) ? 1 : 0;
  for (int i = 0; i < count; ++i) {
    const int index = field.is_repeated() ? i : -1;
    if (step + 1 < path.size()) {
      Collect(index < 0 ? r.GetMessage(m, &field) : r.GetRepeatedMessage(m, &field, index), path,
              step + 1, values);
    } else {
      values->push_back(Value(m, field, index));
    }
  }
}

}  // namespace

bool Columns::Set(const pb::Descriptor& type, const std::string& list, Format format,
                  std::string* error) {
  format_ = format;
  columns_.clear();
  for (size_t begin = 0; begin <= list.size();) {
    const size_t comma = std::min(list.find(',', begin), list.size());
    Column column{list.substr(begin, comma - begin), {}};
    begin = comma + 1;
    if (column.name == "@index" || column.name == "@offset") {
      columns_.push_back(std::move(column));
      continue;
    }
    if (!ResolveFieldPath(type, column.name, &column.path, error)) {
      *error = "--fields: " + *error;
      return false;
    }
    if (column.path.back()->message_type() != nullptr) {
      *error = "--fields: " + column.name + " is a message; name the fields inside it";
      return false;
    }
    columns_.push_back(std::move(column));
  }
  return true;
}

void Columns::Header(std::ostream& out) const {
  std::vector<std::string> names;
  for (const Column& column : columns_) names.push_back(column.name);
  Cells(names, out);
}

void Columns::Row(const SourcedMessage& source, const pb::Message& message,
                  std::ostream& out) const {
  std::vector<std::string> cells;
  for (const Column& column : columns_) {
    if (column.path.empty()) {
      cells.push_back(std::to_string(column.name == "@index" ? source.index : source.offset));
      continue;
    }
    std::vector<std::string> values;
    Collect(message, column.path, 0, &values);
    std::string cell;
    for (size_t i = 0; i < values.size(); ++i) {
      if (i > 0) cell += kSeparator;
      cell += values[i];
    }
    cells.push_back(std::move(cell));
  }
  Cells(cells, out);
}

// RFC 4180 quoting for CSV; for TSV, tabs, newlines and backslashes escaped
// with a backslash.
void Columns::Cells(const std::vector<std::string>& cells, std::ostream& out) const {
  std::string line;
  for (size_t i = 0; i < cells.size(); ++i) {
    if (i > 0) line += format_ == Format::kCsv ? ',' : '\t';
    const std::string& cell = cells[i];
    if (format_ == Format::kTsv) {
      for (char c : cell) {
        line += c == '\t' ? "\\t" : c == '\n' ? "\\n" : c == '\r' ? "\\r" : c == '\\' ? "\\\\"
                                                                    : std::string(1, c);
      }
    } else if (cell.find_first_of(",\"\r\n") != std::string::npos) {
      line += '"';
      for (char c : cell) line += c == '"' ? std::string("\"\"") : std::string(1, c);
      line += '"';
    } else {
      line += cell;
    }
  }
  out << line << "\n";
}

}  // namespace session_proto
