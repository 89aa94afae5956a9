#pragma once

#include <functional>

namespace kestro {

// Lets periodic work that may run a little early share a wake of the main thread with work
// that woke it on its own timer: the key cap's steps carry the pill's poll instead of the two
// waking the thread apart. Main thread only.
class SharedWake {
public:
    // Calls `listener` at every shared wake until the returned id is removed.
    static int listen(std::function<void()> listener);
    static void remove(int id);
    // The main thread is awake for a timer's own work.
    static void woke();
};

} // namespace kestro
