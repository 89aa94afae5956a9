#include "tests/support/FixtureApp.h"

#include <fstream>
#include <sstream>

namespace kestro::testing {

std::string fixtureAppPath() {
#ifdef KESTRO_FIXTURE_APP_PATH
    return KESTRO_FIXTURE_APP_PATH;
#else
    return {};
#endif
}

std::string gtk3SignInPath() {
#ifdef KESTRO_GTK3_SIGN_IN_PATH
    return KESTRO_GTK3_SIGN_IN_PATH;
#else
    return {};
#endif
}

std::string gtk4SignInPath() {
#ifdef KESTRO_GTK4_SIGN_IN_PATH
    return KESTRO_GTK4_SIGN_IN_PATH;
#else
    return {};
#endif
}

std::string gtk3TerminalPanePath() {
#ifdef KESTRO_GTK3_TERMINAL_PANE_PATH
    return KESTRO_GTK3_TERMINAL_PANE_PATH;
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

std::vector<std::string> InputLogWindow::lines(const std::string& prefix) const {
    std::ifstream in(path);
    std::vector<std::string> out;
    for (std::string line; std::getline(in, line);) {
        if (line.starts_with(prefix)) {
            out.push_back(line);
        }
    }
    return out;
}

std::string InputLogWindow::typed() const {
    std::string text;
    for (const auto& l : lines("key ")) {
        // "key <hex> <mods> <text>"
        std::size_t at = l.find(' ', 4);
        at = at == std::string::npos ? at : l.find(' ', at + 1);
        if (at != std::string::npos) {
            text += l.substr(at + 1);
        }
    }
    return text;
}

std::pair<int, int> InputLogWindow::origin() const {
    const auto ready = lines("ready");
    int x = 0, y = 0;
    if (!ready.empty()) {
        std::istringstream(ready.front().substr(6)) >> x >> y;
    }
    return {x, y};
}

} // namespace kestro::testing
