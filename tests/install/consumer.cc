// Uses both installed libraries through their installed headers.
#include <calibration_common/calibration.pb.h>
#include <session/commander_private/commander.pb.h>
#include <session/velocity.pb.h>

int main() {
  CommandVelocity command;
  command.set_linear(0.5f);
  command.mutable_ptz_message()->mutable_calibration()->set_image_width(1920);
  CommandVelocity back;
  if (!back.ParseFromString(command.SerializeAsString())) return 1;
  if (back.ptz_message().calibration().image_width() != 1920) return 2;
  Ping ping;
  ping.set_is_reply(true);
  return ping.SerializeAsString() == std::string("\x10\x01", 2) ? 0 : 3;
}
