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

// A failed parse keeps what it read before the failure and nothing else: no
// value cut short by the end of the input or by a length, no element beyond
// the recursion limit. The input is read from a flat buffer and from a stream
// in blocks of 1 and 3 bytes; `kept` is what the message then writes
// (partial). A stream's end is not known in advance: a packed run that it
// cuts short is taken back whole (`from_stream`).
TEST(FailedParse, StoresNoValueThatWasNotInTheInput) {
  struct Case {
    const pb::Message* prototype;
    std::string bytes;
    std::string kept;
    int limit = 100;
    const char* from_stream = nullptr;
  };
  const std::string one = Bytes({0x00, 0x00, 0x80, 0x3F});  // 1.0f
  const Case cases[] = {
      {&CommandVelocity::default_instance(), Bytes({0x0D, 0x00}), ""},
      {&CommandHeader::default_instance(), Bytes({0x08, 0x96}), ""},
      {&CommandHeader::default_instance(), Bytes({0x88}), ""},  // the tag cut short
      {&PTZStatus::default_instance(), Bytes({0x39, 0x01, 0x02}), ""},
      {&LaserPointToCommand::default_instance(), Bytes({0x0D, 0x00, 0x00}), ""},
      {&LaserPointToCommand::default_instance(), Bytes({0x0A, 0x05}) + one + Bytes({0x00}), ""},
      {&LaserPointToCommand::default_instance(), Bytes({0x0A, 0xFF, 0xFF, 0xFF, 0x07}) + one, ""},
      {&LaserPointToCommand::default_instance(), Bytes({0x0A, 0xFC, 0xFF, 0xFF, 0x07}) + one,
       Bytes({0x0D}) + one, 100, ""},
      {&LaserMessage::default_instance(),
       Bytes({0x1A, 0x04, 0x0A, 0x08}) + one + Bytes({0x00, 0x00, 0x00, 0x40}),
       Bytes({0x1A, 0x00})},
      {&CommandAck::default_instance(), Bytes({0x0A, 0x05, 0x01}), Bytes({0x08, 0x01})},
      {&CommandAck::default_instance(), Bytes({0x0A, 0x01, 0x81, 0x01}), ""},
      {&CandyMessage::default_instance(), Bytes({0x12, 0x03, 0x01}), Bytes({0x10, 0x01})},
      {&CommandVelocity::default_instance(), Bytes({0x5A, 0x02, 0x12, 0x05, 0x08, 0x01}),
       Bytes({0x5A, 0x02, 0x12, 0x00})},
      {&PropertyChanged::default_instance(), Bytes({0x1A, 0x05, 0x61}), Bytes({0x1A, 0x00})},
      {&PropertyChanged::default_instance(), Bytes({0x7A, 0x05, 0x61}), ""},  // unknown
      {&PropertyChanged::default_instance(), Bytes({0x79, 0x01}), ""},        // unknown
      {&MultiPropertyChangedData::default_instance(), Bytes({0x0A, 0x00}), "", 0},
  };
  for (const Case& c : cases) {
    for (int block : {0, 1, 3}) {
      SCOPED_TRACE(::testing::Message() << c.prototype->GetTypeName() << " from "
                                        << Hex(c.bytes) << ", blocks of " << block);
      std::unique_ptr<pb::Message> m(c.prototype->New());
      const bool stream = block != 0 || c.limit != 100;
      if (!stream) {
        EXPECT_FALSE(m->ParsePartialFromString(c.bytes));
      } else {
        pb::io::ArrayInputStream blocks(c.bytes.data(), static_cast<int>(c.bytes.size()),
                                        block == 0 ? -1 : block);
        pb::io::CodedInputStream in(&blocks);
        in.SetRecursionLimit(c.limit);
        EXPECT_FALSE(m->MergePartialFromCodedStream(&in));
      }
      EXPECT_EQ(Hex(m->SerializePartialAsString()),
                Hex(stream && c.from_stream ? c.from_stream : c.kept));
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
