#include "Kestro/onboarding/OnboardingModel.h"

#include <gtest/gtest.h>

using namespace kestro;

namespace {

TEST(OnboardingModel, ThePageIsTheFirstMissingPermission) {
    using P = Permission;
    using S = PermissionStatus;
    struct Case {
        std::map<P, S> statuses;
        std::size_t index;
    };
    const Case cases[] = {
        {{}, 0},
        {{{P::screenRecording, S::denied},
          {P::accessibility, S::granted},
          {P::inputMonitoring, S::granted}},
         0},
        {{{P::screenRecording, S::granted},
          {P::accessibility, S::notDetermined},
          {P::inputMonitoring, S::denied}},
         1},
        {{{P::screenRecording, S::granted}, {P::accessibility, S::granted}}, 2},
        {{{P::screenRecording, S::granted},
          {P::accessibility, S::granted},
          {P::inputMonitoring, S::granted}},
         3},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(OnboardingModel::currentIndex(c.statuses), c.index);
    }
    EXPECT_EQ(OnboardingModel::step(0).counter, "Step 1 of 3");
    EXPECT_EQ(OnboardingModel::step(0).heading, "Kestro needs to see your screen.");
    EXPECT_EQ(OnboardingModel::step(0).button, "Give access to screen recording");
    EXPECT_EQ(OnboardingModel::step(1).heading, "Kestro needs to control your screen.");
    EXPECT_EQ(OnboardingModel::step(1).button, "Give access to accessibility");
    EXPECT_EQ(OnboardingModel::step(2).counter, "Step 3 of 3");
    EXPECT_EQ(OnboardingModel::step(2).heading, "Kestro needs to read your shortcuts.");
    EXPECT_EQ(OnboardingModel::step(2).button, "Give access to input monitoring");
    EXPECT_FALSE(OnboardingModel::step(1).explanation.empty());
}

} // namespace
