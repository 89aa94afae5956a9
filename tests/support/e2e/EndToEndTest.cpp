#include "tests/support/e2e/EndToEndTest.h"

#include "KestroBase/FileIO.h"
#include "KestroCore/SkillStore.h"

#include <X11/Xlib.h>
#include <X11/keysym.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace kestro::testing::e2e {

namespace fs = std::filesystem;

void EndToEndTest::SetUp() {
    started_ = Clock::now();
    // The rest of the user's folders beside HOME and XDG_DATA_HOME, which data_ already moved.
    const fs::path config = data_.root() / "config";
    const fs::path runtime = data_.root() / "runtime";
    fs::create_directories(config);
    fs::create_directories(runtime);
    fs::create_directories(downloads());
    fs::permissions(runtime, fs::perms::owner_all);
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    ::setenv("XDG_CACHE_HOME", (data_.root() / "cache").c_str(), 1);
    ::unsetenv("ANTHROPIC_API_KEY");
    ::unsetenv("QT_QPA_PLATFORM");
    ::unsetenv("QT_LINUX_ACCESSIBILITY_ALWAYS_ON");
    desk_ = std::make_unique<UserDesktop>(desktopOptions());
    ASSERT_TRUE(desk_->ok()) << desk_->error();
}

void EndToEndTest::TearDown() {
    if (kestro_ && HasFailure()) {
        std::fprintf(stderr, "Kestro's log:\n");
        for (const auto& line : kestro_->log()) {
            std::fprintf(stderr, "  %s\n", line.c_str());
        }
        std::fprintf(stderr, "Kestro's standard error:\n%s\n", kestro_->errors().c_str());
        if (const std::string threads = kestro_->threads(); !threads.empty()) {
            std::fprintf(stderr, "Kestro's threads (id, name, state, waiting in):\n%s",
                         threads.c_str());
        }
    }
    kestro_.reset();
    desk_.reset();
    const double seconds = secondsSince(started_);
    RecordProperty("seconds", std::to_string(seconds));
    std::printf("[ figure ] scenario %s took %.1f s\n",
                ::testing::UnitTest::GetInstance()->current_test_info()->name(), seconds);
}

KestroProcess& EndToEndTest::startKestro(const std::vector<std::string>& arguments) {
    kestro_ =
        std::make_unique<KestroProcess>(data_.root() / "kestro", model_.endpoint(), arguments);
    EXPECT_TRUE(waitFor([&] { return mainWindow().has_value() || !kestro_->running(); }, 60) &&
                kestro_->running())
        << "Kestro's main window did not show\n"
        << kestro_->errors();
    return *kestro_;
}

fs::path EndToEndTest::support() const {
    return data_.dataHome() / "Kestro";
}

std::vector<fs::path> EndToEndTest::allFiles() const {
    std::vector<fs::path> out;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(data_.root(), ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file(ec)) {
            out.push_back(it->path());
        }
    }
    return out;
}

std::vector<fs::path> EndToEndTest::filesContaining(const std::string& needle) const {
    std::vector<fs::path> out;
    for (const fs::path& file : allFiles()) {
        const auto bytes = readFileIfPresent(file, std::size_t{1} << 30);
        if (bytes && bytes->find(needle) != std::string::npos) {
            out.push_back(file);
        }
    }
    return out;
}

std::vector<std::string> EndToEndTest::folders(const std::string& kind) const {
    std::vector<std::string> out;
    std::error_code ec;
    for (auto it = fs::directory_iterator(support() / kind, ec);
         !ec && it != fs::directory_iterator(); it.increment(ec)) {
        if (it->is_directory(ec)) {
            out.push_back(it->path().filename().string());
        }
    }
    return out;
}

void EndToEndTest::setApiKey(const std::string& key) {
    ::setenv("ANTHROPIC_API_KEY", key.c_str(), 1);
}

