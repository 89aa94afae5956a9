#include "platform/linux/GLibMainQueue.h"

#include <glib-unix.h>
#include <glib.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <deque>
#include <mutex>
#include <set>

namespace kestro::platform::linux_x11 {

namespace {

// Milliseconds for a GLib timeout, rounded up so work never runs early.
guint toMilliseconds(double seconds) {
    if (!(seconds > 0)) {
        return 0;
    }
    const double ms = std::ceil(seconds * 1000.0);
    return ms >= 4.0e9 ? 4000000000u : static_cast<guint>(ms);
}

// A source owned by a token: cancelling or destroying the token removes it.
class SourceToken final : public MainQueue::Token {
public:
    explicit SourceToken(GSource* source) : source_(source) {}
    ~SourceToken() override { cancel(); }
    void cancel() override {
        if (source_) {
            g_source_destroy(source_);
            g_source_unref(source_);
            source_ = nullptr;
        }
    }

private:
    GSource* source_;
};

struct RepeatingWork {
    MainQueue::Work work;
};

gboolean runRepeating(gpointer data) {
    // Copied: the work may cancel its own token, which frees `data`.
    auto work = static_cast<RepeatingWork*>(data)->work;
    work();
    return G_SOURCE_CONTINUE;
}

gboolean runWatch(gint, GIOCondition, gpointer data) {
    return runRepeating(data);
}

void deleteRepeating(gpointer data) {
    delete static_cast<RepeatingWork*>(data);
}

} // namespace

struct GLibMainQueue::State {
    GMainContext* context = nullptr;
    GSource* workSource = nullptr;
    std::mutex mutex;
    std::deque<Work> ready;
    std::set<GSource*> delayed;
    std::atomic<bool> quitRequested{false};
};

namespace {

struct WorkSource {
    GSource base;
    GLibMainQueue::State* state;
};

gboolean workPrepare(GSource* source, gint* timeout) {
    *timeout = -1;
    auto* state = reinterpret_cast<WorkSource*>(source)->state;
    std::lock_guard lock(state->mutex);
    return !state->ready.empty();
}

gboolean workCheck(GSource* source) {
    auto* state = reinterpret_cast<WorkSource*>(source)->state;
    std::lock_guard lock(state->mutex);
    return !state->ready.empty();
}

gboolean workDispatch(GSource* source, GSourceFunc, gpointer) {
    auto* state = reinterpret_cast<WorkSource*>(source)->state;
    // Only what was posted before this dispatch: work it posts runs in a later iteration, so
    // timers and file watches interleave.
    std::deque<MainQueue::Work> batch;
    {
        std::lock_guard lock(state->mutex);
        batch.swap(state->ready);
    }
    while (!batch.empty()) {
        auto work = std::move(batch.front());
        batch.pop_front();
        work();
        if (g_source_is_destroyed(source)) {
            break; // the queue went away inside the work
        }
    }
    return G_SOURCE_CONTINUE;
}

GSourceFuncs workFuncs = {workPrepare, workCheck, workDispatch, nullptr, nullptr, nullptr};

struct DelayedWork {
    std::weak_ptr<GLibMainQueue::State> state;
    GSource* source = nullptr;
    MainQueue::Work work;
};

gboolean runDelayed(gpointer data) {
    auto* delayed = static_cast<DelayedWork*>(data);
    if (auto state = delayed->state.lock()) {
        std::lock_guard lock(state->mutex);
        state->delayed.erase(delayed->source);
    }
    auto work = std::move(delayed->work);
    if (work) {
        work();
    }
    return G_SOURCE_REMOVE;
}

void deleteDelayed(gpointer data) {
    delete static_cast<DelayedWork*>(data);
}

} // namespace

GLibMainQueue::GLibMainQueue()
    : state_(std::make_shared<State>()), mainThread_(std::this_thread::get_id()) {
    state_->context = g_main_context_ref(g_main_context_default());
    state_->workSource = g_source_new(&workFuncs, sizeof(WorkSource));
    reinterpret_cast<WorkSource*>(state_->workSource)->state = state_.get();
    g_source_set_name(state_->workSource, "kestro main queue");
    g_source_attach(state_->workSource, state_->context);
}

GLibMainQueue::~GLibMainQueue() {
    g_source_destroy(state_->workSource);
    g_source_unref(state_->workSource);
    std::set<GSource*> delayed;
    {
        std::lock_guard lock(state_->mutex);
        delayed.swap(state_->delayed);
        state_->ready.clear();
    }
    for (GSource* s : delayed) {
        g_source_destroy(s);
        g_source_unref(s);
    }
    g_main_context_unref(state_->context);
}

void GLibMainQueue::post(Work work) {
    {
        std::lock_guard lock(state_->mutex);
        state_->ready.push_back(std::move(work));
    }
    // The main thread is not waiting while it posts: its next iteration finds the work.
    if (!isMainThread()) {
        g_main_context_wakeup(state_->context);
    }
}

void GLibMainQueue::postAfter(double seconds, Work work) {
    GSource* source = g_timeout_source_new(toMilliseconds(seconds));
    auto* delayed = new DelayedWork{state_, source, std::move(work)};
    g_source_set_callback(source, runDelayed, delayed, deleteDelayed);
    {
        // The set holds the source's reference until it runs or the queue goes away.
        std::lock_guard lock(state_->mutex);
        state_->delayed.insert(source);
    }
    g_source_attach(source, state_->context);
}

std::unique_ptr<MainQueue::Token> GLibMainQueue::repeat(double seconds, Work work) {
    GSource* source = g_timeout_source_new(toMilliseconds(seconds));
    g_source_set_callback(source, runRepeating, new RepeatingWork{std::move(work)},
                          deleteRepeating);
    g_source_attach(source, state_->context);
    return std::make_unique<SourceToken>(source);
}

std::unique_ptr<MainQueue::Token> GLibMainQueue::watch(int fd, FdEvents events, Work ready) {
    GIOCondition condition = G_IO_ERR;
    if (static_cast<std::uint8_t>(events) & static_cast<std::uint8_t>(FdEvents::readable)) {
        condition = static_cast<GIOCondition>(condition | G_IO_IN | G_IO_HUP);
    }
    if (static_cast<std::uint8_t>(events) & static_cast<std::uint8_t>(FdEvents::writable)) {
        condition = static_cast<GIOCondition>(condition | G_IO_OUT);
    }
    GSource* source = g_unix_fd_source_new(fd, condition);
    g_source_set_callback(source,
                          reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)()>(runWatch)),
                          new RepeatingWork{std::move(ready)}, deleteRepeating);
    g_source_attach(source, state_->context);
    return std::make_unique<SourceToken>(source);
}

bool GLibMainQueue::isMainThread() const {
    return std::this_thread::get_id() == mainThread_;
}

void GLibMainQueue::run() {
    state_->quitRequested = false;
    while (!state_->quitRequested.exchange(false)) {
        g_main_context_iteration(state_->context, TRUE);
    }
}

void GLibMainQueue::quit() {
    state_->quitRequested = true;
    g_main_context_wakeup(state_->context);
}

bool GLibMainQueue::runUntil(const std::function<bool()>& done, double timeoutSeconds) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(timeoutSeconds));
    // Wakes the blocking iteration at the deadline even when nothing else happens.
    GSource* alarm = g_timeout_source_new(toMilliseconds(timeoutSeconds));
    g_source_set_callback(
        alarm, [](gpointer) -> gboolean { return G_SOURCE_REMOVE; }, nullptr, nullptr);
    g_source_attach(alarm, state_->context);
    bool result = done();
    while (!result && Clock::now() < deadline) {
        g_main_context_iteration(state_->context, TRUE);
        result = done();
    }
    g_source_destroy(alarm);
    g_source_unref(alarm);
    return result;
}

void GLibMainQueue::runFor(double seconds) {
    runUntil([] { return false; }, seconds);
}

} // namespace kestro::platform::linux_x11
