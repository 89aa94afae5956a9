#pragma once

// The application object on fakes: a manual clock and queue, scripted permissions and input,
// recorded surfaces and log lines, model replies from a transport the test controls.

#include "Kestro/app/AppState.h"
#include "Kestro/app/SystemLog.h"
#include "KestroCore/Paths.h"
#include "KestroCore/SkillStore.h"
#include "platform/Cancellation.h"
#include "platform/fake/FakeHttpTransport.h"
#include "platform/fake/FakeServices.h"
#include "tests/support/TempDataDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kestro::testing {

// Notes every call the application object makes of its windows.
class RecordedSurfaces final : public Surfaces {
public:
    std::vector<std::string> calls;
    // Close callbacks of the palettes opened, in order.
    std::vector<std::function<void()>> paletteClosers;

    void showOverlay(OverlayStyle style) override {
        calls.push_back(style == OverlayStyle::casting ? "overlay casting" : "overlay recording");
    }
    void hideOverlay() override { calls.push_back("overlay hidden"); }
    // While set, what waits for the frame to be drawn waits until `drawOverlay()`.
    bool holdOverlayDrawn = false;
    std::vector<std::function<void()>> overlayWaiters;
    void afterOverlayShown(std::function<void()> then) override {
        if (holdOverlayDrawn) {
            overlayWaiters.push_back(std::move(then));
        } else {
            then();
        }
    }
    void drawOverlay() {
        for (auto& then : std::exchange(overlayWaiters, {})) {
            then();
        }
    }
    void showPill(AppState&) override { calls.push_back("pill shown"); }
    void setPillHidden(bool hidden) override {
        calls.push_back(hidden ? "pill hidden" : "pill revealed");
    }
    // As the real palette does: a new one closes the open one first.
    void showPalette(AppState&, std::function<void()> onClosed) override {
        if (open_) {
            closePalette();
        }
        calls.push_back("palette");
        paletteClosers.push_back(std::move(onClosed));
        open_ = true;
    }
    void closePalette() {
        open_ = false;
        auto closer = paletteClosers.back();
        closer();
    }
    void showMainWindow(AppState&) override { calls.push_back("main window"); }
    void adaptMainWindow(bool hasSkills) override {
        calls.push_back(hasSkills ? "adapt with skills" : "adapt empty");
    }
    void showOnboarding(PermissionsManager&) override { calls.push_back("onboarding"); }

    int count(const std::string& call) const {
        return static_cast<int>(std::count(calls.begin(), calls.end(), call));
    }
    void clear() { calls.clear(); }

private:
    bool open_ = false;
};

// A transport whose requests wait until the test answers them, honouring a stop at once as the
// real transport does.
class GateTransport final : public platform::HttpTransport {
public:
    void answer(platform::HttpResponse response) {
        std::lock_guard lock(mutex_);
        answers_.push_back(std::move(response));
        changed_.notify_all();
    }
    // Waits until `n` requests have arrived.
    bool awaitRequests(std::size_t n, double seconds = 20) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::duration<double>(seconds),
                                 [&] { return requests_.size() >= n; });
    }
    std::vector<platform::HttpRequest> requests() const {
        std::lock_guard lock(mutex_);
        return requests_;
    }

protected:
    platform::HttpResponse perform(const platform::HttpRequest& request,
                                   std::stop_token stop) override {
        // Made before the lock, so it is undone after the lock is let go: undoing it waits for a
        // stop request's callback that may be waiting for the lock.
        std::stop_callback wake(stop, [this] {
            std::lock_guard inner(mutex_);
            changed_.notify_all();
        });
        std::unique_lock lock(mutex_);
        requests_.push_back(request);
        changed_.notify_all();
        changed_.wait(lock, [&] { return stop.stop_requested() || !answers_.empty(); });
        if (stop.stop_requested()) {
            throw platform::CancellationError();
        }
        auto next = std::move(answers_.front());
        answers_.erase(answers_.begin());
        return next;
    }

