#include "platform/HttpTransport.h"

#include "platform/Cancellation.h"

#include <mutex>
#include <string_view>

namespace kestro::platform {

namespace {

bool breaksHeaderLine(std::string_view s) {
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

class MissingTransport final : public HttpTransport {
protected:
    HttpResponse perform(const HttpRequest&, std::stop_token) override {
        throw TransportError("No HTTP transport has been set up.");
    }
};

std::mutex sharedMutex;
std::shared_ptr<HttpTransport>& sharedSlot() {
    static std::shared_ptr<HttpTransport> slot = std::make_shared<MissingTransport>();
    return slot;
}

} // namespace

HttpResponse HttpTransport::post(const HttpRequest& request, std::stop_token stop) {
    for (const auto& [name, value] : request.headers) {
        if (breaksHeaderLine(name) || breaksHeaderLine(value)) {
            throw TransportError(
                "Refusing to send the request: header field \"" +
                std::string(name.substr(0, name.find_first_of(std::string_view("\r\n\0", 3)))) +
                "\" holds a line break or NUL character.");
        }
    }
    if (stop.stop_requested()) {
        throw CancellationError();
    }
    return perform(request, std::move(stop));
}

std::shared_ptr<HttpTransport> HttpTransport::shared() {
    std::lock_guard lock(sharedMutex);
    return sharedSlot();
}

void HttpTransport::setShared(std::shared_ptr<HttpTransport> transport) {
    std::lock_guard lock(sharedMutex);
    sharedSlot() = transport ? std::move(transport) : std::make_shared<MissingTransport>();
}

} // namespace kestro::platform
