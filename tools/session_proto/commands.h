// The subcommands of session-proto. Each writes its results to `out` and
// its diagnostics to `err`, and returns the process exit status.
#ifndef SESSION_PROTO_COMMANDS_H_
#define SESSION_PROTO_COMMANDS_H_

#include <ostream>
#include <string>

#include <google/protobuf/descriptor.h>

#include "tools/session_proto/byte_codec.h"

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

struct DecodeOptions {
  std::string file = "-";
  ByteForm input = ByteForm::kRaw;
  bool json = false;
  bool annotate = false;
  bool delimited = false;
  bool partial = false;
};

struct EncodeOptions {
  std::string file = "-";
  ByteForm output = ByteForm::kRaw;
  bool json = false;
  bool delimited = false;
  bool partial = false;
};

int RunTypes(Streams io);
int RunSchema(const google::protobuf::Descriptor& type, Streams io);
int RunDecode(const google::protobuf::Descriptor& type, const DecodeOptions& options,
              Streams io);
int RunEncode(const google::protobuf::Descriptor& type, const EncodeOptions& options,
              Streams io);
int RunDemo(Streams io);

}  // namespace session_proto

#endif  // SESSION_PROTO_COMMANDS_H_
