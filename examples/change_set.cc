// Builds a change set of two properties, encodes it, prints the bytes and the
// message, decodes the bytes again and checks that nothing was lost.
#include <cstdio>
#include <string>

#include <google/protobuf/stubs/common.h>

#include "session/commander_private/commander.pb.h"

int main() {
  MultiPropertyChanged message;
  MultiPropertyChangedData* change = message.mutable_change();
  change->set_change_set_id(42);
  change->set_ack_id(41);

  PropertyChanged* speed = change->add_properties();
  speed->set_path("/drive/max_speed");
  speed->set_value("\x00\x00\x40\x3f", 4);  // 0.75 as a little-endian float
  speed->set_last_change_time(1700000000123ULL);
  speed->set_last_change_id(7);
  speed->set_authority(true);
  PropertyChanged_KVPair* unit = speed->add_metadata();
  unit->set_key("unit");
  unit->set_value("m/s");

  PropertyChanged* camera = change->add_properties();
  camera->set_path("/camera/enabled");
  camera->set_value("\x01", 1);
  camera->set_ack(true);

  std::string bytes;
  if (!message.SerializeToString(&bytes)) {
    std::fprintf(stderr, "encoding failed\n");
    return 1;
  }
  std::printf("%zu bytes:", bytes.size());
  for (unsigned char c : bytes) std::printf(" %02x", c);
  std::printf("\n\n%s\n", message.DebugString().c_str());

  MultiPropertyChanged decoded;
  bool parsed = decoded.ParseFromString(bytes);
  bool equal = parsed && decoded.SerializeAsString() == bytes &&
               decoded.DebugString() == message.DebugString();
  std::printf("decoded: %s\n", equal ? "equal to the original" : "DIFFERENT");
  google::protobuf::ShutdownProtobufLibrary();
  return equal ? 0 : 1;
}