void EndToEndTest::connectLinear(const std::string& token) {
    fs::create_directories(support());
    writeFile(support() / "mcp_servers.json",
              R"([{"name":"linear","url":"https://127.0.0.1:9/mcp","bundleIDs":["com.linear"],)"
              R"("authToken":")" +
                  token + R"("}])");
}

void EndToEndTest::storeSkill(const Skill& skill) {
    SkillStore().save(skill);
}

Skill EndToEndTest::weeklyReportSkill() {
    return Skill{.name = "File the weekly report",
                 .trigger = "weekly report",
                 .summary = "Files the report.",
                 .parameters = {Parameter{.name = "week",
                                          .type = ParameterType::date,
                                          .prompt = "Which week?",
                                          .exampleValue = "2026-06-06",
                                          .usedInSteps = {1}}},
                 .plan = {PlanStep{.index = 0,
                                   .intent = "Open the report form",
                                   .action = ActionType::click},
                          PlanStep{.index = 1,
                                   .intent = "Type the week",
                                   .action = ActionType::keystroke,
                                   .text = "{{week}}"}},
                 .appScope = {"com.linear"}};
}

std::optional<XWindow> EndToEndTest::mainWindow() {
    return kestro_ ? x().findOne("Kestro", kestro_->pid()) : std::nullopt;
}

std::optional<XWindow> EndToEndTest::pill() {
    return kestro_ ? x().findOne("Kestro pill", kestro_->pid()) : std::nullopt;
}

std::optional<XWindow> EndToEndTest::palette() {
    if (!kestro_) {
        return std::nullopt;
    }
    // The palette is the one "Kestro" window that is not the main window: a frameless panel.
    const auto main = mainWindow();
    for (const XWindow& w : x().find("Kestro", kestro_->pid())) {
        if (!main || w.id != main->id) {
            return w;
        }
    }
    return std::nullopt;
}

std::vector<XWindow> EndToEndTest::frames() {
    return kestro_ ? x().find("Kestro frame", kestro_->pid()) : std::vector<XWindow>{};
}

std::optional<XWindow> EndToEndTest::trayIcon() {
    const unsigned long host = desk_->trayHostWindow();
    if (!kestro_ || host == 0) {
        return std::nullopt;
    }
    for (const XWindow& w : x().windowsInside(x().windowPid(host), kestro_->pid())) {
        if (w.viewable) {
            return w;
        }
    }
    return std::nullopt;
}

namespace {
bool grabRefused = false;
} // namespace

bool EndToEndTest::hotkeysArmed() {
    // Kestro holds a passive grab of Control-/ on the root while its hotkeys run: ours is refused.
    // Ours is taken and let go while the server serves no one else: a grab of Kestro's arriving
    // in between would find the key taken, and Kestro leaves a taken key to its holder for good.
    Display* d = x().display();
    const Window root = DefaultRootWindow(d);
    const KeyCode slash = XKeysymToKeycode(d, XK_slash);
    grabRefused = false;
    XSync(d, False);
    auto previous = XSetErrorHandler([](Display*, XErrorEvent* e) {
        if (e->error_code == BadAccess) {
            grabRefused = true;
        }
        return 0;
    });
    XGrabServer(d);
    XGrabKey(d, slash, ControlMask, root, False, GrabModeAsync, GrabModeAsync);
    // Releases only a grab of ours: Kestro's stays.
    XUngrabKey(d, slash, ControlMask, root);
    XUngrabServer(d);
    XSync(d, False);
    XSetErrorHandler(previous);
    return grabRefused;
}

bool EndToEndTest::waitForHotkeys(double seconds) {
    return waitFor([&] { return hotkeysArmed(); }, seconds);
}

