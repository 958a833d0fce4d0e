// Writes the fuzz targets' seed corpus: meaningful encodings of every message
// type of each schema file, each file's first byte selecting the type as the
// fuzz targets read it (fuzz_types.h).
//
//   fuzz_make_corpus DIR   writes DIR/commander/* and DIR/velocity/*
//
// The committed seeds in fuzz/corpus are this program's output.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include <google/protobuf/message.h>

#include "fuzz/fuzz_types.h"
#include "tests/test_util.h"

namespace {

using protolib_fuzz::CommanderTypes;
using protolib_fuzz::VelocityTypes;
using ::tolva::calibration::PTZCameraParameters;

std::string g_root;
int g_written = 0;

void Write(const std::string& dir, const std::string& name, int selector,
           const std::string& payload) {
  std::string path = g_root + "/" + dir + "/" + name;
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.put(static_cast<char>(selector));
  out.write(payload.data(), static_cast<std::streamsize>(payload.size()));
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", path.c_str());
    std::exit(1);
  }
  ++g_written;
}

template <class T>
void Commander(const std::string& name, const T& m) {
  Write("commander", name, CommanderTypes::IndexOf<T>(), m.SerializePartialAsString());
}
template <class T>
void CommanderRaw(const std::string& name, const std::string& bytes) {
  Write("commander", name, CommanderTypes::IndexOf<T>(), bytes);
}
template <class T>
void Velocity(const std::string& name, const T& m) {
  Write("velocity", name, VelocityTypes::IndexOf<T>(), m.SerializePartialAsString());
}
template <class T>
void VelocityRaw(const std::string& name, const std::string& bytes) {
  Write("velocity", name, VelocityTypes::IndexOf<T>(), bytes);
}

// Wire-format pieces for encodings the classes never write themselves.
using protolib_test::Delimited;
using protolib_test::Tag;
using protolib_test::Varint;
std::string Fixed32(uint32_t v) {
  std::string out;
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<char>(v >> (8 * i)));
  return out;
}
std::string FloatBits(float f) {
  uint32_t bits;
  std::memcpy(&bits, &f, 4);
  return Fixed32(bits);
}
// Unknown fields of every wire type, a group holding a nested group among them.
std::string UnknownFields() {
  return Tag(100, 0) + Varint(300) + Tag(101, 1) + std::string("\x01\x02\x03\x04\x05\x06\x07\x08", 8) +
         Delimited(102, "opaque") + Tag(103, 3) + Tag(1, 0) + Varint(7) + Tag(2, 3) +
         Tag(2, 4) + Tag(103, 4) + Tag(104, 5) + Fixed32(0xdeadbeef);
}

PropertyChanged SpeedProperty() {
  PropertyChanged p;
  p.set_last_change_time(1700000000123456789ull);
  p.set_last_change_id(-1);
  p.set_ack(true);
  p.set_path("/drive/max_speed");
  p.set_value(FloatBits(1.5f));
  PropertyChanged_KVPair* unit = p.add_metadata();
  unit->set_key("unit");
  unit->set_value("m/s");
  PropertyChanged_KVPair* source = p.add_metadata();
  source->set_key("source");
  source->set_value(std::string("\x00\xff", 2));
  p.set_authority(false);
  p.set_path_hash(0x9e3779b9u);
  return p;
}

