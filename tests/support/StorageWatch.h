#pragma once

#include "KestroBase/FileIO.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

namespace kestro::testing {

// While it lives, every folder sync goes through it: each synced folder is noted, and those at or
// below `failBelow` (none when empty) fail with EIO, as a disk that drops its writes would. One at
// a time.
class FolderSyncWatch {
public:
    explicit FolderSyncWatch(std::filesystem::path failBelow = {}) {
        std::lock_guard lock(state().mutex);
        state().failBelow = std::move(failBelow);
        state().synced.clear();
        setFolderSyncForTesting(&sync);
    }
    ~FolderSyncWatch() { setFolderSyncForTesting(nullptr); }
    FolderSyncWatch(const FolderSyncWatch&) = delete;
    FolderSyncWatch& operator=(const FolderSyncWatch&) = delete;

    std::vector<std::filesystem::path> synced() const {
        std::lock_guard lock(state().mutex);
        return state().synced;
    }

private:
    struct State {
        std::mutex mutex;
        std::filesystem::path failBelow;
        std::vector<std::filesystem::path> synced;
    };
    static State& state() {
        static State s;
        return s;
    }
    static int sync(int, const std::filesystem::path& folder) {
        std::lock_guard lock(state().mutex);
        state().synced.push_back(folder);
        const std::filesystem::path& below = state().failBelow;
        if (below.empty() ||
            std::mismatch(below.begin(), below.end(), folder.begin(), folder.end()).first !=
                below.end()) {
            return 0;
        }
        errno = EIO;
        return -1;
    }
};

// The storage log's lines while it lives.
class StorageLogCapture {
public:
    StorageLogCapture() {
        setStorageLog([this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        });
    }
    ~StorageLogCapture() { setStorageLog({}); }
    StorageLogCapture(const StorageLogCapture&) = delete;
    StorageLogCapture& operator=(const StorageLogCapture&) = delete;

    std::vector<std::string> lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

} // namespace kestro::testing
