// Column output: chosen fields of each message as a row of CSV or TSV, for
// spreadsheets and plotting tools.
#ifndef SESSION_PROTO_COLUMNS_H_
#define SESSION_PROTO_COLUMNS_H_

#include <ostream>
#include <string>
#include <vector>

#include <google/protobuf/descriptor.h>
#include <google/protobuf/message.h>

#include "tools/session_proto/message_source.h"

namespace session_proto {

class Columns {
 public:
  enum class Format { kCsv, kTsv };

  // Values of a repeated field, or of a field under a repeated one, share
  // one cell, joined by this.
  static constexpr char kSeparator = ';';

  // Takes "PATH,PATH,...": dotted field paths to fields that are not
  // messages, and "@index" and "@offset" for the message's number in the
  // stream and the byte offset of its bytes. False, with *error, if one
  // does not fit `type`.
  bool Set(const google::protobuf::Descriptor& type, const std::string& list, Format format,
           std::string* error);

  // The header row: the paths as given.
  void Header(std::ostream& out) const;
  void Row(const SourcedMessage& source, const google::protobuf::Message& message,
           std::ostream& out) const;

 private:
  struct Column {
    std::string name;
    std::vector<const google::protobuf::FieldDescriptor*> path;  // empty for @index, @offset
  };

  void Cells(const std::vector<std::string>& cells, std::ostream& out) const;

  Format format_ = Format::kCsv;
  std::vector<Column> columns_;
};

}  // namespace session_proto

#endif  // SESSION_PROTO_COLUMNS_H_
