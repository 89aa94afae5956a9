#pragma once

#include "platform/HttpTransport.h"

#include <deque>
#include <functional>
#include <mutex>
#include <vector>

namespace kestro::platform::fake {

// Answers requests from a script and keeps every request it was given.
class FakeHttpTransport final : public HttpTransport {
public:
    using Handler = std::function<HttpResponse(const HttpRequest&)>;

    // Queued replies are used first, in order; then the handler, when one is set. With neither,
    // a request fails with TransportError.
    void reply(HttpResponse response);
    void reply(int status, std::string body);
    void setHandler(Handler handler);

    std::vector<HttpRequest> requests() const;

protected:
    HttpResponse perform(const HttpRequest& request, std::stop_token stop) override;

private:
    mutable std::mutex mutex_;
    std::deque<HttpResponse> replies_;
    Handler handler_;
    std::vector<HttpRequest> requests_;
};

// Installs a transport as the shared one for its lifetime, then puts the previous one back.
class SharedTransportScope {
public:
    explicit SharedTransportScope(std::shared_ptr<HttpTransport> transport)
        : previous_(HttpTransport::shared()) {
        HttpTransport::setShared(std::move(transport));
    }
    ~SharedTransportScope() { HttpTransport::setShared(previous_); }
    SharedTransportScope(const SharedTransportScope&) = delete;
    SharedTransportScope& operator=(const SharedTransportScope&) = delete;

private:
    std::shared_ptr<HttpTransport> previous_;
};

} // namespace kestro::platform::fake
