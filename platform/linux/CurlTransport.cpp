#include "platform/linux/CurlTransport.h"

#include "platform/Cancellation.h"

#include <curl/curl.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <mutex>
#include <string>

namespace kestro::platform::linux_curl {

namespace {

struct EasyDeleter {
    void operator()(CURL* easy) const { curl_easy_cleanup(easy); }
};
struct MultiDeleter {
    void operator()(CURLM* multi) const { curl_multi_cleanup(multi); }
};
struct ListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

struct Sink {
    std::string body;
    std::size_t limit = 0;
    bool overflowed = false;
};

std::size_t appendBody(char* data, std::size_t size, std::size_t count, void* user) {
    auto* sink = static_cast<Sink*>(user);
    const std::size_t bytes = size * count;
    if (bytes > sink->limit - sink->body.size()) {
        sink->overflowed = true;
        return 0; // anything but `bytes` aborts the transfer
    }
    sink->body.append(data, bytes);
    return bytes;
}

void initialiseOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        if (curl_global_init(CURL_GLOBAL_DEFAULT) != CURLE_OK) {
            throw TransportError("libcurl could not be initialised.");
        }
    });
}

std::string describe(CURLcode code, const char* detail) {
    std::string message = curl_easy_strerror(code);
    if (detail && *detail) {
        message += ": ";
        message += detail;
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r')) {
            message.pop_back();
        }
    }
    return message;
}

std::string sizeText(std::size_t bytes) {
    if (bytes % (std::size_t{1} << 20) == 0) {
        return std::to_string(bytes >> 20) + " MiB";
    }
    return std::to_string(bytes) + " bytes";
}

void check(CURLcode code, const char* what) {
    if (code != CURLE_OK) {
        throw TransportError(std::string("libcurl refused ") + what + ": " +
                             curl_easy_strerror(code));
    }
}

} // namespace

CurlTransport::CurlTransport() : CurlTransport(Options{}) {}

CurlTransport::CurlTransport(Options options) : options_(options) {
    initialiseOnce();
}

HttpResponse CurlTransport::perform(const HttpRequest& request, std::stop_token stop) {
    std::unique_ptr<CURL, EasyDeleter> easy(curl_easy_init());
    std::unique_ptr<CURLM, MultiDeleter> multi(curl_multi_init());
    if (!easy || !multi) {
        throw TransportError("libcurl could not create a transfer.");
    }

    curl_slist* raw = nullptr;
    std::unique_ptr<curl_slist, ListDeleter> headers;
    auto addHeader = [&](const std::string& line) {
        curl_slist* next = curl_slist_append(raw, line.c_str());
        if (!next) {
            throw TransportError("libcurl could not build the header fields.");
        }
        raw = next;
        headers.release();
        headers.reset(raw);
    };
    for (const auto& [name, value] : request.headers) {
        // "Name:" alone would remove the field; "Name;" sends it with an empty value.
        addHeader(value.empty() ? name + ";" : name + ": " + value);
    }
    // Large bodies would otherwise wait for a "100 Continue" that not every server sends.
    addHeader("Expect:");

    Sink sink;
    sink.limit = options_.maxResponseBytes;
    char errorBuffer[CURL_ERROR_SIZE] = {};
    const double idle = std::max(1.0, request.idleTimeoutSeconds);
    const long idleSeconds = static_cast<long>(std::ceil(idle));

    CURL* h = easy.get();
    check(curl_easy_setopt(h, CURLOPT_URL, request.url.c_str()), "the address");
    check(curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https"), "the protocols");
    check(curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L), "an option");
    check(curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorBuffer), "an option");
    check(curl_easy_setopt(h, CURLOPT_POST, 1L), "POST");
    check(curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE,
                           static_cast<curl_off_t>(request.body.size())),
          "the body size");
    check(curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data()), "the body");
    check(curl_easy_setopt(h, CURLOPT_HTTPHEADER, raw), "the header fields");
    check(curl_easy_setopt(h, CURLOPT_ACCEPT_ENCODING, ""), "an option");
    check(curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 0L), "an option");
    // An idle limit: fail when less than a byte a second moves for the whole period; and the
    // deadline of the whole request, when one is set.
    const long deadlineMs =
        request.deadlineSeconds > 0
            ? std::max(1L, static_cast<long>(std::ceil(request.deadlineSeconds * 1000)))
            : 0L;
    check(curl_easy_setopt(h, CURLOPT_TIMEOUT_MS, deadlineMs), "the time-out");
    check(curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, idleSeconds), "the time-out");
    check(curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L), "the time-out");
    check(curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, idleSeconds), "the time-out");
    check(curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, appendBody), "an option");
    check(curl_easy_setopt(h, CURLOPT_WRITEDATA, &sink), "an option");

    if (curl_multi_add_handle(multi.get(), h) != CURLM_OK) {
        throw TransportError("libcurl could not start the transfer.");
    }
    struct Detach {
        CURLM* multi;
        CURL* easy;
        ~Detach() { curl_multi_remove_handle(multi, easy); }
    } detach{multi.get(), h};

    bool cancelled = false;
    {
        // Wakes the poll below as soon as a stop is requested, so a transfer in flight ends
        // at once rather than at the next time-out.
        CURLM* m = multi.get();
        std::stop_callback wake(stop, [m] { curl_multi_wakeup(m); });
        int running = 1;
        while (true) {
            if (stop.stop_requested()) {
                cancelled = true;
                break;
            }
            CURLMcode mc = curl_multi_perform(m, &running);
            if (mc != CURLM_OK) {
                throw TransportError(std::string("libcurl failed: ") + curl_multi_strerror(mc));
            }
            if (running == 0) {
                break;
            }
            mc = curl_multi_poll(m, nullptr, 0, 1000, nullptr);
            if (mc != CURLM_OK) {
                throw TransportError(std::string("libcurl failed: ") + curl_multi_strerror(mc));
            }
        }
    }
    if (cancelled) {
        throw CancellationError();
    }

    CURLcode result = CURLE_OK;
    int pending = 0;
    while (CURLMsg* message = curl_multi_info_read(multi.get(), &pending)) {
        if (message->msg == CURLMSG_DONE && message->easy_handle == h) {
            result = message->data.result;
        }
    }
    if (sink.overflowed) {
        throw TransportError("The reply body is larger than " + sizeText(sink.limit) +
                             "; the request was abandoned.");
    }
    if (result != CURLE_OK) {
        throw TransportError(describe(result, errorBuffer));
    }

    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    HttpResponse response;
    response.isHttp = status != 0;
    response.status = static_cast<int>(status);
    response.body = std::move(sink.body);
    return response;
}

} // namespace kestro::platform::linux_curl
