#pragma once

#include "platform/HttpTransport.h"

#include <cstddef>

namespace kestro::platform::linux_curl {

// HTTP(S) over libcurl. Each request uses its own handle, so one transport may serve several
// threads at once. Redirects are not followed: a 3xx reply comes back as it is, so a request
// carrying a key never goes anywhere but the address it was given.
class CurlTransport final : public HttpTransport {
public:
    struct Options {
        // A reply body beyond this size ends the request with TransportError instead of
        // growing without bound.
        std::size_t maxResponseBytes = std::size_t{64} << 20;
    };

    CurlTransport();
    explicit CurlTransport(Options options);

protected:
    HttpResponse perform(const HttpRequest& request, std::stop_token stop) override;

private:
    Options options_;
};

} // namespace kestro::platform::linux_curl
