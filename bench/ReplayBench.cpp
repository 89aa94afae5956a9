// The replay engine's input costs on a private desktop: one typed character (on the layout, or
// through a borrowed key code), one click and one text, each measured as the main thread's time
// to post it and the time until a window of another process has received it; and the self-test's
// wall time, in process and as "kestro --selftest".
#include "Kestro/program/SelfTest.h"
#include "KestroBase/Text.h"
#include "platform/linux/GLibMainQueue.h"
#include "platform/linux/X11SyntheticInput.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/DesktopSession.h"
#include "tests/support/FixtureApp.h"
#include "tests/support/TempDataDir.h"

#include <benchmark/benchmark.h>

#include <X11/Xlib.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/inotify.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kestro;
namespace fs = std::filesystem;
using kestro::platform::InputEvent;
using kestro::platform::linux_x11::GLibMainQueue;
using kestro::platform::linux_x11::X11SyntheticInput;
using kestro::testing::DesktopSession;
namespace type = kestro::platform::event_type;

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double threadCpu() {
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Median and worst of samples in seconds, as counters in microseconds named `name`_p50_us etc.
void addPercentiles(benchmark::State& state, const std::string& name, std::vector<double> samples) {
    if (samples.empty()) {
        return;
    }
    std::sort(samples.begin(), samples.end());
    const auto at = [&](double q) {
        return samples[static_cast<std::size_t>(q * static_cast<double>(samples.size() - 1))] * 1e6;
    };
    state.counters[name + "_p50_us"] = at(0.5);
    state.counters[name + "_p90_us"] = at(0.9);
    state.counters[name + "_max_us"] = samples.back() * 1e6;
}

// Follows the log of a kestro-input-log window and tells, to the microsecond, when a line
// arrives: the window writes each line unbuffered, and inotify wakes the main loop at that write.
// The loop runs meanwhile, as the application's would, for the input layer's delayed work.
class LogTail {
public:
    LogTail(const fs::path& path, GLibMainQueue& queue) : queue_(queue) {
        notify_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        ::inotify_add_watch(notify_, path.c_str(), IN_MODIFY);
        file_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        watch_ = queue_.watch(notify_, platform::MainQueue::FdEvents::readable,
                              [this] { written_ = true; });
    }
    ~LogTail() {
        watch_.reset();
        ::close(file_);
        ::close(notify_);
    }
    LogTail(const LogTail&) = delete;
    LogTail& operator=(const LogTail&) = delete;

    bool ok() const { return notify_ >= 0 && file_ >= 0; }

    // Waits for the next line for which `wanted` holds and returns when it was seen; lines
    // before it are passed by. Nothing when none came in time.
    std::optional<Clock::time_point> waitFor(const std::function<bool(const std::string&)>& wanted,
                                             double timeoutSeconds = 10) {
        const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                 std::chrono::duration<double>(timeoutSeconds));
        for (;;) {
            readAvailable();
            const auto seen = Clock::now();
            while (!lines_.empty()) {
                const std::string line = std::move(lines_.front());
                lines_.erase(lines_.begin());
                last_.push_back(line);
                if (wanted(line)) {
                    return seen;
                }
            }
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count();
            if (left <= 0) {
                return std::nullopt;
            }
            written_ = false;
            queue_.runUntil([this] { return written_; },
                            static_cast<double>(std::min<long long>(left, 100)) / 1000.0);
            char events[4096];
            while (::read(notify_, events, sizeof events) > 0) {
            }
        }
    }
    // Every line seen since the last call.
    std::vector<std::string> takeSeen() {
        readAvailable();
        for (auto& l : lines_) {
            last_.push_back(std::move(l));
        }
        lines_.clear();
        return std::exchange(last_, {});
    }

private:
    void readAvailable() {
        char buffer[4096];
        ssize_t n = 0;
        while ((n = ::read(file_, buffer, sizeof buffer)) > 0) {
            partial_.append(buffer, static_cast<std::size_t>(n));
        }
        std::size_t end = 0;
        while ((end = partial_.find('\n')) != std::string::npos) {
            lines_.push_back(partial_.substr(0, end));
            partial_.erase(0, end + 1);
        }
    }

    GLibMainQueue& queue_;
    int notify_ = -1;
    int file_ = -1;
    std::unique_ptr<platform::MainQueue::Token> watch_;
    bool written_ = false;
    std::string partial_;
    std::vector<std::string> lines_;
    std::vector<std::string> last_;
};

