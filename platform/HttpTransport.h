#pragma once

#include <memory>
#include <stdexcept>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

namespace kestro::platform {

struct HttpRequest {
    std::string url;
    // Sent in this order, names and values as given.
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // The request fails when no data moves in either direction for this long.
    double idleTimeoutSeconds = 60;
    // And when the whole request, reply included, takes longer than this; 0 sets no deadline.
    // A server that keeps a trickle going would otherwise hold the request for ever.
    double deadlineSeconds = 0;
};

struct HttpResponse {
    // False when the reply carried no HTTP status line.
    bool isHttp = true;
    int status = 0;
    std::string body;
};

// A request that could not be sent or whose reply did not arrive whole: connection failures,
// time-outs, a reply too large to hold, a header field that would break the request.
class TransportError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Sends one POST and returns the whole reply. Any status is a reply, not an error.
class HttpTransport {
public:
    virtual ~HttpTransport() = default;

    // Refuses, before anything is sent, a header name or value holding CR, LF or NUL, which
    // would otherwise end the field early and start a line of the caller's choosing. A stop
    // request before or during the transfer throws CancellationError; transport failures throw
    // TransportError.
    HttpResponse post(const HttpRequest& request, std::stop_token stop = {});

    // The transport used where none is given. Until the application installs one, every
    // request through it fails with TransportError.
    static std::shared_ptr<HttpTransport> shared();
    static void setShared(std::shared_ptr<HttpTransport> transport);

protected:
    virtual HttpResponse perform(const HttpRequest& request, std::stop_token stop) = 0;
};

} // namespace kestro::platform
