#pragma once

// A real HTTP server on 127.0.0.1 for the client and transport tests: it answers POSTs from a
// script (or a handler), records what it received and can hold a reply back on request.

#include <httplib.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace kestro::testing {

class LocalServer {
public:
    struct Reply {
        int status = 200;
        std::string body;
        std::string contentType = "application/json";
    };

    struct Received {
        std::string method;
        std::string path;
        std::string version;
        std::multimap<std::string, std::string> headers; // names lower-cased
        std::string body;

        bool has(const std::string& name) const { return headers.count(name) > 0; }
        std::string header(const std::string& name) const {
            auto it = headers.find(name);
            return it == headers.end() ? std::string() : it->second;
        }
    };

    using Handler = std::function<void(const httplib::Request&, httplib::Response&)>;

    LocalServer() {
        // A proxy from the environment must not stand between the client and this server.
        ::setenv("no_proxy", "127.0.0.1", 1);
        server_.set_keep_alive_timeout(1);
        server_.Post(".*", [this](const httplib::Request& request, httplib::Response& response) {
            serve(request, response);
        });
        port_ = server_.bind_to_any_port("127.0.0.1");
        if (port_ <= 0) {
            throw std::runtime_error("cannot bind a port on 127.0.0.1");
        }
        thread_ = std::thread([this] { server_.listen_after_bind(); });
        // stop() does nothing until the accept loop runs, so wait for it.
        for (int i = 0; i < 5000 && !server_.is_running(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    ~LocalServer() {
        release();
        server_.stop();
        thread_.join();
    }

    LocalServer(const LocalServer&) = delete;
    LocalServer& operator=(const LocalServer&) = delete;

    int port() const { return port_; }
    std::string url(const std::string& path = "/v1/messages") const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }

    // Replies in order; after the last one, the handler (when set) answers, else status 599.
    void script(std::vector<Reply> replies) {
        std::lock_guard lock(mutex_);
        replies_.assign(replies.begin(), replies.end());
    }
    void reply(int status, std::string body) { script({Reply{status, std::move(body)}}); }
    void setHandler(Handler handler) {
        std::lock_guard lock(mutex_);
        handler_ = std::move(handler);
    }

    std::vector<Received> received() const {
        std::lock_guard lock(mutex_);
        return received_;
    }

    // For handlers: blocks until release() or the time limit; true when released.
    bool holdUntilReleased(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        ++held_;
        heldChanged_.notify_all();
        return releasedChanged_.wait_for(lock, limit, [this] { return released_; });
    }
    // Waits until a handler is holding its reply back.
    bool waitUntilHolding(std::chrono::milliseconds limit) {
        std::unique_lock lock(mutex_);
        return heldChanged_.wait_for(lock, limit, [this] { return held_ > 0; });
    }
    void release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        releasedChanged_.notify_all();
    }

private:
    void serve(const httplib::Request& request, httplib::Response& response) {
        Handler handler;
        {
            std::lock_guard lock(mutex_);
            Received r{request.method, request.path, request.version, {}, request.body};
            for (const auto& [name, value] : request.headers) {
                std::string lower;
                for (char c : name) {
                    lower.push_back(static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
                }
                r.headers.emplace(lower, value);
            }
            received_.push_back(std::move(r));
            if (!replies_.empty()) {
                Reply next = std::move(replies_.front());
                replies_.pop_front();
                response.status = next.status;
                response.set_content(next.body, next.contentType.c_str());
                return;
            }
            handler = handler_;
        }
        if (handler) {
            handler(request, response);
        } else {
            response.status = 599;
            response.set_content("no scripted reply", "text/plain");
        }
    }

    httplib::Server server_;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::deque<Reply> replies_;
    Handler handler_;
    std::vector<Received> received_;
    std::condition_variable releasedChanged_;
    std::condition_variable heldChanged_;
    bool released_ = false;
    int held_ = 0;
};

} // namespace kestro::testing
