// The wire walker against the message classes' own parser: it must accept
// exactly what the parser accepts, place faults inside the input, classify
// fields as the parser keeps them, and stop at the runtime's nesting limit.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include <google/protobuf/unknown_field_set.h>

#include "tests/test_util.h"
#include "tools/session_proto/byte_codec.h"
#include "tools/session_proto/wire_walk.h"

namespace session_proto {
namespace {

using google::protobuf::Descriptor;
using google::protobuf::Message;
using google::protobuf::MessageFactory;

std::string FromHex(const std::string& hex) {
  std::string bytes, error;
  EXPECT_TRUE(DecodeText(ByteForm::kHex, hex, &bytes, &error)) << error;
  return bytes;
}

bool LibraryAccepts(const Descriptor& type, const std::string& bytes) {
  std::unique_ptr<Message> message(MessageFactory::generated_factory()->GetPrototype(&type)->New());
  return message->ParsePartialFromString(bytes);
}

// Valid encodings of several types, covering every wire type, packed runs,
// unknown fields, groups and out-of-range enumeration numbers.
std::vector<std::pair<const Descriptor*, std::string>> Seeds() {
  const std::string oddities = FromHex(
      "0d0000003f" "7807" "0805" "6a0e1a0c0a080000803f000000401807" "720412020105"
      "620408030804" "a3010809a401" "81010100000000000000" "8a0103616263");
  return {{CommandVelocity::descriptor(), protolib_test::SampleCommand().SerializeAsString()},
          {MultiPropertyChanged::descriptor(), protolib_test::SampleChangeSet().SerializeAsString()},
          {CommandVelocity::descriptor(), oddities},
          {PTZStatus::descriptor(), FromHex("0801102a18d6ffffffffffffffff01" "39000000000000f03f" "41000000000000f03f")},
          // Enumerations at the top, where unknown fields are counted.
          {LaserPointToCommand::descriptor(), FromHex("0a080000803f00000040" "1807" "2002")},
          {CandyMessage::descriptor(), FromHex("0801" "120400010205" "1003")}};
}

// One random edit: change, insert or delete bytes, or cut the end off.
void Mutate(std::mt19937& random, std::string* bytes) {
  static const char kInteresting[] = {'\x00', '\x01', '\x02', '\x03', '\x04', '\x05', '\x06',
                                      '\x07', '\x08', '\x0a', '\x0b', '\x0c', '\x7f', '\x80',
                                      '\xff'};
  auto pick = [&](size_t n) { return n == 0 ? 0 : std::uniform_int_distribution<size_t>(0, n - 1)(random); };
  auto byte = [&]() {
    return random() % 2 ? kInteresting[pick(sizeof kInteresting)] : static_cast<char>(random());
  };
  switch (random() % 4) {
    case 0:
      if (!bytes->empty()) (*bytes)[pick(bytes->size())] = byte();
      break;
    case 1:
      bytes->insert(pick(bytes->size() + 1), 1 + pick(3), byte());
      break;
    case 2:
      if (!bytes->empty()) bytes->erase(pick(bytes->size()), 1 + pick(3));
      break;
    default:
      bytes->resize(pick(bytes->size() + 1));
  }
}

// The parser keeps a top-level field among the unknown fields exactly when
// the walk says so (a packed run: each out-of-range element).
int UnknownCount(const WireWalk& walk) {
  int count = 0;
  for (const WireField& f : walk.fields) {
    if (KeptAsUnknown(f.role)) ++count;
    for (const WireField& element : f.children) {
      if (f.role == FieldRole::kPacked && element.role == FieldRole::kEnumOutOfRange) ++count;
    }
  }
  return count;
}

TEST(WireWalk, AcceptsExactlyWhatTheMessageClassesAccept) {
  std::mt19937 random(20240601);
  int disagreements = 0;
  for (const auto& [type, seed] : Seeds()) {
    ASSERT_TRUE(LibraryAccepts(*type, seed));
    for (int round = 0; round < 20000 && disagreements < 5; ++round) {
      std::string bytes = seed;
      for (int edits = 1 + static_cast<int>(random() % 3); edits > 0; --edits) {
        Mutate(random, &bytes);
      }
      const WireWalk walk = WalkWire(*type, bytes);
      const bool accepted = LibraryAccepts(*type, bytes);
      if (accepted == walk.fault.has_value()) {
        ++disagreements;
        ADD_FAILURE() << type->full_name() << " " << EncodeText(ByteForm::kHex, bytes)
                      << ": the class " << (accepted ? "accepts" : "refuses")
                      << " it, the walk " << (walk.fault ? "faults: " + walk.fault->reason
                                                         : std::string("does not"));
      } else if (walk.fault) {
        EXPECT_LE(walk.fault->offset, bytes.size());
      } else {
        std::unique_ptr<Message> message(
            MessageFactory::generated_factory()->GetPrototype(type)->New());
        message->ParsePartialFromString(bytes);
        EXPECT_EQ(message->GetReflection()->GetUnknownFields(*message).field_count(),
                  UnknownCount(walk))
            << EncodeText(ByteForm::kHex, bytes);
      }
    }
  }
}

TEST(WireWalk, NestingStopsAtTheRuntimeLimit) {
  auto groups = [](int levels) {
    return std::string(static_cast<size_t>(levels), '\x0b') +
           std::string(static_cast<size_t>(levels), '\x0c');
  };
  EXPECT_TRUE(LibraryAccepts(*Ping::descriptor(), groups(kMaxNesting)));
  EXPECT_FALSE(WalkWire(*Ping::descriptor(), groups(kMaxNesting)).fault);

  const std::string too_deep = groups(kMaxNesting + 1);
  EXPECT_FALSE(LibraryAccepts(*Ping::descriptor(), too_deep));
  const WireWalk walk = WalkWire(*Ping::descriptor(), too_deep);
  ASSERT_TRUE(walk.fault);
  EXPECT_EQ(walk.fault->offset, static_cast<size_t>(kMaxNesting));
  EXPECT_NE(walk.fault->reason.find("nesting too deep"), std::string::npos);

  // Far deeper input still costs no more than the limit's depth of calls.
  const std::string abyss = groups(1000000);
  EXPECT_TRUE(WalkWire(*Ping::descriptor(), abyss).fault);
}

struct FaultCase {
  const char* hex;
  size_t offset;
  const char* reason;
};

TEST(WireWalk, NamesTheOffsetAndReasonOfEachFault) {
  const FaultCase cases[] = {
      {"0d0000003f3880", 6, "truncated varint in send_timestamp_ns (field 7)"},
      {"38ffffffffffffffffffff01", 1, "varint longer than 10 bytes"},
      {"5a05120308", 1, "length 5 runs past the end (3 bytes left) in ptz_message (field 11)"},
      {"5a0412050801", 3, "length 5 runs past the end (2 bytes left) in ptz_message.move (field 2)"},
      {"0e", 0, "invalid wire type 6 (field 1)"},
      {"0f", 0, "invalid wire type 7"},
      {"0001", 0, "invalid field number 0"},
      {"0c", 0, "end-group tag without a start-group tag"},
      {"5a020c00", 2, "end-group tag without a start-group tag in ptz_message"},
      {"0b", 0, "group of field 1 has no end-group tag"},
      {"0b14", 1, "end-group tag of field 2 inside group 1"},
      {"0d0000", 1, "truncated 32-bit value (2 bytes left) in linear (field 1)"},
      {"6a05120300", 1, "length 5 runs past the end"},
      {"6a051a030a0100", 6, "packed run of 1 byte is not a whole number of 4-byte values"},
      {"808080808001", 0, "tag longer than 5 bytes"},
      {"0a8080808008", 1, "length 2147483648 is beyond the 2 GiB limit"},
      {"62030a0180", 4, "truncated varint in a packed run in command_ack.message_ids"},
  };
  for (const FaultCase& c : cases) {
    const std::string bytes = FromHex(c.hex);
    SCOPED_TRACE(c.hex);
    EXPECT_FALSE(LibraryAccepts(*CommandVelocity::descriptor(), bytes));
    const WireWalk walk = WalkWire(*CommandVelocity::descriptor(), bytes);
    ASSERT_TRUE(walk.fault);
    EXPECT_EQ(walk.fault->offset, c.offset);
    EXPECT_NE(walk.fault->reason.find(c.reason), std::string::npos) << walk.fault->reason;
  }
}

TEST(WireWalk, ClassifiesFieldsAsTheParserKeepsThem) {
  // linear on the varint wire type, field 15, laser state 7, a packed run of
  // candy slots 1 and 5, and packed floats.
  const WireWalk walk = WalkWire(*CommandVelocity::descriptor(),
                                 FromHex("0805" "7807" "6a0e1a0c0a080000803f000000401807"
                                         "720412020105"));
  ASSERT_FALSE(walk.fault);
  ASSERT_EQ(walk.fields.size(), 4u);
  EXPECT_EQ(walk.fields[0].role, FieldRole::kWrongWireType);
  EXPECT_EQ(walk.fields[1].role, FieldRole::kUnknown);
  const WireField& point_to = walk.fields[2].children.at(0);
  ASSERT_EQ(point_to.children.size(), 2u);
  EXPECT_EQ(point_to.children[0].role, FieldRole::kPacked);
  EXPECT_EQ(point_to.children[0].children.size(), 2u);
  EXPECT_EQ(point_to.children[1].role, FieldRole::kEnumOutOfRange);
  const WireField& slots = walk.fields[3].children.at(0);
  ASSERT_EQ(slots.children.size(), 2u);
  EXPECT_EQ(slots.children[0].role, FieldRole::kElement);
  EXPECT_EQ(slots.children[1].role, FieldRole::kEnumOutOfRange);
  EXPECT_EQ(slots.children[1].offset, 25u);
}

}  // namespace
}  // namespace session_proto
