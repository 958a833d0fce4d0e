#include "tools/session_proto/cli.h"

#include <cctype>
#include <sstream>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>
#include <google/protobuf/stubs/common.h>

#include "tools/session_proto/commands.h"
#include "tools/session_proto/fd_output.h"
#include "tools/session_proto/text_forms.h"
#include "tools/session_proto/type_catalog.h"

namespace session_proto {
namespace {

const char kTypeNote[] =
    "TYPE is a full name such as CommandVelocity, PropertyChanged.KVPair or\n"
    "tolva.calibration.PTZCameraParameters, or a shorter name only one type\n"
    "answers to (KVPair, PropertyChanged_KVPair, PTZCameraParameters).\n"
    "FILE is standard input when left out or given as -.\n";

const char kExitNote[] =
    "Exit status: 0 on success, 1 when the input cannot be read, decoded or\n"
    "parsed or the output cannot be written, 2 on a usage error.\n";

// Each command's exit statuses, for its help.
const char kOutputExitNote[] =
    "Exit status: 0 on success, 1 when the output cannot be written, 2 on a\n"
    "usage error.\n";
const char kDecodeExitNote[] =
    "Exit status: 0 on success; 1 when the input cannot be read or decoded,\n"
    "when --keep-going skipped anything, or when the output cannot be\n"
    "written; 2 on a usage error. With --exit-status: 0 when a message was\n"
    "printed, 1 when none was, 2 on any error.\n";
const char kStatsExitNote[] =
    "Exit status: 0 on success; 1 when the input cannot be read or decoded,\n"
    "when --keep-going skipped anything, or when the output cannot be\n"
    "written; 2 on a usage error.\n";
const char kEncodeExitNote[] =
    "Exit status: 0 on success, 1 when the input cannot be read or parsed or\n"
    "the output cannot be written, 2 on a usage error.\n";

// Help as this tool has always printed it: the usage line first, options in
// groups, and none of the parser's annotations on exclusions.
class HelpFormatter : public CLI::Formatter {
 public:
  HelpFormatter() {
    column_width(24);
    label("Subcommands", "Commands");
    label("Positionals", "Arguments");
    label("SUBCOMMAND", "COMMAND");
  }

  std::string make_help(const CLI::App* app, std::string name,
                        CLI::AppFormatMode mode) const override {
    std::string text = make_usage(app, name) + "\n" + make_description(app) +
                       make_positionals(app) + make_groups(app, mode) +
                       make_subcommands(app, mode) + "\n" + make_footer(app);
    for (size_t at; (at = text.find("\n\n\n")) != std::string::npos;) text.erase(at, 1);
    return text;
  }

  // A command in the list: the first line of its description.
  std::string make_subcommand(const CLI::App* command) const override {
    std::stringstream out;
    const std::string& description = command->get_description();
    CLI::detail::format_help(out, command->get_name(),
                             description.substr(0, description.find('\n')), column_width_);
    return out.str();
  }

  std::string make_option_opts(const CLI::Option* option) const override {
    return option->get_option_text().empty() ? "" : " " + option->get_option_text();
  }
};

const CLI::Validator kCount(
    [](std::string& text) -> std::string {
      if (!text.empty() && text.size() < 20 &&
          text.find_first_not_of("0123456789") == std::string::npos) {
        return "";
      }
      return "'" + text + "' is not a number of messages";
    },
    "", "count");

// The command line, parsed into what the commands take.
struct Invocation {
  std::string type_name;
  std::string file = "-";
  bool hex = false, base64 = false;
  bool delimited = false, lines = false;
  bool json = false, json_lines = false, annotate = false;
  bool partial = false, keep_going = false, descriptor_set = false, strict_json = false,
       exit_status = false, follow = false, unbuffered = false,
       raw = false, csv = false, tsv = false, force = false;
  std::string fields;
  uint64_t skip = 0, limit = 0;
  std::vector<std::string> where;
  std::string help_topic;
};

class CommandLine {
 public:
  CommandLine();
  CLI::App& app() { return app_; }
  // The subcommand the command line names, or null.
  const CLI::App* chosen() const {
    for (const CLI::App* sub : app_.get_subcommands({})) {
      if (sub->parsed()) return sub;
    }
    return nullptr;
  }
  Invocation& invocation() { return invocation_; }