void WriteCommander() {
  CommandHeader header;
  header.set_time(1700000000000000000ull);
  header.set_seq(42);
  header.set_type(3);
  Commander("command_header", header);

  PropertyChanged_KVPair pair;
  pair.set_key("unit");
  pair.set_value("m/s");
  Commander("kvpair", pair);
  PropertyChanged_KVPair no_key;
  no_key.set_value("orphan");
  Commander("kvpair_missing_key", no_key);

  Commander("property_changed", SpeedProperty());
  PropertyChanged ack;
  ack.set_path("/lights/head");
  ack.set_ack(true);
  ack.set_last_change_id(12);
  Commander("property_changed_ack", ack);
  CommanderRaw<PropertyChanged>("property_changed_unknown",
                                SpeedProperty().SerializePartialAsString() + UnknownFields());

  MultiPropertyChangedData data;
  *data.add_properties() = SpeedProperty();
  data.add_properties()->CopyFrom(ack);
  data.set_change_set_id(7);
  data.set_ack_id(6);
  Commander("multi_property_changed_data", data);

  MultiPropertyChanged multi;
  *multi.mutable_change() = data;
  multi.set_compressed_change(std::string("\x78\x9c\x03\x00\x00\x00\x00\x01", 8));
  Commander("multi_property_changed", multi);
  // The change message split over two occurrences of the field: merged.
  CommanderRaw<MultiPropertyChanged>(
      "multi_property_changed_split",
      Delimited(1, Tag(2, 0) + Varint(7)) +
          Delimited(1, Delimited(1, SpeedProperty().SerializePartialAsString())));

  Ping ping;
  ping.set_time(1700000000000000001ull);
  Commander("ping", ping);
  ping.set_is_reply(true);
  Commander("ping_reply", ping);

  CommanderRaw<CommandHeader>("command_header_empty", "");
  CommanderRaw<Ping>("ping_truncated", Tag(1, 0) + "\x80");
}

PTZCameraParameters Calibration() {
  PTZCameraParameters c;
  c.set_focal_length_x(1041.5);
  c.set_focal_length_y(1039.25);
  c.set_principal_point_x(960.5);
  c.set_principal_point_y(540.0);
  for (float k : {-0.28f, 0.074f, 0.0002f, -0.0001f, 0.0f}) c.add_distortion(k);
  c.set_mount_height_m(1.12f);
  c.set_pan_offset_rad(0.01f);
  c.set_tilt_offset_rad(-0.02f);
  c.set_image_width(1920);
  c.set_image_height(1080);
  c.set_camera_serial("PTZ-000123");
  return c;
}

PTZMessage FullPtz() {
  PTZMessage p;
  p.set_message_id(501);
  PTZMoveCommand* move = p.mutable_move();
  move->set_pan_target(1200);
  move->set_tilt_target(-300);
  move->set_zoom_target(4);
  move->set_pan_speed(50);
  move->set_tilt_speed(25);
  p.mutable_focus()->set_autofocus(false);
  p.mutable_focus()->set_focus_value(330);
  p.mutable_reset()->set_reset_pan_tilt_zoom(true);
  PTZStatus* status = p.mutable_status();
  status->set_moving(true);
  status->set_current_pan(1100);
  status->set_current_tilt(-280);
  status->set_current_zoom(3);
  status->set_current_focus(320);
  status->set_last_move_command_id(500);
  status->set_ptz_present(true);
  status->set_ptz_powered_in_s(12.5);
  p.mutable_data_request()->set_request_calibration(true);
  *p.mutable_calibration() = Calibration();
  return p;
}

LaserMessage FullLaser() {
  LaserMessage l;
  l.set_message_id(77);
  l.mutable_onoff()->set_laser_on(true);
  LaserPointToCommand* point = l.mutable_point_to();
  for (float v : {0.0f, 0.1f, 1.2f}) point->add_ray_origin(v);
  for (float v : {1.0f, 0.0f, -0.5f}) point->add_ray_direction(v);
  point->set_state_while_moving(OFF);
  point->set_state_after_moving(ON);
  LaserStatus* status = l.mutable_status();
  for (float v : {0.9f, 0.1f, 0.0f}) status->add_targeted_direction(v);
  for (float v : {2.0f, 0.2f, 0.0f}) status->add_targeted_point(v);
  status->set_target_message_id(76);
  for (float v : {0.8f, 0.2f, 0.0f}) status->add_current_direction(v);
  for (float v : {0.0f, 0.1f, 1.2f}) status->add_laser_center(v);
  status->set_state(true);
  status->set_moving(true);
  status->set_laser_unavailable(false);
  return l;
}

