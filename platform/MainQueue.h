#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace kestro::platform {

// The one main thread's run loop: every tap callback, recorder step, accessibility call and
// timer runs there. Work posted from any thread runs later on the main thread, in order.
class MainQueue {
public:
    using Work = std::function<void()>;

    // A scheduled timer or file watch; destroying or cancelling it stops further calls.
    class Token {
    public:
        virtual ~Token() = default;
        virtual void cancel() = 0;
    };

    enum class FdEvents : std::uint8_t { readable = 1, writable = 2 };

    virtual ~MainQueue() = default;

    // Thread-safe.
    virtual void post(Work work) = 0;
    // Thread-safe; runs once after `seconds` (or soon after).
    virtual void postAfter(double seconds, Work work) = 0;

    // Main thread only. Calls `work` every `seconds` until the token is cancelled or destroyed.
    virtual std::unique_ptr<Token> repeat(double seconds, Work work) = 0;
    // Main thread only. Calls `ready` whenever `fd` has the events asked for.
    virtual std::unique_ptr<Token> watch(int fd, FdEvents events, Work ready) = 0;

    virtual bool isMainThread() const = 0;
};

} // namespace kestro::platform
