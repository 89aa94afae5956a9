#include "platform/Cancellation.h"
#include "platform/linux/CurlTransport.h"
#include "tests/net/LocalServer.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace kestro;
using kestro::platform::CancellationError;
using kestro::platform::HttpRequest;
using kestro::platform::TransportError;
using kestro::platform::linux_curl::CurlTransport;
using kestro::testing::LocalServer;
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

namespace {

HttpRequest post(const LocalServer& server, std::string body = "{}") {
    return HttpRequest{.url = server.url(),
                       .headers = {{"Content-Type", "application/json"}},
                       .body = std::move(body)};
}

double secondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// A port on 127.0.0.1 with nothing listening on it.
int closedPort() {
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    ::close(fd);
    return ntohs(address.sin_port);
}

} // namespace

TEST(CurlTransport, SendsHeadersAndBodyAsGivenAndReturnsAnyStatus) {
    LocalServer server;
    server.script({{418, "short and stout", "text/plain"}});
    CurlTransport transport;
    // Large enough that libcurl would otherwise ask for "100 Continue".
    const std::string body(3 << 20, 'x');
    auto request = post(server, body);
    const auto response = transport.post(request);

    EXPECT_TRUE(response.isHttp);
    EXPECT_EQ(response.status, 418);
    EXPECT_EQ(response.body, "short and stout");
    const auto received = server.received();
    ASSERT_EQ(received.size(), 1u);
    EXPECT_EQ(received[0].method, "POST");
    EXPECT_EQ(received[0].body, body);
    EXPECT_EQ(received[0].header("content-type"), "application/json");
    EXPECT_FALSE(received[0].has("expect"));
}

TEST(CurlTransport, RefusesHeaderValuesThatWouldBreakTheRequest) {
    LocalServer server;
    server.reply(200, "{}");
    CurlTransport transport;
    for (const std::string& value : {std::string("key\r\nX-Injected: 1"), std::string("key\nmore"),
                                     std::string("key\rmore"), std::string("key\0more", 8)}) {
        auto request = post(server);
        request.headers.emplace_back("x-api-key", value);
        try {
            transport.post(request);
            ADD_FAILURE() << "sent a header value with a line break or NUL";
        } catch (const TransportError& e) {
            EXPECT_NE(std::string(e.what()).find("\"x-api-key\""), std::string::npos) << e.what();
        }
    }
    EXPECT_TRUE(server.received().empty());
}

TEST(CurlTransport, IdleTimeOutEndsAStalledReply) {
    LocalServer server;
    server.setHandler([&](const httplib::Request&, httplib::Response& response) {
        server.holdUntilReleased(20s);
        response.set_content("{}", "application/json");
    });
    CurlTransport transport;
    auto request = post(server);
    request.idleTimeoutSeconds = 1;
    const auto start = Clock::now();
    try {
        transport.post(request);
        ADD_FAILURE() << "a stalled reply did not time out";
    } catch (const TransportError& e) {
        EXPECT_NE(std::string(e.what()).find("Timeout"), std::string::npos) << e.what();
    }
    const double elapsed = secondsSince(start);
    EXPECT_GE(elapsed, 0.9);
    EXPECT_LT(elapsed, 8.0); // well before the server would have answered
}

TEST(CurlTransport, ReplyThatKeepsMovingOutlastsTheIdleTimeOut) {
    LocalServer server;
    server.setHandler([](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider("application/json",
                                              [](std::size_t, httplib::DataSink& sink) {
                                                  for (int i = 0; i < 8; ++i) {
                                                      std::this_thread::sleep_for(300ms);
                                                      sink.write("ab", 2);
                                                  }
                                                  sink.done();
                                                  return true;
                                              });
    });
    CurlTransport transport;
    auto request = post(server);
    request.idleTimeoutSeconds = 1;
    const auto start = Clock::now();
    const auto response = transport.post(request);
    EXPECT_GT(secondsSince(start), 2.0); // longer than the idle limit, in total
    EXPECT_EQ(response.status, 200);
    EXPECT_EQ(response.body, "abababababababab");
}

