#include "Kestro/app/Workers.h"

#include <vector>

namespace kestro {

Workers::~Workers() {
    stopAll();
}

void Workers::run(Job job, std::stop_source stop) {
    std::lock_guard lock(mutex_);
    if (stopped_) {
        return;
    }
    reapFinished();
    entries_.push_back(Entry{stop, {}, false});
    Entry* entry = &entries_.back();
    entry->thread = std::thread([this, entry, work = std::move(job), token = stop.get_token()] {
        try {
            work(token);
        } catch (...) {
            // A job reports its own failures; nothing may escape a thread.
        }
        std::lock_guard done(mutex_);
        entry->finished = true;
    });
}

void Workers::reapFinished() {
    for (auto it = entries_.begin(); it != entries_.end();) {
        if (it->finished) {
            it->thread.join();
            it = entries_.erase(it);
        } else {
            ++it;
        }
    }
}

void Workers::stopAll() {
    std::list<Entry> taken;
    {
        std::lock_guard lock(mutex_);
        stopped_ = true;
        for (auto& entry : entries_) {
            entry.stop.request_stop();
        }
        // Moving list nodes keeps their addresses, which the threads write through.
        taken.splice(taken.end(), entries_);
    }
    for (auto& entry : taken) {
        if (entry.thread.joinable()) {
            entry.thread.join();
        }
    }
}

std::size_t Workers::running() const {
    std::lock_guard lock(mutex_);
    std::size_t n = 0;
    for (const auto& entry : entries_) {
        n += entry.finished ? 0 : 1;
    }
    return n;
}

} // namespace kestro
