#include <unistd.h>

#include <iostream>

#include <google/protobuf/stubs/common.h>

#include "tools/session_proto/cli.h"
#include "tools/session_proto/fd_output.h"

int main(int argc, char** argv) {
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
