#include <unistd.h>

#include <iostream>
#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#endif

#include <google/protobuf/stubs/common.h>

#include "tools/session_proto/cli.h"
#include "tools/session_proto/fd_output.h"

int main(int argc, char** argv) {
#if defined(_WIN32)
  // The standard streams carry encoded messages: bytes as they are, no
  // newline translation, no end of file at ^Z; messages to a person end
  // their lines as everywhere else.
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
#endif
  std::ios::sync_with_stdio(false);
  session_proto::FdOutput standard_output(STDOUT_FILENO);
  std::ostream out(&standard_output);
  // What was printed before a message on standard error comes before it.
  std::cerr.tie(&out);
  int status = session_proto::RunCli(argc, argv, out, std::cerr);
  std::cerr.tie(nullptr);  // `out` ends here; the standard streams live on
  google::protobuf::ShutdownProtobufLibrary();
  return status;
}
