#include "KestroCore/StoredReader.h"

namespace kestro::json::detail {

namespace {
// A parser keeps the buffers of the largest document it has read; past this size they are not
// worth keeping for the next one.
constexpr std::size_t keptCapacity = 16 * 1024 * 1024;

thread_local simdjson::dom::parser parser;
} // namespace

simdjson::dom::parser& storedParser() {
    return parser;
}

void releaseLargeParser() {
    if (parser.capacity() > keptCapacity) {
        parser = simdjson::dom::parser();
    }
}

} // namespace kestro::json::detail
