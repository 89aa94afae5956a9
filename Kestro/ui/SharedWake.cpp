#include "Kestro/ui/SharedWake.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace kestro {

namespace {

struct Listeners {
    int next = 1;
    std::vector<std::pair<int, std::function<void()>>> all;
};

Listeners& listeners() {
    static Listeners l;
    return l;
}

} // namespace

int SharedWake::listen(std::function<void()> listener) {
    Listeners& l = listeners();
    const int id = l.next++;
    l.all.emplace_back(id, std::move(listener));
    return id;
}

void SharedWake::remove(int id) {
    auto& all = listeners().all;
    all.erase(std::remove_if(all.begin(), all.end(), [id](const auto& l) { return l.first == id; }),
              all.end());
}

void SharedWake::woke() {
    // A copy: a listener may remove itself or another.
    const auto all = listeners().all;
    for (const auto& [id, listener] : all) {
        listener();
    }
}

} // namespace kestro
