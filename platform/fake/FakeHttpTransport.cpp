#include "platform/fake/FakeHttpTransport.h"

namespace kestro::platform::fake {

void FakeHttpTransport::reply(HttpResponse response) {
    std::lock_guard lock(mutex_);
    replies_.push_back(std::move(response));
}

void FakeHttpTransport::reply(int status, std::string body) {
    reply(HttpResponse{.isHttp = true, .status = status, .body = std::move(body)});
}

void FakeHttpTransport::setHandler(Handler handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

std::vector<HttpRequest> FakeHttpTransport::requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

HttpResponse FakeHttpTransport::perform(const HttpRequest& request, std::stop_token) {
    Handler handler;
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
        if (!replies_.empty()) {
            HttpResponse next = std::move(replies_.front());
            replies_.pop_front();
            return next;
        }
        handler = handler_;
    }
    if (!handler) {
        throw TransportError("FakeHttpTransport has no reply for this request.");
    }
    return handler(request);
}

} // namespace kestro::platform::fake
