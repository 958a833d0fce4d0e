// The command line of session-proto: options, help, usage errors and the
// dispatch to the subcommands.
#ifndef SESSION_PROTO_CLI_H_
#define SESSION_PROTO_CLI_H_

#include <ostream>

namespace session_proto {

// Runs the tool on the arguments main() gets; returns the exit status.
int RunCli(int argc, const char* const* argv, std::ostream& out, std::ostream& err);

}  // namespace session_proto

#endif  // SESSION_PROTO_CLI_H_
