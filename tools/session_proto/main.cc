#include <iostream>

#include <google/protobuf/stubs/common.h>

#include "tools/session_proto/cli.h"

int main(int argc, char** argv) {
  std::ios::sync_with_stdio(false);
  int status = session_proto::RunCli(argc, argv, std::cout, std::cerr);
  google::protobuf::ShutdownProtobufLibrary();
  return status;
}
