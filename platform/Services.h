#pragma once

#include "platform/Accessibility.h"
#include "platform/AppActivator.h"
#include "platform/Applications.h"
#include "platform/Clock.h"
#include "platform/DisplaySource.h"
#include "platform/EventTap.h"
#include "platform/MainQueue.h"
#include "platform/PermissionChecks.h"
#include "platform/ScreenCapture.h"
#include "platform/SyntheticInput.h"
#include "platform/URLOpener.h"

namespace kestro::platform {

// The desktop services the application and its recorder work through, each by its interface.
// Whoever builds them (the Linux backends, or the fakes of the tests) keeps them alive for as
// long as this is used.
struct Services {
    EventTaps& taps;
    MainQueue& queue;
    Clock& clock;
    DisplaySource& displays;
    Accessibility& accessibility;
    Applications& applications;
    ScreenCapture& capture;
    PermissionChecks& permissionChecks;
    URLOpener& urlOpener;
    SyntheticInput& input;
    AppActivator& activator;
};

} // namespace kestro::platform
