// Finding the private X server a bench started, to read its CPU time.
#pragma once

#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/types.h>
#include <unistd.h>

#include <cstdlib>

namespace kestro::bench {

// The Xvfb this process started, or -1.
inline pid_t xvfbPid() {
    DIR* dir = opendir("/proc");
    pid_t found = -1;
    while (dirent* e = dir ? readdir(dir) : nullptr) {
        const pid_t pid = static_cast<pid_t>(std::atoi(e->d_name));
        if (pid <= 0) {
            continue;
        }
        std::ifstream in("/proc/" + std::string(e->d_name) + "/stat");
        std::string line;
        std::getline(in, line);
        const auto open = line.find('(');
        const auto close = line.rfind(')');
        if (open == std::string::npos || close == std::string::npos) {
            continue;
        }
        std::istringstream rest(line.substr(close + 2));
        std::string stateField;
        pid_t parent = 0;
        rest >> stateField >> parent;
        if (line.substr(open + 1, close - open - 1) == "Xvfb" && parent == getpid()) {
            found = pid;
        }
    }
    if (dir) {
        closedir(dir);
    }
    return found;
}

} // namespace kestro::bench
