#include "platform/fake/ManualQueue.h"

namespace kestro::platform::fake {

struct ManualQueue::Timer {
    double interval = 0;
    double due = 0;
    Work work;
    bool cancelled = false;
};

class ManualQueue::TimerToken final : public MainQueue::Token {
public:
    explicit TimerToken(std::weak_ptr<Timer> timer) : timer_(std::move(timer)) {}
    ~TimerToken() override { cancel(); }
    void cancel() override {
        if (auto t = timer_.lock()) {
            t->cancelled = true;
        }
    }

private:
    std::weak_ptr<Timer> timer_;
};

ManualQueue::ManualQueue(ManualClock& clock)
    : clock_(clock), mainThread_(std::this_thread::get_id()) {}

ManualQueue::~ManualQueue() = default;

void ManualQueue::post(Work work) {
    std::lock_guard lock(mutex_);
    ready_.push_back(std::move(work));
}

void ManualQueue::postAfter(double seconds, Work work) {
    std::lock_guard lock(mutex_);
    delayed_.emplace(clock_.monotonicSeconds() + seconds, std::move(work));
}

std::unique_ptr<MainQueue::Token> ManualQueue::repeat(double seconds, Work work) {
    auto timer = std::make_shared<Timer>();
    timer->interval = seconds;
    timer->due = clock_.monotonicSeconds() + seconds;
    timer->work = std::move(work);
    std::lock_guard lock(mutex_);
    timers_[nextTimer_++] = timer;
    return std::make_unique<TimerToken>(timer);
}

std::unique_ptr<MainQueue::Token> ManualQueue::watch(int fd, FdEvents, Work ready) {
    auto timer = std::make_shared<Timer>();
    timer->work = std::move(ready);
    std::lock_guard lock(mutex_);
    watches_[fd] = timer;
    return std::make_unique<TimerToken>(timer);
}

bool ManualQueue::isMainThread() const {
    return std::this_thread::get_id() == mainThread_;
}

bool ManualQueue::runOne() {
    Work work;
    {
        std::lock_guard lock(mutex_);
        if (!ready_.empty()) {
            work = std::move(ready_.front());
            ready_.pop_front();
        } else {
            const double now = clock_.monotonicSeconds();
            auto due = delayed_.begin();
            std::shared_ptr<Timer> timer;
            for (auto it = timers_.begin(); it != timers_.end();) {
                if (it->second->cancelled) {
                    it = timers_.erase(it);
                    continue;
                }
                if (it->second->due <= now && (!timer || it->second->due < timer->due)) {
                    timer = it->second;
                }
                ++it;
            }
            if (due != delayed_.end() && due->first <= now &&
                (!timer || due->first <= timer->due)) {
                work = std::move(due->second);
                delayed_.erase(due);
            } else if (timer) {
                timer->due += timer->interval > 0 ? timer->interval : 1e-9;
                work = timer->work;
            } else {
                return false;
            }
        }
    }
    work();
    return true;
}

int ManualQueue::drain() {
    int count = 0;
    while (runOne()) {
        ++count;
    }
    return count;
}

int ManualQueue::advance(double seconds) {
    clock_.advance(seconds);
    return drain();
}

void ManualQueue::signal(int fd) {
    std::shared_ptr<Timer> timer;
    {
        std::lock_guard lock(mutex_);
        auto it = watches_.find(fd);
        if (it == watches_.end() || it->second->cancelled) {
            return;
        }
        timer = it->second;
    }
    timer->work();
}

std::size_t ManualQueue::pendingCount() const {
    std::lock_guard lock(mutex_);
    return ready_.size() + delayed_.size();
}

} // namespace kestro::platform::fake