// The core keyboard mapping as one comparable text.
std::string keyboardMapping(Display* display) {
    int min = 0, max = 0, perCode = 0;
    XDisplayKeycodes(display, &min, &max);
    KeySym* map = XGetKeyboardMapping(display, static_cast<KeyCode>(min), max - min + 1, &perCode);
    std::ostringstream out;
    for (int i = 0; i < (max - min + 1) * perCode; ++i) {
        out << map[i] << ',';
    }
    XFree(map);
    return out.str();
}

// The text of a "key <hex> <mods> <text>" line.
std::optional<std::string> keyText(const std::string& line) {
    if (!line.starts_with("key ")) {
        return std::nullopt;
    }
    std::size_t at = line.find(' ', 4);
    at = at == std::string::npos ? at : line.find(' ', at + 1);
    return at == std::string::npos ? std::string() : line.substr(at + 1);
}

// One private X server without a window manager, the input layer, and one log window that has
// the keyboard focus, shared by the input benchmarks.
struct Desk {
    kestro::testing::TempDataDir temp;
    DesktopSession session{DesktopSession::Options{.dbus = true}};
    Display* display = nullptr;
    GLibMainQueue queue;
    std::unique_ptr<X11SyntheticInput> input;
    fs::path logPath = temp.root() / "window.log";
    std::unique_ptr<LogTail> log;
    int originX = 0, originY = 0;
    std::string error;

    Desk() {
        if (!session.ok()) {
            error = "no private X server: " + session.error();
            return;
        }
        display = XOpenDisplay(session.display().c_str());
        input = std::make_unique<X11SyntheticInput>(queue);
        if (!display || !input->ok()) {
            error = "no XTest";
            return;
        }
        { std::ofstream touch(logPath); }
        log = std::make_unique<LogTail>(logPath, queue);
        session.spawn({kestro::testing::inputLogAppPath(), "--log", logPath.string(),
                       "--window-rect", "200,200,600,400"});
        const auto ready =
            log->waitFor([](const std::string& l) { return l.starts_with("ready "); }, 60);
        if (!ready) {
            error = "the log window did not come up";
            return;
        }
        for (const auto& l : log->takeSeen()) {
            if (l.starts_with("ready ")) {
                std::istringstream(l.substr(6)) >> originX >> originY;
            }
        }
        // A first click gives the window the focus, whatever the server did at its start.
        click(originX + 300, originY + 200);
        log->waitFor([](const std::string& l) { return l.starts_with("release "); });
        queue.runFor(0.3);
        log->takeSeen();
    }
    ~Desk() {
        input.reset();
        if (display) {
            XCloseDisplay(display);
        }
    }

    void post(std::uint32_t eventType, Point at = {}, std::int64_t clickState = 0) {
        InputEvent e;
        e.type = eventType;
        e.location = at;
        e.clickState = clickState;
        input->post(e);
    }
    void click(double x, double y) {
        post(type::mouseMoved, {x, y});
        post(type::leftMouseDown, {x, y}, 1);
        post(type::leftMouseUp, {x, y}, 1);
    }
    // One character as the runner types it: a key down and up carrying its text.
    void typeOne(const std::string& utf8) {
        for (std::uint32_t t : {type::keyDown, type::keyUp}) {
            InputEvent e;
            e.type = t;
            e.unicodeString = utf8;
            input->post(e);
        }
    }
    // Runs the main loop until every borrowed key code has its mapping back, then a little
    // longer so the window has read the restored keymap too.
    bool waitForRestore(double timeoutSeconds = 5) {
        const bool restored =
            queue.runUntil([&] { return input->remappedKeyCount() == 0; }, timeoutSeconds);
        queue.runFor(0.05);
        return restored;
    }
};

