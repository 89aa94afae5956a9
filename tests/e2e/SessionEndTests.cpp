// A recording when the session ends under it: a termination signal (what a logout sends) stops
// and saves it, and so does the display server going away, while keys are typed or while a key
// frame is being captured.

#include "tests/support/e2e/EndToEndTest.h"

#include "KestroBase/FileIO.h"

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <thread>

using namespace kestro::testing::e2e;
namespace fs = std::filesystem;

namespace {

class SessionEnd : public EndToEndTest {
protected:
    // Every recording folder holds its recording.json, and every frame file in it is one the
    // recording names: no frames are left without their recording. Returns the frames seen.
    int expectRecordingsWhole(std::size_t count, const std::string& round) {
        const auto names = folders("recordings");
        EXPECT_EQ(names.size(), count) << round;
        int frames = 0;
        for (const auto& name : names) {
            const fs::path folder = support() / "recordings" / name;
            const auto document = kestro::readFileIfPresent(folder / "recording.json");
            EXPECT_TRUE(document) << round << ": " << name << " has no recording.json";
            std::error_code ec;
            for (auto it = fs::directory_iterator(folder / "frames", ec);
                 !ec && it != fs::directory_iterator(); ++it) {
                ++frames;
                const std::string file = it->path().filename().string();
                EXPECT_TRUE(document && document->find(file) != std::string::npos)
                    << round << ": " << file << " is not in its recording";
            }
        }
        return frames;
    }

    // Recording, with a click into the fixture's name field (its key frame) and some typing
    // there.
    bool startRecordingWithInput() {
        if (fixture_ <= 0) {
            fixture_ = desk().startFixture();
        }
        if (fixture_ <= 0 || !waitForHotkeys() || !doubleTapUntilFrames(expectedFrames(), 20)) {
            return false;
        }
        // Found once: after a killed server the test's own accessibility connection is gone
        // for good, and every desktop places the fixture alike.
        static std::optional<AccessibleNode> field;
        if (!field) {
            waitFor(
                [&] {
                    for (const auto& node : accessibleTree(fixture_)) {
                        if (node.name == "Name" && node.role == "text" && node.width > 0) {
                            field = node;
                        }
                    }
                    return field.has_value();
                },
                20);
        }
        if (!field) {
            return false;
        }
        clickField = [this, f = *field] { x().click(f.x + f.width - 10, f.y + f.height / 2); };
        clickField();
        settle(400);
        x().type("abc");
        settle(300);
        return true;
    }
    pid_t fixture_ = -1;
    std::function<void()> clickField;
};

TEST_F(SessionEnd, ATerminationSignalSavesTheRecordingAndEndsInOrder) {
    const fs::path runtime = fs::path(std::getenv("XDG_RUNTIME_DIR"));
    for (int round = 1; round <= 3; ++round) {
        const std::string name = "round " + std::to_string(round);
        KestroProcess& kestro = startKestro();
        ASSERT_TRUE(kestro.running()) << name;
        ASSERT_TRUE(startRecordingWithInput()) << name << ": the recording did not start";
        ASSERT_EQ(::kill(kestro.pid(), SIGTERM), 0);
        const auto status = kestro.wait(30);
        ASSERT_TRUE(status) << name << ": Kestro did not end";
        EXPECT_EQ(*status, 0) << name;
        const auto lines = kestro.log();
        for (const auto& line : lines) {
            std::printf("[ log ] %s\n", line.c_str());
        }
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
            return l.rfind("Kestro: ending; recording ", 0) == 0 &&
                   l.find("without synthesis") != std::string::npos;
        })) << name;
        EXPECT_GT(expectRecordingsWhole(static_cast<std::size_t>(round), name), 0)
            << name << ": no key frame was kept";
        // The instance's lock and socket went with it.
        std::vector<std::string> left;
        for (const auto& entry : fs::directory_iterator(runtime)) {
            const std::string file = entry.path().filename().string();
            if (file.rfind("kestro-", 0) == 0) {
                left.push_back(file);
            }
        }
        EXPECT_TRUE(left.empty()) << name << ": " << left.front();
    }
}

struct Ending {
    const char* name;
    int signal;
    // The user's stop already waits for the screenshot when the signal comes.
    bool stoppedFirst = false;
};

void PrintTo(const Ending& ending, std::ostream* out) {
    *out << ending.name;
}

class EndingSignal : public SessionEnd, public ::testing::WithParamInterface<Ending> {};

