#pragma once

#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>

namespace kestro {

// The application's own threads for long work (synthesis, casts), so that nothing long runs on
// the main thread and quitting never waits on a shared pool. Each job gets a stop source; stopAll()
// signals every job still running and joins them all, so the wait is as short as the jobs' answer
// to a stop (a request in flight ends at once).
class Workers {
public:
    using Job = std::function<void(std::stop_token)>;

    Workers() = default;
    ~Workers();
    Workers(const Workers&) = delete;
    Workers& operator=(const Workers&) = delete;

    // Runs the job on a thread of its own; `stop` is the source its token comes from, kept by
    // the caller when it wants to cancel this one job. Ignored after stopAll().
    void run(Job job, std::stop_source stop = {});
    // Signals every running job and waits for all of them. Later run() calls do nothing.
    void stopAll();
    // Jobs started and not yet finished.
    std::size_t running() const;

private:
    struct Entry {
        std::stop_source stop;
        std::thread thread;
        bool finished = false;
    };
    void reapFinished();

    mutable std::mutex mutex_;
    std::list<Entry> entries_;
    bool stopped_ = false;
};

} // namespace kestro
