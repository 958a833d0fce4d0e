// The subcommands of session-proto. Each writes its results to `out` and
// its diagnostics to `err`, and returns the process exit status.
#ifndef SESSION_PROTO_COMMANDS_H_
#define SESSION_PROTO_COMMANDS_H_

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include <google/protobuf/descriptor.h>

#include "tools/session_proto/byte_codec.h"
#include "tools/session_proto/columns.h"
#include "tools/session_proto/message_source.h"
#include "tools/session_proto/selected_messages.h"

namespace session_proto {

constexpr int kExitOk = 0;
constexpr int kExitBadInput = 1;  // cannot be read, decoded or parsed
constexpr int kExitUsage = 2;

struct Streams {
  std::ostream& out;
  std::ostream& err;
};

// Writes "session-proto: <message>" to `err`.
void Report(std::ostream& err, const std::string& message);

// Opens the messages a command reads; null once `err` has been told why.
std::unique_ptr<MessageSource> OpenMessages(const std::string& file, ByteForm form,
                                            Framing framing, std::ostream& err);

// How decode prints a message.
enum class Rendering { kText, kJson, kJsonLines, kAnnotate, kColumns };

struct DecodeOptions {
  SelectionOptions selection;
  Rendering rendering = Rendering::kText;
  // JSON without kUnknownFieldsMember; what it leaves out is reported.
  bool strict_json = false;
  // The exit status tells whether anything was printed: 0 if so, 1 if
  // not, 2 on an error.
  bool exit_status = false;
  bool flush_each = false;  // flush the output after each message
  const Columns* columns = nullptr;  // kColumns: which, in which format
};

struct EncodeOptions {
  std::string file = "-";
  ByteForm output = ByteForm::kRaw;
  bool json = false;
  bool json_lines = false;  // one JSON message per input line
  bool delimited = false;
  bool lines = false;  // one hex or base64 message per output line
  bool partial = false;
  bool flush_each = false;  // flush the output after each message
};

struct StatsOptions {
  SelectionOptions selection;
  bool json = false;  // the tables as one JSON object
};

int RunTypes(Streams io);
int RunSchema(const google::protobuf::Descriptor& type, Streams io);
// The schema files of `type` (all of them if null) and their imports, as a
// serialized FileDescriptorSet.
int RunDescriptorSet(const google::protobuf::Descriptor* type, Streams io);
int RunStats(const google::protobuf::Descriptor& type, const StatsOptions& options, Streams io);
int RunDecode(const google::protobuf::Descriptor& type, const DecodeOptions& options,
              Streams io);
int RunEncode(const google::protobuf::Descriptor& type, const EncodeOptions& options,
              Streams io);
// decode --raw: the wire fields of any bytes, with no type.
int RunDecodeRaw(const DecodeOptions& options, Streams io);
int RunDemo(Streams io);

}  // namespace session_proto

#endif  // SESSION_PROTO_COMMANDS_H_
