// Presence and ownership through the field accessors.
#include <string>

#include <gtest/gtest.h>
#include <google/protobuf/arenastring.h>

#include "test_util.h"

namespace pb = google::protobuf;
using protolib_test::Bytes;
using protolib_test::Hex;

namespace {

TEST(Strings, SettersCopyAndReleaseHandsOverOwnership) {
  PropertyChanged m;
  EXPECT_EQ(m.release_path(), nullptr);  // never held a string of its own

  m.set_path("");
  std::string* owned = m.release_path();
  ASSERT_NE(owned, nullptr);
  EXPECT_EQ(*owned, "");
  delete owned;
  EXPECT_FALSE(m.has_path());

  m.set_path("x");
  m.clear_path();
  owned = m.release_path();  // clear keeps the allocation
  ASSERT_NE(owned, nullptr);
  EXPECT_EQ(*owned, "");
  delete owned;
  EXPECT_FALSE(m.has_path());
  EXPECT_EQ(m.path(), "");
}

TEST(Strings, PointerAndLengthSettersCopyEmbeddedZeros) {
  PropertyChanged m;
  const char raw[] = {0x00, 0x01, 0x00};
  m.set_value(raw, 3);
  EXPECT_EQ(m.value(), std::string(raw, 3));
  m.set_value(raw);  // up to the first NUL: empty, but present
  EXPECT_TRUE(m.has_value());
  EXPECT_EQ(m.value(), "");
  m.set_path("a\0b", 3);
  EXPECT_EQ(m.path().size(), 3u);
}

// set_allocated_ keeps the very string it is given: no copy, so a caller's
// pointer stays the field's, and mutable_ and release_ hand it back.
template <class M>
void ExpectTakesTheString(void (M::*set_allocated)(std::string*),
                          const std::string& (M::*get)() const, std::string* (M::*mut)(),
                          std::string* (M::*release)(), bool (M::*has)() const) {
  M m;
  (m.*set_allocated)(new std::string("/former"));
  auto* value = new std::string("/taken");
  (m.*set_allocated)(value);  // frees the former one
  EXPECT_TRUE((m.*has)());
  EXPECT_EQ(&(m.*get)(), value);
  EXPECT_EQ((m.*mut)(), value);
  std::string* released = (m.*release)();
  EXPECT_EQ(released, value);
  delete released;
  (m.*set_allocated)(new std::string("/again"));
  (m.*set_allocated)(nullptr);
  EXPECT_FALSE((m.*has)());
  EXPECT_EQ(&(m.*get)(), &pb::internal::GetEmptyStringAlreadyInited());
}

#define PROTOLIB_EXPECT_TAKES(M, field)                                                   \
  ExpectTakesTheString<M>(&M::set_allocated_##field, &M::field, &M::mutable_##field, \
                          &M::release_##field, &M::has_##field)

TEST(Strings, SetAllocatedTakesTheStringItselfAndNullClears) {
  PROTOLIB_EXPECT_TAKES(PropertyChanged, path);
  PROTOLIB_EXPECT_TAKES(PropertyChanged, value);
  PROTOLIB_EXPECT_TAKES(PropertyChanged_KVPair, key);
  PROTOLIB_EXPECT_TAKES(PropertyChanged_KVPair, value);
  PROTOLIB_EXPECT_TAKES(MultiPropertyChanged, compressed_change);
  PROTOLIB_EXPECT_TAKES(tolva::calibration::PTZCameraParameters, camera_serial);
}

TEST(Ownership, HandingBackTheHeldObjectKeepsIt) {
  // The field already owns these: taking them over again must not free them.
  PropertyChanged m;
  std::string* path = m.mutable_path();
  *path = "/kept";
  m.clear_path();
  m.set_allocated_path(path);
  EXPECT_TRUE(m.has_path());
  EXPECT_EQ(&m.path(), path);
  PTZMessage p;
  PTZMoveCommand* move = p.mutable_move();
  move->set_pan_target(3);
  p.clear_move();
  p.set_allocated_move(move);
  EXPECT_TRUE(p.has_move());
  EXPECT_EQ(&p.move(), move);
}

TEST(SubMessages, MutableCreatesOnDemandAndMarksPresent) {
  MultiPropertyChanged m;
  EXPECT_EQ(&m.change(), &MultiPropertyChangedData::default_instance());
  MultiPropertyChangedData* change = m.mutable_change();
  EXPECT_TRUE(m.has_change());
  EXPECT_EQ(m.SerializeAsString(), Bytes({0x0A, 0x00}));
  EXPECT_EQ(m.mutable_change(), change);

  change->set_change_set_id(3);
  m.clear_change();
  EXPECT_FALSE(m.has_change());
  EXPECT_EQ(m.mutable_change(), change);  // kept and emptied
  EXPECT_FALSE(change->has_change_set_id());
  m.clear_change();
  MultiPropertyChangedData* released = m.release_change();
  EXPECT_EQ(released, change);  // released although its bit was clear
  delete released;
  EXPECT_EQ(m.release_change(), nullptr);
}

TEST(SubMessages, SetAllocatedReplacesAndNullClears) {
  CommandVelocity v;
  v.mutable_command_ack()->add_message_ids(1);
  auto* ack = new CommandAck;
  ack->add_message_ids(2);
  v.set_allocated_command_ack(ack);
  EXPECT_TRUE(v.has_command_ack());
  EXPECT_EQ(&v.command_ack(), ack);
  v.set_allocated_command_ack(nullptr);
  EXPECT_FALSE(v.has_command_ack());
  EXPECT_EQ(&v.command_ack(), &CommandAck::default_instance());
}

TEST(Repeated, ClearedElementsAreReusedByAdd) {
  PropertyChanged m;
  PropertyChanged_KVPair* first = m.add_metadata();
  PropertyChanged_KVPair* second = m.add_metadata();
  first->set_key("a");
  second->set_key("b");
  m.clear_metadata();
  EXPECT_EQ(m.metadata_size(), 0);
  EXPECT_EQ(m.add_metadata(), first);
  EXPECT_FALSE(first->has_key());
  EXPECT_EQ(m.add_metadata(), second);
  PropertyChanged_KVPair* third = m.add_metadata();
  EXPECT_NE(third, first);
  EXPECT_NE(third, second);
}

TEST(Repeated, ScalarAccessorsKeepOrderAndLeaveHasBitsAlone) {
  LaserPointToCommand m;
  m.set_state_while_moving(ON);
  m.add_ray_origin(1.0f);
  m.add_ray_origin(2.0f);
  m.set_ray_origin(0, 3.0f);
  EXPECT_EQ(m.ray_origin_size(), 2);
  EXPECT_EQ(m.ray_origin(0), 3.0f);
  m.clear_ray_origin();
  EXPECT_EQ(m.ray_origin_size(), 0);
  EXPECT_TRUE(m.has_state_while_moving());
  CandyMessage candy;
  candy.add_active_slots(BIN2);
  candy.add_active_slots(BIN0);
  candy.add_active_slots(BIN2);
  EXPECT_EQ(candy.SerializeAsString(), Bytes({0x10, 0x02, 0x10, 0x00, 0x10, 0x02}));
}

TEST(Lifecycle, SwapExchangesContentsWithoutCopying) {
  PropertyChanged a, b;
  a.set_path("/a");
  a.add_metadata()->set_key("k");
  a.mutable_unknown_fields()->AddVarint(99, 1);
  a.ByteSizeLong();
  const std::string* path = &a.path();
  const PropertyChanged_KVPair* element = &a.metadata(0);
  const int size = a.GetCachedSize();
  a.Swap(&b);
  EXPECT_FALSE(a.has_path());
  EXPECT_EQ(a.metadata_size(), 0);
  EXPECT_EQ(a.unknown_fields().field_count(), 0);
  EXPECT_EQ(a.GetCachedSize(), 0);
  EXPECT_EQ(&b.path(), path);
  EXPECT_EQ(&b.metadata(0), element);
  EXPECT_EQ(b.unknown_fields().field_count(), 1);
  EXPECT_EQ(b.GetCachedSize(), size);
  b.Swap(&b);
  EXPECT_EQ(b.path(), "/a");

  PTZMessage p, q;
  PTZMoveCommand* move = p.mutable_move();
  p.Swap(&q);
  EXPECT_EQ(q.mutable_move(), move);
  EXPECT_FALSE(p.has_move());
}

template <class M>
struct NeverInitialized : M {
  bool IsInitialized() const override { return false; }
};

// Callers derive from the classes for test doubles; the runtime reaches the
// overrides through the virtual table, and so does the check of a message
// holding one, element or sub-message, whatever its fields say. A type
// without required fields is not asked.
TEST(Lifecycle, ClassesCanBeDerivedFrom) {
  NeverInitialized<Ping> fake;
  fake.set_time(1);
  const pb::Message& generic = fake;
  EXPECT_FALSE(generic.IsInitialized());
  EXPECT_EQ(Hex(generic.SerializePartialAsString()), Hex(Bytes({0x08, 0x01})));

  MultiPropertyChanged set;
  PropertyChanged* property = set.mutable_change()->add_properties();
  auto* pair = new NeverInitialized<PropertyChanged_KVPair>;
  pair->set_key("k");
  pair->set_value("v");
  property->mutable_metadata()->AddAllocated(pair);
  EXPECT_FALSE(property->IsInitialized());
  EXPECT_FALSE(set.IsInitialized());
  set.set_allocated_change(new NeverInitialized<MultiPropertyChangedData>);
  EXPECT_FALSE(set.IsInitialized());
  PTZMessage ptz;
  ptz.set_allocated_move(new NeverInitialized<PTZMoveCommand>);
  ptz.set_allocated_calibration(new NeverInitialized<tolva::calibration::PTZCameraParameters>);
  EXPECT_TRUE(ptz.IsInitialized());
}

TEST(Lifecycle, DestroyingAMessageFreesSubMessagesEvenWhenCleared) {
  // Run under the leak checker: nothing here may leak.
  auto* v = new CommandVelocity;
  v->mutable_ptz_message()->mutable_calibration()->set_camera_serial("cam-1");
  v->mutable_laser_message()->mutable_status()->add_laser_center(1.0f);
  v->clear_laser_message();
  auto* m = new MultiPropertyChangedData;
  m->add_properties()->add_metadata()->set_key("k");
  m->clear_properties();
  delete v;
  delete m;
}

}  // namespace