private:
    mutable std::mutex mutex_;
    std::condition_variable_any changed_;
    std::vector<platform::HttpRequest> requests_;
    std::vector<platform::HttpResponse> answers_;
};

// A model reply: one text block and the stop reason.
inline std::string modelReply(const std::string& text, const std::string& stopReason = "end_turn") {
    json::Value reply = {{"content", {{{"type", "text"}, {"text", text}}}},
                         {"stop_reason", stopReason}};
    return json::writeCompact(reply);
}

// The draft the synthesis request answers with, as the model's JSON text.
inline std::string draftText(const std::string& name = "File the weekly report") {
    json::Value draft = {
        {"name", name},
        {"trigger", "weekly report"},
        {"summary", "Files the report."},
        {"mode", "agentic"},
        {"app_scope", {"org.example.Editor"}},
        {"parameters",
         {{{"name", "week"},
           {"type", "date"},
           {"prompt", "Which week?"},
           {"example_value", "2026-06-06"},
           {"used_in_steps", {1}}}}},
        {"plan",
         {{{"index", 0}, {"intent", "Click Login"}, {"action", "click"}, {"is_destructive", false}},
          {{"index", 1},
           {"intent", "Type the week"},
           {"action", "keystroke"},
           {"text", "{{week}}"},
           {"is_destructive", false}}}}};
    return json::writeCompact(draft);
}

class AppFixture : public DataFolderTest {
public:
    // The application's model transport: cast requests (they carry the MCP beta header) to
    // castTransport_, synthesis requests to synthesisTransport_.
    class RoutingTransport final : public platform::HttpTransport {
    public:
        explicit RoutingTransport(AppFixture& fixture) : fixture_(fixture) {}

    protected:
        platform::HttpResponse perform(const platform::HttpRequest& request,
                                       std::stop_token stop) override {
            for (const auto& [name, value] : request.headers) {
                if (name == "anthropic-beta") {
                    return fixture_.castTransport_->post(request, std::move(stop));
                }
            }
            return fixture_.synthesisTransport_->post(request, std::move(stop));
        }

    private:
        AppFixture& fixture_;
    };

    AppFixture() {
        ::unsetenv("ANTHROPIC_API_KEY");
        setLogSink([this](const std::string& line) {
            std::lock_guard lock(logMutex_);
            log_.push_back(line);
        });
        displays_.displays.push_back({1, Rect::make(0, 0, 320, 200), true});
        displays_.screenList.push_back({1, 1.0});
        capture_.addDisplay(1, 320, 200);
        apps_.add(100, "org.example.Editor", "Editor");
        apps_.frontmost = 100;
        settingsFile_ = QString::fromStdString((data_.root() / "settings.ini").string());
    }

    ~AppFixture() override {
        capture_.setHeld(false);
        app_.reset();
        setLogSink({});
    }

    void grant(bool screen, bool accessibility, bool input) {
        checks_.screenCapture = screen;
        checks_.trusted = accessibility;
        checks_.listenEvent = input ? platform::PermissionChecks::accessGranted
                                    : platform::PermissionChecks::accessDenied;
    }
    void grantAll() { grant(true, true, true); }
    void setKey(const std::string& key = "sk-test") {
        ::setenv("ANTHROPIC_API_KEY", key.c_str(), 1);
    }