CommandVelocity FullCommand() {
  CommandVelocity c;
  c.set_linear(0.5f);
  c.set_angular(-0.25f);
  c.set_velocity_limiter_tag(0xfeedfacecafebeefull);
  c.set_allowed_linear_distance(2.0f);
  c.set_allowed_angular_distance(3.14159f);
  c.set_send_timestamp_ns(1700000000000000000ull);
  c.mutable_autodocking()->set_dock_id(2);
  c.mutable_calibration()->set_calibration_id(9);
  c.mutable_calibration()->set_calibrate_gyroscope(true);
  c.mutable_calibration()->set_calibrate_cameras(false);
  c.set_override_disabled_driving(true);
  *c.mutable_ptz_message() = FullPtz();
  for (uint32_t id : {498u, 499u, 500u}) c.mutable_command_ack()->add_message_ids(id);
  *c.mutable_laser_message() = FullLaser();
  c.mutable_candy_message()->set_message_id(12);
  c.mutable_candy_message()->add_active_slots(BIN0);
  c.mutable_candy_message()->add_active_slots(BIN2);
  return c;
}

void WriteVelocity() {
  Velocity("command_velocity", FullCommand());
  CommandVelocity drive;
  drive.set_linear(0.3f);
  drive.set_angular(0.1f);
  drive.set_send_timestamp_ns(1700000000000000000ull);
  Velocity("command_velocity_drive", drive);
  CommandVelocity id_only;
  id_only.mutable_ptz_message()->set_message_id(1);
  Velocity("command_velocity_ptz_id", id_only);
  VelocityRaw<CommandVelocity>("command_velocity_unknown",
                               drive.SerializePartialAsString() + UnknownFields());

  AutoDockingRequest dock;
  dock.set_dock_id(-5);
  Velocity("autodocking_request", dock);
  CalibrationRequest calibration;
  calibration.set_calibration_id(3);
  calibration.set_calibrate_gyroscope(true);
  calibration.set_calibrate_cameras(true);
  Velocity("calibration_request", calibration);
  PTZMessage ptz = FullPtz();
  Velocity("ptz_move_command", ptz.move());
  Velocity("ptz_reset_command", ptz.reset());
  Velocity("ptz_focus_command", ptz.focus());
  Velocity("ptz_status", ptz.status());
  Velocity("ptz_data_request", ptz.data_request());
  Velocity("ptz_message", ptz);

  CommandAck ack;
  for (uint32_t id : {1u, 300u, 4000000000u}) ack.add_message_ids(id);
  Velocity("command_ack", ack);
  VelocityRaw<CommandAck>("command_ack_packed",
                          Delimited(1, Varint(1) + Varint(300) + Varint(4000000000u)));

  LaserMessage laser = FullLaser();
  Velocity("laser_on_command", laser.onoff());
  Velocity("laser_point_to_command", laser.point_to());
  VelocityRaw<LaserPointToCommand>(
      "laser_point_to_packed_bad_state",
      Delimited(1, FloatBits(0.0f) + FloatBits(0.1f) + FloatBits(1.2f)) + Tag(3, 0) +
          Varint(2) + Tag(4, 0) + Varint(7));
  Velocity("laser_status", laser.status());
  Velocity("laser_message", laser);

  CandyMessage candy;
  candy.set_message_id(4);
  candy.add_active_slots(BIN1);
  Velocity("candy_message", candy);
  // Slot 5 is no declared slot: kept among the unknown fields.
  VelocityRaw<CandyMessage>("candy_message_packed_unknown_slot",
                            Tag(1, 0) + Varint(4) + Delimited(2, Varint(0) + Varint(5) + Varint(2)));

  Velocity("ptz_camera_parameters", Calibration());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s DIR\n", argv[0]);
    return 2;
  }
  g_root = argv[1];
  std::filesystem::create_directories(g_root + "/commander");
  std::filesystem::create_directories(g_root + "/velocity");
  WriteCommander();
  WriteVelocity();
  std::printf("wrote %d seed files under %s\n", g_written, g_root.c_str());
  return 0;
}
