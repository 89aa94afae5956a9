#pragma once

#include "platform/MainQueue.h"
#include "platform/fake/ManualClock.h"

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace kestro::platform::fake {

// A main queue that runs nothing until the test drains it. Delayed work and timers follow the
// manual clock: advance the clock, then drain.
class ManualQueue final : public MainQueue {
public:
    explicit ManualQueue(ManualClock& clock);
    ~ManualQueue() override;

    void post(Work work) override;
    void postAfter(double seconds, Work work) override;
    std::unique_ptr<Token> repeat(double seconds, Work work) override;
    std::unique_ptr<Token> watch(int fd, FdEvents events, Work ready) override;
    bool isMainThread() const override;

    // Runs posted work and every due delayed item or timer, including work they post, until
    // nothing is left that is due. Returns how many items ran.
    int drain();
    // Advances the clock by `seconds` and drains.
    int advance(double seconds);
    // Fires the watch on `fd` once, as if it became ready.
    void signal(int fd);
    std::size_t pendingCount() const;

private:
    struct Timer;
    class TimerToken;
    bool runOne();

    ManualClock& clock_;
    std::thread::id mainThread_;
    mutable std::mutex mutex_;
    std::deque<Work> ready_;
    std::multimap<double, Work> delayed_;
    std::map<std::uint64_t, std::shared_ptr<Timer>> timers_;
    std::map<int, std::shared_ptr<Timer>> watches_;
    std::uint64_t nextTimer_ = 1;
};

} // namespace kestro::platform::fake
