// PTZMessage.calibration: a message of the calibration library carried by the
// session library, through every operation of the family.
#include <string>

#include <gtest/gtest.h>

#include "calibration_common/calibration.pb.h"
#include "session/velocity.pb.h"
#include "test_util.h"

using protolib_test::Hex;
using tolva::calibration::PTZCameraParameters;

namespace {

void FillCalibration(PTZCameraParameters* c) {
  c->set_focal_length_x(1402.5);
  c->set_focal_length_y(1398.25);
  c->set_principal_point_x(959.5);
  c->set_principal_point_y(539.5);
  for (float k : {-0.31f, 0.12f, 0.001f, -0.0004f}) c->add_distortion(k);
  c->set_mount_height_m(1.12f);
  c->set_tilt_offset_rad(-0.02f);
  c->set_image_width(1920);
  c->set_image_height(1080);
  c->set_camera_serial("PTZ-0042");
}

TEST(CalibrationField, DefaultIsTheCalibrationLibrarysInstance) {
  PTZMessage m;
  EXPECT_FALSE(m.has_calibration());
  EXPECT_EQ(&m.calibration(), &PTZCameraParameters::default_instance());
  EXPECT_EQ(&CommandVelocity::default_instance().ptz_message().calibration(),
            &PTZCameraParameters::default_instance());
}

TEST(CalibrationField, TravelsThroughBothWritersAndTheParser) {
  CommandVelocity v;
  FillCalibration(v.mutable_ptz_message()->mutable_calibration());
  const std::string inner = v.ptz_message().calibration().SerializeAsString();
  const std::string bytes = protolib_test::EncodeToArray(v);
  EXPECT_EQ(Hex(protolib_test::EncodeToStream(v)), Hex(bytes));
  // ptz_message { calibration (0x2A) { ... } }
  EXPECT_NE(bytes.find(std::string(1, '\x2A') + static_cast<char>(inner.size()) + inner),
            std::string::npos);
  EXPECT_EQ(v.ptz_message().calibration().GetCachedSize(), static_cast<int>(inner.size()));

  CommandVelocity back;
  ASSERT_TRUE(back.ParseFromString(bytes));
  ASSERT_TRUE(back.ptz_message().has_calibration());
  EXPECT_EQ(back.ptz_message().calibration().camera_serial(), "PTZ-0042");
  EXPECT_EQ(back.ptz_message().calibration().distortion_size(), 4);
  EXPECT_EQ(back.SerializeAsString(), bytes);
}

TEST(CalibrationField, MergeClearReleaseAndReplace) {
  PTZMessage a, b;
  a.mutable_calibration()->set_image_width(640);
  b.mutable_calibration()->set_image_height(480);
  a.MergeFrom(b);
  EXPECT_EQ(a.calibration().image_width(), 640u);
  EXPECT_EQ(a.calibration().image_height(), 480u);

  PTZCameraParameters* held = a.mutable_calibration();
  a.Clear();
  EXPECT_FALSE(a.has_calibration());
  EXPECT_EQ(a.mutable_calibration(), held);
  EXPECT_FALSE(held->has_image_width());

  PTZCameraParameters* released = a.release_calibration();
  EXPECT_EQ(released, held);
  EXPECT_FALSE(a.has_calibration());
  a.set_allocated_calibration(released);
  EXPECT_TRUE(a.has_calibration());
  a.set_allocated_calibration(new PTZCameraParameters);  // frees the former one
  a.clear_calibration();
  EXPECT_FALSE(a.has_calibration());
  PTZMessage copy(a);
  EXPECT_FALSE(copy.has_calibration());
}

TEST(CalibrationField, AnEmptyPresentCalibrationIsEncoded) {
  PTZMessage m;
  m.mutable_calibration();
  EXPECT_EQ(Hex(m.SerializeAsString()), Hex(protolib_test::Bytes({0x2A, 0x00})));
}

TEST(CalibrationField, AFailedCalibrationParseFailsTheCameraMessage) {
  PTZMessage m;
  // calibration { image_width: <truncated varint> }
  EXPECT_FALSE(m.ParseFromString(protolib_test::Bytes({0x2A, 0x02, 0x48, 0x80})));
}

}  // namespace
