// Kestro for the end-to-end tests: the program's own wiring, with the model service's address
// and the system log in the test's hands.
//
//   kestro-e2e-launcher --model-endpoint URL [--log-file PATH] [--request-deadline SECONDS]
//                       [toolkit arguments]
//
// Each system-log line is appended to PATH as it is logged, so the test reads exactly the lines
// a user's journal would show.

#include "Kestro/program/Application.h"
#include "Kestro/program/SystemLog.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

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
