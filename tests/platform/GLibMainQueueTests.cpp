#include "platform/linux/GLibMainQueue.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

using kestro::platform::MainQueue;
using kestro::platform::linux_x11::GLibMainQueue;

namespace {
double secondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}
} // namespace

TEST(GLibMainQueue, PostedWorkRunsLaterInOrderFromAnyThread) {
    GLibMainQueue queue;
    std::vector<int> order;
    bool ranInline = true;
    queue.post([&] {
        order.push_back(0);
        ranInline = false;
    });
    EXPECT_TRUE(order.empty()) << "posting never runs the work at once";

    constexpr int threads = 4, perThread = 500;
    std::vector<std::vector<int>> seen(threads);
    std::atomic<int> offMain{0};
    {
        std::vector<std::jthread> posters;
        for (int t = 0; t < threads; ++t) {
            posters.emplace_back([&, t] {
                for (int i = 0; i < perThread; ++i) {
                    queue.post([&, t, i] {
                        if (!queue.isMainThread()) {
                            ++offMain;
                        }
                        seen[t].push_back(i);
                    });
                }
            });
        }
    }
    EXPECT_TRUE(queue.runUntil(
        [&] {
            std::size_t total = 0;
            for (const auto& s : seen) {
                total += s.size();
            }
            return total == threads * perThread;
        },
        10));
    EXPECT_FALSE(ranInline);
    EXPECT_EQ(order, std::vector<int>{0});
    EXPECT_EQ(offMain, 0);
    for (const auto& s : seen) {
        for (int i = 0; i < perThread; ++i) {
            ASSERT_EQ(s[static_cast<std::size_t>(i)], i) << "per-thread order is kept";
        }
    }
    bool onOther = true;
    std::jthread([&] { onOther = queue.isMainThread(); }).join();
    EXPECT_FALSE(onOther);
}

TEST(GLibMainQueue, DelayedWorkTimersAndWatches) {
    GLibMainQueue queue;
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::pair<int, double>> delayed;
    queue.postAfter(0.06, [&] { delayed.emplace_back(2, secondsSince(start)); });
    queue.postAfter(0.03, [&] { delayed.emplace_back(1, secondsSince(start)); });

    int ticks = 0;
    std::unique_ptr<MainQueue::Token> timer;
    timer = queue.repeat(0.005, [&] {
        if (++ticks == 3) {
            timer.reset(); // cancelling from inside its own call is safe
        }
    });

    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    int readable = 0;
    auto watch = queue.watch(fds[0], MainQueue::FdEvents::readable, [&] {
        char c;
        if (::read(fds[0], &c, 1) == 1) {
            ++readable;
        }
    });
    ASSERT_EQ(::write(fds[1], "ab", 2), 2);

    EXPECT_TRUE(queue.runUntil([&] { return delayed.size() == 2 && readable == 2; }, 5));
    EXPECT_EQ(delayed[0].first, 1);
    EXPECT_GE(delayed[0].second, 0.03);
    EXPECT_EQ(delayed[1].first, 2);
    EXPECT_GE(delayed[1].second, 0.06);
    queue.runFor(0.03);
    EXPECT_EQ(ticks, 3);

    watch->cancel();
    ASSERT_EQ(::write(fds[1], "c", 1), 1);
    queue.runFor(0.03);
    EXPECT_EQ(readable, 2);
    ::close(fds[0]);
    ::close(fds[1]);
}

TEST(GLibMainQueue, AGoneQueueDropsPendingWorkAndItsTokensStaySafe) {
    int ran = 0;
    std::unique_ptr<MainQueue::Token> timer;
    {
        GLibMainQueue queue;
        queue.post([&] { ++ran; });
        queue.postAfter(0.01, [&] { ++ran; });
        timer = queue.repeat(10, [&] { ++ran; });
    }
    GLibMainQueue next;
    next.runFor(0.05);
    EXPECT_EQ(ran, 0);
    timer.reset();

    // quit() from another thread ends run().
    std::jthread stopper([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        next.quit();
    });
    next.run();
}
