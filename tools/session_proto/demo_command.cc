// session-proto demo: the typical drive command and a small change set,
// encoded, annotated and decoded again. Fixed values throughout, so that
// the output is the same on every run.
#include <google/protobuf/util/message_differencer.h>

#include "session/commander_private/commander.pb.h"
#include "session/velocity.pb.h"
#include "tools/session_proto/annotate.h"
#include "tools/session_proto/byte_codec.h"
#include "tools/session_proto/commands.h"
#include "tools/session_proto/decoding.h"
#include "tools/session_proto/text_forms.h"

namespace session_proto {
namespace {

constexpr uint64_t kSendTime = 1700000000000000000ULL;  // 2023-11-14T22:13:20Z in ns

CommandVelocity DriveCommand() {
  CommandVelocity command;
  command.set_linear(0.5f);
  command.set_angular(-0.25f);
  command.set_send_timestamp_ns(kSendTime);
  PTZMoveCommand* move = command.mutable_ptz_message()->mutable_move();
  move->set_pan_target(1200);
  move->set_tilt_target(-300);
  return command;
}

MultiPropertyChanged ChangeSet() {
  MultiPropertyChanged message;
  MultiPropertyChangedData* change = message.mutable_change();
  change->set_change_set_id(42);
  change->set_ack_id(41);
  PropertyChanged* speed = change->add_properties();
  speed->set_path("/drive/max_speed");
  speed->set_value(std::string("\x00\x00\x40\x3f", 4));  // 0.75 as a little-endian float
  speed->set_last_change_time(kSendTime / 1000000);       // ms
  speed->set_last_change_id(7);
  speed->set_authority(true);
  PropertyChanged_KVPair* unit = speed->add_metadata();
  unit->set_key("unit");
  unit->set_value("m/s");
  PropertyChanged* camera = change->add_properties();
  camera->set_path("/camera/enabled");
  camera->set_value(std::string("\x01", 1));
  camera->set_ack(true);
  return message;
}

std::string Indented(const std::string& text) {
  std::string out;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size() - 1;
    out += "  " + text.substr(start, end - start + 1);
    start = end + 1;
  }
  return out;
}

// Shows one message the way the tool's commands would, and checks that the
// message class decodes its bytes into an equal message.
bool Show(const std::string& title, const google::protobuf::Message& original, Streams io) {
  const google::protobuf::Descriptor& type = *original.GetDescriptor();
  const std::string bytes = original.SerializeAsString();
  io.out << "== " << title << ": " << type.full_name() << "\n\n"
         << "encoded (hex): " << EncodeText(ByteForm::kHex, bytes) << "\n\n"
         << Annotate(type, bytes) << "\n";
  MessageDecoder decoder(type);
  std::string problem, text;
  if (!decoder.Decode(bytes, 0, false, &problem)) {
    io.out << "decoding it again failed: " << problem << "\n\n";
    return false;
  }
  text = PrintedTextForm(TextForm::kText, decoder.message());
  const bool same = google::protobuf::util::MessageDifferencer::Equals(decoder.message(), original) &&
                    decoder.message().SerializeAsString() == bytes;
  io.out << "decoded again (text format):\n"
         << Indented(text) << "round trip: "
         << (same ? "equal to the original, and encodes to the same bytes"
                  : "DIFFERENT from the original")
         << "\n\n";
  return same;
}

}  // namespace

int RunDemo(Streams io) {
  bool drive = Show("The typical drive command", DriveCommand(), io);
  bool change = Show("A change set of two properties", ChangeSet(), io);
  io.out << (drive && change ? "Both messages round-trip." : "A message did NOT round-trip.")
         << "\n";
  io.out.flush();
  return drive && change ? kExitOk : kExitBadInput;
}

}  // namespace session_proto