// Whoever ends the session kills soon after its signal: a screenshot that never comes back (a
// display that stopped answering it) must not keep the recording from being saved before then.
TEST_P(EndingSignal, AStuckScreenshotDoesNotHoldTheSave) {
    const fs::path held = data_.root() / "screenshot-held";
    KestroProcess& kestro = startKestro({"--hold-screenshots", held.string()});
    ASSERT_TRUE(kestro.running());
    ASSERT_TRUE(startRecordingWithInput()) << "the recording did not start";
    ASSERT_TRUE(waitFor([&] { return fs::exists(held); }, 20)) << "no key frame was asked for";
    if (GetParam().stoppedFirst) {
        x().doubleTapControl();
        ASSERT_TRUE(waitFor([&] { return frames().empty(); }, 20)) << "the recording did not stop";
        ASSERT_TRUE(folders("recordings").size() == 1 &&
                    !fs::exists(support() / "recordings" / folders("recordings").front() /
                                "recording.json"))
            << "the stop did not wait for the screenshot";
    }
    const auto sent = Clock::now();
    ASSERT_EQ(::kill(kestro.pid(), GetParam().signal), 0);
    const bool saved = waitFor(
        [&] {
            const auto names = folders("recordings");
            return !names.empty() &&
                   fs::exists(support() / "recordings" / names.front() / "recording.json");
        },
        30, 10);
    const double took = secondsSince(sent);
    std::printf("[ figure ] %s with a stuck screenshot: recording.json %s after %.2f s\n",
                GetParam().name, saved ? "saved" : "still missing", took);
    ASSERT_TRUE(saved);
    EXPECT_LT(took, 2.0);
    const auto status = kestro.wait(30);
    ASSERT_TRUE(status) << "Kestro did not end";
    std::printf("[ figure ] %s with a stuck screenshot: ended after %.2f s\n", GetParam().name,
                secondsSince(sent));
    EXPECT_EQ(*status, 0);
    const auto lines = kestro.log();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
        return l.rfind("Kestro: ending; recording ", 0) == 0 &&
               l.find("without synthesis") != std::string::npos;
    }));
    // The stuck frame failed: no file of it stays.
    EXPECT_EQ(expectRecordingsWhole(1, GetParam().name), 0);
}

INSTANTIATE_TEST_SUITE_P(Signals, EndingSignal,
                         ::testing::Values(Ending{"SIGTERM", SIGTERM}, Ending{"SIGINT", SIGINT},
                                           Ending{"SIGHUP", SIGHUP},
                                           Ending{"SIGTERMDuringAStop", SIGTERM, true}),
                         [](const ::testing::TestParamInfo<Ending>& param) {
                             return std::string(param.param.name);
                         });

TEST_F(SessionEnd, ATricklingModelServiceEndsTheSynthesisByItsDeadline) {
    setApiKey("sk-e2e-trickle");
    // Outlives the test body: the server's threads may still look at it.
    auto done = std::make_shared<std::atomic<bool>>(false);
    model().setHandler([done](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider(
            "application/json", [done](std::size_t, httplib::DataSink& sink) {
                // A byte every half second, for two minutes.
                for (int i = 0; i < 240 && !*done; ++i) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(500));
                    if (!sink.write(" ", 1)) {
                        return false;
                    }
                }
                sink.done();
                return true;
            });
    });
    constexpr double deadline = 5;
    KestroProcess& kestro = startKestro({"--request-deadline", std::to_string(deadline)});
    ASSERT_TRUE(startRecordingWithInput());
    x().doubleTapControl();
    ASSERT_TRUE(model().waitForRequests(1, 30)) << "no synthesis request";
    const auto sent = Clock::now();
    const auto line = kestro.waitForLog("Kestro: synthesis failed for recording ", 60);
    const double took = secondsSince(sent);
    *done = true;
    ASSERT_TRUE(line) << "the synthesis did not end";
    EXPECT_NE(line->find("Timeout"), std::string::npos) << *line;
    std::printf("[ figure ] trickled synthesis ended after %.1f s (deadline %.0f s)\n", took,
                deadline);
    EXPECT_LT(took, deadline + 10);
    // Idle again: a new recording starts.
    EXPECT_TRUE(doubleTapUntilFrames(expectedFrames(), 20)) << "no new recording after it";
}

