// Passwords typed into a terminal: accessibility reports the terminal as an ordinary text area at
// a password prompt too, so what is kept follows the echo of its terminal device. A password
// from a sudo-like prompt and from `read -s` goes nowhere; a command typed with echo on is kept.

#include "tests/support/ChildProcess.h"
#include "tests/support/e2e/EndToEndTest.h"

#include "KestroCore/Json.h"

#include <X11/Xlib.h>
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>

using namespace kestro::testing::e2e;
namespace fs = std::filesystem;
namespace json = kestro::json;

namespace {

constexpr const char* apiKey = "sk-e2e-terminal";
constexpr const char* title = "Kestro Terminal";
constexpr int rounds = 2;
constexpr int promptsPerRound = 5;

std::string draft() {
    json::Value d = {{"name", "Run a command"},
                     {"trigger", "run"},
                     {"summary", "Runs a command in a terminal."},
                     {"mode", "agentic"},
                     {"app_scope", json::Value::array()},
                     {"parameters", json::Value::array()},
                     {"plan",
                      {{{"index", 0},
                        {"intent", "Type the command"},
                        {"action", "keystroke"},
                        {"is_destructive", false}}}}};
    return d.dump();
}

class TerminalSecrets : public EndToEndTest {};

TEST_F(TerminalSecrets, PasswordsTypedWhileTheTerminalDoesNotEchoAreKeptNowhere) {
    setApiKey(apiKey);
    std::vector<kestro::testing::LocalServer::Reply> replies;
    for (int i = 0; i < rounds; ++i) {
        replies.push_back({200, ModelStandIn::draftReply(draft())});
    }
    model().script(replies);

    // A shell that reads lines as the terminal gives them (no line editor, which would draw
    // the line itself with echo off), and a `sudo` that asks for a password as sudo does:
    // echo off, one line read.
    const fs::path rc = data_.home() / "terminal-rc";
    {
        std::ofstream out(rc);
        out << "PS1='$ '\n"
               "sudo() { python3 -c 'import getpass; getpass.getpass(\"[sudo] password for "
               "ada: \")'; }\n";
    }
    KestroProcess& kestro = startKestro();
    ASSERT_TRUE(waitForHotkeys()) << "Kestro's hotkeys did not start";
    // Started after Kestro, so that it lies over Kestro's main window.
    const pid_t terminal =
        desk().session().spawn({"lxterminal", "--no-remote", "-t", title, "--geometry=90x24", "-e",
                                "bash --noediting --rcfile " + rc.string() + " -i"});
    ASSERT_GT(terminal, 0);
    std::optional<XWindow> window;
    ASSERT_TRUE(waitFor([&] { return (window = x().findOne(title, terminal)).has_value(); }, 30))
        << "the terminal did not show";
    ASSERT_TRUE(waitFor([&] { return kestro::testing::shellEcho(terminal) == true; }, 30))
        << "no shell with echo on in the terminal";

    auto terminalFocused = [&] {
        for (unsigned long w = x().focusWindow(); w != 0; w = x().parentOf(w)) {
            if (x().windowPid(w) == terminal) {
                return true;
            }
        }
        return false;
    };
    // A click on the terminal's screen, below its menu bar, where neither Kestro's window (grown
    // once a skill arrives) nor the pill's tip (at its lower right) lies; where the window manager
    // does not give it the keyboard for that, asked as a task bar asks.
    auto focusTerminal = [&] {
        const auto main = mainWindow();
        int px = window->centreX(), py = window->centreY();
        if (main && px >= main->x && px < main->x + main->width && py >= main->y &&
            py < main->y + main->height) {
            px = window->x + 60;
            py = window->y + 60;
        }
        x().click(px, py);
        if (waitFor(terminalFocused, 5)) {
            return true;
        }
        Display* d = x().display();
        XEvent e{};
        e.xclient.type = ClientMessage;
        e.xclient.window = window->id;
        e.xclient.message_type = XInternAtom(d, "_NET_ACTIVE_WINDOW", False);
        e.xclient.format = 32;
        e.xclient.data.l[0] = 2; // from a pager or task bar
        e.xclient.data.l[1] = CurrentTime;
        XSendEvent(d, DefaultRootWindow(d), False,
                   SubstructureRedirectMask | SubstructureNotifyMask, &e);
        XFlush(d);
        return waitFor(terminalFocused, 10);
    };
    std::vector<std::string> passwords, commands;
    auto atPrompt = [&](bool echo) {
        return waitFor([&] { return kestro::testing::shellEcho(terminal) == echo; }, 20);
    };
    for (int round = 0; round < rounds; ++round) {
        ASSERT_TRUE(focusTerminal())
            << "the terminal did not take the keyboard: " << x().windowPid(x().focusWindow())
            << (screenshot("terminal-secrets-focus"), "");
        ASSERT_TRUE(doubleTapUntilFrames(expectedFrames())) << "no recording in round " << round;
        settle(300);

        if (!terminalFocused()) {
            ASSERT_TRUE(focusTerminal()) << "the terminal lost the keyboard as recording began";
        }
        const std::string command = "echo plain-words-" + std::to_string(round);
        commands.push_back(command);
        x().type(command);
        // Typed at once with its Return, a command is not kept on a machine too busy to show
        // whether its keys were echoed; a person sees it on the screen before the Return.
        ASSERT_TRUE(kestro.caughtUp(20)) << "Kestro never caught up with the typing:\n"
                                         << kestro.threads();
        x().tap("Return");
        for (int i = 0; i < promptsPerRound; ++i) {
            const std::string tag = std::to_string(round) + "x" + std::to_string(i);
            // As a person does: the password once the prompt shows, Return at once after it.
            for (const char* asking : {"sudo true", "read -s answer"}) {
                ASSERT_TRUE(atPrompt(true)) << "round " << round << ": no shell prompt";
                if (!terminalFocused()) {
                    ASSERT_TRUE(focusTerminal())
                        << "the terminal lost the keyboard to " << x().windowPid(x().focusWindow())
                        << " (Kestro " << kestro.pid() << ")"
                        << (screenshot("terminal-secrets-lost"), "");
                }
                x().type(asking);
                x().tap("Return");
                ASSERT_TRUE(atPrompt(false)) << asking << ": echo never went off"
                                             << (screenshot("terminal-secrets-prompt"), "");
                const std::string password =
                    std::string(asking[0] == 's' ? "Sud0-" : "R3ad-") + tag + "-Qz";
                passwords.push_back(password);
                x().type(password);
                x().tap("Return");
            }
        }
        ASSERT_TRUE(atPrompt(true));
        screenshot("terminal-secrets-" + std::to_string(round));
        const std::size_t from = kestro.log().size();
        x().doubleTapControl();
        ASSERT_TRUE(kestro.waitForLog("Kestro: synthesized skill", 90, from))
            << "round " << round << " was not synthesized";
        // The main window grows to hold the new row, and may come to the front.
        EXPECT_TRUE(waitFor(
            [&] {
                const auto w = mainWindow();
                return w && w->width == 820 && w->height == 600;
            },
            10));
    }
    ASSERT_EQ(passwords.size(), static_cast<std::size_t>(2 * rounds * promptsPerRound));

    // Stored nowhere, sent never; the commands typed with echo on are kept and sent.
    int stored = 0, sent = 0;
    for (const std::string& password : passwords) {
        const auto files = filesContaining(password);
        stored += files.empty() ? 0 : 1;
        EXPECT_TRUE(files.empty()) << password << " in " << files.front();
        for (const auto& r : model().received()) {
            sent += r.body.find(password) != std::string::npos ? 1 : 0;
        }
    }
    // Nor any part of one (a run split by a late reading of the echo): base64 has no "-".
    for (const auto& r : model().received()) {
        for (const char* part : {"Sud0", "R3ad", "-Qz"}) {
            EXPECT_EQ(r.body.find(part), std::string::npos) << part;
        }
    }
    for (const auto& folder : folders("recordings")) {
        std::ifstream in(support() / "recordings" / folder / "recording.json");
        std::ostringstream text;
        text << in.rdbuf();
        const std::string recording = text.str();
        for (const char* part : {"Sud0", "R3ad", "-Qz"}) {
            const std::size_t at = recording.find(part);
            EXPECT_EQ(at, std::string::npos) << part << " in " << folder << ":\n"
                                             << recording.substr(at > 600 ? at - 600 : 0, 700);
        }
    }
    std::printf("[ figure ] passwords typed in the terminal: %zu; stored %d, sent %d\n",
                passwords.size(), stored, sent);
    ASSERT_EQ(model().received().size(), static_cast<std::size_t>(rounds));
    for (int round = 0; round < rounds; ++round) {
        EXPECT_FALSE(filesContaining("\"" + commands[round] + "\"").empty()) << commands[round];
        EXPECT_NE(model().received()[round].body.find("Type \\\"" + commands[round] + "\\\""),
                  std::string::npos)
            << model().received()[round].body.substr(0, 4000);
    }
}

} // namespace
