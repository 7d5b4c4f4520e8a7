// The wheel and the buttons over many seeded random sequences through the whole poll: one test
// per property (tests/support/motion_rig.h says what each one holds to).
#include <gtest/gtest.h>

#include "support/motion_rig.h"

namespace {

void Holds(std::string (*property)(Choices&), int sequences) {
  for (int seed = 1; seed <= sequences; ++seed) {
    SeededChoices choices(static_cast<std::uint32_t>(seed));
    const std::string broken = property(choices);
    ASSERT_EQ(broken, "") << "seed " << seed;
  }
}

TEST(MotionProperties, TurnIsConservedAndSentInOrder) {
  Holds(CheckConservation, 1000);
}
TEST(MotionProperties, ReverseSettingIsAMirror) {
  Holds(CheckMirror, 1000);
}
TEST(MotionProperties, EdgesReachTheHostWhateverTheGrouping) {
  Holds(CheckEdges, 1000);
}
TEST(MotionProperties, NothingMovesWithoutTheOperator) {
  Holds(CheckNothingWithoutTheOperator, 1000);
}
TEST(MotionProperties, NoJogIsLeftRunning) {
  Holds(CheckNoJogLeftRunning, 1000);
}
TEST(MotionProperties, JogsAndPresetsFollowTheWheelWhateverTheGrouping) {
  Holds(CheckGrouping, 1000);
}
TEST(MotionProperties, StopPlugEndsWhatThePendantStarted) {
  Holds(CheckStopEndsIt, 1000);
}
TEST(MotionProperties, RestingDecodesChangeNothing) {
  Holds(CheckRestingDecodes, 1000);
}

}  // namespace
