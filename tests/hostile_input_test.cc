// Hostile input: nesting 100,000 levels deep, the parser's recursion limit,
// and the state a failed parse leaves behind. The runtime's DynamicMessage of the same descriptor serves
// as the reference wherever the outcome is not obvious.
#include <cstdint>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include <gtest/gtest.h>

#include <google/protobuf/dynamic_message.h>
#include <google/protobuf/io/coded_stream.h>
#include <google/protobuf/io/zero_copy_stream_impl_lite.h>
#include <google/protobuf/message.h>

#include "tests/schema/extremes.pb.h"
#include "tests/test_util.h"

namespace {

namespace pb = ::google::protobuf;
using protolib_test::Bytes;
using protolib_test::Delimited;
using protolib_test::Hex;
using protolib_test::Tag;
using protolib_test::Varint;

constexpr int kDepth = 100000;

// `depth` groups of field `number`, each opening inside the previous one;
// closed again when `closed`, left open (truncated input) otherwise.
std::string NestedGroups(uint32_t number, int depth, bool closed) {
  std::string out;
  for (int i = 0; i < depth; ++i) out += Tag(number, 3);
  for (int i = 0; closed && i < depth; ++i) out += Tag(number, 4);
  return out;
}

// `depth` length-delimited fields of number `number`, each holding the next,
// the innermost holding `core`. Built outside in, in linear time.
std::string NestedDelimited(uint32_t number, int depth, const std::string& core) {
  const std::string tag = Tag(number, 2);
  std::vector<size_t> inner_size(depth);
  size_t size = core.size();
  for (int level = depth - 1; level >= 0; --level) {
    inner_size[level] = size;
    size += tag.size() + Varint(size).size();
  }
  std::string out;
  out.reserve(size);
  for (int level = 0; level < depth; ++level) out += tag + Varint(inner_size[level]);
  out += core;
  return out;
}

pb::DynamicMessageFactory& Dynamic() {
  static pb::DynamicMessageFactory factory;
  return factory;
}

std::unique_ptr<pb::Message> NewDynamic(const pb::Message& prototype) {
  return std::unique_ptr<pb::Message>(
      Dynamic().GetPrototype(prototype.GetDescriptor())->New());
}

using protolib_test::SampleChangeSet;
using protolib_test::SampleCommand;

struct Subject {
  const char* name;
  const pb::Message* prototype;
  std::string (*valid)();
};

std::ostream& operator<<(std::ostream& os, const Subject& s) { return os << s.name; }

const Subject kSubjects[] = {
    {"CommandVelocity", &CommandVelocity::default_instance(),
     [] { return SampleCommand().SerializeAsString(); }},
    {"PTZMessage", &PTZMessage::default_instance(),
     [] { return SampleCommand().ptz_message().SerializeAsString(); }},
    {"LaserMessage", &LaserMessage::default_instance(),
     [] { return SampleCommand().laser_message().SerializeAsString(); }},
    {"PTZCameraParameters", &::tolva::calibration::PTZCameraParameters::default_instance(),
     [] { return SampleCommand().ptz_message().calibration().SerializeAsString(); }},
    {"MultiPropertyChanged", &MultiPropertyChanged::default_instance(),
     [] { return SampleChangeSet().SerializeAsString(); }},
    {"PropertyChanged", &PropertyChanged::default_instance(),
     [] { return SampleChangeSet().change().properties(0).SerializeAsString(); }},
    {"Ping", &Ping::default_instance(), [] { return Bytes({0x08, 0x05, 0x10, 0x01}); }},
};

// After a failed parse, the message clears to empty and takes valid bytes
// again as if new.
void ExpectReusable(pb::Message* m, const std::string& valid) {
  m->Clear();
  EXPECT_EQ(m->ByteSizeLong(), 0u);
  EXPECT_EQ(m->SerializeAsString(), "");
  ASSERT_TRUE(m->ParseFromString(valid));
  EXPECT_EQ(Hex(m->SerializeAsString()), Hex(valid));
}

class DeepNesting : public ::testing::TestWithParam<Subject> {};

// Input nested 100,000 levels deep, into a message that already holds the
// sample (so that a failed parse has allocations to leave behind): groups,
// closed or left open, under a free number, a declared length-delimited one
// (11 in CommandVelocity) and the largest number, also after valid fields,
// fail; a length-delimited field the type does not declare is kept whole,
// however deep its content nests, as DynamicMessage keeps it. Either way the
// message is reusable afterwards.
TEST_P(DeepNesting, FailsCleanlyOrKeepsAnUndeclaredFieldWhole) {
  struct Case {
    std::string what;
    std::string input;
    bool parses;
  };
  const std::string valid = GetParam().valid();
  const std::string delimited = NestedDelimited(15, kDepth, Tag(1, 0) + Varint(1));
  std::vector<Case> cases = {
      {"groups after valid fields", valid + NestedGroups(15, kDepth, true), false},
      {"undeclared delimited nesting", delimited, true},
      {"truncated delimited nesting", delimited.substr(0, delimited.size() - 1), false}};
  for (uint32_t number : {15u, 11u, 536870911u}) {
    for (bool closed : {true, false}) {
      cases.push_back({"groups of field " + std::to_string(number) + (closed ? " closed" : " open"),
                       NestedGroups(number, kDepth, closed), false});
    }
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::unique_ptr<pb::Message> m(GetParam().prototype->New());
    ASSERT_TRUE(m->ParseFromString(valid));
    EXPECT_EQ(m->ParseFromString(c.input), c.parses);
    EXPECT_EQ(NewDynamic(*GetParam().prototype)->ParseFromString(c.input), c.parses);
    if (c.parses) EXPECT_EQ(m->SerializeAsString(), c.input);
    ExpectReusable(m.get(), valid);
  }
}

INSTANTIATE_TEST_SUITE_P(Types, DeepNesting, ::testing::ValuesIn(kSubjects),
                         [](const ::testing::TestParamInfo<Subject>& info) {
                           return std::string(info.param.name);
                         });

// Deep nesting below known sub-messages, where the parser does descend:
// groups under CommandVelocity.ptz_message (under the parent's own number),
// under MultiPropertyChanged.change.properties[0].metadata[0]; and
// ptz_message inside ptz_message inside ..., where from the second level on
// the number is not PTZMessage's, so the rest is one unknown field.
TEST(DeepNestingInSubMessages, FailsCleanlyOrKeepsTheRestWhole) {
  CommandVelocity command = SampleCommand();
  MultiPropertyChanged change = SampleChangeSet();
  CommandVelocity empty;
  const std::string ptz_in_ptz = NestedDelimited(11, kDepth, "");
  const std::tuple<pb::Message*, std::string, bool> cases[] = {
      {&command, Delimited(11, NestedGroups(11, kDepth, true)), false},
      {&change,
       Delimited(1, Delimited(1, Delimited(5, Delimited(1, "k") + NestedGroups(3, kDepth, true)))),
       false},
      {&empty, ptz_in_ptz, true},
  };
  for (const auto& [m, input, parses] : cases) {
    const std::string valid = m->SerializeAsString();
    EXPECT_EQ(m->ParseFromString(input), parses) << m->GetTypeName();
    if (parses) EXPECT_EQ(m->SerializeAsString(), input);
    ExpectReusable(m, valid);
  }
  ASSERT_TRUE(empty.ParseFromString(ptz_in_ptz));
  EXPECT_EQ(empty.ptz_message().unknown_fields().field_count(), 1);
}

// The recursion limit of a CodedInputStream bounds the sub-message depth.
bool ParseWithLimit(pb::Message* m, const std::string& bytes, int limit) {
  pb::io::CodedInputStream in(reinterpret_cast<const uint8_t*>(bytes.data()),
                              static_cast<int>(bytes.size()));
  in.SetRecursionLimit(limit);
  return m->ParseFromCodedStream(&in);
}

// Each input parses with the recursion limit it needs and fails with one
// less, as DynamicMessage does; the failed message is reusable.
TEST(RecursionLimit, BoundsSubMessageAndGroupDepth) {
  const std::string group = Tag(15, 3) + Tag(1, 0) + Varint(1) + Tag(15, 4);
  const std::tuple<const char*, std::string, int> cases[] = {
      {"ptz_message holding message_id", Delimited(11, Tag(1, 0) + Varint(7)), 1},
      {"ptz_message holding move", Delimited(11, Delimited(2, Tag(1, 0) + Varint(100))), 2},
      {"ptz_message holding calibration", Delimited(11, Delimited(5, "")), 2},
      {"unknown group", group, 1},
      {"unknown group in a group", Tag(15, 3) + group + Tag(15, 4), 2},
      {"unknown group inside ptz_message", Delimited(11, group), 2},
      {"laser_message holding status", Delimited(13, Delimited(4, "")), 2},
      {"unknown group inside laser_message.status", Delimited(13, Delimited(4, group)), 3},
  };
  for (const auto& [what, bytes, needed] : cases) {
    for (const int limit : {needed - 1, needed}) {
      SCOPED_TRACE(::testing::Message() << what << ", limit " << limit);
      CommandVelocity m;
      EXPECT_EQ(ParseWithLimit(&m, bytes, limit), limit == needed);
      std::unique_ptr<pb::Message> dynamic = NewDynamic(m);
      EXPECT_EQ(ParseWithLimit(dynamic.get(), bytes, limit), limit == needed);
      if (limit == needed) EXPECT_EQ(Hex(m.SerializeAsString()), Hex(bytes));
      ExpectReusable(&m, SampleCommand().SerializeAsString());
    }
  }
}

// Bytes from hex octets: "0a 01 61".
std::string Unhex(const std::string& hex) {
  std::string out;
  for (size_t i = 0; i + 1 < hex.size(); i += 3) {
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return out;
}

template <class M>
const pb::Message* Of() {
  return &M::default_instance();
}

// A failed parse keeps what it read before the failure and nothing else: no
// value cut short by the end of the input ("past the input") or by the
// length of the sub-message or run that holds it ("past a length"), no
// element beyond the recursion limit; a string or sub-message being read
// stays present with what it had read. One row per field kind and way to
// fail; `kept` is what the message then writes (partial). Each input is read
// from a flat buffer and from a stream in blocks of 1 byte, 3 bytes and all
// at once. `from_stream`, where given, is what a stream keeps instead: its
// end is not known in advance, so a sub-message whose length runs past it is
// read up to it, and a packed run of floats it cuts short is taken back whole.
TEST(FailedParse, StoresNoValueThatWasNotInTheInput) {
  struct Case {
    const char* kind;
    const pb::Message* prototype;
    const char* input;
    const char* kept;
    const char* from_stream = nullptr;
    int limit = 100;
  };
  const Case cases[] = {
      {"uint64", Of<CommandHeader>(), "10 05 08 96", "10 05"},
      {"uint32", Of<CommandHeader>(), "08 01 10 ff", "08 01"},
      {"int32 past a length", Of<CommandVelocity>(), "42 02 08 ff ff 01", "42 00"},
      {"bool", Of<Ping>(), "08 05 10 80", "08 05"},
      {"float", Of<CommandVelocity>(), "20 01 0d 00", "20 01"},
      {"double", Of<PTZStatus>(), "39 01 02", ""},
      {"fixed32", Of<PropertyChanged>(), "3d 01 02 03", ""},
      {"fixed32 past a length", Of<MultiPropertyChangedData>(), "0a 03 3d 01 02 03 04", "0a 00"},
      {"enumeration", Of<LaserPointToCommand>(), "20 01 18 05 18 ff", "20 01 18 05"},
      {"repeated enumeration", Of<CandyMessage>(), "10 01 10 07 10 ff", "10 01 10 07"},
      {"packed enumerations", Of<CandyMessage>(), "12 04 02 09 80", "10 02 10 09"},
      {"packed enumerations past a length", Of<CommandVelocity>(), "72 03 12 05 00 02",
       "72 02 10 00"},
      {"packed uint32", Of<CommandAck>(), "0a 05 01", "08 01"},
      {"packed uint32 past a length", Of<CommandAck>(), "0a 01 81 01", ""},
      {"repeated floats past a length", Of<LaserMessage>(),
       "12 07 0d 00 00 80 3f 0d 00 00 40 08 01", "12 05 0d 00 00 80 3f"},
      {"repeated float", Of<LaserPointToCommand>(), "0d 00 00", ""},
      {"packed floats, ragged", Of<LaserPointToCommand>(), "0a 05 00 00 80 3f 00", ""},
      {"packed floats, ragged, huge", Of<LaserPointToCommand>(), "0a ff ff ff 07 00 00 80 3f", ""},
      {"packed floats", Of<LaserPointToCommand>(), "0a fc ff ff 07 00 00 80 3f",
       "0d 00 00 80 3f", ""},
      {"packed floats past a length", Of<LaserMessage>(), "1a 04 0a 08 00 00 80 3f 00 00 00 40",
       "1a 00"},
      {"string", Of<PropertyChanged>(), "1a 01 61 1a 05 62", "1a 00"},
      {"bytes", Of<MultiPropertyChanged>(), "12 04 7a", "12 00"},
      {"bytes past a length", Of<MultiPropertyChangedData>(), "0a 03 22 05 61 62 63 64 65",
       "0a 02 22 00"},
      {"sub-message", Of<CommandVelocity>(), "5a 05 08 01", "5a 00", "5a 02 08 01"},
      {"sub-message past a length", Of<CommandVelocity>(), "5a 02 12 05 08 01", "5a 02 12 00"},
      {"sub-message ended by a zero tag", Of<MultiPropertyChanged>(), "0a 01 00", "0a 00"},
      {"imported sub-message", Of<PTZMessage>(), "3a 05 48 05", "3a 00", "3a 02 48 05"},
      {"imported sub-message past a length", Of<CommandVelocity>(), "5a 04 3a 05 48 05",
       "5a 02 3a 00"},
      {"repeated sub-message", Of<PropertyChanged>(), "2a 05 0a 01 61", "2a 00", "2a 03 0a 01 61"},
      {"repeated sub-message past a length", Of<MultiPropertyChanged>(),
       "0a 03 0a 05 1a 01 61 62 63", "0a 02 0a 00"},
      {"repeated sub-message past the recursion limit", Of<MultiPropertyChangedData>(), "0a 00",
       "", nullptr, 0},
      {"tag", Of<CommandHeader>(), "88", ""},
      {"tag without a value", Of<PropertyChanged>(), "08", ""},
      {"eleven-byte varint", Of<PropertyChanged>(), "08 80 80 80 80 80 80 80 80 80 81 10 01", ""},
      {"wire type 6", Of<PropertyChanged>(), "0e", ""},
      {"wire type 7", Of<PropertyChanged>(), "0f 00", ""},
      {"unknown fixed64", Of<PropertyChanged>(), "79 01", ""},
      {"unknown length-delimited", Of<PropertyChanged>(), "7a 05 61", ""},
      {"unknown group", Of<PropertyChanged>(), "0b 08 01", "0b 08 01 0c"},
  };
  for (const Case& c : cases) {
    const std::string input = Unhex(c.input);
    for (int block : {0, 1, 3, -1}) {  // 0: a flat buffer; -1: a stream in one block
      if (block == 0 && c.limit != 100) continue;  // a flat buffer takes no limit
      SCOPED_TRACE(::testing::Message() << c.kind << ": " << c.prototype->GetTypeName() << " from "
                                        << c.input << ", blocks of " << block);
      std::unique_ptr<pb::Message> m(c.prototype->New());
      if (block == 0) {
        EXPECT_FALSE(m->ParsePartialFromString(input));
      } else {
        pb::io::ArrayInputStream blocks(input.data(), static_cast<int>(input.size()), block);
        pb::io::CodedInputStream in(&blocks);
        in.SetRecursionLimit(c.limit);
        EXPECT_FALSE(m->MergePartialFromCodedStream(&in));
      }
      EXPECT_EQ(Hex(m->SerializePartialAsString()),
                block != 0 && c.from_stream ? c.from_stream : c.kept);
    }
  }
}

// An element of a repeated message whose length runs past the input is
// added but not read, of this library's class as of another library's.
TEST(FailedParse, AnElementRunningPastTheInputIsNotRead) {
  for (const std::string& bytes : {Bytes({0x6A, 0x05, 0x08, 0x01}),    // r_nested: id 1
                                   Bytes({0x72, 0x05, 0x48, 0x01})}) {  // r_imported
    extremes::Extremes m;
    EXPECT_FALSE(m.ParsePartialFromString(bytes));
    EXPECT_EQ(Hex(m.SerializePartialAsString()), Hex(bytes.substr(0, 1) + Bytes({0x00})));
  }
}

// A length that cannot be read (beyond 2 GiB) fails the merge before the
// string it names is touched: the value merged into stays.
TEST(FailedParse, AnUnreadableLengthLeavesTheStringAsItWas) {
  PropertyChanged m;
  m.set_path("kept");
  EXPECT_FALSE(m.MergeFromString(Bytes({0x1A, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F})));
  EXPECT_EQ(m.path(), "kept");
}

}  // namespace
