#include "tests/support/FixtureApp.h"

namespace kestro::testing {

std::string fixtureAppPath() {
#ifdef KESTRO_FIXTURE_APP_PATH
    return KESTRO_FIXTURE_APP_PATH;
#else
    return {};
#endif
}

std::string inputLogAppPath() {
#ifdef KESTRO_INPUT_LOG_APP_PATH
    return KESTRO_INPUT_LOG_APP_PATH;
#else
    return {};
#endif
}

} // namespace kestro::testing
