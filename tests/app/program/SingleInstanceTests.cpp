#include "Kestro/program/SingleInstance.h"
#include "tests/app/QtTestApp.h"
#include "tests/support/TempDataDir.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QLocalSocket>

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

using namespace kestro;
namespace fs = std::filesystem;

namespace {

mode_t modeOf(const fs::path& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 ? (info.st_mode & 07777) : mode_t{0};
}

QString q(const fs::path& path) {
    return QString::fromStdString(path.string());
}

bool pumpUntil(const std::function<bool()>& done, int ms = 10000) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done()) {
        if (elapsed.elapsed() > ms) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

// A plain socket to the instance's, without Qt: the test holds hundreds of them.
int connectRaw(const fs::path& socket) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", socket.c_str());
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 &&
        errno != EINPROGRESS && errno != EAGAIN) {
        ::close(fd);
        return -1;
    }
    return fd;
}

TEST(SingleInstance, PrivateFolderIsMadeOwnAndClosed) {
    kestro::testing::TempDataDir data;
    struct Case {
        const char* name;
        std::function<void(const fs::path&)> prepare;
        bool accepted;
    };
    const std::vector<Case> cases{
        {"missing", [](const fs::path&) {}, true},
        {"ours and open to others",
         [](const fs::path& p) {
             fs::create_directory(p);
             ::chmod(p.c_str(), 0777);
         },
         true},
        {"a file", [](const fs::path& p) { std::fclose(std::fopen(p.c_str(), "w")); }, false},
        {"a link to a folder of ours",
         [&](const fs::path& p) {
             fs::create_directory(data.root() / "elsewhere");
             fs::create_directory_symlink(data.root() / "elsewhere", p);
         },
         false},
    };
    for (const Case& c : cases) {
        const fs::path path =
            data.root() / (std::string("runtime-") + std::to_string(&c - &cases[0]));
        c.prepare(path);
        const QString got = SingleInstance::privateFolder(q(path));
        if (c.accepted) {
            EXPECT_EQ(got, q(path)) << c.name;
            EXPECT_EQ(modeOf(path), mode_t{0700}) << c.name;
        } else {
            EXPECT_TRUE(got.isEmpty()) << c.name;
        }
    }
}

TEST(SingleInstance, FolderOfAnotherUserIsRefused) {
    if (::geteuid() != 0) {
        GTEST_SKIP() << "needs root to make a folder of another user";
    }
    kestro::testing::TempDataDir data;
    const fs::path planted = data.root() / "planted";
    fs::create_directory(planted);
    ASSERT_EQ(::chmod(planted.c_str(), 0700), 0);
    ASSERT_EQ(::chown(planted.c_str(), 12345, 12345), 0);
    EXPECT_TRUE(SingleInstance::privateFolder(q(planted)).isEmpty());
}

TEST(SingleInstance, WithoutRuntimeFolderALockPlantedInTheSharedFolderIsPassedBy) {
    kestro::testing::qtApp();
    kestro::testing::TempDataDir data;
    const fs::path tmp = data.root() / "tmp";
    fs::create_directory(tmp);
    ::chmod(tmp.c_str(), 01777);
    const QByteArray oldTmp = qgetenv("TMPDIR");
    const QByteArray oldRuntime = qgetenv("XDG_RUNTIME_DIR");
    const QByteArray oldCache = qgetenv("XDG_CACHE_HOME");
    qputenv("TMPDIR", QByteArray::fromStdString(tmp.string()));
    qputenv("XDG_CACHE_HOME", QByteArray::fromStdString((data.root() / "cache").string()));
    qunsetenv("XDG_RUNTIME_DIR");
    // What another user can plant in a shared folder: the lock and socket names of old, and a
    // file where our folder would go.
    const std::string uid = std::to_string(::getuid());
    for (const char* suffix : {".lock", ".socket"}) {
        std::fclose(std::fopen((tmp / ("kestro-" + uid + suffix)).c_str(), "w"));
    }
    std::fclose(std::fopen((tmp / ("kestro-" + uid)).c_str(), "w"));

    // A runtime folder open to everyone is as good as none.
    const fs::path open = data.root() / "open-runtime";
    fs::create_directory(open);
    ::chmod(open.c_str(), 0777);
    qputenv("XDG_RUNTIME_DIR", QByteArray::fromStdString(open.string()));
    EXPECT_NE(SingleInstance::runtimeFolder(), q(open));
    qunsetenv("XDG_RUNTIME_DIR");
    const QString folder = SingleInstance::runtimeFolder();
    EXPECT_FALSE(folder.isEmpty());
    EXPECT_EQ(folder, q(data.root() / "cache" / "kestro-runtime"));
    {
        SingleInstance first;
        EXPECT_TRUE(first.isPrimary());
        SingleInstance second;
        EXPECT_FALSE(second.isPrimary());
    }
    SingleInstance again;
    EXPECT_TRUE(again.isPrimary());

    for (const auto& [name, value] : {std::pair{"TMPDIR", oldTmp},
                                      {"XDG_RUNTIME_DIR", oldRuntime},
                                      {"XDG_CACHE_HOME", oldCache}}) {
        if (value.isEmpty()) {
            qunsetenv(name);
        } else {
            qputenv(name, value);
        }
    }
}

TEST(SingleInstance, AFloodOfClientsIsDroppedAndShowStillArrives) {
    kestro::testing::qtApp();
    kestro::testing::TempDataDir data;
    const fs::path folder = data.root() / "run";
    fs::create_directory(folder);
    SingleInstance instance(q(folder));
    ASSERT_TRUE(instance.isPrimary());
    int shown = 0;
    QObject::connect(&instance, &SingleInstance::showRequested, [&] { ++shown; });
    const fs::path socket = folder / ("kestro-" + std::to_string(::getuid()) + ".socket");

    // More clients than the process may hold descriptors, none of them saying anything: the
    // limit is brought down to a few more than are open, so accepting fails too.
    rlimit limit{};
    ::getrlimit(RLIMIT_NOFILE, &limit);
    const rlimit saved = limit;
    int open = 0;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++open;
    }
    limit.rlim_cur = static_cast<rlim_t>(open + 2 * SingleInstance::maxClients + 40);
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &limit), 0);
    constexpr int flood = 1000;
    std::vector<int> held;
    for (int i = 0; i < flood; ++i) {
        const int fd = connectRaw(socket);
        if (fd >= 0) {
            held.push_back(fd);
        }
        if (i % 50 == 0) {
            QCoreApplication::processEvents();
        }
    }
    for (int i = 0; i < 50; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    for (const int fd : held) {
        ::close(fd);
    }
    ::setrlimit(RLIMIT_NOFILE, &saved);
    // Still listening, and a later start is heard once the flood is gone.
    ASSERT_TRUE(pumpUntil([&] {
        QLocalSocket client;
        client.connectToServer(q(socket));
        if (!client.waitForConnected(200)) {
            return false;
        }
        client.write("show\n");
        client.waitForBytesWritten(500);
        return pumpUntil([&] { return shown > 0; }, 500);
    }));
    EXPECT_EQ(shown, 1);
}

} // namespace