Desk& desk() {
    static Desk d;
    return d;
}

const char* const characters[] = {"a", "\u00e9", "\u20ac"};

// One character, typed: the main thread's cost of posting its down and up (wall and CPU time),
// and the time from the first post until the window has logged the key. Arguments: the
// character ("a" on the layout, "é", "€" through a borrowed key code) and whether its key code
// was already lent (warm, as for a repeated character within a text) or must be lent now and
// given back afterwards (cold, as for the first one). Cold iterations wait for the restore and
// count any difference of the keyboard mapping from before.
void BM_TypeOneCharacter(benchmark::State& state) {
    Desk& d = desk();
    if (!d.error.empty()) {
        state.SkipWithError(d.error.c_str());
        return;
    }
    const std::string character = characters[state.range(0)];
    const bool cold = state.range(1) == 1;
    state.SetLabel(character + (cold ? " cold" : " warm"));
    d.waitForRestore();
    const std::string before = keyboardMapping(d.display);
    if (!cold) {
        // Lends the key code, if it needs one, before the timing starts.
        d.typeOne(character);
        d.log->waitFor([](const std::string& l) { return l.starts_with("key "); });
    }
    std::vector<double> post, cpu, arrive;
    long wrong = 0, late = 0, notRestored = 0;
    for (auto _ : state) {
        const double cpuStart = threadCpu();
        const auto start = Clock::now();
        d.typeOne(character);
        const auto posted = Clock::now();
        cpu.push_back(threadCpu() - cpuStart);
        post.push_back(seconds(posted - start));
        std::string got;
        const auto seen = d.log->waitFor([&](const std::string& l) {
            const auto text = keyText(l);
            if (text) {
                got = *text;
            }
            return text.has_value();
        });
        if (!seen) {
            ++late;
            state.SetIterationTime(10);
            continue;
        }
        wrong += got != character;
        arrive.push_back(seconds(*seen - start));
        state.SetIterationTime(arrive.back());
        if (cold) {
            state.PauseTiming();
            notRestored += !d.waitForRestore() || keyboardMapping(d.display) != before;
            state.ResumeTiming();
        }
    }
    notRestored += !d.waitForRestore() || keyboardMapping(d.display) != before;
    addPercentiles(state, "post", post);
    addPercentiles(state, "arrive", arrive);
    addPercentiles(state, "cpu", cpu);
    state.counters["wrong_text"] = static_cast<double>(wrong);
    state.counters["not_arrived"] = static_cast<double>(late);
    state.counters["mapping_not_restored"] = static_cast<double>(notRestored);
}
BENCHMARK(BM_TypeOneCharacter)
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({1, 1})
    ->Args({2, 0})
    ->Args({2, 1})
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(60);

// One left click (move, down, up) at alternating points far enough apart that no two make a
// double click: the main thread's cost of posting it, and the time until the window has logged
// the press and the release.
void BM_ClickOnce(benchmark::State& state) {
    Desk& d = desk();
    if (!d.error.empty()) {
        state.SkipWithError(d.error.c_str());
        return;
    }
    std::vector<double> post, cpu, pressed, released;
    long late = 0, doubles = 0;
    bool flip = false;
    for (auto _ : state) {
        flip = !flip;
        const double x = d.originX + (flip ? 100.0 : 400.0), y = d.originY + 150.0;
        const double cpuStart = threadCpu();
        const auto start = Clock::now();
        d.click(x, y);
        const auto posted = Clock::now();
        cpu.push_back(threadCpu() - cpuStart);
        post.push_back(seconds(posted - start));
        const auto press = d.log->waitFor([&](const std::string& l) {
            doubles += l.starts_with("double ");
            return l.starts_with("press ") || l.starts_with("double ");
        });
        const auto release =
            d.log->waitFor([](const std::string& l) { return l.starts_with("release "); });
        if (!press || !release) {
            ++late;
            state.SetIterationTime(10);
            continue;
        }
        pressed.push_back(seconds(*press - start));
        released.push_back(seconds(*release - start));
        state.SetIterationTime(released.back());
    }
    addPercentiles(state, "post", post);
    addPercentiles(state, "cpu", cpu);
    addPercentiles(state, "press", pressed);
    addPercentiles(state, "release", released);
    state.counters["not_arrived"] = static_cast<double>(late);
    state.counters["seen_as_double"] = static_cast<double>(doubles);
}
BENCHMARK(BM_ClickOnce)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(200);

