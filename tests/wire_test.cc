// Exact bytes on the wire: encoding order and sizes, decoding rules, unknown
// fields, enumerations out of range and nesting limits.
#include <functional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "test_util.h"

namespace pb = google::protobuf;
using protolib_test::Bytes;
using protolib_test::Hex;

namespace {

// A message built by a function and the exact bytes it must encode to.
struct EncodeCase {
  const char* name;
  std::function<std::unique_ptr<pb::Message>()> build;
  std::string bytes;
};

template <class T>
std::function<std::unique_ptr<pb::Message>()> Build(std::function<void(T*)> fill) {
  return [fill] {
    auto m = std::make_unique<T>();
    fill(m.get());
    return std::unique_ptr<pb::Message>(std::move(m));
  };
}

std::vector<EncodeCase> EncodeCases() {
  return {
      {"empty", Build<CommandHeader>([](CommandHeader*) {}), ""},
      {"bool false is present", Build<Ping>([](Ping* m) { m->set_is_reply(false); }),
       Bytes({0x10, 0x00})},
      {"a field set to its default is present",
       Build<LaserPointToCommand>([](LaserPointToCommand* m) { m->set_state_after_moving(OFF); }),
       Bytes({0x20, 0x00})},
      {"a cleared field is absent", Build<PropertyChanged>([](PropertyChanged* m) {
         m->set_ack(false);
         m->set_path("p");
         m->clear_ack();
       }),
       Bytes({0x1A, 0x01, 0x70})},
      {"enumeration setters store any number", Build<CandyMessage>([](CandyMessage* m) {
         m->add_active_slots(static_cast<CandySlot>(-2));
       }),
       Bytes({0x10, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01})},
      {"singular enumeration setter", Build<LaserPointToCommand>([](LaserPointToCommand* m) {
         m->set_state_while_moving(static_cast<LaserState>(7));
       }),
       Bytes({0x18, 0x07})},
      {"negative int32 takes ten bytes",
       Build<AutoDockingRequest>([](AutoDockingRequest* m) { m->set_dock_id(-1); }),
       Bytes({0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01})},
      {"uint32 varint", Build<LaserMessage>([](LaserMessage* m) { m->set_message_id(300); }),
       Bytes({0x08, 0xAC, 0x02})},
      {"number order, not declaration order",
       Build<PTZStatus>([](PTZStatus* m) {
         m->set_current_focus(5);
         m->set_ptz_powered_in_s(1.5);
         m->set_moving(true);
       }),
       Bytes({0x08, 0x01, 0x39, 0, 0, 0, 0, 0, 0, 0xF8, 0x3F, 0x40, 0x05})},
      {"fixed32 little-endian, field 8 last",
       Build<PropertyChanged>([](PropertyChanged* m) {
         m->set_last_change_id(8);
         m->set_path_hash(258);
       }),
       Bytes({0x3D, 0x02, 0x01, 0x00, 0x00, 0x40, 0x08})},
      {"repeated floats unpacked",
       Build<LaserPointToCommand>([](LaserPointToCommand* m) {
         m->add_ray_origin(1.0f);
         m->add_ray_origin(2.0f);
       }),
       Bytes({0x0D, 0, 0, 0x80, 0x3F, 0x0D, 0, 0, 0, 0x40})},
      {"empty present sub-message",
       Build<CommandVelocity>([](CommandVelocity* m) {
         m->set_linear(1.0f);
         m->mutable_ptz_message();
       }),
       Bytes({0x0D, 0, 0, 0x80, 0x3F, 0x5A, 0x00})},
      {"nested sub-message",
       Build<CommandVelocity>([](CommandVelocity* m) { m->mutable_ptz_message()->set_message_id(1); }),
       Bytes({0x5A, 0x02, 0x08, 0x01})},
      {"empty repeated element",
       Build<MultiPropertyChangedData>([](MultiPropertyChangedData* m) { m->add_properties(); }),
       Bytes({0x0A, 0x00})},
      {"required field alone",
       Build<PropertyChanged_KVPair>([](PropertyChanged_KVPair* m) { m->set_key("a"); }),
       Bytes({0x0A, 0x01, 0x61})},
      {"camera parts in number order",
       Build<PTZMessage>([](PTZMessage* m) {
         m->mutable_reset();
         m->mutable_focus();
         m->mutable_calibration();
         m->mutable_data_request();
         m->mutable_status();
         m->mutable_move();
         m->set_message_id(0);
       }),
       Bytes({0x08, 0x00, 0x12, 0x00, 0x1A, 0x00, 0x22, 0x00, 0x2A, 0x00, 0x32, 0x00, 0x3A,
              0x00})},
      {"every drive command field in number order",
       Build<CommandVelocity>([](CommandVelocity* m) {
         m->mutable_candy_message();
         m->mutable_laser_message();
         m->mutable_command_ack();
         m->mutable_ptz_message();
         m->set_override_disabled_driving(true);
         m->mutable_calibration();
         m->mutable_autodocking();
         m->set_send_timestamp_ns(300);
         m->set_allowed_angular_distance(0);
         m->set_allowed_linear_distance(0);
         m->set_velocity_limiter_tag(1);
         m->set_angular(0);
         m->set_linear(0.5f);
       }),
       Bytes({0x0D, 0, 0, 0, 0x3F, 0x15, 0, 0, 0, 0, 0x20, 0x01, 0x2D, 0, 0, 0, 0, 0x35, 0, 0,
              0, 0, 0x38, 0xAC, 0x02, 0x42, 0x00, 0x4A, 0x00, 0x50, 0x01, 0x5A, 0x00, 0x62,
              0x00, 0x6A, 0x00, 0x72, 0x00})},
  };
}

TEST(Encoding, ExactBytesFromBothWriters) {
  for (const EncodeCase& c : EncodeCases()) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<pb::Message> m = c.build();
    EXPECT_EQ(Hex(protolib_test::EncodeToArray(*m)), Hex(c.bytes));
    EXPECT_EQ(Hex(protolib_test::StreamBytes(*m)), Hex(c.bytes));
    EXPECT_EQ(m->ByteSizeLong(), c.bytes.size());
    EXPECT_EQ(m->GetCachedSize(), static_cast<int>(c.bytes.size()));
  }
}

