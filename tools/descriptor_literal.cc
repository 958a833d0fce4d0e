// Prints the serialized FileDescriptorProto of a schema file as a C++ string
// literal, in the canonical form the message libraries embed: what the
// runtime's own serializer makes of the file's descriptor, without JSON names,
// syntax entry or source information.
//
//   descriptor_literal ROOT FILE    e.g.  descriptor_literal . session/velocity.proto
#include <cstdio>
#include <string>

#include "tools/schema_loader.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s ROOT FILE\n", argv[0]);
    return 2;
  }
  std::string error;
  std::string bytes;
  if (!protolib::tools::CanonicalDescriptorBytes(argv[1], argv[2], &bytes, &error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  std::printf("// %zu bytes\n", bytes.size());
  std::string line = "    \"";
  for (unsigned char c : bytes) {
    char buf[8];
    if (c >= 0x20 && c < 0x7f && c != '"' && c != '\\' && c != '?') {
      buf[0] = static_cast<char>(c);
      buf[1] = 0;
    } else {
      std::snprintf(buf, sizeof buf, "\\%03o", c);
    }
    line += buf;
    if (line.size() > 72) {
      std::printf("%s\"\n", line.c_str());
      line = "    \"";
    }
  }
  if (line.size() > 5) std::printf("%s\"\n", line.c_str());
  return 0;
}
