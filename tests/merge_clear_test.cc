// Clear, merge, copy and the required-field check.
#include <fstream>
#include <set>
#include <string>

#include <gtest/gtest.h>
#include <google/protobuf/dynamic_message.h>
#include <google/protobuf/stubs/common.h>

#include "session/commander_private/commander.pb.h"
#include "session/velocity.pb.h"
#include "test_util.h"

namespace pb = google::protobuf;

namespace {

PropertyChanged FullProperty() {
  PropertyChanged m;
  m.set_last_change_time(1);
  m.set_last_change_id(2);
  m.set_ack(true);
  m.set_path("/p");
  m.set_value("v");
  for (const char* key : {"a", "b"}) {
    PropertyChanged_KVPair* kv = m.add_metadata();
    kv->set_key(key);
    kv->set_value(key);
  }
  m.set_authority(true);
  m.set_path_hash(3);
  return m;
}

TEST(Clear, EmptiesButKeepsAllocationsAndCachedSize) {
  PropertyChanged m = FullProperty();
  m.mutable_unknown_fields()->AddVarint(100, 1);
  std::string* path = m.mutable_path();
  PropertyChanged_KVPair* first = m.mutable_metadata(0);
  const int cached = static_cast<int>(m.ByteSizeLong());
  m.Clear();
  EXPECT_FALSE(m.has_path());
  EXPECT_EQ(m.path(), "");
  EXPECT_EQ(m.metadata_size(), 0);
  EXPECT_EQ(m.unknown_fields().field_count(), 0);
  EXPECT_EQ(m.GetCachedSize(), cached);
  EXPECT_EQ(m.SerializeAsString(), "");
  EXPECT_EQ(m.mutable_path(), path);
  EXPECT_EQ(m.add_metadata(), first);
  EXPECT_FALSE(first->has_key());
}

TEST(Clear, ClearsHeldSubMessagesInPlace) {
  CommandVelocity v;
  PTZMessage* ptz = v.mutable_ptz_message();
  ptz->mutable_move()->set_pan_target(5);
  ptz->mutable_calibration()->set_image_width(640);
  v.Clear();
  EXPECT_FALSE(v.has_ptz_message());
  EXPECT_EQ(v.mutable_ptz_message(), ptz);
  EXPECT_FALSE(ptz->has_move());
  EXPECT_FALSE(ptz->has_calibration());
  EXPECT_EQ(v.ByteSizeLong(), 2u);  // the re-marked, empty ptz_message
}

TEST(Merge, CopiesByPresenceAndNeverRemoves) {
  PropertyChanged to, from;
  to.set_last_change_id(9);
  from.set_path("");  // present and empty
  to.MergeFrom(from);
  EXPECT_TRUE(to.has_path());
  EXPECT_EQ(to.path(), "");
  EXPECT_EQ(to.last_change_id(), 9);

  CommandAck a, b;
  a.add_message_ids(1);
  a.add_message_ids(2);
  b.add_message_ids(3);
  a.MergeFrom(b);
  ASSERT_EQ(a.message_ids_size(), 3);
  EXPECT_EQ(a.message_ids(2), 3u);
}

TEST(Merge, PresentEmptySubMessagesBecomePresent) {
  LaserMessage to, from;
  from.mutable_onoff();
  to.MergeFrom(from);
  EXPECT_TRUE(to.has_onoff());
  EXPECT_FALSE(to.onoff().has_laser_on());

  CommandVelocity v, w;
  w.mutable_ptz_message()->mutable_move()->set_tilt_target(4);
  v.mutable_ptz_message()->mutable_move()->set_pan_target(3);
  v.MergeFrom(w);
  EXPECT_EQ(v.ptz_message().move().pan_target(), 3);
  EXPECT_EQ(v.ptz_message().move().tilt_target(), 4);
}

TEST(Merge, FromAnotherClassGoesThroughReflection) {
  // A message of another class with the same descriptor: the runtime merges
  // by reflection into the class's fields.
  PropertyChanged from = FullProperty();
  pb::DynamicMessageFactory factory;
  std::unique_ptr<pb::Message> dynamic(
      factory.GetPrototype(PropertyChanged::descriptor())->New());
  dynamic->MergeFrom(from);
  PropertyChanged to;
  static_cast<pb::Message&>(to).MergeFrom(*dynamic);
  EXPECT_EQ(to.SerializeAsString(), from.SerializeAsString());
}

// The line of a source file of the library.
std::string SourceLine(const std::string& unit, int line) {
  std::ifstream in(std::string(PROTOLIB_SOURCE_DIR) + "/" + unit);
  std::string text;
  for (int i = 0; i < line && std::getline(in, text);) ++i;
  return text;
}

// Merging a message into itself is a fatal error raised by the failure
// routine of the class's unit, naming the line of the merge overload used:
// each overload its own.
template <class M>
void ExpectSelfMergeReported(M m, const std::string& unit) {
  const std::string name = M::descriptor()->name();
  std::set<int> lines;
  for (bool generic : {false, true}) {
    SCOPED_TRACE(name + (generic ? ": MergeFrom(const Message&)" : ": MergeFrom(const M&)"));
    try {
      generic ? static_cast<pb::Message&>(m).MergeFrom(m) : m.MergeFrom(m);
      ADD_FAILURE() << "self-merge returned";
    } catch (const pb::FatalException& e) {
      const std::string prefix = "CHECK failed: false: " + unit + ":";
      ASSERT_EQ(std::string(e.message()).rfind(prefix, 0), 0u) << e.message();
      const int line = std::stoi(std::string(e.message()).substr(prefix.size()));
      EXPECT_EQ(std::string(e.filename()), unit);
      EXPECT_NE(SourceLine(unit, e.line()).find("SelfMergeFailed"), std::string::npos);
      EXPECT_NE(SourceLine(unit, line).find(name), std::string::npos) << line;
      lines.insert(line);
    }
  }
  EXPECT_EQ(lines.size(), 2u);
}

TEST(Merge, IntoItselfIsAFatalError) {
  ExpectSelfMergeReported(FullProperty(), "session/commander_private/commander.pb.cc");
  CommandVelocity v;
  v.set_linear(1.0f);
  ExpectSelfMergeReported(v, "session/velocity.pb.cc");
  PropertyChanged m = FullProperty();
  EXPECT_THROW(m.MergeFrom(m), pb::FatalException);
  EXPECT_EQ(m.metadata_size(), 2);  // nothing was merged
}

TEST(Copy, OfItselfChangesNothingAndReplacesUnknownFields) {
  PropertyChanged m = FullProperty();
  const std::string before = m.SerializeAsString();
  m.CopyFrom(m);
  m = m;
  static_cast<pb::Message&>(m).CopyFrom(m);
  EXPECT_EQ(m.SerializeAsString(), before);

  PropertyChanged source, target;
  source.mutable_unknown_fields()->AddVarint(50, 5);
  target.mutable_unknown_fields()->AddVarint(60, 6);
  target = source;
  ASSERT_EQ(target.unknown_fields().field_count(), 1);
  EXPECT_EQ(target.unknown_fields().field(0).number(), 50);
}

TEST(Copy, ReusesTheTargetsAllocations) {
  MultiPropertyChanged target;
  target.mutable_change()->add_properties()->set_path("/old");
  MultiPropertyChangedData* change = target.mutable_change();
  PropertyChanged* element = change->mutable_properties(0);
  MultiPropertyChanged source;
  source.mutable_change()->add_properties()->set_path("/new");
  target.CopyFrom(source);
  EXPECT_EQ(target.mutable_change(), change);
  EXPECT_EQ(change->mutable_properties(0), element);
  EXPECT_EQ(element->path(), "/new");
}

TEST(Initialization, RequiredFieldsAreCheckedUpTheContainmentChain) {
  PropertyChanged_KVPair kv;
  EXPECT_FALSE(kv.IsInitialized());
  kv.set_key("");
  EXPECT_FALSE(kv.IsInitialized());
  kv.set_value("");
  EXPECT_TRUE(kv.IsInitialized());

  MultiPropertyChanged m;
  EXPECT_TRUE(m.IsInitialized());
  PropertyChanged* p = m.mutable_change()->add_properties();
  EXPECT_TRUE(m.IsInitialized());
  p->add_metadata()->set_key("only key");
  EXPECT_FALSE(p->IsInitialized());
  EXPECT_FALSE(m.change().IsInitialized());
  EXPECT_FALSE(m.IsInitialized());
  EXPECT_EQ(m.InitializationErrorString(), "change.properties[0].metadata[0].value");
  m.clear_change();  // an absent change is not consulted
  EXPECT_TRUE(m.IsInitialized());

  // Parsing reports missing required fields; partial parsing does not.
  pb::LogSilencer quiet;
  const std::string only_key = protolib_test::Bytes({0x0A, 0x01, 0x61});
  PropertyChanged_KVPair parsed;
  EXPECT_FALSE(parsed.ParseFromString(only_key));
  EXPECT_TRUE(parsed.ParsePartialFromString(only_key));
  EXPECT_EQ(parsed.key(), "a");
}

TEST(Initialization, CameraMessagesDoNotAskTheirCalibration) {
  PTZMessage m;
  m.mutable_calibration();
  EXPECT_TRUE(m.IsInitialized());
  CommandVelocity v;
  v.mutable_ptz_message()->mutable_status();
  EXPECT_TRUE(v.IsInitialized());
}

}  // namespace