int EndToEndTest::frameReach(const XWindow& frame) {
    const int band = 40;
    const int top = frame.y + frame.height / 4;
    const int height = frame.height / 2;
    const Image strip = x().grab(frame.x, top, band, height);
    int reach = 0;
    for (int row = 0; row < strip.height; ++row) {
        for (int col = 0; col < strip.width; ++col) {
            const std::uint8_t* px = strip.pixel(col, row);
            if (px[0] < 90 && px[1] < 90 && px[2] < 90) {
                reach = std::max(reach, col + 1);
            }
        }
    }
    return reach;
}

bool EndToEndTest::framesDrawn(std::size_t count) {
    const auto shown = frames();
    if (shown.size() != count) {
        return false;
    }
    for (const XWindow& frame : shown) {
        if (frameReach(frame) == 0) {
            return false;
        }
    }
    return true;
}

std::optional<double> EndToEndTest::doubleTapUntilFrames(std::size_t count, double seconds,
                                                         double* mapped) {
    x().tap("Control_L");
    settle(60);
    x().press("Control_L");
    const auto pressed = Clock::now();
    x().release("Control_L");
    std::optional<double> firstMapped;
    if (!waitFor(
            [&] {
                if (!firstMapped && frames().size() == count) {
                    firstMapped = secondsSince(pressed);
                }
                return firstMapped && framesDrawn(count);
            },
            seconds, 5)) {
        return std::nullopt;
    }
    if (mapped) {
        *mapped = *firstMapped;
    }
    return secondsSince(pressed);
}

std::optional<double> EndToEndTest::openPaletteWithFocus(double seconds) {
    x().press("Control_L");
    settle(20);
    x().press("slash");
    const auto pressed = Clock::now();
    x().release("slash");
    x().release("Control_L");
    std::optional<XWindow> shown;
    if (!waitFor(
            [&] {
                shown = palette();
                return shown && x().focusWindow() == shown->id;
            },
            seconds, 5)) {
        return std::nullopt;
    }
    return secondsSince(pressed);
}

std::size_t EndToEndTest::expectedFrames() const {
    return desk_->monitors().size();
}

Image EndToEndTest::screenshot(const std::string& name) {
    Image image = x().grabScreen();
    saveScreenshot(image, name);
    return image;
}

std::optional<XDesk::Extents> EndToEndTest::pillShape() {
    const auto p = pill();
    if (!p) {
        return std::nullopt;
    }
    auto shape = x().boundingShape(p->id);
    if (shape) {
        shape->x += p->x;
        shape->y += p->y;
    }
    return shape;
}

std::optional<XDesk::Extents> EndToEndTest::pillDrawn() {
    const auto p = pill();
    if (!p) {
        return std::nullopt;
    }
    const Image image = x().grab(p->x, p->y, p->width, p->height);
    int left = image.width, top = image.height, right = -1, bottom = -1;
    for (int row = 0; row < image.height; ++row) {
        for (int col = 0; col < image.width; ++col) {
            const std::uint8_t* px = image.pixel(col, row);
            bool differs = false;
            for (int c = 0; c < 3; ++c) {
                differs = differs || std::abs(px[c] - UserDesktop::background[c]) > 30;
            }
            if (differs) {
                left = std::min(left, col);
                top = std::min(top, row);
                right = std::max(right, col);
                bottom = std::max(bottom, row);
            }
        }
    }
    if (right < 0) {
        return std::nullopt;
    }
    return XDesk::Extents{p->x + left, p->y + top, right - left + 1, bottom - top + 1};
}

int EndToEndTest::pillRedPixels() {
    const auto p = pill();
    if (!p) {
        return 0;
    }
    const Image image = x().grab(p->x, p->y, p->width, p->height);
    return countColour(image, 255, 59, 48, 40);
}

std::vector<DesktopKind> desktopKinds(bool compositor, bool withoutTray) {
    std::vector<DesktopKind> kinds = {{"plain", {}}};
    if (compositor) {
        kinds.push_back({"xcompmgr", {.compositor = true}});
    }
    if (withoutTray) {
        kinds.push_back({"notray", {.trayHost = false}});
    }
    return kinds;
}

} // namespace kestro::testing::e2e