// Decoding: input bytes and the message they give (by its re-encoding).
// Inputs that fail are FailedParse's, in hostile_input_test.cc.
struct DecodeCase {
  const char* name;
  const pb::Message* type;
  std::string input;
  std::string reencoded;
};

std::vector<DecodeCase> DecodeCases() {
  const std::string varint_one_in_ten = Bytes({0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x01});
  const std::string minus_one_ten = Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x01});
  const std::string one_float = Bytes({0, 0, 0x80, 0x3F});
  const std::string above_32_bits = Bytes({0x85, 0x80, 0x80, 0x80, 0x10});  // 2^32 + 5
  const std::string five_byte_max = Bytes({0xFF, 0xFF, 0xFF, 0xFF, 0x0F});  // 2^32 - 1
  return {
      {"last occurrence of a scalar wins", &CommandHeader::default_instance(),
       Bytes({0x08, 0x01, 0x08, 0x02, 0x18, 0x05}), Bytes({0x08, 0x02, 0x18, 0x05})},
      {"bool from a ten-byte varint", &Ping::default_instance(), "\x10" + varint_one_in_ten,
       Bytes({0x10, 0x01})},
      {"bool from a varint of 2", &Ping::default_instance(), Bytes({0x10, 0x02}),
       Bytes({0x10, 0x01})},
      {"int32 from five bytes", &AutoDockingRequest::default_instance(),
       Bytes({0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F}), "\x08" + minus_one_ten},
      {"uint32 keeps the low 32 bits", &CommandAck::default_instance(),
       Bytes({0x08, 0x85, 0x80, 0x80, 0x80, 0x10}), Bytes({0x08, 0x05})},
      {"packed uint32 run", &CommandAck::default_instance(), Bytes({0x0A, 0x03, 0x01, 0xAC, 0x02}),
       Bytes({0x08, 0x01, 0x08, 0xAC, 0x02})},
      {"packed and unpacked enumerations mix", &CandyMessage::default_instance(),
       Bytes({0x10, 0x01, 0x12, 0x02, 0x00, 0x02, 0x10, 0x01}),
       Bytes({0x10, 0x01, 0x10, 0x00, 0x10, 0x02, 0x10, 0x01})},
      {"a run of elements ends with its message", &CommandVelocity::default_instance(),
       Bytes({0x62, 0x02, 0x08, 0x05, 0x08, 0x07}), Bytes({0x62, 0x02, 0x08, 0x05, 0x08, 0x07})},
      {"packed floats", &LaserPointToCommand::default_instance(),
       Bytes({0x0A, 0x08}) + one_float + Bytes({0, 0, 0, 0x40}),
       "\x0d" + one_float + Bytes({0x0D, 0, 0, 0, 0x40})},
      {"declared number, other wire type: unknown, written last",
       &CommandHeader::default_instance(), Bytes({0x09, 1, 0, 0, 0, 0, 0, 0, 0, 0x08, 0x07}),
       Bytes({0x08, 0x07, 0x09, 1, 0, 0, 0, 0, 0, 0, 0})},
      {"two-byte tag of an undeclared number", &CommandHeader::default_instance(),
       Bytes({0x80, 0x01, 0x05}), Bytes({0x80, 0x01, 0x05})},
      {"undeclared enumeration number", &LaserPointToCommand::default_instance(),
       Bytes({0x18, 0x05}), Bytes({0x18, 0x05})},
      {"undeclared enumeration numbers are sign-extended", &LaserPointToCommand::default_instance(),
       Bytes({0x18, 0x01, 0x18, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F}), "\x18\x01\x18" + minus_one_ten},
      // Kept as the int32 the field would hold: sign-extended, the low 32
      // bits of a longer value, for singular, repeated and packed fields.
      {"undeclared singular enumeration above 32 bits", &LaserPointToCommand::default_instance(),
       "\x18" + above_32_bits, Bytes({0x18, 0x05})},
      {"undeclared singular enumeration 2^32-1", &LaserPointToCommand::default_instance(),
       "\x20" + five_byte_max, "\x20" + minus_one_ten},
      {"undeclared repeated enumeration above 32 bits", &CandyMessage::default_instance(),
       "\x10" + above_32_bits, Bytes({0x10, 0x05})},
      {"undeclared repeated enumeration 2^32-1", &CandyMessage::default_instance(),
       "\x10" + five_byte_max, "\x10" + minus_one_ten},
      {"undeclared packed enumerations beyond 32 bits", &CandyMessage::default_instance(),
       "\x12\x0a" + above_32_bits + five_byte_max, "\x10\x05\x10" + minus_one_ten},
      {"undeclared packed enumeration, nested", &CommandVelocity::default_instance(),
       Bytes({0x72, 0x09, 0x12, 0x07, 0x01}) + above_32_bits + "\x02",
       Bytes({0x72, 0x06, 0x10, 0x01, 0x10, 0x02, 0x10, 0x05})},
      {"undeclared numbers in a packed enumeration run", &CandyMessage::default_instance(),
       Bytes({0x12, 0x04, 0x00, 0x05, 0x02, 0x7F}), Bytes({0x10, 0x00, 0x10, 0x02, 0x10, 0x05, 0x10, 0x7F})},
      {"sub-message occurrences merge", &PTZMessage::default_instance(),
       Bytes({0x12, 0x02, 0x08, 0x05, 0x12, 0x02, 0x10, 0x06}), Bytes({0x12, 0x04, 0x08, 0x05, 0x10, 0x06})},
      {"an empty sub-message is present", &CommandVelocity::default_instance(), Bytes({0x5A, 0x00}),
       Bytes({0x5A, 0x00})},
      {"strings byte for byte, not UTF-8", &PropertyChanged::default_instance(),
       Bytes({0x1A, 0x02, 0xC3, 0x28}), Bytes({0x1A, 0x02, 0xC3, 0x28})},
  };
}

TEST(Decoding, InputGivesTheMessage) {
  for (const DecodeCase& c : DecodeCases()) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<pb::Message> m(c.type->New());
    ASSERT_TRUE(m->ParsePartialFromString(c.input)) << Hex(c.input);
    EXPECT_EQ(Hex(m->SerializeAsString()), Hex(c.reencoded));
  }
}

}  // namespace
