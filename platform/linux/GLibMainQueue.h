#pragma once

#include "platform/MainQueue.h"

#include <functional>
#include <memory>
#include <thread>

namespace kestro::platform::linux_x11 {

// The main queue on GLib's default main context, which Qt's event loop and libatspi's D-Bus
// traffic use too. The thread that creates it is the main thread. Work posted from any thread
// runs on the main thread in the order posted, always in a later iteration than the post.
class GLibMainQueue final : public MainQueue {
public:
    GLibMainQueue();
    // Pending posted and delayed work is dropped; tokens stay safe to cancel.
    ~GLibMainQueue() override;
    GLibMainQueue(const GLibMainQueue&) = delete;
    GLibMainQueue& operator=(const GLibMainQueue&) = delete;

    void post(Work work) override;
    void postAfter(double seconds, Work work) override;
    std::unique_ptr<Token> repeat(double seconds, Work work) override;
    std::unique_ptr<Token> watch(int fd, FdEvents events, Work ready) override;
    bool isMainThread() const override;

    // Running the loop, on the main thread, where no toolkit runs it.
    // Runs until quit() is called (from any thread).
    void run();
    void quit();
    // Runs until `done` returns true or the time is up; returns what `done` last returned.
    bool runUntil(const std::function<bool()>& done, double timeoutSeconds);
    void runFor(double seconds);

    struct State;

private:
    std::shared_ptr<State> state_;
    std::thread::id mainThread_;
};

} // namespace kestro::platform::linux_x11
