#pragma once

#include "platform/Services.h"
#include "platform/fake/FakeAccessibility.h"
#include "platform/fake/FakeAppActivator.h"
#include "platform/fake/FakeDisplaySource.h"
#include "platform/fake/FakeEventTaps.h"
#include "platform/fake/FakePermissionChecks.h"
#include "platform/fake/FakeScreenCapture.h"
#include "platform/fake/FakeSyntheticInput.h"
#include "platform/fake/ManualClock.h"
#include "platform/fake/ManualQueue.h"

namespace kestro::platform::fake {

// Every service in memory, the queue on the manual clock; tests script each one through its
// own member.
struct FakeServices {
    FakeServices() = default;
    FakeServices(const FakeServices&) = delete;
    FakeServices& operator=(const FakeServices&) = delete;

    Services services() {
        return Services{taps,          queue,        clock,    displays,
                        accessibility, applications, capture,  permissionChecks,
                        urlOpener,     input,        activator};
    }

    ManualClock clock;
    ManualQueue queue{clock};
    FakeEventTaps taps;
    FakeDisplaySource displays;
    FakeAccessibility accessibility;
    FakeApplications applications;
    FakeScreenCapture capture;
    FakePermissionChecks permissionChecks;
    FakeURLOpener urlOpener;
    FakeSyntheticInput input;
    FakeAppActivator activator;
};

} // namespace kestro::platform::fake