TEST(CurlTransport, DeadlineEndsAReplyThatTrickles) {
    LocalServer server;
    std::atomic<bool> done{false};
    server.setHandler([&](const httplib::Request&, httplib::Response& response) {
        response.set_chunked_content_provider("application/json",
                                              [&](std::size_t, httplib::DataSink& sink) {
                                                  // A byte every half second, for a minute.
                                                  for (int i = 0; i < 120 && !done; ++i) {
                                                      std::this_thread::sleep_for(500ms);
                                                      if (!sink.write("a", 1)) {
                                                          return false;
                                                      }
                                                  }
                                                  sink.done();
                                                  return true;
                                              });
    });
    CurlTransport transport;
    auto request = post(server);
    request.idleTimeoutSeconds = 1;
    request.deadlineSeconds = 2;
    const auto start = Clock::now();
    try {
        transport.post(request);
        ADD_FAILURE() << "a trickling reply outlasted its deadline";
    } catch (const TransportError& e) {
        EXPECT_NE(std::string(e.what()).find("Timeout"), std::string::npos) << e.what();
    }
    done = true;
    const double elapsed = secondsSince(start);
    EXPECT_GE(elapsed, 1.9);
    EXPECT_LT(elapsed, 8.0);
}

TEST(CurlTransport, StopDuringATransferEndsItAtOnce) {
    LocalServer server;
    server.setHandler([&](const httplib::Request&, httplib::Response& response) {
        server.holdUntilReleased(10s);
        response.set_content("{}", "application/json");
    });
    CurlTransport transport;
    std::stop_source stop;
    std::jthread stopper([&] {
        if (server.waitUntilHolding(5s)) {
            std::this_thread::sleep_for(100ms);
        }
        stop.request_stop();
    });
    const auto start = Clock::now();
    EXPECT_THROW(transport.post(post(server), stop.get_token()), CancellationError);
    EXPECT_LT(secondsSince(start), 1.0);
}

TEST(CurlTransport, StopBeforeTheRequestSendsNothing) {
    LocalServer server;
    server.reply(200, "{}");
    CurlTransport transport;
    std::stop_source stop;
    stop.request_stop();
    EXPECT_THROW(transport.post(post(server), stop.get_token()), CancellationError);
    EXPECT_TRUE(server.received().empty());
}

TEST(CurlTransport, ReplyBodyIsCappedAtTheLimit) {
    LocalServer server;
    CurlTransport small(CurlTransport::Options{.maxResponseBytes = 1000});
    server.reply(200, std::string(1000, 'a'));
    EXPECT_EQ(small.post(post(server)).body.size(), 1000u);
    server.reply(500, std::string(1001, 'a'));
    try {
        small.post(post(server));
        ADD_FAILURE() << "a body over the limit was accepted";
    } catch (const TransportError& e) {
        EXPECT_STREQ(e.what(), "The reply body is larger than 1000 bytes; the request was "
                               "abandoned.");
    }
}

TEST(CurlTransport, DefaultCapIs64MiB) {
    LocalServer server;
    CurlTransport transport;
    // Not a compressible type, so the server sends it as it is.
    server.script(
        {{200, std::string((std::size_t{64} << 20) + 1, 'a'), "application/octet-stream"}});
    try {
        transport.post(post(server));
        ADD_FAILURE() << "a body over 64 MiB was accepted";
    } catch (const TransportError& e) {
        EXPECT_STREQ(e.what(), "The reply body is larger than 64 MiB; the request was abandoned.");
    }
}

TEST(CurlTransport, ConnectionFailureCarriesLibcurlsMessage) {
    CurlTransport transport;
    HttpRequest request{.url = "http://127.0.0.1:" + std::to_string(closedPort()) + "/v1/messages"};
    try {
        transport.post(request);
        ADD_FAILURE() << "a closed port answered";
    } catch (const TransportError& e) {
        EXPECT_NE(std::string(e.what()).find("Couldn't connect to server"), std::string::npos)
            << e.what();
    }
}
