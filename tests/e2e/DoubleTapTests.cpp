// A double tap of Control made while Kestro is kept from running (a busy machine, a slow reply it
// waits on) still starts and stops a recording: the presses were close together when made, however
// late Kestro reads the second.

#include "tests/support/e2e/EndToEndTest.h"

#include <signal.h>

using namespace kestro::testing::e2e;

namespace {

class DoubleTap : public EndToEndTest {
protected:
    // The first tap is read at once; Kestro is stopped before the second and runs again well after
    // the double tap's window.
    void doubleTapWhileKestroStalls(KestroProcess& kestro) {
        x().tap("Control_L");
        settle(60);
        ASSERT_EQ(::kill(kestro.pid(), SIGSTOP), 0);
        x().tap("Control_L");
        settle(600);
        ASSERT_EQ(::kill(kestro.pid(), SIGCONT), 0);
    }
};

TEST_F(DoubleTap, ReadLateItStillStartsAndStopsTheRecording) {
    KestroProcess& kestro = startKestro();
    ASSERT_TRUE(waitForHotkeys()) << "Kestro's hotkeys did not start";

    doubleTapWhileKestroStalls(kestro);
    ASSERT_TRUE(waitFor([&] { return framesDrawn(expectedFrames()); }, 20))
        << "the recording did not start";
    screenshot("double-tap-late-recording");

    doubleTapWhileKestroStalls(kestro);
    EXPECT_TRUE(waitFor([&] { return frames().empty(); }, 20)) << "the recording did not stop";
    EXPECT_TRUE(kestro.running());
    screenshot("double-tap-late-stopped");
}

} // namespace