 private:
  CLI::App* AddCommand(const char* name, const char* summary, const char* details);
  void AddTypeAndFile(CLI::App* command, const char* exit_note, bool type_required = true);
  void AddSelection(CLI::App* command, const std::string& verb);
  CLI::Option* Flag(CLI::App* command, const char* name, bool* value, const char* group,
                    const std::string& help) {
    return command->add_flag(name, *value, help)->group(group);
  }

  CLI::App app_;
  Invocation invocation_;
};

CLI::App* CommandLine::AddCommand(const char* name, const char* summary, const char* details) {
  CLI::App* command = app_.add_subcommand(name, summary);
  command->footer(kOutputExitNote);
  command->description(std::string(1, char(std::toupper(summary[0]))) + (summary + 1) + ".\n" +
                       (*details ? std::string("\n") + details : ""));
  command->set_help_flag("-h,--help", "print this help");
  command->group("Commands");
  return command;
}

void CommandLine::AddTypeAndFile(CLI::App* command, const char* exit_note,
                                 bool type_required) {
  CLI::Option* type = command->add_option("TYPE", invocation_.type_name, "the message type");
  if (type_required) type->required();
  command->add_option("FILE", invocation_.file, "the input (standard input if left out or -)");
  command->footer(std::string(kTypeNote) + "\n" + exit_note);
}

// --skip, --limit, --where, --keep-going and --partial, which decode and
// stats share.
void CommandLine::AddSelection(CLI::App* command, const std::string& verb) {
  Invocation& v = invocation_;
  command->add_option("--skip", v.skip, "pass over the first N messages of a stream")
      ->option_text("N")
      ->check(kCount)
      ->group("Selection");
  command->add_option("--limit", v.limit, verb + " at most N messages, then stop reading")
      ->option_text("N")
      ->check(kCount)
      ->group("Selection");
  command
      ->add_option("--where", v.where,
                   verb + " only the messages whose field at PATH (dotted,\n"
                   "as ptz_message.move.pan_target) is set and holds VALUE;\n"
                   "PATH alone: is set. OP is = or != (any field), < <= > >=\n"
                   "(numbers), or ~ (a regular expression found in a string\n"
                   "or bytes). Integers are decimal; nan matches any NaN.\n"
                   "A repeated field on the way matches if any element\n"
                   "does. Repeatable: all must hold")
      ->option_text("PATH[OP VALUE]")
      ->group("Selection")
      ->allow_extra_args(false)
      ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  Flag(command, "--keep-going", &v.keep_going, "Selection",
       "report a message that does not decode, or damaged\n"
       "framing, skip it and go on; the exit status is 1 at the\n"
       "end if anything was skipped");
  Flag(command, "--partial", &v.partial, "Checks", "accept messages that lack required fields");
}

CommandLine::CommandLine()
    : app_("Reads and writes the session messages (drive commands, change sets,\n"
           "camera calibration) on the schemas the libraries register; no schema\n"
           "files are needed.",
           "session-proto") {
  Invocation& v = invocation_;
  app_.formatter(std::make_shared<HelpFormatter>());
  // A file named /a/b is a file on Windows too, not an option.
  app_.allow_windows_style_options(false);
  app_.set_help_flag("-h,--help", "print this help");
  app_.set_version_flag("--version",
                        std::string("session-proto ") + SESSION_PROTO_VERSION + " (libprotobuf " +
                            google::protobuf::internal::VersionString(GOOGLE_PROTOBUF_VERSION) +
                            ")",
                        "print the version");
  app_.require_subcommand(1);
  app_.footer(std::string("\n") + kTypeNote + "\n" + kExitNote +
              "\n'session-proto COMMAND --help' describes a command and its options.");

  AddCommand("types", "list the message types, with a line on each", "");

  CLI::App* schema = AddCommand(
      "schema", "print a message type in .proto form",
      "Prints the type's declaration and the enumerations it uses, from the\n"
      "schemas the libraries register; an enumeration given by name; or,\n"
      "without TYPE, every schema file whole. With --descriptor-set, writes the\n"
      "schema files (TYPE's and its imports, or all of them without TYPE) as a\n"
      "serialized google.protobuf.FileDescriptorSet, which other protobuf tools\n"
      "and languages read in place of the .proto files.");
  schema->add_option("TYPE", v.type_name, "the message type or enumeration");
  schema->footer(std::string(kTypeNote).substr(0, std::string(kTypeNote).find("FILE is")) +
                 "\n" + kOutputExitNote);
  Flag(schema, "--descriptor-set", &v.descriptor_set, "Output",
       "write the schemas as a binary FileDescriptorSet");
  Flag(schema, "--force", &v.force, "Output", "write binary output to a terminal too");

  CLI::App* decode = AddCommand(
      "decode", "print the message that bytes hold",
      "Reads a message of TYPE, or a stream of them, and prints it in text format,\n"
      "JSON, or annotated byte by byte.\n"
      "\n"
      "A whole input in hex or base64 is one message. Several lines are joined\n"
      "only when wrapped as xxd -p and base64 write them (all as long as the\n"
      "first, at least 32 characters, the last no longer); other lines are\n"
      "refused as likely several messages, which --lines reads.\n"
      "Of several messages, each is printed under a '--- message N' line and a\n"
      "count ends the output; --json-lines prints neither.\n"
      "Bytes that do not decode are reported with the byte offset and the\n"
      "reason (exit status 1). In a stream, the messages before a bad one have\n"
      "been printed, and --keep-going goes on past it. A string field that is\n"
      "not valid UTF-8 cannot be printed as JSON (text format escapes it).\n"
      "Unknown fields, and enumeration numbers the schema does not declare,\n"
      "print by number in text format and as their wire encoding in hex in the\n"
      "JSON member @unknown_fields, so that encode writes them back.");
  AddTypeAndFile(decode, kDecodeExitNote, false);
  CLI::Option* hex = Flag(decode, "--hex", &v.hex, "Input", "the input is hex digits");
  CLI::Option* base64 = Flag(decode, "--base64", &v.base64, "Input",
                             "the input is base64, standard or URL-safe alphabet");
  CLI::Option* delimited = Flag(decode, "--delimited", &v.delimited, "Input",
                                "the input is a stream of messages, each preceded by\n"
                                "its length as a varint");
  CLI::Option* lines = Flag(decode, "--lines", &v.lines, "Input",
                            "each line of the input is a message in hex or base64\n"
                            "(a blank line an empty one); errors name the line");
  hex->excludes(base64);
  delimited->excludes(lines);
  CLI::Option* json = Flag(decode, "--json", &v.json, "Output", "print JSON");
  CLI::Option* json_lines = Flag(decode, "--json-lines", &v.json_lines, "Output",
                                 "print each message as JSON on one line");
  Flag(decode, "--raw", &v.raw, "Output",
       "with no TYPE: every field of the bytes by number and wire\n"
       "type, length-delimited ones read as messages where they\n"
       "are (the rows of --annotate)");
  CLI::Option* annotate = Flag(decode, "--annotate", &v.annotate, "Output",
                               "print every field with its byte offset, tag, field\n"
                               "number, wire type, raw bytes and value; marks unknown\n"
                               "fields, enumeration numbers out of range, and where\n"
                               "bytes that do not decode fail");
  CLI::Option* strict_json =
      Flag(decode, "--strict-json", &v.strict_json, "Output",
           "leave out of the JSON the member " + std::string(kUnknownFieldsMember) + ",\n"
           "which carries unknown fields; says on standard error\n"
           "what was left out");
  decode
      ->add_option("--fields", v.fields,
                   "print these fields of each message as a row of --csv or\n"
                   "--tsv, after a row of their names: dotted paths, and\n"
                   "@index and @offset for the message's number and byte\n"
                   "offset. The values of a repeated field share a cell,\n"
                   "joined by ';'")
      ->option_text("PATH,...")
      ->group("Output");
  CLI::Option* csv = Flag(decode, "--csv", &v.csv, "Output", "--fields as comma-separated values");
  CLI::Option* tsv = Flag(decode, "--tsv", &v.tsv, "Output", "--fields as tab-separated values");
  csv->excludes(tsv)->excludes(json)->excludes(json_lines)->excludes(annotate);
  tsv->excludes(json)->excludes(json_lines)->excludes(annotate);
  json->excludes(json_lines)->excludes(annotate);
  json_lines->excludes(annotate);
  strict_json->excludes(annotate);
  AddSelection(decode, "print");
  Flag(decode, "--exit-status", &v.exit_status, "Selection",
       "exit with 0 if a message was printed, 1 if none was,\n"
       "2 on an error (as grep does)");
  Flag(decode, "--follow", &v.follow, "Input",
       "at the end of a growing FILE, wait for more (as tail -f\n"
       "does) until interrupted; a message cut short waits for\n"
       "the rest of its bytes");
  Flag(decode, "--unbuffered", &v.unbuffered, "Output",
       "write each message out as soon as it is printed (the\n"
       "default unless the output is a regular file)");

  CLI::App* encode = AddCommand(
      "encode", "write the bytes of a message given as text",
      "Reads a message of TYPE in text format or JSON and writes its binary\n"
      "encoding to standard output.\n"
      "\n"
      "With --delimited or --lines the input holds several messages, separated\n"
      "by lines that start with '---' (as decode prints them), or one JSON\n"
      "object per line with --json-lines. A piece between separators that holds\n"
      "only blanks and comments is no message, unless it follows a\n"
      "'--- message N' line (decode's way of showing an empty message).\n"
      "Messages are written as they are read: when one fails, those before it\n"
      "have been written, and the report names the failed one by number.\n"
      "Text that does not parse is reported with its line and column (exit\n"
      "status 1).");
  AddTypeAndFile(encode, kEncodeExitNote);
  CLI::Option* in_json =
      Flag(encode, "--json", &v.json, "Input",
           "the input is JSON (schema or lowerCamelCase field names);\n"
           "lines starting with '#' are comments");
  CLI::Option* in_json_lines = Flag(encode, "--json-lines", &v.json_lines, "Input",
                                    "the input is one JSON message per line");
  in_json->excludes(in_json_lines);
  CLI::Option* out_hex = Flag(encode, "--hex", &v.hex, "Output", "write hex digits");
  CLI::Option* out_base64 = Flag(encode, "--base64", &v.base64, "Output", "write base64");
  out_hex->excludes(out_base64);
  CLI::Option* out_delimited = Flag(encode, "--delimited", &v.delimited, "Output",
                                    "write each message preceded by its length as a varint");
  CLI::Option* out_lines = Flag(encode, "--lines", &v.lines, "Output",
                                "write each message in hex or base64 on a line of its own");
  out_delimited->excludes(out_lines);
  Flag(encode, "--force", &v.force, "Output", "write binary output to a terminal too");
  Flag(encode, "--unbuffered", &v.unbuffered, "Output",
       "write each message out as soon as it is encoded (the\n"
       "default unless the output is a regular file)");
  Flag(encode, "--partial", &v.partial, "Checks", "accept messages that lack required fields");

  CLI::App* stats = AddCommand(
      "stats", "count a stream's messages and the bytes of each field",
      "Prints the number of messages, their sizes (min, median, max, total),\n"
      "and for every field path how many values it had and the bytes they\n"
      "took, tags and lengths included; a sub-message's bytes include its\n"
      "fields'. Takes the messages decode would print: bytes that do not decode\n"
      "or lack required fields stop it (exit status 1), unless --keep-going\n"
      "or --partial.");
  AddTypeAndFile(stats, kStatsExitNote);
  Flag(stats, "--json", &v.json, "Output", "print the tables as one JSON object");
  AddSelection(stats, "count");
  Flag(stats, "--hex", &v.hex, "Input", "the input is hex digits")
      ->excludes(Flag(stats, "--base64", &v.base64, "Input", "the input is base64"));
  Flag(stats, "--delimited", &v.delimited, "Input",
       "the input is a stream of length-prefixed messages")
      ->excludes(Flag(stats, "--lines", &v.lines, "Input",
                      "each line of the input is a message in hex or base64"));

  AddCommand("demo", "encode, annotate and decode a drive command and a change set",
             "Needs no input: builds the typical drive command and a small change set,\n"
             "prints each annotated, decodes them again and reports that they\n"
             "round-trip.");
  CLI::App* help = AddCommand("help", "print this help, or a command's", "");
  help->add_option("COMMAND", v.help_topic, "the command to describe");
}

// A command line that does not make sense: exit status 2, with a hint.
int UsageError(const std::string& message, const CLI::App* command, std::ostream& err) {
  Report(err, message);
  err << "Try 'session-proto " << (command ? command->get_name() + " " : "") << "--help'.\n";
  return kExitUsage;
}

// "; did you mean decode?" for a command within two edits.
std::string CommandSuggestion(const CLI::App& app, const std::string& wanted) {
  std::vector<std::string> names;
  for (const CLI::App* sub : app.get_subcommands({})) names.push_back(sub->get_name());
  const std::string closest = ClosestName(wanted, names);
  return closest.empty() ? "" : "; did you mean " + closest + "?";
}

// "; did you mean --json?" for the first unexpected option within two
// edits of one the command takes.
std::string OptionSuggestion(const CLI::App* command) {
  if (command == nullptr) return "";
  std::vector<std::string> names;
  for (const CLI::Option* option : command->get_options()) {
    for (const std::string& name : option->get_lnames()) names.push_back("--" + name);
  }
  for (const std::string& extra : command->remaining()) {
    if (extra.compare(0, 2, "--") != 0) continue;
    const std::string closest = ClosestName(extra.substr(0, extra.find('=')), names);
    if (!closest.empty()) return "; did you mean " + closest + "?";
  }
  return "";
}

ByteForm FormOf(const Invocation& v) {
  return v.hex ? ByteForm::kHex : v.base64 ? ByteForm::kBase64 : ByteForm::kRaw;
}

Framing FramingOf(const Invocation& v) {
  return v.delimited ? Framing::kDelimited : v.lines ? Framing::kLines : Framing::kWhole;
}

// decode --raw [FILE]: the first operand is the file.
int DispatchRaw(const CLI::App& command, const Invocation& v, Streams io) {
  if (v.json || v.json_lines || v.annotate || v.strict_json || !v.where.empty() ||
      !v.fields.empty() || v.csv || v.tsv ||
      command.count("--skip") || command.count("--limit") || v.keep_going || v.partial ||
      v.exit_status || v.follow) {
    return UsageError("--raw goes with --hex, --base64, --delimited, --lines and --unbuffered "
                      "only",
                      &command, io.err);
  }
  if (v.file != "-") return UsageError("--raw takes no TYPE, only a FILE", &command, io.err);
  DecodeOptions options;
  options.selection.file = v.type_name.empty() ? "-" : v.type_name;
  options.selection.input = FormOf(v);
  options.selection.framing = FramingOf(v);
  options.flush_each = v.unbuffered || !StandardOutputIsRegularFile();
  return RunDecodeRaw(options, io);
}

int Dispatch(CommandLine& line, const CLI::App& command, Streams io) {
  const Invocation& v = line.invocation();
  const std::string name = command.get_name();
  if (name == "types") return RunTypes(io);
  if (name == "demo") return RunDemo(io);
  if (name == "help") {
    if (v.help_topic.empty()) {
      io.out << line.app().help();
      return kExitOk;
    }
    for (const CLI::App* sub : line.app().get_subcommands({})) {
      if (sub->get_name() == v.help_topic) {
        io.out << sub->help("session-proto");
        return kExitOk;
      }
    }
    return UsageError(
        "unknown command '" + v.help_topic + "'" + CommandSuggestion(line.app(), v.help_topic),
        nullptr, io.err);
  }
  if (v.lines && !v.hex && !v.base64) {
    return UsageError("--lines needs --hex or --base64", &command, io.err);
  }
  std::string error;
  if (name == "decode" && v.raw) return DispatchRaw(command, v, io);
  if (name == "decode" && v.type_name.empty()) {
    return UsageError("TYPE is required (or --raw, for the fields of any bytes)", &command,
                      io.err);
  }
  const bool binary = (name == "schema" && v.descriptor_set) ||
                      (name == "encode" && !v.hex && !v.base64);
  if (binary && !v.force && StandardOutputIsTerminal()) {
    return UsageError("binary output to a terminal: " +
                          std::string(name == "encode" ? "add --hex or --base64, " : "") +
                          "redirect it, or add --force",
                      &command, io.err);
  }
  if (name == "schema" && !v.descriptor_set && !v.type_name.empty() &&
      FindEnumType(v.type_name) != nullptr) {
    io.out << EnumSchemaText(*FindEnumType(v.type_name));
    return kExitOk;
  }
  const google::protobuf::Descriptor* type = nullptr;
  if (!v.type_name.empty()) {
    type = FindMessageType(v.type_name, &error);
    if (type == nullptr) return UsageError(error, &command, io.err);
  }
  if (name == "schema") {
    if (v.descriptor_set) return RunDescriptorSet(type, io);
    if (type == nullptr) {
      for (size_t i = 0; i < SchemaFiles().size(); ++i) {
        io.out << (i > 0 ? "\n" : "") << FileSchemaText(*SchemaFiles()[i]);
      }
      return kExitOk;
    }
    return RunSchema(*type, io);
  }
  const bool flush_each = v.unbuffered || !StandardOutputIsRegularFile();
  if (name == "encode") {
    EncodeOptions options;
    options.file = v.file;
    options.output = FormOf(v);
    options.json = v.json;
    options.json_lines = v.json_lines;
    options.delimited = v.delimited;
    options.lines = v.lines;
    options.partial = v.partial;
    options.flush_each = flush_each;
    if (v.json_lines && !v.delimited && !v.lines) {
      return UsageError("--json-lines reads several messages: add --delimited or --lines",
                        &command, io.err);
    }
    return RunEncode(*type, options, io);
  }
  SelectionOptions selection;
  selection.file = v.file;
  selection.input = FormOf(v);
  selection.framing = FramingOf(v);
  selection.partial = v.partial;
  selection.keep_going = v.keep_going;
  selection.follow = v.follow;
  selection.skip = v.skip;
  if (command.count("--limit") > 0) selection.limit = v.limit;
  Selection where;
  for (const std::string& condition : v.where) {
    if (!where.Add(*type, condition, &error)) return UsageError(error, &command, io.err);
  }
  if (!where.empty()) selection.where = &where;
  const bool selects = selection.skip > 0 || selection.limit || selection.where ||
                       v.keep_going || v.follow;
  if (selects && selection.framing == Framing::kWhole) {
    return UsageError("--skip, --limit, --where, --keep-going and --follow work on a stream: "
                      "add --delimited or --lines",
                      &command, io.err);
  }
  if (name == "stats") {
    StatsOptions options;
    options.selection = selection;
    options.json = v.json;
    return RunStats(*type, options, io);
  }
  DecodeOptions options;
  options.selection = selection;
  options.rendering = v.json         ? Rendering::kJson
                      : v.json_lines ? Rendering::kJsonLines
                      : v.annotate   ? Rendering::kAnnotate
                      : v.csv || v.tsv ? Rendering::kColumns
                                       : Rendering::kText;
  Columns columns;
  if (v.fields.empty() != (options.rendering != Rendering::kColumns)) {
    return UsageError("--fields goes with --csv or --tsv", &command, io.err);
  }
  if (!v.fields.empty()) {
    if (!columns.Set(*type, v.fields, v.csv ? Columns::Format::kCsv : Columns::Format::kTsv,
                     &error)) {
      return UsageError(error, &command, io.err);
    }
    options.columns = &columns;
  }
  options.strict_json = v.strict_json;
  options.exit_status = v.exit_status;
  options.flush_each = flush_each;
  return RunDecode(*type, options, io);
}

int Run(int argc, const char* const* argv, Streams io) {
  CommandLine line;
  CLI::App& app = line.app();
  if (argc < 2) {
    io.err << app.help();
    return kExitUsage;
  }
  const std::string first = argv[1];
  if (first.empty() || first[0] != '-') {
    bool known = false;
    for (const CLI::App* sub : app.get_subcommands({})) known = known || sub->get_name() == first;
    if (!known) {
      return UsageError("unknown command '" + first + "'" + CommandSuggestion(app, first), nullptr,
                        io.err);
    }
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    io.out << app.help();
    return kExitOk;
  } catch (const CLI::CallForVersion& version) {
    io.out << version.what() << "\n";
    return kExitOk;
  } catch (const CLI::ExtrasError& e) {
    return UsageError(e.what() + OptionSuggestion(line.chosen()), line.chosen(), io.err);
  } catch (const CLI::ParseError& e) {
    return UsageError(e.what(), line.chosen(), io.err);
  }
  return Dispatch(line, *line.chosen(), io);
}

}  // namespace

void Report(std::ostream& err, const std::string& message) {
  err << "session-proto: " << message << "\n";
}

std::unique_ptr<MessageSource> OpenMessages(const std::string& file, ByteForm form,
                                            Framing framing, std::ostream& err) {
  std::string error;
  std::unique_ptr<MessageSource> source = MessageSource::Open(file, form, framing, &error);
  if (!source) Report(err, error);
  return source;
}

int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err) {
  int status = Run(argc, argv, Streams{out, err});
  // A failed or short write is a failure, whatever the command made of it.
  if (!out.flush()) {
    Report(err, WriteFailure(out));
    return kExitBadInput;
  }
  return status;
}

}  // namespace session_proto
