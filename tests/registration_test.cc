// File registration, default instances and reflection wiring.
#include <string>

#include <gtest/gtest.h>
#include <google/protobuf/descriptor.h>
#include <google/protobuf/descriptor.pb.h>
#include <google/protobuf/descriptor_database.h>

#include "calibration_common/calibration.pb.h"
#include "session/commander_private/commander.pb.h"
#include "session/velocity.pb.h"
#include "tests/schema/extremes.pb.h"
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
  extremes::Extremes::default_instance();  // registers the tests' schema
  for (const char* file : {"session/commander_private/commander.proto", "session/velocity.proto",
                           "calibration_common/calibration.proto",
                           "tests/schema/extremes.proto"}) {
    EXPECT_EQ(RegisteredDescriptorBytes(file), CanonicalBytes(file)) << file;
  }
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
    for (int n : {0, 1, 2}) EXPECT_TRUE(valid(n));
    for (int n : {3, -1, INT32_MIN, INT32_MAX}) EXPECT_FALSE(valid(n));
  }
}

}  // namespace
