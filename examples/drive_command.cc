// The typical drive command: velocities, a time stamp and a camera move,
// encoded and decoded again.
#include <chrono>
#include <cstdio>
#include <string>

#include <google/protobuf/stubs/common.h>

#include "session/velocity.pb.h"

int main() {
  CommandVelocity command;
  command.set_linear(0.5f);
  command.set_angular(-0.25f);
  PTZMoveCommand* move = command.mutable_ptz_message()->mutable_move();
  move->set_pan_target(1200);
  move->set_tilt_target(-300);
  command.set_send_timestamp_ns(static_cast<uint64_t>(
      std::chrono::duration_cast<std::chrono::nanoseconds>(
          std::chrono::system_clock::now().time_since_epoch())
          .count()));

  const std::string bytes = command.SerializeAsString();
  std::printf("%zu bytes:", bytes.size());
  for (unsigned char c : bytes) std::printf(" %02x", c);
  std::printf("\n\n%s\n", command.DebugString().c_str());

  CommandVelocity received;
  bool ok = received.ParseFromString(bytes) && received.has_ptz_message() &&
            received.ptz_message().move().pan_target() == 1200 &&
            received.SerializeAsString() == bytes;
  std::printf("decoded: %s\n", ok ? "equal to the original" : "DIFFERENT");
  google::protobuf::ShutdownProtobufLibrary();
  return ok ? 0 : 1;
}