    // Tool servers for the cast road, in the user's server file.
    void writeServers(const std::string& json) {
        writeFile(Paths::support() / "mcp_servers.json", json);
    }
    void connectEditorServer() {
        writeServers(R"([{"name":"editor","url":"https://tools.example/mcp",
            "bundleIDs":["org.example.Editor"],"authToken":"t"}])");
    }

    // A skill of the editor, saved and loaded into the application.
    Skill addSkill(const std::string& name) {
        Skill s;
        s.name = name;
        s.appScope = {"org.example.Editor"};
        SkillStore().save(s);
        app().reloadSkills();
        return s;
    }

    AppState& make(std::shared_ptr<platform::HttpTransport> model = nullptr) {
        if (!model) {
            model = std::make_shared<RoutingTransport>(*this);
        }
        app_ = std::make_unique<AppState>(
            fakes_.services(), AppState::ModelService{model, "https://model.example/v1/messages"},
            surfaces_, settingsFile_);
        return *app_;
    }
    AppState& app() { return *app_; }

    // Runs the main queue (and lets the workers run) until `done` or the time is up.
    bool runUntil(const std::function<bool()>& done, double seconds = 20) {
        const auto deadline = std::chrono::steady_clock::now() +
                              std::chrono::milliseconds(static_cast<int>(seconds * 1000));
        while (std::chrono::steady_clock::now() < deadline) {
            queue_.drain();
            if (done()) {
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        queue_.drain();
        return done();
    }
    void drain() { queue_.drain(); }

    // Input through the fake taps, as the user gives it.
    void click(double x = 20, double y = 20) {
        namespace type = platform::event_type;
        taps_.deliver(platform::fake::FakeEventTaps::mouse(type::leftMouseDown, {x, y}, 1));
        drain();
        taps_.deliver(platform::fake::FakeEventTaps::mouse(type::leftMouseUp, {x, y}, 1));
        drain();
    }
    static constexpr std::uint64_t controlFlag = 0x40000;
    void doubleTapControl() {
        for (int i = 0; i < 2; ++i) {
            taps_.deliver(platform::fake::FakeEventTaps::flagsChanged(59, controlFlag));
            taps_.deliver(platform::fake::FakeEventTaps::flagsChanged(59, 0));
        }
        drain();
    }
    bool key(std::int64_t code, std::uint64_t flags = 0) {
        const bool consumed = taps_.deliver(platform::fake::FakeEventTaps::keyDown(code, flags));
        drain();
        return consumed;
    }

    std::vector<std::string> log() const {
        std::lock_guard lock(logMutex_);
        return log_;
    }
    void clearLog() {
        std::lock_guard lock(logMutex_);
        log_.clear();
    }

    // Skill folders on disk.
    std::size_t skillFolders() const {
        std::size_t n = 0;
        std::error_code ec;
        for (auto it = std::filesystem::directory_iterator(Paths::skills(), ec);
             !ec && it != std::filesystem::directory_iterator(); ++it) {
            ++n;
        }
        return n;
    }

    platform::fake::FakeServices fakes_;
    platform::fake::ManualClock& clock_ = fakes_.clock;
    platform::fake::ManualQueue& queue_ = fakes_.queue;
    platform::fake::FakeEventTaps& taps_ = fakes_.taps;
    platform::fake::FakeDisplaySource& displays_ = fakes_.displays;
    platform::fake::FakeAccessibility& access_ = fakes_.accessibility;
    platform::fake::FakeApplications& apps_ = fakes_.applications;
    platform::fake::FakeScreenCapture& capture_ = fakes_.capture;
    platform::fake::FakePermissionChecks& checks_ = fakes_.permissionChecks;
    platform::fake::FakeURLOpener& opener_ = fakes_.urlOpener;
    platform::fake::FakeSyntheticInput& input_ = fakes_.input;
    platform::fake::FakeAppActivator& activator_ = fakes_.activator;
    RecordedSurfaces surfaces_;
    // Synthesis goes through the shared transport; casts through the application's own.
    std::shared_ptr<platform::fake::FakeHttpTransport> synthesisTransport_ =
        std::make_shared<platform::fake::FakeHttpTransport>();
    platform::fake::SharedTransportScope sharedScope_{synthesisTransport_};
    std::shared_ptr<GateTransport> castTransport_ = std::make_shared<GateTransport>();
    QString settingsFile_;
    std::unique_ptr<AppState> app_;

private:
    mutable std::mutex logMutex_;
    std::vector<std::string> log_;
};

} // namespace kestro::testing
