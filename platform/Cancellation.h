#pragma once

#include <stdexcept>

namespace kestro::platform {

// Thrown when work gives up because its std::stop_token was signalled.
class CancellationError : public std::runtime_error {
public:
    CancellationError() : std::runtime_error("The operation was cancelled.") {}
};

} // namespace kestro::platform