TEST_F(SessionEnd, WithoutARuntimeFolderALockOfAnotherUserDoesNotBlockAStart) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to plant files of another user";
    }
    const fs::path tmp = data_.root() / "tmp";
    fs::create_directories(tmp);
    fs::permissions(tmp, fs::perms::all | fs::perms::sticky_bit);
    ::setenv("TMPDIR", tmp.c_str(), 1);
    ::unsetenv("XDG_RUNTIME_DIR");
    // Another user's files where the lock, the socket and the private folder would go.
    const std::string base = "kestro-" + std::to_string(::getuid());
    for (const std::string& name : {base + ".lock", base + ".socket", base}) {
        std::fclose(std::fopen((tmp / name).c_str(), "w"));
        ASSERT_EQ(::chown((tmp / name).c_str(), 54321, 54321), 0);
    }
    KestroProcess& kestro = startKestro();
    EXPECT_TRUE(kestro.running()) << "Kestro did not start: " << kestro.errors();
    EXPECT_TRUE(mainWindow().has_value());
    // Root could have taken them over: they are left to their owner, and the lock and the
    // socket live in a folder of the user's own.
    for (const std::string& name : {base + ".lock", base + ".socket", base}) {
        struct stat info {};
        ASSERT_EQ(::lstat((tmp / name).c_str(), &info), 0) << name;
        EXPECT_EQ(info.st_uid, 54321u) << name;
        EXPECT_TRUE(S_ISREG(info.st_mode)) << name;
    }
    const fs::path own = data_.root() / "cache" / "kestro-runtime";
    struct stat info {};
    ASSERT_EQ(::lstat(own.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    EXPECT_EQ(info.st_uid, ::getuid());
    EXPECT_TRUE(fs::exists(own / (base + ".lock")));
    EXPECT_TRUE(fs::exists(own / (base + ".socket")));
    // A second start finds the first there and leaves.
    const Finished second =
        runToEnd({KestroProcess::launcherPath(), "--model-endpoint", model().endpoint()}, 30);
    EXPECT_EQ(second.status, 0);
    EXPECT_TRUE(kestro.running());
    ::unsetenv("TMPDIR");
}

struct Loss {
    const char* name;
    // Whether the server goes right after a click, while its key frame is taken, or in the
    // middle of typing.
    bool duringKeyFrame;
};

class DisplayLoss : public SessionEnd, public ::testing::WithParamInterface<Loss> {};

TEST_P(DisplayLoss, TheRecordingIsSavedAndTheProcessEndsWithoutACrash) {
    for (int round = 1; round <= 5; ++round) {
        const std::string name = std::string(GetParam().name) + ", round " + std::to_string(round);
        if (round > 1) {
            fixture_ = -1;
            desk_.reset();
            desk_ = std::make_unique<UserDesktop>(desktopOptions());
            ASSERT_TRUE(desk_->ok()) << desk_->error();
        }
        KestroProcess& kestro = startKestro();
        ASSERT_TRUE(kestro.running()) << name;
        ASSERT_TRUE(startRecordingWithInput()) << name << ": the recording did not start";
        if (GetParam().duringKeyFrame) {
            clickField();
            settle(5);
        } else {
            for (int i = 0; i < 5; ++i) {
                x().type("typing on ");
            }
        }
        x().abandon();
        desk().session().killDisplay();
        const auto status = kestro.wait(30);
        ASSERT_TRUE(status) << name << ": Kestro did not end";
        EXPECT_NE(*status, 0) << name;
        EXPECT_LT(*status, 128) << name << ": ended by a signal\n" << kestro.errors();
        const auto lines = kestro.log();
        for (const auto& line : lines) {
            std::printf("[ log ] %s\n", line.c_str());
        }
        EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const std::string& l) {
            return l.rfind("Kestro: the display server went away; "
                           "recording ",
                           0) == 0;
        })) << name;
        expectRecordingsWhole(static_cast<std::size_t>(round), name);
        kestro_.reset();
    }
}

void PrintTo(const Loss& loss, std::ostream* out) {
    *out << loss.name;
}

INSTANTIATE_TEST_SUITE_P(Moments, DisplayLoss,
                         ::testing::Values(Loss{"while typing", false},
                                           Loss{"during a key frame", true}),
                         [](const ::testing::TestParamInfo<Loss>& param) {
                             return param.param.duringKeyFrame ? std::string("DuringAKeyFrame")
                                                               : std::string("WhileTyping");
                         });

} // namespace
