// Clear, merge and copy: what the differential tests cannot see (reuse of
// allocations, self-merge and self-copy).
#include <memory>
#include <set>
#include <string>

#include <gtest/gtest.h>
#include <google/protobuf/message.h>
#include <google/protobuf/stubs/common.h>

#include "tests/test_util.h"

namespace pb = google::protobuf;

namespace {

PropertyChanged FullProperty() { return protolib_test::SampleChangeSet().change().properties(0); }

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

// Merging a message into itself is a fatal error raised by the failure
// routine of the class's unit, one place for both merge overloads, naming
// the line of the overload used: each overload its own.
template <class M>
void ExpectSelfMergeReported(M m, const std::string& unit) {
  const std::string name = M::descriptor()->name();
  std::set<int> raised_at, named;
  for (bool generic : {false, true}) {
    SCOPED_TRACE(name + (generic ? ": MergeFrom(const Message&)" : ": MergeFrom(const M&)"));
    try {
      generic ? static_cast<pb::Message&>(m).MergeFrom(m) : m.MergeFrom(m);
      ADD_FAILURE() << "self-merge returned";
    } catch (const pb::FatalException& e) {
      const std::string prefix = "CHECK failed: false: " + unit + ":";
      ASSERT_EQ(std::string(e.message()).rfind(prefix, 0), 0u) << e.message();
      EXPECT_EQ(std::string(e.filename()), unit);
      raised_at.insert(e.line());
      named.insert(std::stoi(std::string(e.message()).substr(prefix.size())));
    }
  }
  EXPECT_EQ(raised_at.size(), 1u);
  EXPECT_EQ(named.size(), 2u);
}

// release_ hands the held object over and leaves the field absent.
TEST(Clear, ReleaseLeavesTheFieldAbsent) {
  PTZMessage m;
  tolva::calibration::PTZCameraParameters* held = m.mutable_calibration();
  std::unique_ptr<tolva::calibration::PTZCameraParameters> released(m.release_calibration());
  EXPECT_EQ(released.get(), held);
  EXPECT_FALSE(m.has_calibration());
  EXPECT_EQ(m.ByteSizeLong(), 0u);
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

}  // namespace
