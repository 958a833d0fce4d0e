#include <gtest/gtest.h>

#include "session/commander_private/commander.pb.h"
#include "session/velocity.pb.h"

TEST(Smoke, RoundTrip) {
  CommandVelocity c;
  c.set_linear(1.0f);
  c.mutable_ptz_message();
  EXPECT_EQ(c.SerializeAsString(), std::string("\x0d\x00\x00\x80\x3f\x5a\x00", 7));
  EXPECT_EQ(LaserState_descriptor()->name(), "LaserState");
  EXPECT_EQ(CandySlot_descriptor()->name(), "CandySlot");
  EXPECT_EQ(&PTZMessage::default_instance().calibration(),
            &tolva::calibration::PTZCameraParameters::default_instance());
}
