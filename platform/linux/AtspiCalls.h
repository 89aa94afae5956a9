#pragma once

#include <atspi/atspi.h>

#include <chrono>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

namespace kestro::platform::linux_x11 {

// One GObject reference, given back when it goes.
template <typename T> class Ref {
public:
    Ref() = default;
    explicit Ref(T* object) : object_(object) {}
    Ref(const Ref&) = delete;
    Ref& operator=(const Ref&) = delete;
    Ref(Ref&& other) noexcept : object_(other.release()) {}
    Ref& operator=(Ref&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ~Ref() { reset(); }
    T* get() const { return object_; }
    T* release() {
        T* o = object_;
        object_ = nullptr;
        return o;
    }
    void reset(T* object = nullptr) {
        if (object_) {
            g_object_unref(object_);
        }
        object_ = object;
    }
    explicit operator bool() const { return object_ != nullptr; }

private:
    T* object_ = nullptr;
};

// Memory libatspi hands over to be given back with g_free.
struct GFreeDeleter {
    void operator()(void* p) const { g_free(p); }
};
template <typename T> using GOwned = std::unique_ptr<T, GFreeDeleter>;

struct ErrorSlot {
    GError* error = nullptr;
    ErrorSlot() = default;
    ErrorSlot(const ErrorSlot&) = delete;
    ErrorSlot& operator=(const ErrorSlot&) = delete;
    ~ErrorSlot() {
        if (error) {
            g_error_free(error);
        }
    }
    GError** operator&() { return &error; }
    bool failed() const { return error != nullptr; }
};

template <typename T> constexpr bool optionalOf = false;
template <typename T> constexpr bool optionalOf<std::optional<T>> = true;

// Takes a string libatspi hands over; text that is not UTF-8 is mended.
std::string takeString(gchar* text);

// The bus name of the element's application, or null.
const char* busName(AtspiAccessible* accessible);

// Guards around every call into an application: this process's own tree is never asked, and an
// application that let a call time out is left alone for a while, so a hung application costs
// one time-out rather than one per read. Counts the calls that went unanswered, which a read
// compares before and after to tell "no value" from "no answer". Main thread only.
class AtspiGuard {
public:
    using Clock = std::chrono::steady_clock;

    AtspiGuard(int ownProcessID, int timeoutMilliseconds, double unresponsiveSeconds)
        : ownProcessID_(ownProcessID), timeoutMilliseconds_(timeoutMilliseconds),
          unresponsiveSeconds_(unresponsiveSeconds) {}

    // The process of the element's application (asked of the bus daemon once per bus), or 0.
    int processOf(AtspiAccessible* accessible);
    // Whether the element's application may be asked now.
    bool mayAsk(AtspiAccessible* accessible);
    // Whether a call made at `start` counts as answered; `failed` when it reported an error.
    bool answered(AtspiAccessible* accessible, Clock::time_point start, bool failed);

    // What one call into the element's application answered, made only when it may be asked:
    // nothing when it is left alone, or when the call reports an error through its slot or runs
    // into the time-out. `call` takes the error slot and returns what it read, owning it, so a
    // dropped answer is given back; a call that returns an optional fails with no value.
    template <typename Call> auto ask(AtspiAccessible* accessible, Call&& call) {
        using Value = std::invoke_result_t<Call&, GError**>;
        using Answer = std::conditional_t<isOptional<Value>, Value, std::optional<Value>>;
        if (!mayAsk(accessible)) {
            return Answer{};
        }
        ErrorSlot error;
        const auto start = Clock::now();
        Value value = call(&error);
        bool failed = error.failed();
        if constexpr (isOptional<Value>) {
            failed = failed || !value;
        }
        if (!answered(accessible, start, failed)) {
            return Answer{};
        }
        return Answer{std::move(value)};
    }

    // A read that goes without an answer though no call failed (where an element lies, or which
    // one is meant, cannot be told).
    void unanswered() { ++unanswered_; }
    std::size_t unansweredCount() const { return unanswered_; }

    // Whether the application on that bus let a call time out a moment ago.
    bool leftAlone(const char* bus) const;
    // It answered again: asked as usual from now on.
    void answersAgain(const char* bus) { unresponsiveUntil_.erase(bus); }

    int ownProcessID() const { return ownProcessID_; }
    int timeoutMilliseconds() const { return timeoutMilliseconds_; }

private:
    template <typename T> static constexpr bool isOptional = optionalOf<std::remove_cvref_t<T>>;

    int ownProcessID_;
    int timeoutMilliseconds_;
    double unresponsiveSeconds_;
    std::size_t unanswered_ = 0;
    std::map<std::string, int, std::less<>> busProcesses_;
    std::map<std::string, Clock::time_point, std::less<>> unresponsiveUntil_;
};

} // namespace kestro::platform::linux_x11