// 0: a date and a few characters off the layout; 1: a sentence with more distinct characters off
// the layout (34) than a keyboard has spare key codes (19 on the private server).
const char* const texts[] = {
    "2026-06-06 \u00e9\u20ac\u00fc \u0416\u0443\u043a",
    "Съешь же ещё этих мягких французских булок, да выпей чаю",
};

// A text as the runner types it, back to back, with no key code lent before: the main thread's
// cost of posting all of it, and the time until the window has its last character; the text must
// arrive as typed and the mapping come back afterwards.
void BM_TypeText(benchmark::State& state) {
    Desk& d = desk();
    if (!d.error.empty()) {
        state.SkipWithError(d.error.c_str());
        return;
    }
    const std::string typed = texts[state.range(0)];
    const auto scalars = text::decodeUtf8(typed);
    d.waitForRestore();
    const std::string before = keyboardMapping(d.display);
    std::vector<double> post, arrive;
    long wrong = 0, late = 0, notRestored = 0;
    for (auto _ : state) {
        const auto start = Clock::now();
        for (char32_t c : scalars) {
            std::string one;
            text::appendUtf8(one, c);
            d.typeOne(one);
        }
        const auto posted = Clock::now();
        post.push_back(seconds(posted - start));
        std::string got;
        std::size_t count = 0;
        const auto seen = d.log->waitFor([&](const std::string& l) {
            if (const auto text = keyText(l)) {
                got += *text;
                ++count;
            }
            return count == scalars.size();
        });
        if (!seen) {
            ++late;
            ++wrong;
            state.SetIterationTime(10);
        } else {
            wrong += got != typed;
            arrive.push_back(seconds(*seen - start));
            state.SetIterationTime(arrive.back());
        }
        state.PauseTiming();
        notRestored += !d.waitForRestore() || keyboardMapping(d.display) != before;
        d.log->takeSeen();
        state.ResumeTiming();
    }
    addPercentiles(state, "post", post);
    addPercentiles(state, "arrive", arrive);
    state.counters["wrong_text"] = static_cast<double>(wrong);
    state.counters["not_arrived"] = static_cast<double>(late);
    state.counters["mapping_not_restored"] = static_cast<double>(notRestored);
}
BENCHMARK(BM_TypeText)
    ->Arg(0)
    ->Arg(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(20);

// The self-test in this process under a temporary data folder: six groups, two stores written
// and removed.
void BM_SelfTestInProcess(benchmark::State& state) {
    kestro::testing::TempDataDir data;
    int failed = 0;
    for (auto _ : state) {
        std::ostringstream report;
        failed += SelfTest::run(report) != 0;
    }
    state.counters["failed_runs"] = failed;
}
BENCHMARK(BM_SelfTestInProcess)->Unit(benchmark::kMillisecond)->Iterations(30);

// "kestro --selftest" as a packager runs it: a new process without a display under a temporary
// data folder, from exec to exit.
void BM_SelfTestProgram(benchmark::State& state) {
    kestro::testing::TempDataDir data;
    int failed = 0;
    for (auto _ : state) {
        const pid_t pid = kestro::testing::spawnChild(
            {KESTRO_PROGRAM_PATH, "--selftest"},
            {.unsetEnvironment = {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}});
        int status = 0;
        ::waitpid(pid, &status, 0);
        failed += !WIFEXITED(status) || WEXITSTATUS(status) != 0;
    }
    state.counters["failed_runs"] = failed;
}
BENCHMARK(BM_SelfTestProgram)->Unit(benchmark::kMillisecond)->Iterations(30)->UseRealTime();

} // namespace
