// File registration, default instances and reflection wiring.
#include <string>

#include <gtest/gtest.h>
#include <google/protobuf/descriptor.h>
#include <google/protobuf/descriptor.pb.h>
#include <google/protobuf/descriptor_database.h>

#include "calibration_common/calibration.pb.h"
#include "fuzz/fuzz_types.h"
#include "session/commander_private/commander.pb.h"
#include "session/velocity.pb.h"
#include "tools/schema_loader.h"

namespace pb = google::protobuf;
using tolva::calibration::PTZCameraParameters;

namespace {

// What the runtime's generated database holds for a file, re-serialized.
std::string RegisteredDescriptorBytes(const std::string& file) {
  pb::FileDescriptorProto proto;
  EXPECT_TRUE(pb::DescriptorPool::internal_generated_database()->FindFileByName(file, &proto));
  return proto.SerializeAsString();
}

std::string CanonicalBytes(const std::string& file) {
  std::string bytes, error;
  EXPECT_TRUE(protolib::tools::CanonicalDescriptorBytes(PROTOLIB_SOURCE_DIR, file, &bytes,
                                                        &error))
      << error;
  return bytes;
}

TEST(EmbeddedDescriptor, EqualsTheRuntimesSerializationOfTheSchemaFiles) {
  const std::string commander = CanonicalBytes("session/commander_private/commander.proto");
  const std::string velocity = CanonicalBytes("session/velocity.proto");
  EXPECT_EQ(commander.size(), 571u);
  EXPECT_EQ(velocity.size(), 2091u);
  EXPECT_EQ(RegisteredDescriptorBytes("session/commander_private/commander.proto"), commander);
  EXPECT_EQ(RegisteredDescriptorBytes("session/velocity.proto"), velocity);

  const auto& calibration = descriptor_table_calibration_5fcommon_2fcalibration_2eproto;
  EXPECT_EQ(std::string(calibration.descriptor, calibration.size),
            CanonicalBytes("calibration_common/calibration.proto"));
}

TEST(Registration, PoolKnowsEveryFileAndTheImport) {
  const pb::DescriptorPool* pool = pb::DescriptorPool::generated_pool();
  ASSERT_NE(pool->FindFileByName("session/commander_private/commander.proto"), nullptr);
  const pb::FileDescriptor* velocity = pool->FindFileByName("session/velocity.proto");
  ASSERT_NE(velocity, nullptr);
  ASSERT_EQ(velocity->dependency_count(), 1);
  EXPECT_EQ(velocity->dependency(0)->name(), "calibration_common/calibration.proto");
  EXPECT_EQ(PTZMessage::descriptor()->FindFieldByName("calibration")->message_type(),
            PTZCameraParameters::descriptor());
  EXPECT_EQ(PTZCameraParameters::descriptor()->full_name(),
            "tolva.calibration.PTZCameraParameters");
}

TEST(Registration, CallingTheRegistrationFunctionsAgainChangesNothing) {
  const CommandHeader* header = &CommandHeader::default_instance();
  const CommandVelocity* velocity = &CommandVelocity::default_instance();
  protobuf_AddDesc_session_2fcommander_5fprivate_2fcommander_2eproto();
  protobuf_AddDesc_session_2fvelocity_2eproto();
  tolva::calibration::protobuf_AddDesc_calibration_5fcommon_2fcalibration_2eproto();
  EXPECT_EQ(&CommandHeader::default_instance(), header);
  EXPECT_EQ(&CommandVelocity::default_instance(), velocity);
}

// Each class's descriptor, default instance and factory prototype agree:
// the factory's prototype for the class's descriptor is the class's own
// default instance, so no class answers with another's descriptor.
template <class T>
void ExpectWired() {
  const pb::Descriptor* d = T::descriptor();
  ASSERT_NE(d, nullptr);
  SCOPED_TRACE(d->full_name());
  EXPECT_EQ(d, pb::DescriptorPool::generated_pool()->FindMessageTypeByName(d->full_name()));
  EXPECT_EQ(pb::MessageFactory::generated_factory()->GetPrototype(d), &T::default_instance());
  T a, b;
  EXPECT_EQ(a.GetDescriptor(), d);
  EXPECT_EQ(a.GetReflection(), b.GetReflection());
  EXPECT_EQ(a.GetReflection(), T::default_instance().GetReflection());
  EXPECT_EQ(T::default_instance().ByteSizeLong(), 0u);
  EXPECT_EQ(T::default_instance().IsInitialized(), d->name() != "KVPair");
  EXPECT_EQ(a.GetTypeName(), d->full_name());
}

template <class... T>
void ExpectAllWired(protolib_fuzz::TypeList<T...>) {
  (ExpectWired<T>(), ...);
}

TEST(Reflection, EveryClassIsWiredToItsDescriptor) {
  ExpectAllWired(protolib_fuzz::CommanderTypes{});
  ExpectAllWired(protolib_fuzz::VelocityTypes{});
  EXPECT_EQ(PropertyChanged_KVPair::descriptor(), PropertyChanged::descriptor()->nested_type(0));
  EXPECT_EQ(PTZCameraParameters::descriptor()->full_name(),
            "tolva.calibration.PTZCameraParameters");
}

TEST(Reflection, ReadsAndWritesTheClassesFields) {
  PropertyChanged m;
  const pb::Reflection* r = m.GetReflection();
  const pb::Descriptor* d = m.GetDescriptor();
  r->SetInt32(&m, d->FindFieldByName("last_change_id"), 8);
  r->SetString(&m, d->FindFieldByName("path"), "/a");
  pb::Message* kv = r->AddMessage(&m, d->FindFieldByName("metadata"));
  kv->GetReflection()->SetString(kv, kv->GetDescriptor()->FindFieldByName("key"), "k");
  EXPECT_TRUE(m.has_last_change_id());
  EXPECT_EQ(m.last_change_id(), 8);
  EXPECT_EQ(m.path(), "/a");
  ASSERT_EQ(m.metadata_size(), 1);
  EXPECT_EQ(m.metadata(0).key(), "k");
  EXPECT_FALSE(m.has_ack());
  EXPECT_TRUE(r->HasField(m, d->FindFieldByName("path")));
  EXPECT_FALSE(r->HasField(m, d->FindFieldByName("value")));

  CommandVelocity v;
  const pb::FieldDescriptor* ptz = v.GetDescriptor()->FindFieldByName("ptz_message");
  EXPECT_EQ(&v.GetReflection()->GetMessage(v, ptz), &PTZMessage::default_instance());
  v.GetReflection()->MutableMessage(&v, ptz);
  EXPECT_TRUE(v.has_ptz_message());
  const LaserPointToCommand& point = LaserPointToCommand::default_instance();
  EXPECT_EQ(point.GetReflection()->GetEnum(point, point.GetDescriptor()->FindFieldByName(
                                                      "state_while_moving")),
            LaserState_descriptor()->FindValueByNumber(OFF));
}

TEST(DefaultInstances, SubMessagesAreWiredWithoutPresence) {
  EXPECT_EQ(&MultiPropertyChanged::default_instance().change(),
            &MultiPropertyChangedData::default_instance());
  EXPECT_FALSE(MultiPropertyChanged::default_instance().has_change());
  EXPECT_EQ(&PTZMessage::default_instance().calibration(),
            &PTZCameraParameters::default_instance());
  EXPECT_EQ(&CommandVelocity::default_instance().ptz_message().calibration(),
            &PTZCameraParameters::default_instance());
  EXPECT_EQ(&CommandVelocity::default_instance().laser_message().point_to(),
            &LaserPointToCommand::default_instance());
  EXPECT_EQ(&CommandVelocity::default_instance().candy_message(),
            &CandyMessage::default_instance());
  const CommandVelocity& v = CommandVelocity::default_instance();
  EXPECT_FALSE(v.has_autodocking() || v.has_calibration() || v.has_ptz_message() ||
               v.has_command_ack() || v.has_laser_message() || v.has_candy_message());
  EXPECT_EQ(v.SerializeAsString(), "");

  // A fresh object's unset sub-message reads as the type's default instance.
  PTZMessage fresh;
  EXPECT_EQ(&fresh.move(), &PTZMoveCommand::default_instance());
  EXPECT_EQ(&fresh.calibration(), &PTZCameraParameters::default_instance());
}

TEST(Enumerations, ValidityTestsAcceptExactlyTheDeclaredNumbers) {
  for (auto valid : {LaserState_IsValid, CandySlot_IsValid}) {
    EXPECT_TRUE(valid(0));
    EXPECT_TRUE(valid(1));
    EXPECT_TRUE(valid(2));
    EXPECT_FALSE(valid(3));
    EXPECT_FALSE(valid(-1));
    EXPECT_FALSE(valid(INT32_MIN));
    EXPECT_FALSE(valid(INT32_MAX));
  }
}

TEST(Enumerations, DescriptorsAreTheFilesEnumerationsInOrder) {
  const pb::FileDescriptor* file = CommandVelocity::descriptor()->file();
  ASSERT_EQ(file->enum_type_count(), 2);
  EXPECT_EQ(LaserState_descriptor(), file->enum_type(0));
  EXPECT_EQ(CandySlot_descriptor(), file->enum_type(1));
  EXPECT_EQ(LaserState_descriptor(), LaserState_descriptor());
  const char* laser[] = {"OFF", "ON", "UNCHANGED"};
  const char* candy[] = {"BIN0", "BIN1", "BIN2"};
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(LaserState_descriptor()->value(i)->name(), laser[i]);
    EXPECT_EQ(LaserState_descriptor()->value(i)->number(), i);
    EXPECT_EQ(CandySlot_descriptor()->value(i)->name(), candy[i]);
    EXPECT_EQ(CandySlot_descriptor()->value(i)->number(), i);
  }
}

TEST(FieldNumbers, ConstantsFollowTheSchema) {
  EXPECT_EQ(PropertyChanged::kLastChangeIdFieldNumber, 8);
  EXPECT_EQ(PropertyChanged::kPathHashFieldNumber, 7);
  EXPECT_EQ(LaserMessage::kOnoffFieldNumber, 2);
  EXPECT_EQ(PTZStatus::kPtzPoweredInSFieldNumber, 7);
  EXPECT_EQ(PTZMessage::kCalibrationFieldNumber, 5);
  EXPECT_EQ(CommandVelocity::kCalibrationFieldNumber, 9);
  EXPECT_EQ(PropertyChanged_KVPair::kValueFieldNumber, 2);
  EXPECT_EQ(PropertyChanged::kValueFieldNumber, 4);
  // Every constant matches its field in the registered schema.
  for (const pb::Descriptor* d :
       {PTZStatus::descriptor(), PTZMessage::descriptor(), CommandVelocity::descriptor()}) {
    for (int i = 0; i < d->field_count(); ++i) EXPECT_EQ(d->field(i)->index(), i);
  }
  const int* address = &PTZStatus::kCurrentFocusFieldNumber;  // defined, not only declared
  EXPECT_EQ(*address, 8);
}

}  // namespace
