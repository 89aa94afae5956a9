// Kestro for the end-to-end tests: the program's own wiring, with the model service's address
// and the system log in the test's hands.
//
//   kestro-e2e-launcher --model-endpoint URL [--log-file PATH] [--request-deadline SECONDS]
//                       [--hold-screenshots MARKER] [toolkit arguments]
//
// Each system-log line is appended to PATH as it is logged, so the test reads exactly the lines
// a user's journal would show. With --hold-screenshots no screenshot comes back, as from a display
// that stopped answering: each one creates MARKER and waits until the capture is interrupted.

#include "Kestro/app/SystemLog.h"
#include "Kestro/program/Application.h"

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace {

class HeldScreenCapture final : public kestro::platform::ScreenCapture {
public:
    HeldScreenCapture(kestro::platform::ScreenCapture& real, std::string marker)
        : real_(real), marker_(std::move(marker)) {}

    std::optional<kestro::platform::ShareableContent> shareableContent() override {
        return real_.shareableContent();
    }
    std::optional<kestro::Image>
    screenshot(const kestro::platform::ShareableDisplay&,
               const std::vector<kestro::platform::ShareableWindow>&,
               const kestro::platform::ScreenshotConfiguration&) override {
        std::unique_lock lock(mutex_);
        if (std::FILE* file = std::fopen(marker_.c_str(), "w")) {
            std::fclose(file);
        }
        released_.wait(lock, [this] { return interrupted_; });
        return std::nullopt;
    }
    void interrupt() override {
        {
            std::lock_guard lock(mutex_);
            interrupted_ = true;
        }
        released_.notify_all();
        real_.interrupt();
    }

private:
    kestro::platform::ScreenCapture& real_;
    const std::string marker_;
    std::mutex mutex_;
    std::condition_variable released_;
    bool interrupted_ = false;
};

} // namespace

int main(int argc, char** argv) {
    kestro::ApplicationOptions options;
    std::string logFile;
    std::vector<char*> rest{argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--model-endpoint") == 0 && i + 1 < argc) {
            options.modelEndpoint = argv[++i];
        } else if (std::strcmp(argv[i], "--log-file") == 0 && i + 1 < argc) {
            logFile = argv[++i];
        } else if (std::strcmp(argv[i], "--request-deadline") == 0 && i + 1 < argc) {
            options.requestDeadlineSeconds = std::strtod(argv[++i], nullptr);
        } else if (std::strcmp(argv[i], "--hold-screenshots") == 0 && i + 1 < argc) {
            options.screenCapture =
                [marker = std::string(argv[++i])](kestro::platform::ScreenCapture& real) {
                    return std::make_unique<HeldScreenCapture>(real, marker);
                };
        } else {
            rest.push_back(argv[i]);
        }
    }
    if (!logFile.empty()) {
        std::FILE* file = std::fopen(logFile.c_str(), "a");
        if (!file) {
            std::perror(logFile.c_str());
            return 2;
        }
        // Lines arrive one at a time (the sink is called under the log's own lock).
        kestro::setLogSink([file](const std::string& line) {
            std::fputs(line.c_str(), file);
            std::fputc('\n', file);
            std::fflush(file);
        });
    }
    rest.push_back(nullptr);
    return kestro::runApplication(static_cast<int>(rest.size()) - 1, rest.data(), options);
}
