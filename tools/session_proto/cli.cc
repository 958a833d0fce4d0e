#include "tools/session_proto/cli.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <string>
#include <vector>

#include <google/protobuf/stubs/common.h>

#include "tools/session_proto/commands.h"
#include "tools/session_proto/type_catalog.h"

namespace session_proto {
namespace {

struct Command {
  const char* name;
  const char* synopsis;
  const char* summary;
  const char* details;
  std::vector<std::string> flags;
  size_t min_operands;
  size_t max_operands;
};

const char kTypeNote[] =
    "TYPE is a full name such as CommandVelocity, PropertyChanged.KVPair or\n"
    "tolva.calibration.PTZCameraParameters, or a shorter name only one type\n"
    "answers to (KVPair, PropertyChanged_KVPair, PTZCameraParameters).\n";

const Command kCommands[] = {
    {"types", "types", "list the message types, with a line on each", "", {}, 0, 0},
    {"schema", "schema TYPE", "print a message type in .proto form",
     "Prints the type's declaration and the enumerations it uses, from the\n"
     "schemas the libraries register.\n",
     {}, 1, 1},
    {"decode", "decode TYPE [FILE] [OPTIONS]", "print the message that bytes hold",
     "Reads one message of TYPE from FILE (standard input without FILE or with -)\n"
     "and prints it in text format.\n"
     "\n"
     "Input:\n"
     "  --hex        the input is hex digits; whitespace is ignored\n"
     "  --base64     the input is base64, standard or URL-safe alphabet\n"
     "  --delimited  the input is a sequence of messages, each preceded by its\n"
     "               length as a varint; each is printed under a numbered\n"
     "               '--- message N' line, and a count ends the output\n"
     "Output:\n"
     "  --json       print JSON instead of text format\n"
     "  --annotate   print every field with its byte offset, tag, field number,\n"
     "               wire type, raw bytes and value, nested messages indented;\n"
     "               unknown fields and enumeration numbers out of range are\n"
     "               marked as such\n"
     "Checks:\n"
     "  --partial    accept a message that lacks required fields\n"
     "\n"
     "Bytes that do not decode are reported with the byte offset and the reason,\n"
     "and nothing is printed for that message (exit status 1).\n",
     {"--hex", "--base64", "--delimited", "--json", "--annotate", "--partial"}, 1, 2},
    {"encode", "encode TYPE [FILE] [OPTIONS]", "write the bytes of a message given as text",
     "Reads a message of TYPE in text format from FILE (standard input without\n"
     "FILE or with -) and writes its binary encoding to standard output.\n"
     "\n"
     "Input:\n"
     "  --json       the input is JSON (schema or lowerCamelCase field names);\n"
     "               lines starting with '#' are comments\n"
     "  --delimited  the input holds several messages, separated by lines that\n"
     "               start with '---' (as decode --delimited prints them); each\n"
     "               is written preceded by its length as a varint\n"
     "Output:\n"
     "  --hex        write hex digits instead of raw bytes\n"
     "  --base64     write base64 instead of raw bytes\n"
     "Checks:\n"
     "  --partial    accept a message that lacks required fields\n"
     "\n"
     "Text that does not parse is reported with its line and column (exit\n"
     "status 1).\n",
     {"--hex", "--base64", "--delimited", "--json", "--partial"}, 1, 2},
    {"demo", "demo", "encode, annotate and decode a drive command and a change set",
     "Needs no input: builds the typical drive command and a small change set,\n"
     "prints each annotated, decodes them again and reports that they\n"
     "round-trip.\n",
     {}, 0, 0},
    {"help", "help [COMMAND]", "print this help, or a command's", "", {}, 0, 1},
};

const Command* FindCommand(const std::string& name) {
  for (const Command& command : kCommands) {
    if (name == command.name) return &command;
  }
  return nullptr;
}

void PrintToolHelp(std::ostream& out) {
  out << "session-proto: reads and writes the session messages (drive commands,\n"
         "change sets, camera calibration) on the schemas the libraries register;\n"
         "no schema files are needed.\n\n"
         "Usage: session-proto COMMAND [ARGUMENTS] [OPTIONS]\n\n"
         "Commands:\n";
  for (const Command& command : kCommands) {
    std::string synopsis = command.synopsis;
    synopsis = synopsis.substr(0, synopsis.find(" [OPTIONS]"));
    const size_t column = 22;
    out << "  " << synopsis
        << std::string(synopsis.size() + 2 < column ? column - synopsis.size() : 2, ' ')
        << command.summary << "\n";
  }
  out << "\n" << kTypeNote << "\n"
      << "Exit status: 0 on success, 1 when the input cannot be read, decoded or\n"
         "parsed, 2 on a usage error.\n\n"
         "'session-proto COMMAND --help' describes a command and its options.\n";
}

void PrintCommandHelp(const Command& command, std::ostream& out) {
  out << "Usage: session-proto " << command.synopsis << "\n\n"
      << char(std::toupper(command.summary[0])) << (command.summary + 1) << ".\n";
  if (*command.details) out << "\n" << command.details;
  if (std::string(command.synopsis).find("TYPE") != std::string::npos) {
    out << "\n" << kTypeNote;
  }
}

// A command line that does not make sense: exit status 2, with a hint.
int UsageError(const std::string& message, const Command* command, std::ostream& err) {
  Report(err, message);
  err << "Try 'session-proto " << (command ? std::string(command->name) + " " : "")
      << "--help'.\n";
  return kExitUsage;
}

struct Invocation {
  const Command* command = nullptr;
  std::vector<std::string> operands;
  std::set<std::string> flags;
};

// Splits the arguments after the command name into options and operands;
// "--" ends the options and "-" is an operand (standard input).
bool ParseArguments(const Command& command, int argc, const char* const* argv,
                    Invocation* invocation, std::string* error) {
  invocation->command = &command;
  bool options_ended = false;
  for (int i = 2; i < argc; ++i) {
    const std::string arg = argv[i];
    if (options_ended || arg == "-" || arg.empty() || arg[0] != '-') {
      invocation->operands.push_back(arg);
    } else if (arg == "--") {
      options_ended = true;
    } else if (arg == "--help" || arg == "-h" ||
               std::find(command.flags.begin(), command.flags.end(), arg) != command.flags.end()) {
      invocation->flags.insert(arg);
    } else {
      *error = "unknown option '" + arg + "' for " + command.name;
      return false;
    }
  }
  if (invocation->flags.count("--help")) return true;
  const size_t count = invocation->operands.size();
  if (count < command.min_operands) {
    *error = std::string(command.name) + " needs " +
             (command.min_operands == 1 ? "a TYPE" : "more arguments");
    return false;
  }
  if (count > command.max_operands) {
    *error = "unexpected argument '" + invocation->operands[command.max_operands] + "'";
    return false;
  }
  for (const auto& pair : {std::pair<const char*, const char*>{"--hex", "--base64"},
                           {"--json", "--annotate"}}) {
    if (invocation->flags.count(pair.first) && invocation->flags.count(pair.second)) {
      *error = std::string(pair.first) + " and " + pair.second + " exclude each other";
      return false;
    }
  }
  return true;
}

ByteForm FormOf(const std::set<std::string>& flags) {
  return flags.count("--hex") ? ByteForm::kHex
         : flags.count("--base64") ? ByteForm::kBase64
                                   : ByteForm::kRaw;
}

std::string FileOperand(const Invocation& invocation) {
  return invocation.operands.size() > 1 ? invocation.operands[1] : "-";
}

int Dispatch(const Invocation& invocation, Streams io) {
  const Command& command = *invocation.command;
  const std::string name = command.name;
  const auto& flags = invocation.flags;
  if (name == "types") return RunTypes(io);
  if (name == "demo") return RunDemo(io);
  if (name == "help") {
    if (invocation.operands.empty()) {
      PrintToolHelp(io.out);
      return kExitOk;
    }
    const Command* about = FindCommand(invocation.operands[0]);
    if (about == nullptr) {
      return UsageError("unknown command '" + invocation.operands[0] + "'", nullptr, io.err);
    }
    PrintCommandHelp(*about, io.out);
    return kExitOk;
  }
  std::string error;
  const google::protobuf::Descriptor* type = FindMessageType(invocation.operands[0], &error);
  if (type == nullptr) return UsageError(error, &command, io.err);
  if (name == "schema") return RunSchema(*type, io);
  if (name == "decode") {
    DecodeOptions options;
    options.file = FileOperand(invocation);
    options.input = FormOf(flags);
    options.json = flags.count("--json") > 0;
    options.annotate = flags.count("--annotate") > 0;
    options.delimited = flags.count("--delimited") > 0;
    options.partial = flags.count("--partial") > 0;
    return RunDecode(*type, options, io);
  }
  EncodeOptions options;
  options.file = FileOperand(invocation);
  options.output = FormOf(flags);
  options.json = flags.count("--json") > 0;
  options.delimited = flags.count("--delimited") > 0;
  options.partial = flags.count("--partial") > 0;
  return RunEncode(*type, options, io);
}

}  // namespace

void Report(std::ostream& err, const std::string& message) {
  err << "session-proto: " << message << "\n";
}

int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  Streams io{out, err};
  if (argc < 2) {
    PrintToolHelp(err);
    return kExitUsage;
  }
  const std::string first = argv[1];
  if (first == "--help" || first == "-h") {
    PrintToolHelp(out);
    return kExitOk;
  }
  if (first == "--version") {
    out << "session-proto " << SESSION_PROTO_VERSION << " (libprotobuf "
        << google::protobuf::internal::VersionString(GOOGLE_PROTOBUF_VERSION) << ")\n";
    return kExitOk;
  }
  const Command* command = FindCommand(first);
  if (command == nullptr) return UsageError("unknown command '" + first + "'", nullptr, err);
  Invocation invocation;
  std::string error;
  if (!ParseArguments(*command, argc, argv, &invocation, &error)) {
    return UsageError(error, command, err);
  }
  if (invocation.flags.count("--help") || invocation.flags.count("-h")) {
    PrintCommandHelp(*command, out);
    return kExitOk;
  }
  return Dispatch(invocation, io);
}

}  // namespace session_proto
